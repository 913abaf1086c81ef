#pragma once
// A table-driven stream resolver for tests of everything that resolves videos (player,
// downloads, lists): video id -> stream map, info fields and error text, each entry optionally
// delayed on the (virtual) clock or held until released. An id without an entry resolves with
// the error "Unknown video". Install it with ScopedStreamResolver.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/youtube/StreamResolver.h"

namespace testsupport {

class FakeStreamResolver : public StreamResolver {
 public:
  // Every member has a default, so that a designated initialiser names only what it sets.
  struct Entry {
    std::map<std::int32_t, std::string> urlMap{};
    ns::Dictionary videoInfo{};
    std::optional<std::string> error{};
    // Seconds on ns::Clock before the answer is given (0: at once, on the calling queue).
    double delay = 0;
    // Keep the answer until release().
    bool hold = false;
  };

  void setEntry(const std::string& videoId, Entry entry);

  void resolveVideoId_completion(const std::string& videoId, Completion completion) override;

  // Answers every held resolution (on a global queue); answers how many there were.
  std::size_t release();
  std::size_t heldCount() const;
  // The ids asked for, in order, and the labels of the queues the requests arrived on.
  std::vector<std::string> requestedIds() const;
  std::vector<std::string> requestQueueLabels() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, Entry> entries_;
  std::vector<std::pair<StreamResolution, Completion>> held_;
  std::vector<std::string> requested_;
  std::vector<std::string> queueLabels_;
};

// Installs a resolver for its lifetime and puts the previous one back.
class ScopedStreamResolver {
 public:
  explicit ScopedStreamResolver(ns::Ref<StreamResolver> resolver)
      : previous_(StreamResolver::setSharedResolver(std::move(resolver))) {}
  ~ScopedStreamResolver() { StreamResolver::setSharedResolver(previous_); }
  ScopedStreamResolver(const ScopedStreamResolver&) = delete;
  ScopedStreamResolver& operator=(const ScopedStreamResolver&) = delete;

 private:
  ns::Ref<StreamResolver> previous_;
};

}  // namespace testsupport
