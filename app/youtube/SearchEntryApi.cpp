// The row model's side of the Data API: rows made from reply objects, and rows known by id alone
// completed from videos.list.
#include <memory>
#include <utility>

#include "app/youtube/ApiVideoFields.h"
#include "app/youtube/SearchEntry.h"
#include "app/youtube/VideoDetailRecord.h"
#include "common/IMainWindowController.h"
#include "lib/google/ApiQueryYouTube.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/ApiYouTubeModels.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/runloop/Thread.h"

namespace {

// A non-empty string field, else nil.
std::optional<std::string> nonEmpty(const std::optional<std::string>& text) {
  if (!text || text->empty()) return std::nullopt;
  return text;
}

// Title, description, day and thumbnails: every snippet class names them alike.
template <class Snippet>
ns::Ref<SearchEntry> rowWithSnippet(const ns::Ref<Snippet>& snippet) {
  auto row = SearchEntry::init();
  if (!snippet) return row;
  row->setTitle(snippet->title().value_or(""));
  row->setDesc(snippet->descriptionProperty().value_or(""));
  row->setDate(publishedDateText(snippet->publishedAt()));
  auto thumbnails = snippet->thumbnails();
  row->setThumburl(listThumbnailURL(thumbnails));
  row->setHqthumburl(highResolutionThumbnailURL(thumbnails));
  return row;
}

// Search replies escape the texts of some results as HTML and leave others raw; a row shows
// them decoded either way.
ns::Ref<SearchEntry> withSearchTextsDecoded(ns::Ref<SearchEntry> row) {
  row->setTitle(textWithCharacterReferencesDecoded(row->title()));
  row->setDesc(textWithCharacterReferencesDecoded(row->desc()));
  row->setAuthor(textWithCharacterReferencesDecoded(row->author()));
  return row;
}

// The resource a search result stands for, when it names one of that kind.
std::optional<std::string> searchResultId(const ns::Ref<ApiYouTubeSearchResult>& result,
                                          std::optional<std::string> (ApiYouTubeResourceId::*field)() const) {
  if (!result) return std::nullopt;
  auto identifier = result->identifier();
  if (!identifier) return std::nullopt;
  return nonEmpty(((*identifier).*field)());
}

// The reply's item for the video: the one with its id (or with no id at all, as a reply cut
// down by a field selector has).
ns::Ref<ApiYouTubeVideo> videoInReply(const ns::Ref<ApiObject>& object, const std::string& videoId) {
  auto list = std::dynamic_pointer_cast<ApiYouTubeVideoListResponse>(object);
  if (!list) return nullptr;
  for (const ns::Value& item : list->items()) {
    auto video = item.objectAs<ApiYouTubeVideo>();
    if (!video) continue;
    auto id = video->identifier();
    if (!id || *id == videoId) return video;
  }
  return nullptr;
}

void callOnMainQueue(std::function<void(const ns::Ref<SearchEntry>&)> block, ns::Ref<SearchEntry> row) {
  if (!block) return;
  dispatch::async(dispatch::mainQueue(), [block = std::move(block), row = std::move(row)] { block(row); });
}

}  // namespace

ns::Ref<SearchEntry> SearchEntry::initWithApiSearchPlaylistResult(
    const ns::Ref<ApiYouTubeSearchResult>& result) {
  auto playlistId = searchResultId(result, &ApiYouTubeResourceId::playlistId);
  if (!playlistId) return nullptr;
  auto snippet = result->snippet();
  auto row = rowWithSnippet(snippet);
  row->setIsPlaylist(true);
  row->setPlaylistid(*playlistId);
  if (snippet) row->setChannelid(snippet->channelId().value_or(""));
  return withSearchTextsDecoded(std::move(row));
}

ns::Ref<SearchEntry> SearchEntry::initWithApiSearchChannelResult(
    const ns::Ref<ApiYouTubeSearchResult>& result) {
  auto channelId = searchResultId(result, &ApiYouTubeResourceId::channelId);
  if (!channelId) return nullptr;
  auto row = rowWithSnippet(result->snippet());
  row->setIsChannel(true);
  row->setChannelid(*channelId);
  return withSearchTextsDecoded(std::move(row));
}

