#pragma once
// The controller of the single main window: the window with its custom title bar and the user
// button, the browse pane beside the player above the control bar, the cache manager with the
// local media server, and the account glue and bookmark commands it owns and forwards to. Made
// from "MainWindowController" by the launch and installed process-wide. Main thread only, but
// the members of IMainWindowController that the interface allows from other threads.
#include <string>

#include "common/IMainWindowController.h"
#include "platform/appkit/WindowController.h"

class AccountSession;
class BookmarkCommands;
class CustomSlider;
class MouseMoveNSView;
class MySplitView;
class PlayerViewController;
class RenameVideoSheet;
class TitlebarWindow;
namespace ns {
class Notification;
}
namespace ak {
class MenuItem;
class PopUpButton;
class TrackingArea;
}  // namespace ak

// User-default keys the main window keeps.
inline constexpr char kMainSplitViewPositionKey[] = "mainSplitViewPosition";
inline constexpr char kRepeatTypeKey[] = "RepeatType";
inline constexpr char kShuffleModeKey[] = "ShuffleMode";

class MainWindowController : public ak::WindowController, public IMainWindowController {
 public:
  static constexpr double kTitleBarHeight = 55;
  static constexpr double kBottomBarHeight = 42;
  static constexpr double kPaneMinimum = 320;
  static constexpr double kDefaultWidth = 1100, kDefaultHeight = 700;
  static constexpr double kMinimumWidth = 660, kMinimumHeight = 400;

  MainWindowController();
  ~MainWindowController() override;
  // A controller of the window built by "MainWindowController" (loaded on first use).
  static ns::Ref<MainWindowController> initWithDefaultNib();

  // The chrome, the cache folders, the two panes, the split, the stored modes, the cache
  // manager, and initYoutube queued for a later turn of the main queue.
  void windowDidLoad() override;
  // Restores the signed-in account (the account glue's work).
  void initYoutube();

  // ---- IMainWindowController ----
  ns::Ref<AccountCache> accountCache() override;
  void setAccountCache(ns::Ref<AccountCache> cache) override;
  ns::Ref<VideoInPlaylistCache> videoInPlaylistCache() override;
  void setVideoInPlaylistCache(ns::Ref<VideoInPlaylistCache> cache) override;
  ns::Ref<CacheServer> cacheServer() override { return cacheServer_; }
  ns::Ref<LeftViewController> leftViewController() override { return leftViewController_; }
  ns::Ref<ApiServiceYouTube> youTubeService() override;
  ns::Ref<ak::Window> window() override { return ak::WindowController::window(); }
  ns::Ref<ak::Button> userBtn() override { return userBtn_; }
  ns::Ref<ak::View> bottomView() override { return bottomView_; }
  bool showingAlert() override { return showingAlert_; }
  // A sheet or alert coming up brings the pointer back for its buttons.
  void setShowingAlert(bool showing) override;
  ns::Ref<ak::Window> getCurrentWindow() override;
  bool isFullScreen() override;
  bool currentFullScreenLion() override { return systemFullScreen_; }
  ns::Ref<ak::Window> fullScreenWindow() override { return fullScreenWindow_; }
  bool isSignedIn() override;
  int repeatType() override { return repeatType_; }
  int shuffleMode() override { return shuffleMode_; }
  bool treeViewHasFocus() override;
  void showLeftView(bool animated) override;
  void signInClicked(const ns::Ref<ns::Object>& sender) override;
  void onShowRenameVideo(const ns::Ref<SearchEntry>& row) override;
  void checkMouseDownEvent(const ns::Ref<ak::Event>& event) override;
  void onExportBookmarks() override;
  void onImportBookmarks() override;

