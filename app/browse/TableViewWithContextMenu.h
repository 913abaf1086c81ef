#pragma once
// The table of a list pane, with the context menu of its video rows. A right click builds a
// new menu for the row under the pointer and the selection (the row joins the selection when it
// was not in it): links, cache and download commands by the videos' cache state, the "Add to"
// submenu of the account's playlists, the "Share to" submenu, played state, delete, rename and
// reload. The table is also the sharing services' delegate. Main thread only.
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/TableView.h"
#include "platform/core/Value.h"

class SearchEntry;
class YTPlaylistViewController;
namespace ak {
class Alert;
class MenuItem;
class Image;
class SharingService;
}  // namespace ak
namespace ns {
class ErrorObject;
}

// Tags of the context menu's items.
enum VideoMenuTag : long {
  kVideoMenuUploadersVideo = 0,
  kVideoMenuRelatedVideo = 1,
  kVideoMenuOpenVideoPage = 2,
  kVideoMenuCopyLink = 3,  // also the "Add to..." and "Share to..." items
  kVideoMenuCacheVideo = 11,
  kVideoMenuRemoveCache = 12,
  kVideoMenuDownload = 13,
  kVideoMenuRevealInFinder = 14,
  kVideoMenuDeleteDownloadedFile = 15,
  kVideoMenuPauseDownload = 16,
  kVideoMenuResumeDownload = 17,
  kVideoMenuResetPlayedState = 21,
  kVideoMenuDelete = 22,
  kVideoMenuEditVideoTitle = 23,
  kVideoMenuReloadList = 30,
};

// The product's web page that ends every share text.
inline constexpr char kProductPageAddress[] = "http://pelorin.example.org/";

// Whether Command was held when the last context menu was built: "Add to" then moves. Set at
// every build, read when a playlist item is chosen. Process-wide, main thread.
bool menuMoveMode();
void setMenuMoveMode(bool move);
// YES from the opening of a share until the sharing service reports its end; the application's
// key handling leaves keys alone meanwhile. Process-wide, main thread.
bool isSharingSheetActive();
void setSharingSheetActive(bool active);

class TableViewWithContextMenu : public ak::TableView {
 public:
  std::string className() const override { return "TableViewWithContextMenu"; }

  // The menu for the row under the event; the row becomes the selection when it was not in it.
  ns::Ref<ak::Menu> menuForEvent(const ns::Ref<ak::Event>& event) override;
  // NO for a row's play button on a right mouse-down, so that the click opens the row's menu.
  bool validateProposedFirstResponder_forEvent(const ns::Ref<ak::Responder>& responder,
                                               const ns::Ref<ak::Event>& event) override;

  // ---- actions of the menu's items (sent through the runtime) ----
  void onclick(const ns::Ref<ns::Object>& sender);
  void reload(const ns::Ref<ns::Object>& sender);
  void onaddto(const ns::Ref<ns::Object>& sender);
  void shareToTwitter();
  void shareToFacebook();
  // The runtime's entries of the two actions above: the platform sends every action with its
  // sender, which these ignore.
  void shareToTwitterAction(const ns::Ref<ns::Object>& sender) { shareToTwitter(); }
  void shareToFacebookAction(const ns::Ref<ns::Object>& sender) { shareToFacebook(); }
  void shareToTwitter(const ns::Ref<SearchEntry>& row);
  void shareToFacebook(const ns::Ref<SearchEntry>& row);

  // ---- the sharing services' delegate ----
  ak::Rect sharingService_sourceFrameOnScreenForShareItem(const ns::Ref<ak::SharingService>& service,
                                                          const ns::Value& item);
  // For a link: the clicked row's thumbnail when the image cache holds it, else "green_dot";
  // nil for other items.
  ns::Ref<ak::Image> sharingService_transitionImageForShareItem_contentRect(
      const ns::Ref<ak::SharingService>& service, const ns::Value& item, ak::Rect* contentRect);
  void sharingService_didShareItems(const ns::Ref<ak::SharingService>& service, const ns::Array& items);
  void sharingService_didFailToShareItems_error(const ns::Ref<ak::SharingService>& service,
                                                const ns::Array& items,
                                                const ns::Ref<ns::ErrorObject>& error);
  void alertDidEnd_returnCode_contextInfo(const ns::Ref<ak::Alert>& alert, long returnCode,
                                          void* contextInfo) {}

  // The row under the pointer at the last menu build, -1 below the last row.
  long menuRow() const { return menuRow_; }

 private:
  void addLinkItems(const ns::Ref<ak::Menu>& menu, long count);
  void addCacheItems(const ns::Ref<ak::Menu>& menu, const ns::Ref<SearchEntry>& row, long count,
                     const ns::Ref<YTPlaylistViewController>& list);
  void addAddToItem(const ns::Ref<ak::Menu>& menu, const ns::Ref<SearchEntry>& row, long count);
  void addShareItem(const ns::Ref<ak::Menu>& menu);
  ns::Ref<ak::MenuItem> addItem(const ns::Ref<ak::Menu>& menu, const std::string& title, long tag,
                                bool enabled, const char* action = "onclick:");
  void deleteDownloadedFiles(const ns::Ref<SearchEntry>& row, const std::vector<ns::Ref<SearchEntry>>& rows,
                             bool several);
  void shareBegan(const ns::Ref<ak::SharingService>& service, const ns::Array& items);
  void shareEnded();

  long menuRow_ = -1;
  // The row the last share was for (its thumbnail is the transition image).
  ns::Ref<SearchEntry> sharedRow_;
};

// The list's row at the index, nil past its ends.
ns::Ref<SearchEntry> listRowAt(const ns::Ref<YTPlaylistViewController>& list, long index);
// The list on show in the left pane's navigation, nil when it is no list pane.
ns::Ref<YTPlaylistViewController> currentListViewController();

// Pushes the uploads list of the row's channel ("UU" and the channel id past its first two
// characters, titled with the author) on the left pane's navigation; NO, opening nothing, for a
// row without a channel id or with one too short to name the uploads.
bool pushUploadersVideo(const ns::Ref<SearchEntry>& row);
// Pushes the row's related videos, titled "related: <title>"; NO for a row without a video id.
bool pushRelatedVideo(const ns::Ref<SearchEntry>& row);