ns::Ref<SearchEntry> SearchEntry::initWithApiSearchResult(const ns::Ref<ApiYouTubeSearchResult>& result) {
  auto videoId = searchResultId(result, &ApiYouTubeResourceId::videoId);
  if (!videoId) return nullptr;
  auto snippet = result->snippet();
  auto row = rowWithSnippet(snippet);
  row->setVideoid(*videoId);
  if (snippet) {
    row->setAuthor(snippet->channelTitle().value_or(""));
    row->setVideoChannelId(snippet->channelId().value_or(""));
  }
  return withSearchTextsDecoded(std::move(row));
}

ns::Ref<SearchEntry> SearchEntry::initWithApiVideo(const ns::Ref<ApiYouTubeVideo>& video) {
  auto record = videoDetailRecordForApiVideo(video);
  if (!record) return nullptr;
  auto row = rowWithSnippet(video->snippet());
  row->applyVideoDetailRecord(*record);
  return row;
}

ns::Ref<SearchEntry> SearchEntry::initWithApiActivity(const ns::Ref<ApiYouTubeActivity>& activity) {
  if (!activity) return nullptr;
  auto details = activity->contentDetails();
  auto upload = details ? details->upload() : nullptr;
  auto videoId = upload ? nonEmpty(upload->videoId()) : std::nullopt;
  if (!videoId) return nullptr;
  auto snippet = activity->snippet();
  auto row = rowWithSnippet(snippet);
  row->setVideoid(*videoId);
  // The channel of an upload is the uploader's.
  if (snippet) {
    row->setAuthor(snippet->channelTitle().value_or(""));
    row->setVideoChannelId(snippet->channelId().value_or(""));
  }
  return row;
}

ns::Ref<SearchEntry> SearchEntry::initWithApi(const ns::Ref<ApiYouTubePlaylistItem>& item) {
  if (!item) return nullptr;
  auto snippet = item->snippet();
  auto resource = snippet ? snippet->resourceId() : nullptr;
  auto videoId = resource ? nonEmpty(resource->videoId()) : std::nullopt;
  if (!videoId) return nullptr;
  auto row = rowWithSnippet(snippet);
  row->setVideoid(*videoId);
  row->setPlaylistItemId(item->identifier());
  row->setPlaylistid(snippet->playlistId().value_or(""));
  return row;
}

void SearchEntry::getFromNetwork(std::function<void(const ns::Ref<SearchEntry>&)> block) {
  auto self = this->self<SearchEntry>();
  // The service calls back on the thread that started the call: rows are the main thread's.
  if (!ns::Thread::isMainThread()) {
    dispatch::async(dispatch::mainQueue(),
                    [self, block = std::move(block)]() mutable { self->getFromNetwork(std::move(block)); });
    return;
  }
  auto controller = mainWindowController();
  auto service = controller ? controller->youTubeService() : nullptr;
  if (!service || !videoid_ || videoid_->empty()) {
    callOnMainQueue(std::move(block), self);
    return;
  }
  std::string videoId = *videoid_;
  auto query = ApiQueryYouTube::queryForVideosListWithPart("snippet,contentDetails,statistics");
  query->setIdentifier(videoId);
  // Shared by the handler and the fall-back below, so that the block runs once whatever happens.
  auto pending = std::make_shared<std::function<void(const ns::Ref<SearchEntry>&)>>(std::move(block));
  auto ticket = service->executeQuery_completionHandler(
      query, [self, videoId, pending](const ns::Ref<ApiServiceTicket>&, const ns::Ref<ApiObject>& object,
                                      const std::optional<ns::Error>& error) {
        if (error) {
          ns::Log("SearchEntry: details of %@ failed: %@", videoId, error->localizedDescription());
        } else if (auto video = videoInReply(object, videoId)) {
          self->takeApiVideo(video, videoId);
        }
        if (auto b = std::exchange(*pending, nullptr)) b(self);
      });
  if (!ticket) {
    ns::Log("SearchEntry: details of %@ could not be asked for", videoId);
    callOnMainQueue(std::exchange(*pending, nullptr), self);
  }
}

void SearchEntry::takeApiVideo(const ns::Ref<ApiYouTubeVideo>& video, const std::string& videoId) {
  auto record = videoDetailRecordForApiVideo(video);
  if (!record) return;
  // A reply without a snippet leaves the texts the row has.
  if (auto snippet = video->snippet()) {
    auto fresh = rowWithSnippet(snippet);
    title_ = fresh->title_;
    desc_ = fresh->desc_;
    thumburl_ = fresh->thumburl_;
    hqthumburl_ = fresh->hqthumburl_;
  }
  applyVideoDetailRecord(*record);
  storeVideoDetailRecord(videoId, *record);
  storeChannelTitle(record->channelId, record->channelTitle);
}
