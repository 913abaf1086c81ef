#pragma once
// What the library and the player call of the browsing interface (the left pane), which sits
// above them: the source list, the registry of list controllers, the current playlist, and the
// left pane's navigation. The browsing interface installs its implementation at start; until it
// does, calls into it do nothing.
#include <string>

#include "platform/core/Object.h"

// A list of rows that can feed the player.
class IPlaylistViewController {
 public:
  virtual ~IPlaylistViewController() = default;
  virtual std::string title() = 0;
  virtual void setTitle(const std::string& title) = 0;
  virtual std::string requestType() = 0;
  virtual std::string requestId() = 0;
  // The index of the playing row.
  virtual long playIndex() = 0;
  virtual void setPlayIndex(long index) = 0;
  // Sets the new title on every row of the list with that video id and redraws the table.
  virtual void videoRenamed_Title(const std::string& videoId, const std::string& title) = 0;
  // Plays the next row; false when nothing was played (an empty list, or the end of the list
  // with no sender while repeat is off).
  virtual bool nextTrack(const ns::Ref<ns::Object>& sender) = 0;
  // Plays the previous row, the last one from row 0; false for an empty list.
  virtual bool prevTrack(const ns::Ref<ns::Object>& sender) = 0;
};

// The source list.
class IMenuViewController {
 public:
  virtual ~IMenuViewController() = default;
  // Rebuilds the whole source list from the main window controller's current account cache.
  virtual void refresh() = 0;
  // Adds the delta to the badge of that playlist's item.
  virtual void updatePlaylist_itemCountPlus(const std::string& playlistId, int delta) = 0;
  // Asks the account's lists again from the service, the refresh button turning meanwhile.
  virtual void refreshAccountInfoFromNetwork() = 0;
};

class IBrowsingInterface {
 public:
  virtual ~IBrowsingInterface() = default;

  // The left pane's source list (nil before it exists).
  virtual ns::Ref<IMenuViewController> menuViewController() = 0;
  // The list controller kept in the registry under the request type and id, made on first use
  // with that title, type and id.
  virtual ns::Ref<IPlaylistViewController> getPlaylistViewController(const std::string& title,
                                                                     const std::string& requestType,
                                                                     const std::string& requestId) = 0;
  // The process-wide current playlist: the list that feeds the player (nil when none).
  virtual ns::Ref<IPlaylistViewController> currentPlaylist() = 0;
  virtual void setCurrentPlaylist(ns::Ref<IPlaylistViewController> controller) = 0;
  // The left pane's navigation: shows the controller (unless it is the current one, empties
  // the forward stack and pushes it), and sets the navigation bar's title.
  virtual void pushViewController_animated(const ns::Ref<IPlaylistViewController>& controller,
                                           bool animated) = 0;
  virtual void setNavigationTitle(const std::string& title) = 0;
  // The navigation's current controller when it is a list controller, else nil.
  virtual ns::Ref<IPlaylistViewController> getVisiblePlaylistViewController() = 0;
};

// The installed browsing interface (nil until one is set); main thread only.
ns::Ref<IBrowsingInterface> browsingInterface();
void setBrowsingInterface(ns::Ref<IBrowsingInterface> interface);
// The installed browsing interface's current playlist; nil when there is none or no interface.
ns::Ref<IPlaylistViewController> installedCurrentPlaylist();
