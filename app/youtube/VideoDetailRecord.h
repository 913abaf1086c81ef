#pragma once
// The details of a video and the titles of channels, kept for three days in the shared keyed
// disk cache so that list rows seen recently are complete without asking the Data API again.
// The list panes and the row model read and write the same records through these functions.
//
//   "vi_<video id>": an array of exactly six values: channel id, ISO-8601 duration text,
//                    "yyyy-MM-dd" date, channel title ("" while missing), view count (number),
//                    rating 0 to 5 (floating-point number).
//   "ca_<channel id>": the channel's title (only non-empty titles are stored).
//
// Every function is safe from any thread. A stored value of another shape reads as absent.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/core/Value.h"

// Three days.
inline constexpr double kVideoDetailRecordLifetime = 259200;

struct VideoDetailRecord {
  std::string channelId;
  std::string duration;  // ISO-8601 duration, as the Data API gives it
  std::string date;      // "yyyy-MM-dd"
  std::string channelTitle;
  std::int64_t viewCount = 0;
  double rating = 0;

  // The six-value array as stored.
  ns::Array arrayValue() const;
  // The record held by a stored value; nil for anything but an array of six values of the
  // types above.
  static std::optional<VideoDetailRecord> fromValue(const ns::Value& value);
};

// "vi_<id>" and "ca_<id>".
std::string videoDetailRecordKey(const std::string& videoId);
std::string channelTitleKey(const std::string& channelId);

// Stores the record under the video's key for three days.
void storeVideoDetailRecord(const std::string& videoId, const VideoDetailRecord& record);
// The record stored for the video, nil when there is none alive or it has another shape.
std::optional<VideoDetailRecord> cachedVideoDetailRecord(const std::string& videoId);

// Stores a non-empty title under the channel's key for three days; an empty one is not stored.
void storeChannelTitle(const std::string& channelId, const std::string& title);
// The stored title, nil when none is stored.
std::optional<std::string> cachedChannelTitle(const std::string& channelId);
