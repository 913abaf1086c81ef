#include "lib/http-server/Core/ByteRange.h"

#include <algorithm>

#include "lib/http-server/Core/NumberParsing.h"

ByteRange ByteRangeUnion(ByteRange a, ByteRange b) {
  std::uint64_t location = std::min(a.location, b.location);
  std::uint64_t end = std::max(a.end(), b.end());
  return ByteRange{location, end - location};
}

ByteRange ByteRangeIntersection(ByteRange a, ByteRange b) {
  if (a.end() < b.location || b.end() < a.location) return ByteRange{0, 0};
  std::uint64_t location = std::max(a.location, b.location);
  std::uint64_t end = std::min(a.end(), b.end());
  return ByteRange{location, end - location};
}

std::string ByteRangeDescription(ByteRange range) {
  return "{" + std::to_string(range.location) + ", " + std::to_string(range.length) + "}";
}

ByteRange ByteRangeParse(std::string_view text) {
  static constexpr std::string_view kNumberChars = "+0123456789";
  std::uint64_t values[2] = {0, 0};
  std::size_t pos = 0;
  for (auto& value : values) {
    std::size_t start = text.find_first_of(kNumberChars, pos);
    if (start == std::string_view::npos) break;
    std::size_t stop = text.find_first_not_of(kNumberChars, start);
    if (stop == std::string_view::npos) stop = text.size();
    NumberParsing::parseString_intoUInt64(std::string(text.substr(start, stop - start)), &value);
    pos = stop;
  }
  return ByteRange{values[0], values[1]};
}

int ByteRangeOrder(const ByteRange* a, const ByteRange* b) {
  if (a->location != b->location) return a->location < b->location ? -1 : 1;
  if (a->length != b->length) return a->length < b->length ? -1 : 1;
  return 0;
}
