#pragma once
// The calls a test double received, as text such as "showOSD(Saved)", in order; safe from any
// thread.
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

class CallRecorder {
 public:
  std::vector<std::string> calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  void clearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
  }

 protected:
  void record(std::string call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

}  // namespace testsupport
