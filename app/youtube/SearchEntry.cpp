#include "app/youtube/SearchEntry.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <system_error>

#include "app/youtube/VideoDetailRecord.h"
#include "common/AppUtilities.h"
#include "common/CacheUtilities.h"
#include "platform/core/Exception.h"
#include "platform/core/Format.h"
#include "platform/core/Log.h"
#include "platform/runtime/ClassBuilder.h"

// The declaration order is the archive's key order; keep it stable.
PL_CLASS(SearchEntry, ns::Object) {
  cls.property<&SearchEntry::videoid, &SearchEntry::setVideoid>("videoid", "C,N,V_videoid");
  cls.property<&SearchEntry::title, &SearchEntry::setTitle>("title", "C,N,V_title");
  cls.property<&SearchEntry::author, &SearchEntry::setAuthor>("author", "C,N,V_author");
  cls.property<&SearchEntry::desc, &SearchEntry::setDesc>("desc", "C,N,V_desc");
  cls.property<&SearchEntry::date, &SearchEntry::setDate>("date", "C,N,V_date");
  cls.property<&SearchEntry::thumburl, &SearchEntry::setThumburl>("thumburl", "C,N,V_thumburl");
  cls.property<&SearchEntry::hqthumburl, &SearchEntry::setHqthumburl>("hqthumburl", "C,N,V_hqthumburl");
  cls.property<&SearchEntry::videoChannelId, &SearchEntry::setVideoChannelId>("videoChannelId",
                                                                              "C,N,V_videoChannelId");
  cls.property<&SearchEntry::channelid, &SearchEntry::setChannelid>("channelid", "C,N,V_channelid");
  cls.property<&SearchEntry::playlistid, &SearchEntry::setPlaylistid>("playlistid", "C,N,V_playlistid");
  cls.property<&SearchEntry::playlistItemId, &SearchEntry::setPlaylistItemId>("playlistItemId",
                                                                              "C,N,V_playlistItemId");
  cls.property<&SearchEntry::duration, &SearchEntry::setDuration>("duration", "N,V_duration");
  cls.property<&SearchEntry::viewCount, &SearchEntry::setViewCount>("viewCount", "N,V_viewCount");
  cls.property<&SearchEntry::videoCount, &SearchEntry::setVideoCount>("videoCount", "N,V_videoCount");
  cls.property<&SearchEntry::subscriberCount, &SearchEntry::setSubscriberCount>("subscriberCount",
                                                                                "N,V_subscriberCount");
  cls.property<&SearchEntry::rating, &SearchEntry::setRating>("rating", "N,V_rating");
  cls.property<&SearchEntry::idx, &SearchEntry::setIdx>("idx", "N,V_idx");
  cls.property<&SearchEntry::isPlaylist, &SearchEntry::setIsPlaylist>("isPlaylist", "N,V_isPlaylist");
  cls.property<&SearchEntry::isChannel, &SearchEntry::setIsChannel>("isChannel", "N,V_isChannel");
  cls.property<&SearchEntry::isPlaying, &SearchEntry::setIsPlaying>("isPlaying", "N,V_isPlaying");
  cls.property<&SearchEntry::isInFavorites, &SearchEntry::setIsInFavorites>("isInFavorites",
                                                                            "N,V_isInFavorites");
  cls.property<&SearchEntry::isInOtherPlaylist, &SearchEntry::setIsInOtherPlaylist>("isInOtherPlaylist",
                                                                                    "N,V_isInOtherPlaylist");
}

ns::Ref<SearchEntry> SearchEntry::init() {
  return ns::make<SearchEntry>();
}

std::optional<std::string> SearchEntry::cachePathForVideoId(const std::string& videoId) {
  if (!isSafeVideoId(videoId)) return std::nullopt;
  return getInfoFolderPath() + "/" + videoId + ".cell";
}

ns::Ref<SearchEntry> SearchEntry::initWithCache(const std::string& videoId) {
  auto path = cachePathForVideoId(videoId);
  if (!path) return nullptr;
  try {
    return AutoArchiving::objectWithContentsOfFile(*path).objectAs<SearchEntry>();
  } catch (const ns::Exception& e) {
    // A damaged or forged file reads as no row; the next save replaces it.
    ns::LogWarning("SearchEntry: unreadable row file %@: %@", *path, e.reason());
    return nullptr;
  }
}

bool SearchEntry::saveToCache() const {
  if (!videoid_) return false;
  auto path = cachePathForVideoId(*videoid_);
  if (!path) return false;
  std::error_code ec;
  std::filesystem::create_directories(getInfoFolderPath(), ec);
  return writeToFile_atomically(*path, true);
}

std::string SearchEntry::getHighResolutionThumbnailURL() const {
  return hqthumburl_.empty() ? thumburl_ : hqthumburl_;
}

void SearchEntry::applyVideoDetailRecord(const VideoDetailRecord& record) {
  videoChannelId_ = record.channelId;
  long seconds = secondsFromISODuration(record.duration);
  duration_ =
      static_cast<std::int32_t>(std::clamp<long>(seconds, 0, std::numeric_limits<std::int32_t>::max()));
  date_ = record.date;
  author_ = record.channelTitle;
  // The record keeps the 64-bit count; the row's 32-bit field saturates instead of wrapping.
  viewCount_ = static_cast<std::int32_t>(std::clamp<std::int64_t>(
      record.viewCount, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
  rating_ = static_cast<float>(record.rating);
}

std::string SearchEntry::description() const {
  return ns::format("<SearchEntry: %@ \"%@\">", videoid_.value_or("(no video)"), title_);
}
