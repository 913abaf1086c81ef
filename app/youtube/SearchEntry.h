#pragma once
// The row model of a video, playlist or channel, shared by the lists, the player, the library
// and the downloads. A video's row is kept as ".info/<video id>.cell", a keyed archive of the
// row (the same archive the account cache and the drag pasteboards hold): every property under
// its own name. Rows are main-thread objects; only the file work may run elsewhere.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "lib/cache/AutoArchiving.h"
#include "platform/core/Object.h"

struct VideoDetailRecord;
class ApiYouTubeActivity;
class ApiYouTubePlaylistItem;
class ApiYouTubeSearchResult;
class ApiYouTubeVideo;

class SearchEntry : public ns::Object, public AutoArchiving {
 public:
  SearchEntry() = default;

  // An empty row.
  static ns::Ref<SearchEntry> init();
  // The row stored for the video, nil when its file is missing, damaged, of another class, or
  // the id could not name a file.
  static ns::Ref<SearchEntry> initWithCache(const std::string& videoId);
  // ---- rows from Data API replies ----
  // Each takes the snippet's title, description, publish day ("yyyy-MM-dd") and thumbnails
  // ("medium" else "default"; the large one "high", else "standard" or "maxres"), and answers nil
  // when the object lacks what its kind of row needs, so that a list skips the item.
  // A playlist search result: `isPlaylist`, `playlistid`, `channelid`; nil without a playlist id.
  static ns::Ref<SearchEntry> initWithApiSearchPlaylistResult(const ns::Ref<ApiYouTubeSearchResult>& result);
  // A channel search result: `isChannel`, `channelid`; nil without a channel id.
  static ns::Ref<SearchEntry> initWithApiSearchChannelResult(const ns::Ref<ApiYouTubeSearchResult>& result);
  // A video search result: `videoid`, `author` (the channel's title), `videoChannelId`; nil
  // without a video id.
  static ns::Ref<SearchEntry> initWithApiSearchResult(const ns::Ref<ApiYouTubeSearchResult>& result);
  // A video resource: the channel, duration, view count and rating besides the snippet;
  // `videoid` stays nil (the list that asked by id knows it).
  static ns::Ref<SearchEntry> initWithApiVideo(const ns::Ref<ApiYouTubeVideo>& video);
  // An upload activity: `videoid` is the uploaded video, the activity's channel its author; nil
  // for any activity without an upload video id.
  static ns::Ref<SearchEntry> initWithApiActivity(const ns::Ref<ApiYouTubeActivity>& activity);
  // A playlist item: `videoid` from its resource, `playlistItemId`, `playlistid`; `author`
  // stays empty (the snippet names the playlist's owner, not the uploader); nil without a
  // video id.
  static ns::Ref<SearchEntry> initWithApi(const ns::Ref<ApiYouTubePlaylistItem>& item);

  // Completes a row known by its video id from videos.list (snippet, content details,
  // statistics) on the main window controller's Data API service: title, description, day,
  // thumbnails, author, channel, duration, view count and rating; stores the video's detail
  // record and its channel's title. The block runs once on the main thread, when the call ends
  // successfully or not, also when there is no service or no id (the row then stays as it was).
  void getFromNetwork(std::function<void(const ns::Ref<SearchEntry>&)> block);

  // Writes the row's file atomically into the ".info" folder (made when missing). Answers NO,
  // writing nothing, for a row without a usable video id.
  bool saveToCache() const;
  // The file of the video's row, nil for an id that may not name a file.
  static std::optional<std::string> cachePathForVideoId(const std::string& videoId);

  // The high-resolution thumbnail when known, else `thumburl`.
  std::string getHighResolutionThumbnailURL() const;

  // Takes the details of a video detail record: channel id, duration, date, channel title,
  // view count (cut to the 32-bit range) and rating.
  void applyVideoDetailRecord(const VideoDetailRecord& record);

