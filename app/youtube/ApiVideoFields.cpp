#include "app/youtube/ApiVideoFields.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

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

namespace {

void appendUTF8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

int digitValue(char c, int base) {
  int value = -1;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value < base ? value : -1;
}

// The numeric reference after "&#" in `rest` ("39;" or "x27;"): its length up to and with the
// ';', or 0 when it is not a well-formed reference to a Unicode scalar value other than NUL.
std::size_t numericReference(std::string_view rest, char32_t& codePoint) {
  int base = 10;
  std::size_t i = 0;
  if (!rest.empty() && (rest[0] == 'x' || rest[0] == 'X')) {
    base = 16;
    i = 1;
  }
  std::size_t firstDigit = i;
  std::uint32_t value = 0;
  for (; i < rest.size(); ++i) {
    int digit = digitValue(rest[i], base);
    if (digit < 0) break;
    value = value * base + digit;
    if (value > 0x10FFFF) return 0;
  }
  if (i == firstDigit || i >= rest.size() || rest[i] != ';') return 0;
  if (value == 0 || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  codePoint = value;
  return i + 1;
}

}  // namespace

std::string textWithCharacterReferencesDecoded(std::string_view text) {
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"amp;", '&'}, {"lt;", '<'}, {"gt;", '>'}, {"quot;", '"'}, {"apos;", '\''}};
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t amp = text.find('&', i);
    if (amp == std::string_view::npos) break;
    out.append(text.substr(i, amp - i));
    std::string_view rest = text.substr(amp + 1);
    std::size_t used = 0;
    if (!rest.empty() && rest[0] == '#') {
      char32_t codePoint = 0;
      if (std::size_t length = numericReference(rest.substr(1), codePoint)) {
        appendUTF8(out, codePoint);
        used = 1 + length;
      }
    } else {
      for (const auto& [name, character] : kNamed) {
        if (rest.substr(0, name.size()) != name) continue;
        out += character;
        used = name.size();
        break;
      }
    }
    if (used == 0) out += '&';
    i = amp + 1 + used;
  }
  if (i < text.size()) out.append(text.substr(i));
  return out;
}

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
