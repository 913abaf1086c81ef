#pragma once
// What the other subsystems use of the controller of the single main window, and the
// process-wide reference to it, set when it is made. The controller itself needs the windows
// and every subsystem, so it lives above the shell's library; subsystems below it reach it
// through this interface.
#include "platform/core/Object.h"

class AccountCache;
class VideoInPlaylistCache;
class CacheServer;
class LeftViewController;
class SearchEntry;
class ApiServiceYouTube;
namespace ak {
class Window;
class Button;
class View;
class Event;
}  // namespace ak

class IMainWindowController {
 public:
  virtual ~IMainWindowController() = default;

  // The signed-in account's cache and video-to-playlist index (nil while signed out); both
  // are replaced when the signed-in account changes.
  virtual ns::Ref<AccountCache> accountCache() = 0;
  virtual void setAccountCache(ns::Ref<AccountCache> cache) = 0;
  virtual ns::Ref<VideoInPlaylistCache> videoInPlaylistCache() = 0;
  virtual void setVideoInPlaylistCache(ns::Ref<VideoInPlaylistCache> cache) = 0;

  // The application's one cache manager, the left pane and the shared Data API service.
  virtual ns::Ref<CacheServer> cacheServer() = 0;
  virtual ns::Ref<LeftViewController> leftViewController() = 0;
  virtual ns::Ref<ApiServiceYouTube> youTubeService() = 0;

  // The main window, the title bar's user button and the bar along the bottom.
  virtual ns::Ref<ak::Window> window() = 0;
  virtual ns::Ref<ak::Button> userBtn() = 0;
  virtual ns::Ref<ak::View> bottomView() = 0;

  // True while a sheet or alert is up; shortcuts and menu validation stand still meanwhile.
  virtual bool showingAlert() = 0;
  virtual void setShowingAlert(bool showing) = 0;

  // The window sheets hang on: the settings window when it is the main window, else the
  // visible mini player, else the full-screen window in full screen, else the main window.
  virtual ns::Ref<ak::Window> getCurrentWindow() = 0;
  // Full screen of either kind; whether it is the system's kind; the own borderless window.
  virtual bool isFullScreen() = 0;
  virtual bool currentFullScreenLion() = 0;
  virtual ns::Ref<ak::Window> fullScreenWindow() = 0;

  virtual bool isSignedIn() = 0;
  // 0 play the playlist, 1 repeat all, 2 repeat the track, 3 play one track.
  virtual int repeatType() = 0;
  // 1 while shuffle play is on.
  virtual int shuffleMode() = 0;
  // The source-list outline is the first responder of the main or full-screen window.
  virtual bool treeViewHasFocus() = 0;

  // Re-opens the collapsed left pane; else nothing.
  virtual void showLeftView(bool animated) = 0;
  // Signs out when signed in, else runs the sign-in sheet; posts "loginStateChanged".
  virtual void signInClicked(const ns::Ref<ns::Object>& sender) = 0;
  // Opens the Rename Video sheet for the row's video.
  virtual void onShowRenameVideo(const ns::Ref<SearchEntry>& row) = 0;
  // Closes the browse pane's search suggestions; the event is not examined.
  virtual void checkMouseDownEvent(const ns::Ref<ak::Event>& event) = 0;
  // Bookmark export and import, as the application menu asks for them.
  virtual void onExportBookmarks() = 0;
  virtual void onImportBookmarks() = 0;
};

// The process-wide main window controller (nil until one is set); safe from any thread, each
// reader holding its own strong reference.
ns::Ref<IMainWindowController> mainWindowController();
void setMainWindowController(ns::Ref<IMainWindowController> controller);
