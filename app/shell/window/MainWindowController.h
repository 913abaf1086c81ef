#pragma once
// The controller of the single main window: the window with its custom title bar and the user
// button, the browse pane beside the player above the control bar, the cache manager with the
// local media server, and the account glue and bookmark commands it owns and forwards to. Made
// from "MainWindowController" by the launch and installed process-wide. Main thread only, but
// the members of IMainWindowController that the interface allows from other threads.
#include <string>

#include "app/shell/IMainWindowController.h"
#include "platform/appkit/WindowController.h"

class AccountSession;
class BookmarkCommands;
class CustomSlider;
class MouseMoveNSView;
class MySplitView;
class PlayerViewController;
class TitlebarWindow;
namespace ns {
class Notification;
}
namespace ak {
class PopUpButton;
}

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
  void setShowingAlert(bool showing) override { showingAlert_ = showing; }
  ns::Ref<ak::Window> getCurrentWindow() override;
  bool isFullScreen() override { return false; }
  bool currentFullScreenLion() override { return false; }
  ns::Ref<ak::Window> fullScreenWindow() override { return nullptr; }
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
};
