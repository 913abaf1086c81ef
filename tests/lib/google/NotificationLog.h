#pragma once
// Records the postings of notifications by name: order, posting thread, object and user info.
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Notification.h"
#include "platform/foundation/NotificationCenter.h"

namespace googletest {

class NotificationLog {
 public:
  // Observes `names`, posted by `object` (any object when null).
  explicit NotificationLog(const std::vector<std::string>& names,
                           const ns::Ref<ns::Object>& object = nullptr) {
    for (const auto& name : names)
      tokens_.push_back(ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
          name, object, nullptr, [this, name](const ns::Ref<ns::Notification>& note) {
            std::lock_guard lock(mutex_);
            entries_.push_back({name, std::this_thread::get_id(), note->object(), note->userInfo()});
          }));
  }
  ~NotificationLog() {
    for (const auto& token : tokens_) ns::NotificationCenter::defaultCenter()->removeObserver(token.get());
  }
  NotificationLog(const NotificationLog&) = delete;
  NotificationLog& operator=(const NotificationLog&) = delete;

  struct Entry {
    std::string name;
    std::thread::id thread;
    ns::Ref<ns::Object> object;
    ns::Dictionary userInfo;
  };
  std::vector<Entry> entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  std::size_t count(const std::string& name) const {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& e : entries_) n += e.name == name;
    return n;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  std::vector<ns::Ref<ns::Object>> tokens_;
};

}  // namespace googletest