  // ---- full screen (FullScreen.cpp) ----
  // The View menu's item: the own kind on when neither kind is, else whichever kind is off.
  void onToggleFullScreen(const ns::Ref<ns::Object>& sender);
  // Titles the View menu's item after the state; NO while a sheet is up.
  bool validateMenuItem(const ns::Ref<ak::MenuItem>& item);
  // The controller is the last responder of both windows: Escape that no view took leaves
  // full screen; every other key goes on.
  void keyDown(const ns::Ref<ak::Event>& event) override;
  void enterOwnFullScreen();
  void leaveOwnFullScreen();
  // The bottom bar and the pointer follow the mouse over the picture, in full screen only.
  void fullScreenMouseMoved(const ns::Ref<ns::Notification>& note);
  void fullScreenMouseIdle(const ns::Ref<ns::Notification>& note);
  // The desktop's own full screen of the main window.
  void mainWindowDidEnterFullScreen(const ns::Ref<ns::Notification>& note);
  void mainWindowDidExitFullScreen(const ns::Ref<ns::Notification>& note);
  // The full-screen window follows the main screen.
  void screenParametersChanged(const ns::Ref<ns::Notification>& note);
  // Nothing stays hidden or held when the run ends.
  void applicationWillTerminate(const ns::Ref<ns::Notification>& note);
  // The pointer hides this controller holds (0 or 1).
  int pointerHides() const { return pointerHidden_ ? 1 : 0; }
  const ns::Ref<ak::TrackingArea>& fullScreenTrackingArea() const { return fullScreenTrackingArea_; }
  // The Rename Video sheet while it is up.
  const ns::Ref<RenameVideoSheet>& renameVideoSheet() const { return renameVideoSheet_; }

  // Stores the divider while the left pane is open.
  void mainSplitViewDidResizeSubviews(const ns::Ref<ns::Notification>& note);

  // ---- outlets and parts ----
  const ns::Ref<PlayerViewController>& playerViewController() const { return playerViewController_; }
  const ns::Ref<MySplitView>& mainSplitView() const { return mainSplitView_; }
  const ns::Ref<MouseMoveNSView>& mouseMoveView() const { return mouseMoveView_; }
  const ns::Ref<ak::View>& toolbarView() const { return toolbarView_; }
  const ns::Ref<CustomSlider>& volumeSlider() const { return volumeSlider_; }
  const ns::Ref<CustomSlider>& progressSlider() const { return progressSlider_; }
  const ns::Ref<ak::PopUpButton>& qualityButton() const { return qualityButton_; }
  const ns::Ref<AccountSession>& accountSession() const { return accountSession_; }
  // How often initYoutube ran.
  int initYoutubeCount() const { return initYoutubeCount_; }

  std::string className() const override { return "MainWindowController"; }

 private:
  void setUpWindowChrome(const ns::Ref<TitlebarWindow>& window);
  void createCacheFolders();
  void loadPanes();
  void setUpContentView(const ns::Ref<ak::Window>& window);
  void setUpMainSplitView();
  void restorePlayModes();
  void startCacheServer();
  void observeFullScreen();
  void beginFullScreenControls();
  void endFullScreenControls();
  void hidePointer();
  void showPointer();
  void postFullScreenChanged();

  ns::Ref<AccountSession> accountSession_;
  ns::Ref<BookmarkCommands> bookmarkCommands_;
  ns::Ref<AccountCache> accountCache_;
  ns::Ref<VideoInPlaylistCache> videoInPlaylistCache_;
  ns::Ref<CacheServer> cacheServer_;
  ns::Ref<LeftViewController> leftViewController_;
  ns::Ref<PlayerViewController> playerViewController_;
  ns::Ref<ak::Button> userBtn_;
  ns::Ref<ak::View> toolbarView_;
  ns::Ref<ak::View> bottomView_;
  ns::Ref<MouseMoveNSView> mouseMoveView_;
  ns::Ref<MySplitView> mainSplitView_;
  ns::Ref<CustomSlider> volumeSlider_;
  ns::Ref<CustomSlider> progressSlider_;
  ns::Ref<ak::PopUpButton> qualityButton_;
  bool showingAlert_ = false;
  int repeatType_ = 0;
  int shuffleMode_ = 0;
  int initYoutubeCount_ = 0;
  // Full screen: the own borderless window (made on the first entry and kept), which kind is
  // on, the left pane's state before the own kind, the tracking area of the mouse view.
  ns::Ref<ak::Window> fullScreenWindow_;
  bool ownFullScreen_ = false;
  bool systemFullScreen_ = false;
  bool leftWasOpen_ = false;
  bool pointerHidden_ = false;
  ns::Ref<ak::TrackingArea> fullScreenTrackingArea_;
  ns::Ref<RenameVideoSheet> renameVideoSheet_;
};
