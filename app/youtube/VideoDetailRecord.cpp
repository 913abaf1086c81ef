#include "app/youtube/VideoDetailRecord.h"

#include "lib/cache/GVCache.h"
#include "platform/core/Exception.h"

ns::Array VideoDetailRecord::arrayValue() const {
  return ns::Array{ns::Value(channelId),
                   ns::Value(duration),
                   ns::Value(date),
                   ns::Value(channelTitle),
                   ns::Value(static_cast<long long>(viewCount)),
                   ns::Value(rating)};
}

std::optional<VideoDetailRecord> VideoDetailRecord::fromValue(const ns::Value& value) {
  if (!value.isArray() || value.count() != 6) return std::nullopt;
  const ns::Array& a = value.array();
  for (std::size_t i = 0; i < 4; ++i) {
    if (!a[i].isString()) return std::nullopt;
  }
  // A boolean is a number to the property list, not a count or a rating.
  if (!a[4].isNumber() || a[4].isBool() || !a[5].isNumber() || a[5].isBool()) return std::nullopt;
  VideoDetailRecord record;
  record.channelId = a[0].string();
  record.duration = a[1].string();
  record.date = a[2].string();
  record.channelTitle = a[3].string();
  record.viewCount = a[4].longLongValue();
  record.rating = a[5].doubleValue();
  return record;
}

std::string videoDetailRecordKey(const std::string& videoId) {
  return "vi_" + videoId;
}
std::string channelTitleKey(const std::string& channelId) {
  return "ca_" + channelId;
}

void storeVideoDetailRecord(const std::string& videoId, const VideoDetailRecord& record) {
  getSharedGVCache()->setObject_forKey_withTimeoutInterval(
      ns::Value(record.arrayValue()), videoDetailRecordKey(videoId), kVideoDetailRecordLifetime);
}

std::optional<VideoDetailRecord> cachedVideoDetailRecord(const std::string& videoId) {
  auto cache = getSharedGVCache();
  std::string key = videoDetailRecordKey(videoId);
  if (!cache->hasCacheForKey(key)) return std::nullopt;
  try {
    return VideoDetailRecord::fromValue(cache->objectForKey(key));
  } catch (const ns::Exception&) {
    // An archive whose objects refuse their own decoding is as good as none.
    return std::nullopt;
  }
}

void storeChannelTitle(const std::string& channelId, const std::string& title) {
  if (title.empty()) return;
  getSharedGVCache()->setString_forKey_withTimeoutInterval(title, channelTitleKey(channelId),
                                                           kVideoDetailRecordLifetime);
}

std::optional<std::string> cachedChannelTitle(const std::string& channelId) {
  auto cache = getSharedGVCache();
  std::string key = channelTitleKey(channelId);
  if (!cache->hasCacheForKey(key)) return std::nullopt;
  auto title = cache->stringForKey(key);
  if (!title || title->empty()) return std::nullopt;
  return title;
}
