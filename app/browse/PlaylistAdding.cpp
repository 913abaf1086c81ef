#include "app/browse/PlaylistAdding.h"

#include <deque>
#include <set>

#include "app/browse/YTPlaylistViewController.h"
#include "app/library/AccountCache.h"
#include "app/library/VideoInPlaylistCache.h"
#include "app/youtube/SearchEntry.h"
#include "common/IMainWindowController.h"
#include "lib/google/ApiQueryYouTube.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/ApiYouTubeModels.h"
#include "platform/core/Exception.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/serialization/KeyedArchiver.h"
#include "platform/serialization/KeyedUnarchiver.h"

namespace {

struct Batch {
  std::deque<ns::Ref<SearchEntry>> rows;
  std::string playlistId;
  bool deleteAfterCopy = false;
  // The videos whose pair this batch recorded: a failure forgets only those, never a pair the
  // index held before.
  std::set<std::string> recorded;
  std::function<void(const ns::Error&)> onFailure;
};

void forgetRecordedPair(Batch& batch, const std::string& videoId) {
  if (!batch.recorded.count(videoId)) return;
  if (auto main = mainWindowController())
    if (auto index = main->videoInPlaylistCache()) index->deleteVideo_fromPlaylist(videoId, batch.playlistId);
}

ns::Ref<VideoInPlaylistCache> playlistIndex() {
  auto main = mainWindowController();
  return main ? main->videoInPlaylistCache() : nullptr;
}

void addNext(const std::shared_ptr<Batch>& batch);

void added(const std::shared_ptr<Batch>& batch, const ns::Ref<SearchEntry>& row,
           const std::string& newItemId) {
  const std::string& target = batch->playlistId;
  const bool top = isTopInsertionPlaylist(target);
  auto oldItemId = row->playlistItemId();
  row->setPlaylistItemId(newItemId);
  showRowInOpenPlaylist(row, target, top);
  auto main = mainWindowController();
  if (auto account = main ? main->accountCache() : nullptr)
    account->addSearchEntry_toPlaylist_insertAtZero(row, target, top);
  if (!batch->deleteAfterCopy) return;
  ns::Log("deleteAfterCopy: %@ / %@", row->playlistid(), oldItemId.value_or(""));
  auto source = getExistingPlaylistViewController("playlists", row->playlistid());
  if (!source) return;
  auto old = SearchEntry::init();
  old->setVideoid(row->videoid());
  old->setPlaylistid(row->playlistid());
  old->setPlaylistItemId(oldItemId);
  source->deleteSearchItemFromServerPlaylist_newPlaylistItemId(old, newItemId);
}

void addNext(const std::shared_ptr<Batch>& batch) {
  if (batch->rows.empty()) return;
  auto row = batch->rows.front();
  batch->rows.pop_front();
  auto main = mainWindowController();
  auto service = main ? main->youTubeService() : nullptr;
  const std::string videoId = row ? row->videoid().value_or("") : std::string();
  if (!row || videoId.empty() || !service) {
    if (row && !videoId.empty()) forgetRecordedPair(*batch, videoId);
    addNext(batch);
    return;
  }
  auto query = playlistItemInsertQuery(videoId, batch->playlistId);
  service->executeQuery_completionHandler(
      query, [batch, row, videoId](const auto&, const auto& reply, const std::optional<ns::Error>& error) {
        auto inserted = std::dynamic_pointer_cast<ApiYouTubePlaylistItem>(reply);
        auto newItemId = inserted ? inserted->identifier() : std::nullopt;
        std::optional<ns::Error> failure = error;
        dispatch::async(dispatch::mainQueue(), [batch, row, videoId, newItemId, failure] {
          if (failure || !newItemId || newItemId->empty()) {
            ns::Error refused = failure ? *failure
                                        : ns::Error::withDescription(
                                              "Pelorin", 0, "the insert's answer holds no playlist item id");
            ns::LogWarning("error: %@", refused);
            forgetRecordedPair(*batch, videoId);
            if (batch->onFailure) batch->onFailure(refused);
          } else {
            added(batch, row, *newItemId);
          }
          addNext(batch);
        });
      });
}

}  // namespace

