#include "lib/google/NetURLCache.h"

#include <algorithm>
#include <atomic>

#include "platform/core/Format.h"

namespace {

std::atomic<std::uint64_t> useCounter{0};

std::string keyFor(const ns::Ref<ns::URLRequest>& request) {
  return request && request->URL() ? request->URL()->absoluteString() : std::string();
}

std::size_t lengthOf(const NetCachedURLResponse& response) {
  return response.data() ? response.data()->length() : 0;
}

}  // namespace

NetCachedURLResponse::NetCachedURLResponse(ns::Ref<ns::URLResponse> response, std::optional<ns::Data> data)
    : response_(std::move(response)),
      data_(std::move(data)),
      useDate_(ns::Date::now()),
      useSequence_(++useCounter) {}

ns::Date NetCachedURLResponse::useDate() const {
  std::lock_guard lock(mutex_);
  return useDate_;
}

void NetCachedURLResponse::setUseDate(const ns::Date& date) {
  std::lock_guard lock(mutex_);
  useDate_ = date;
  useSequence_ = ++useCounter;
}

std::optional<ns::Date> NetCachedURLResponse::reservationDate() const {
  std::lock_guard lock(mutex_);
  return reservationDate_;
}

void NetCachedURLResponse::setReservationDate(const std::optional<ns::Date>& date) {
  std::lock_guard lock(mutex_);
  reservationDate_ = date;
}

ns::ComparisonResult NetCachedURLResponse::compareUseDate(const NetCachedURLResponse& other) const {
  ns::Date mine, theirs;
  std::uint64_t mySequence, theirSequence;
  {
    std::lock_guard lock(mutex_);
    mine = useDate_;
    mySequence = useSequence_;
  }
  {
    std::lock_guard lock(other.mutex_);
    theirs = other.useDate_;
    theirSequence = other.useSequence_;
  }
  auto result = mine.compare(theirs);
  if (result != ns::OrderedSame) return result;
  if (mySequence == theirSequence) return ns::OrderedSame;
  return mySequence < theirSequence ? ns::OrderedAscending : ns::OrderedDescending;
}

std::string NetCachedURLResponse::description() const {
  auto reservation = reservationDate();
  std::string bytes = data_ ? std::to_string(data_->length()) : std::string("(null)");
  std::string reserved = reservation ? ns::format(" resDate:%@", *reservation) : std::string();
  return ns::format("%@ %p: {bytes:%@ useDate:%@%@}", className(), static_cast<const void*>(this), bytes,
                    useDate(), reserved);
}

NetURLCache::NetURLCache(std::uint64_t memoryCapacity) : memoryCapacity_(memoryCapacity) {}

void NetURLCache::removeLocked(const std::string& key) {
  auto it = responses_.find(key);
  if (it == responses_.end()) return;
  totalDataSize_ -= lengthOf(*it->second);
  responses_.erase(it);
}

void NetURLCache::storeCachedResponse_forRequest(const ns::Ref<NetCachedURLResponse>& response,
                                                 const ns::Ref<ns::URLRequest>& request) {
  if (!response) return;
  std::lock_guard lock(mutex_);
  std::string key = keyFor(request);
  removeLocked(key);
  std::size_t length = lengthOf(*response);
  if (length >= memoryCapacity_) return;
  responses_[key] = response;
  totalDataSize_ += length;
  pruneLocked();
}

void NetURLCache::pruneLocked() {
  if (totalDataSize_ <= memoryCapacity_) return;
  std::vector<std::pair<std::string, ns::Ref<NetCachedURLResponse>>> byAge(responses_.begin(),
                                                                           responses_.end());
  std::sort(byAge.begin(), byAge.end(), [](const auto& a, const auto& b) {
    return a.second->compareUseDate(*b.second) == ns::OrderedAscending;
  });
  auto now = ns::Date::now();
  for (const auto& [key, entry] : byAge) {
    auto reserved = entry->reservationDate();
    if (reserved && now.timeIntervalSinceDate(*reserved) < reservationInterval_) continue;
    removeLocked(key);
    if (totalDataSize_ <= memoryCapacity_) break;
  }
}

ns::Ref<NetCachedURLResponse> NetURLCache::cachedResponseForRequest(const ns::Ref<ns::URLRequest>& request) {
  std::lock_guard lock(mutex_);
  auto it = responses_.find(keyFor(request));
  if (it == responses_.end()) return nullptr;
  it->second->setUseDate(ns::Date::now());
  return it->second;
}

void NetURLCache::removeCachedResponseForRequest(const ns::Ref<ns::URLRequest>& request) {
  std::lock_guard lock(mutex_);
  removeLocked(keyFor(request));
}

void NetURLCache::removeAllCachedResponses() {
  std::lock_guard lock(mutex_);
  responses_.clear();
  totalDataSize_ = 0;
}

std::uint64_t NetURLCache::memoryCapacity() const {
  std::lock_guard lock(mutex_);
  return memoryCapacity_;
}

void NetURLCache::setMemoryCapacity(std::uint64_t capacity) {
  std::lock_guard lock(mutex_);
  memoryCapacity_ = capacity;
  pruneLocked();
}

void NetURLCache::setReservationInterval(double seconds) {
  std::lock_guard lock(mutex_);
  reservationInterval_ = seconds;
}

std::map<std::string, ns::Ref<NetCachedURLResponse>> NetURLCache::responses() const {
  std::lock_guard lock(mutex_);
  return responses_;
}

std::uint64_t NetURLCache::totalDataSize() const {
  std::lock_guard lock(mutex_);
  return totalDataSize_;
}

std::string NetURLCache::description() const {
  std::string list;
  for (const auto& [key, entry] : responses()) {
    if (!list.empty()) list += ", ";
    list += key + " = " + entry->description();
  }
  return ns::format("%@ %p: {responses:{%@}}", className(), static_cast<const void*>(this), list);
}
