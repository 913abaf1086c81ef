#include "platform/testing/FakeRouteState.h"

#include <vector>

namespace pltest {

void FakeRouteState::setFlags(sc::ReachabilityFlags flags) {
  {
    std::lock_guard lock(mutex_);
    flags_ = flags;
  }
  notifyChange();
}

void FakeRouteState::setFlagsForTarget(const std::string& hostOrAddress, sc::ReachabilityFlags flags) {
  {
    std::lock_guard lock(mutex_);
    perTarget_[hostOrAddress] = flags;
  }
  notifyChange();
}

void FakeRouteState::notifyChange() {
  std::vector<std::function<void()>> handlers;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, h] : handlers_) handlers.push_back(h);
  }
  for (auto& h : handlers) h();
}

std::size_t FakeRouteState::handlerCount() const {
  std::lock_guard lock(mutex_);
  return handlers_.size();
}

sc::ReachabilityFlags FakeRouteState::flagsForTarget(const sc::ReachabilityTarget& target) {
  std::lock_guard lock(mutex_);
  const std::string key = target.hostName ? *target.hostName : target.address.value_or("");
  auto it = perTarget_.find(key);
  return it != perTarget_.end() ? it->second : flags_;
}

sc::RouteStateSource::HandlerId FakeRouteState::addChangeHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  handlers_[++next_] = std::move(handler);
  return next_;
}

void FakeRouteState::removeChangeHandler(HandlerId id) {
  std::lock_guard lock(mutex_);
  handlers_.erase(id);
}

}  // namespace pltest