  // ---- properties ----
  const std::optional<std::string>& videoid() const { return videoid_; }
  void setVideoid(std::optional<std::string> value) { videoid_ = std::move(value); }
  const std::string& title() const { return title_; }
  void setTitle(std::string value) { title_ = std::move(value); }
  const std::string& author() const { return author_; }
  void setAuthor(std::string value) { author_ = std::move(value); }
  const std::string& desc() const { return desc_; }
  void setDesc(std::string value) { desc_ = std::move(value); }
  // Text beginning with "yyyy-MM-dd".
  const std::string& date() const { return date_; }
  void setDate(std::string value) { date_ = std::move(value); }
  const std::string& thumburl() const { return thumburl_; }
  void setThumburl(std::string value) { thumburl_ = std::move(value); }
  const std::string& hqthumburl() const { return hqthumburl_; }
  void setHqthumburl(std::string value) { hqthumburl_ = std::move(value); }
  // The uploader's channel.
  const std::string& videoChannelId() const { return videoChannelId_; }
  void setVideoChannelId(std::string value) { videoChannelId_ = std::move(value); }
  const std::string& channelid() const { return channelid_; }
  void setChannelid(std::string value) { channelid_ = std::move(value); }
  // The playlist the row was taken from.
  const std::string& playlistid() const { return playlistid_; }
  void setPlaylistid(std::string value) { playlistid_ = std::move(value); }
  // The row's id inside a server playlist; nil elsewhere.
  const std::optional<std::string>& playlistItemId() const { return playlistItemId_; }
  void setPlaylistItemId(std::optional<std::string> value) { playlistItemId_ = std::move(value); }
  // Seconds.
  std::int32_t duration() const { return duration_; }
  void setDuration(std::int32_t value) { duration_ = value; }
  std::int32_t viewCount() const { return viewCount_; }
  void setViewCount(std::int32_t value) { viewCount_ = value; }
  // Items of a playlist or channel row.
  std::int32_t videoCount() const { return videoCount_; }
  void setVideoCount(std::int32_t value) { videoCount_ = value; }
  std::int64_t subscriberCount() const { return subscriberCount_; }
  void setSubscriberCount(std::int64_t value) { subscriberCount_ = value; }
  // 0 to 5.
  float rating() const { return rating_; }
  void setRating(float value) { rating_ = value; }
  // The row's position in its list, set when it is drawn.
  long idx() const { return idx_; }
  void setIdx(long value) { idx_ = value; }
  bool isPlaylist() const { return isPlaylist_; }
  void setIsPlaylist(bool value) { isPlaylist_ = value; }
  bool isChannel() const { return isChannel_; }
  void setIsChannel(bool value) { isChannel_ = value; }
  bool isPlaying() const { return isPlaying_; }
  void setIsPlaying(bool value) { isPlaying_ = value; }
  bool isInFavorites() const { return isInFavorites_; }
  void setIsInFavorites(bool value) { isInFavorites_ = value; }
  bool isInOtherPlaylist() const { return isInOtherPlaylist_; }
  void setIsInOtherPlaylist(bool value) { isInOtherPlaylist_ = value; }

  std::string description() const override;

 private:
  // Takes the fields of the video's reply and stores its detail record and channel title.
  void takeApiVideo(const ns::Ref<ApiYouTubeVideo>& video, const std::string& videoId);

  std::optional<std::string> videoid_;
  std::string title_;
  std::string author_;
  std::string desc_;
  std::string date_;
  std::string thumburl_;
  std::string hqthumburl_;
  std::string videoChannelId_;
  std::string channelid_;
  std::string playlistid_;
  std::optional<std::string> playlistItemId_;
  std::int32_t duration_ = 0;
  std::int32_t viewCount_ = 0;
  std::int32_t videoCount_ = 0;
  std::int64_t subscriberCount_ = 0;
  float rating_ = 0;
  long idx_ = 0;
  bool isPlaylist_ = false;
  bool isChannel_ = false;
  bool isPlaying_ = false;
  bool isInFavorites_ = false;
  bool isInOtherPlaylist_ = false;
};
