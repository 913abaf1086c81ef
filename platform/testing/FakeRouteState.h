#pragma once
// A route-state source whose answers a test sets: the same flags for every target, or flags per
// host name or address. Each change tells the watching reachability targets, as a routing-table
// change would.
//
//   auto routes = std::make_shared<pltest::FakeRouteState>(0);
//   sc::NetworkReachability::setDefaultRouteStateSource(routes);
//   routes->setFlags(sc::kSCNetworkReachabilityFlagsReachable);
#include <map>
#include <mutex>

#include "platform/net/NetworkReachability.h"

namespace pltest {

class FakeRouteState : public sc::RouteStateSource {
 public:
  explicit FakeRouteState(sc::ReachabilityFlags flags = sc::kSCNetworkReachabilityFlagsReachable)
      : flags_(flags) {}

  void setFlags(sc::ReachabilityFlags flags);
  void setFlagsForTarget(const std::string& hostOrAddress, sc::ReachabilityFlags flags);
  // Tells the watchers without changing anything (a change that changes nothing for them).
  void notifyChange();
  std::size_t handlerCount() const;

  sc::ReachabilityFlags flagsForTarget(const sc::ReachabilityTarget& target) override;
  HandlerId addChangeHandler(std::function<void()> handler) override;
  void removeChangeHandler(HandlerId id) override;

 private:
  mutable std::mutex mutex_;
  sc::ReachabilityFlags flags_;
  std::map<std::string, sc::ReachabilityFlags> perTarget_;
  std::map<HandlerId, std::function<void()>> handlers_;
  HandlerId next_ = 0;
};

}  // namespace pltest
