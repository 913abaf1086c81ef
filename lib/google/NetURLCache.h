#pragma once
// An in-memory cache of replies that carried an ETag, keyed by request URL and bounded by the
// total length of the stored bodies. Pruning drops the least recently used entries first but
// spares an entry whose ETag was sent a short while ago (reserved), so that the 304 answering it
// still finds its body.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Date.h"
#include "platform/core/Object.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

class NetCachedURLResponse : public ns::Object {
 public:
  NetCachedURLResponse(ns::Ref<ns::URLResponse> response, std::optional<ns::Data> data);

  const ns::Ref<ns::URLResponse>& response() const { return response_; }
  const std::optional<ns::Data>& data() const { return data_; }
  ns::Date useDate() const;
  void setUseDate(const ns::Date& date);
  std::optional<ns::Date> reservationDate() const;
  void setReservationDate(const std::optional<ns::Date>& date);
  // Orders by use date; equal dates by the order of use.
  ns::ComparisonResult compareUseDate(const NetCachedURLResponse& other) const;

  std::string className() const override { return "NetCachedURLResponse"; }
  std::string description() const override;

 private:
  ns::Ref<ns::URLResponse> response_;
  std::optional<ns::Data> data_;
  mutable std::mutex mutex_;
  ns::Date useDate_;
  std::uint64_t useSequence_;
  std::optional<ns::Date> reservationDate_;
};

class NetURLCache : public ns::Object {
 public:
  static constexpr std::uint64_t kDefaultMemoryCapacity = 15728640;

  NetURLCache() : NetURLCache(kDefaultMemoryCapacity) {}
  explicit NetURLCache(std::uint64_t memoryCapacity);
  static ns::Ref<NetURLCache> initWithMemoryCapacity(std::uint64_t capacity) {
    return ns::make<NetURLCache>(capacity);
  }

  // A body at least as long as the capacity is not stored (any older entry for the URL goes).
  void storeCachedResponse_forRequest(const ns::Ref<NetCachedURLResponse>& response,
                                      const ns::Ref<ns::URLRequest>& request);
  // Marks the entry as used now.
  ns::Ref<NetCachedURLResponse> cachedResponseForRequest(const ns::Ref<ns::URLRequest>& request);
  void removeCachedResponseForRequest(const ns::Ref<ns::URLRequest>& request);
  void removeAllCachedResponses();

  std::uint64_t memoryCapacity() const;
  // Lowering the capacity prunes at once.
  void setMemoryCapacity(std::uint64_t capacity);
  void setReservationInterval(double seconds);
  std::map<std::string, ns::Ref<NetCachedURLResponse>> responses() const;
  std::uint64_t totalDataSize() const;

  std::string className() const override { return "NetURLCache"; }
  std::string description() const override;

 private:
  void removeLocked(const std::string& key);
  void pruneLocked();

  mutable std::mutex mutex_;
  std::map<std::string, ns::Ref<NetCachedURLResponse>> responses_;
  std::uint64_t memoryCapacity_;
  std::uint64_t totalDataSize_ = 0;
  double reservationInterval_ = 60.0;
};
