#pragma once
// A strong reference that any thread may read and replace: each reader gets its own strong
// copy, so an object replaced meanwhile lives until its last reader lets go.
#include <mutex>
#include <utility>

#include "platform/core/Object.h"

template <class T>
class SharedReference {
 public:
  ns::Ref<T> get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ref_;
  }
  void set(ns::Ref<T> ref) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      std::swap(ref_, ref);
    }
    // The previous object may go here, outside the lock, so that its destructor may read the
    // reference itself.
  }

 private:
  mutable std::mutex mutex_;
  ns::Ref<T> ref_;
};
