#include "tests/support/FakeAppDelegate.h"

#include "common/AppUtilities.h"

namespace testsupport {

void FakeAppDelegate::setRunningMavericksOrHigher(std::optional<bool> answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  mavericks_ = answer;
}

bool FakeAppDelegate::shortSeekEnabled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shortSeek_;
}

void FakeAppDelegate::onExportBookmarks(const ns::Ref<ns::Object>&) {
  record("onExportBookmarks");
}
void FakeAppDelegate::onImportBookmarks(const ns::Ref<ns::Object>&) {
  record("onImportBookmarks");
}

void FakeAppDelegate::enableShortSeek(bool enable) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shortSeek_ = enable;
  }
  record(std::string("enableShortSeek(") + (enable ? "YES" : "NO") + ")");
}

bool FakeAppDelegate::isRunningMavericksOrHigher() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mavericks_) return *mavericks_;
  }
  return isSystemMavericksOrLater();
}

}  // namespace testsupport
