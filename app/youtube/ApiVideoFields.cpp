#include "app/youtube/ApiVideoFields.h"

#include <cmath>
#include <limits>

#include "lib/google/ApiDateTime.h"
#include "lib/google/ApiYouTubeModels.h"
#include "platform/core/NoDestructor.h"
#include "platform/text/DateFormatter.h"
#include "platform/text/Locale.h"

namespace {

ns::Ref<ns::DateFormatter> makeDayFormatter() {
  auto f = ns::make<ns::DateFormatter>();
  f->setLocale(ns::Locale("en_US_POSIX"));
  f->setDateFormat("yyyy-MM-dd");
  return f;
}

}  // namespace

std::string publishedDateText(const ns::Ref<ApiDateTime>& publishedAt) {
  if (!publishedAt) return "";
  // A time stamp too broken to have a year gives no day rather than one in year 1.
  if (publishedAt->dateComponents().year == ns::DateComponentUndefined) return "";
  // One formatter serves every thread (it locks itself).
  static ns::NoDestructor<ns::Ref<ns::DateFormatter>> formatter(makeDayFormatter());
  return (*formatter)->stringFromDate(publishedAt->date());
}

namespace {

std::string thumbnailURL(const ns::Ref<ApiYouTubeThumbnail>& thumbnail) {
  if (!thumbnail) return "";
  return thumbnail->url().value_or("");
}

}  // namespace

std::string listThumbnailURL(const ns::Ref<ApiYouTubeThumbnailDetails>& thumbnails) {
  if (!thumbnails) return "";
  std::string url = thumbnailURL(thumbnails->medium());
  return url.empty() ? thumbnailURL(thumbnails->defaultProperty()) : url;
}

std::string highResolutionThumbnailURL(const ns::Ref<ApiYouTubeThumbnailDetails>& thumbnails) {
  if (!thumbnails) return "";
  for (const auto& thumbnail : {thumbnails->high(), thumbnails->standard(), thumbnails->maxres()}) {
    std::string url = thumbnailURL(thumbnail);
    if (!url.empty()) return url;
  }
  return "";
}

std::int64_t apiCount(const std::optional<ns::Number>& number) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  if (!number) return 0;
  if (number->isFloatingPoint()) {
    double d = number->doubleValue();
    if (!std::isfinite(d) || d <= 0) return 0;
    return d >= 9.2e18 ? kMax : static_cast<std::int64_t>(d);
  }
  if (number->isUnsigned()) {
    unsigned long long u = number->unsignedLongLongValue();
    return u > static_cast<unsigned long long>(kMax) ? kMax : static_cast<std::int64_t>(u);
  }
  long long v = number->longLongValue();
  return v < 0 ? 0 : v;
}

float ratingForLikes_dislikes(std::int64_t likes, std::int64_t dislikes) {
  if (likes < 0) likes = 0;
  if (dislikes < 0) dislikes = 0;
  // Both at most the largest signed value: their sum fits the unsigned range.
  unsigned long long votes =
      static_cast<unsigned long long>(likes) + static_cast<unsigned long long>(dislikes);
  if (votes == 0) return 0.0f;
  return static_cast<float>(static_cast<double>(likes) * 5.0 / static_cast<double>(votes));
}

std::optional<VideoDetailRecord> videoDetailRecordForApiVideo(const ns::Ref<ApiYouTubeVideo>& video) {
  if (!video) return std::nullopt;
  VideoDetailRecord record;
  if (auto snippet = video->snippet()) {
    record.channelId = snippet->channelId().value_or("");
    record.channelTitle = snippet->channelTitle().value_or("");
    record.date = publishedDateText(snippet->publishedAt());
  }
  if (auto details = video->contentDetails()) record.duration = details->duration().value_or("");
  if (auto statistics = video->statistics()) {
    record.viewCount = apiCount(statistics->viewCount());
    record.rating =
        ratingForLikes_dislikes(apiCount(statistics->likeCount()), apiCount(statistics->dislikeCount()));
  }
  return record;
}
