#pragma once
// Counts the notifications of one name posted while it exists, and on which threads.
#include <atomic>
#include <string>
#include <thread>

#include "platform/foundation/Notification.h"
#include "platform/foundation/NotificationCenter.h"

class NotificationCounter {
 public:
  explicit NotificationCounter(const std::string& name) {
    token_ = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
        name, nullptr, nullptr, [this](const ns::Ref<ns::Notification>& note) {
          count_++;
          if (note->object()) withObject_++;
          if (std::this_thread::get_id() != owner_) offThread_++;
        });
  }
  ~NotificationCounter() { ns::NotificationCenter::defaultCenter()->removeObserver(token_.get()); }
  NotificationCounter(const NotificationCounter&) = delete;
  NotificationCounter& operator=(const NotificationCounter&) = delete;

  int count() const { return count_; }
  int withObject() const { return withObject_; }
  int offThread() const { return offThread_; }
  // The count since the last call.
  int take() { return count_.exchange(0); }

 private:
  ns::Ref<ns::Object> token_;
  std::atomic<int> count_{0};
  std::atomic<int> withObject_{0};
  std::atomic<int> offThread_{0};
  std::thread::id owner_ = std::this_thread::get_id();
};