ns::Ref<SearchEntry> copySearchEntry(const ns::Ref<SearchEntry>& row) {
  if (!row) return nullptr;
  ns::Error error;
  auto data = ns::KeyedArchiver::archivedDataWithRootObject_requiringSecureCoding_error(ns::Value(row), false,
                                                                                        &error);
  if (!data) return nullptr;
  try {
    return ns::KeyedUnarchiver::unarchiveTopLevelObjectWithData_error(*data, &error).objectAs<SearchEntry>();
  } catch (const ns::Exception& exception) {
    // A row whose own decoding refuses its archive cannot be copied: it is left out.
    ns::LogWarning("cannot copy the row: %@", exception.reason());
    return nullptr;
  }
}

ns::Ref<ApiQueryYouTube> playlistItemInsertQuery(const std::string& videoId, const std::string& playlistId,
                                                 std::optional<int> position) {
  auto resource = ApiObject::object<ApiYouTubeResourceId>();
  resource->setKind("youtube#video");
  resource->setVideoId(videoId);
  auto snippet = ApiObject::object<ApiYouTubePlaylistItemSnippet>();
  snippet->setPlaylistId(playlistId);
  snippet->setResourceId(resource);
  if (position) snippet->setPosition(ns::Number(*position));
  auto item = ApiObject::object<ApiYouTubePlaylistItem>();
  item->setSnippet(snippet);
  ns::Log("item.snippet = %@", snippet->description());
  ns::Log("item.snippet.resourceId = %@", resource->description());
  return ApiQueryYouTube::queryForPlaylistItemsInsertWithObject_part(item, "snippet");
}

void insertVideo_intoPlaylist(const ns::Ref<ApiServiceYouTube>& service, const std::string& videoId,
                              const std::string& playlistId, std::optional<int> position,
                              std::function<void(const std::string& itemId)> inserted) {
  auto query = playlistItemInsertQuery(videoId, playlistId, position);
  bool recorded = false;
  if (auto pairs = playlistIndex(); pairs && !pairs->hasVideo_inPlaylist(videoId, playlistId)) {
    pairs->addVideo_toPlaylist(videoId, playlistId);
    recorded = true;
  }
  service->executeQuery_completionHandler(
      query, [videoId, playlistId, recorded, inserted = std::move(inserted)](
                 const auto&, const auto& reply, const std::optional<ns::Error>& error) {
        auto item = std::dynamic_pointer_cast<ApiYouTubePlaylistItem>(reply);
        auto newItemId = item ? item->identifier() : std::nullopt;
        if (error || !newItemId || newItemId->empty()) {
          if (error)
            ns::LogWarning("error: %@", *error);
          else
            ns::LogWarning("error: %@", "the insert's answer holds no playlist item id");
          if (recorded)
            if (auto pairs = playlistIndex()) pairs->deleteVideo_fromPlaylist(videoId, playlistId);
          return;
        }
        dispatch::async(dispatch::mainQueue(), [inserted, itemId = *newItemId] { inserted(itemId); });
      });
}

bool showRowInOpenPlaylist(const ns::Ref<SearchEntry>& row, const std::string& playlistId, bool atTop) {
  auto list = getExistingPlaylistViewController("playlists", playlistId);
  if (!list || !row) return false;
  if (row->playlistItemId() && list->hasPlaylistItemId(*row->playlistItemId())) return false;
  list->insertRow_atIndex(row, atTop ? 0 : static_cast<long>(list->cellArray().size()));
  list->refreshTableView();
  return true;
}

bool isTopInsertionPlaylist(const std::string& playlistId) {
  auto main = mainWindowController();
  auto account = main ? main->accountCache() : nullptr;
  if (!account || playlistId.empty()) return false;
  return account->favorites() == playlistId || account->likes() == playlistId ||
         account->watchHistory() == playlistId;
}

void addSearchEntries_toPlaylistId_deleteAfterCopy(std::vector<ns::Ref<SearchEntry>> rows,
                                                   const std::string& playlistId, bool deleteAfterCopy,
                                                   std::function<void(const ns::Error&)> onFailure) {
  if (playlistId.empty() || rows.empty()) return;
  auto batch = std::make_shared<Batch>();
  batch->playlistId = playlistId;
  batch->deleteAfterCopy = deleteAfterCopy;
  batch->onFailure = std::move(onFailure);
  auto index = playlistIndex();
  for (auto& row : rows) {
    if (!row) continue;
    const std::string videoId = row->videoid().value_or("");
    if (index && !videoId.empty() && !index->hasVideo_inPlaylist(videoId, playlistId)) {
      index->addVideo_toPlaylist(videoId, playlistId);
      batch->recorded.insert(videoId);
    }
    batch->rows.push_back(std::move(row));
  }
  addNext(batch);
}
