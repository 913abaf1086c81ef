#pragma once
// What the other subsystems use of the application delegate, and the process-wide reference to
// it, kept from the start of the launch. The delegate itself lives above the shell's library.
#include "platform/core/Object.h"

class IAppDelegate {
 public:
  virtual ~IAppDelegate() = default;

  // Menu actions (sender ignored) that hand bookmark export and import to the main window
  // controller.
  virtual void onExportBookmarks(const ns::Ref<ns::Object>& sender) = 0;
  virtual void onImportBookmarks(const ns::Ref<ns::Object>& sender) = 0;
  // Enables or disables the Playback menu's short seek items.
  virtual void enableShortSeek(bool enable) = 0;
  // The system is version 10.9 or later (isSystemMavericksOrLater, worked out once).
  virtual bool isRunningMavericksOrHigher() = 0;
};

// The process-wide application delegate (nil until one is set); safe from any thread, each
// reader holding its own strong reference.
ns::Ref<IAppDelegate> appDelegate();
void setAppDelegate(ns::Ref<IAppDelegate> delegate);
