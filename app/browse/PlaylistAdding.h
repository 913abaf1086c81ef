#pragma once
// Adding videos to one of the signed-in account's playlists on the service, one insert request
// after the other, and the copies of rows that go into another list. Main thread.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Object.h"

class SearchEntry;
class ApiQueryYouTube;
class ApiServiceYouTube;
namespace ns {
class Error;
}

// A new row with the same properties (through the row's archive), nil for nil; a row that
// enters another list is a copy, so that the item id it gets there never reaches the list it
// came from.
ns::Ref<SearchEntry> copySearchEntry(const ns::Ref<SearchEntry>& row);

// Adds the rows in order: each is recorded in the video-in-playlist index, then inserted on the
// service after the previous one was answered. A success gives the row the new item id, shows it
// in the target's open list (first for the favourites, likes and watch history, else last; never
// twice) and in the account's stored copy; with `deleteAfterCopy` the row's entry in the playlist
// named by its `playlistid` is then deleted, leaving that open list once the delete succeeded. A
// failure forgets the index pair and goes on with the next row. Pass copies.
// `onFailure`, when given, is told of each refused insert.
void addSearchEntries_toPlaylistId_deleteAfterCopy(std::vector<ns::Ref<SearchEntry>> rows,
                                                   const std::string& playlistId, bool deleteAfterCopy,
                                                   std::function<void(const ns::Error&)> onFailure = nullptr);

// Whether rows added to the playlist go first: the favourites, likes and watch history.
bool isTopInsertionPlaylist(const std::string& playlistId);

// The playlistItems.insert query of the video into the playlist (part "snippet"), at the
// position when one is given.
ns::Ref<ApiQueryYouTube> playlistItemInsertQuery(const std::string& videoId, const std::string& playlistId,
                                                 std::optional<int> position = std::nullopt);
// Sends the insert of one video into the playlist (at the position when given), recording the
// pair in the video-in-playlist index when it is new. A refusal, or an answer without an item id,
// is logged and takes back only a pair this call recorded; an insert the service took calls
// `inserted` with the new item id on the main queue.
void insertVideo_intoPlaylist(const ns::Ref<ApiServiceYouTube>& service, const std::string& videoId,
                              const std::string& playlistId, std::optional<int> position,
                              std::function<void(const std::string& itemId)> inserted);
// Puts the row first or last into the playlist's open list, when one is registered and holds no
// row with the row's item id yet, keeping the playing row's mark; answers whether it went in.
bool showRowInOpenPlaylist(const ns::Ref<SearchEntry>& row, const std::string& playlistId, bool atTop);
