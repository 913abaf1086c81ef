#pragma once
// The application delegate: the launch (the hooks other modules declared, the stream resolver,
// the "Pelorin" folder, the main window, the crash reporter), the bookmark menu actions, and the
// end of the run when the last window closes. Installed process-wide at launch. Main thread.
#include <string>

#include "common/IAppDelegate.h"
#include "platform/core/Object.h"

class MainWindowController;
namespace ak {
class MenuItem;
}
namespace ns {
class Notification;
}

// The crash-reporting service's key of this application.
inline constexpr char kCrashReporterAPIKey[] = "8c3e5a1f0b7d49e2a6c4f1d9b3e7a05c2f8d6e41";

class PLMAppDelegate : public ns::Object, public IAppDelegate {
 public:
  void applicationDidFinishLaunching(const ns::Ref<ns::Notification>& note);
  void applicationWillTerminate(const ns::Ref<ns::Notification>& note);
  bool applicationShouldTerminateAfterLastWindowClosed(const ns::Ref<ns::Object>& sender) { return true; }
  // Quit Pelorin: the application's own terminate (the delegate answers the menu's action at the
  // end of the responder chain).
  void terminate(const ns::Ref<ns::Object>& sender);

  // ---- IAppDelegate ----
  void onExportBookmarks(const ns::Ref<ns::Object>& sender) override;
  void onImportBookmarks(const ns::Ref<ns::Object>& sender) override;
  void enableShortSeek(bool enable) override { shortSeekEnabled_ = enable; }
  bool isRunningMavericksOrHigher() override;

  // ---- the main menu's items, each sent to the delegate (PLMAppDelegateMenus.cpp) ----
  // Every one of them answers NO while a sheet is up; Quit and Edit are not the delegate's.
  bool validateMenuItem(const ns::Ref<ak::MenuItem>& item);
  // Go: the left pane's back, forward and current-playlist buttons.
  void onBackBtn(const ns::Ref<ns::Object>& sender);
  void onForwardBtn(const ns::Ref<ns::Object>& sender);
  void onCurrentPlaylistBtn(const ns::Ref<ns::Object>& sender);
  // Playback: the player's short seeks (5 s).
  void onShortSeekForward(const ns::Ref<ns::Object>& sender);
  void onShortSeekBack(const ns::Ref<ns::Object>& sender);
  // Account: the sign-in sheet; the sign-out once confirmed.
  void onLogin(const ns::Ref<ns::Object>& sender);
  void onLogout(const ns::Ref<ns::Object>& sender);

  const ns::Ref<MainWindowController>& mainWindowController() const { return mainWindowController_; }
  bool shortSeekEnabled() const { return shortSeekEnabled_; }

  // Creates the application's support folder, "Pelorin", when it is missing. A file in its place
  // or a folder that cannot be made is logged and the launch goes on; answers whether the folder
  // is there.
  static bool createAppSupportFolder();

  std::string className() const override { return "PLMAppDelegate"; }

 private:
  ns::Ref<MainWindowController> mainWindowController_;
  bool shortSeekEnabled_ = true;
};
