#include "tests/support/FakeStreamResolver.h"

#include "platform/dispatch/Queue.h"

namespace testsupport {

void FakeStreamResolver::setEntry(const std::string& videoId, Entry entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_[videoId] = std::move(entry);
}

void FakeStreamResolver::resolveVideoId_completion(const std::string& videoId, Completion completion) {
  StreamResolution resolution;
  double delay = 0;
  const char* label = dispatch::currentQueueLabel();
  // A request is recorded once its delayed answer is scheduled: a test that waits for the
  // request and then moves the virtual clock must find the answer's deadline already set.
  auto record = [&] {
    std::lock_guard<std::mutex> lock(mutex_);
    requested_.push_back(videoId);
    queueLabels_.push_back(label ? label : "");
  };
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(videoId);
    if (it == entries_.end()) {
      resolution.error = "Unknown video";
    } else {
      resolution.urlMap = it->second.urlMap;
      resolution.videoInfo = it->second.videoInfo;
      resolution.error = it->second.error;
      delay = it->second.delay;
      if (it->second.hold) {
        held_.emplace_back(std::move(resolution), std::move(completion));
        requested_.push_back(videoId);
        queueLabels_.push_back(label ? label : "");
        return;
      }
    }
  }
  if (delay > 0) {
    dispatch::after(
        delay, dispatch::globalQueue(),
        [completion = std::move(completion), resolution = std::move(resolution)] { completion(resolution); });
    record();
  } else {
    record();
    completion(std::move(resolution));
  }
}

std::size_t FakeStreamResolver::release() {
  std::vector<std::pair<StreamResolution, Completion>> held;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    held.swap(held_);
  }
  for (auto& [resolution, completion] : held) {
    dispatch::async(
        dispatch::globalQueue(),
        [completion = std::move(completion), resolution = std::move(resolution)] { completion(resolution); });
  }
  return held.size();
}

std::size_t FakeStreamResolver::heldCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_.size();
}

std::vector<std::string> FakeStreamResolver::requestedIds() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requested_;
}

std::vector<std::string> FakeStreamResolver::requestQueueLabels() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queueLabels_;
}

}  // namespace testsupport
