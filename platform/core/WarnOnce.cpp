#include "platform/core/WarnOnce.h"

#include "platform/core/Log.h"

namespace ns {

void WarnOnce::warn(const std::string& subject, const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    if (!said_.insert(subject).second) return;
  }
  LogWarning("%@", text);
}

void WarnOnce::forget(const std::string& subject) {
  std::lock_guard lock(mutex_);
  said_.erase(subject);
}

void WarnOnce::forgetAll() {
  std::lock_guard lock(mutex_);
  said_.clear();
}

}  // namespace ns
