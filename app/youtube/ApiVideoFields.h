#pragma once
// The values the rows and the video detail records take from Data API replies, shared by the
// row model and the list panes so that both read a reply the same way. Every function answers an
// empty or zero value for a field that is missing or holds JSON of another type.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/youtube/VideoDetailRecord.h"
#include "platform/core/Number.h"
#include "platform/core/Object.h"

class ApiDateTime;
class ApiYouTubeThumbnailDetails;
class ApiYouTubeVideo;

// The text with its well-formed HTML character references decoded: decimal ("&#39;"),
// hexadecimal ("&#x27;") and the named "&amp;" "&lt;" "&gt;" "&quot;" "&apos;". Search replies
// escape their texts or not, unpredictably; anything else ("Names & Ways", "&bogus;", "&#xZZ;",
// a reference to no Unicode scalar value) stays as it is.
std::string textWithCharacterReferencesDecoded(std::string_view text);

// The day of a publish time as "yyyy-MM-dd" in the local time zone; "" for none.
std::string publishedDateText(const ns::Ref<ApiDateTime>& publishedAt);

// The list thumbnail: "medium", else "default"; "" when neither has a URL.
std::string listThumbnailURL(const ns::Ref<ApiYouTubeThumbnailDetails>& thumbnails);
// The large thumbnail: "high", else "standard", else "maxres"; "" when none has a URL.
std::string highResolutionThumbnailURL(const ns::Ref<ApiYouTubeThumbnailDetails>& thumbnails);

// A count of the statistics: 0 when missing, negative or not a number; at most the largest
// signed 64-bit value (the service sends counts as text that may exceed it).
std::int64_t apiCount(const std::optional<ns::Number>& number);
// likes × 5 / (likes + dislikes), the sum taken in 64 bits; 0 when there are no votes.
float ratingForLikes_dislikes(std::int64_t likes, std::int64_t dislikes);

// The detail record of a video resource: channel id, duration text, publish day, channel title,
// view count and rating; nil for no video.
std::optional<VideoDetailRecord> videoDetailRecordForApiVideo(const ns::Ref<ApiYouTubeVideo>& video);
