#pragma once
// An application delegate whose answers a test sets and whose calls it reads back.
#include <mutex>
#include <optional>

#include "common/IAppDelegate.h"
#include "tests/support/CallRecorder.h"

namespace testsupport {

class FakeAppDelegate : public ns::Object, public IAppDelegate, public CallRecorder {
 public:
  // nullopt answers what the running system's version says.
  void setRunningMavericksOrHigher(std::optional<bool> answer);
  // The last enableShortSeek value (true before any call).
  bool shortSeekEnabled() const;

  void onExportBookmarks(const ns::Ref<ns::Object>& sender) override;
  void onImportBookmarks(const ns::Ref<ns::Object>& sender) override;
  void enableShortSeek(bool enable) override;
  bool isRunningMavericksOrHigher() override;

 private:
  mutable std::mutex mutex_;
  std::optional<bool> mavericks_;
  bool shortSeek_ = true;
};

}  // namespace testsupport
