#pragma once
// A 64-bit byte range (first byte and count) with the few operations the server's range
// handling needs. Its end is location + length, the first byte after it.
#include <cstdint>
#include <string>
#include <string_view>

struct ByteRange {
  std::uint64_t location = 0;
  std::uint64_t length = 0;

  std::uint64_t end() const { return location + length; }
  friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

inline ByteRange ByteRangeMake(std::uint64_t location, std::uint64_t length) {
  return ByteRange{location, length};
}

// The smallest range covering both (a gap between disjoint ranges is included).
ByteRange ByteRangeUnion(ByteRange a, ByteRange b);
// The common part; (0, 0) when the ranges are apart, length 0 when they only touch.
ByteRange ByteRangeIntersection(ByteRange a, ByteRange b);
// "{location, length}"
std::string ByteRangeDescription(ByteRange range);
// The first and second runs of "+0123456789" in the text, as location and length (0 when missing).
ByteRange ByteRangeParse(std::string_view text);
// -1, 0 or 1: by location, then by length.
int ByteRangeOrder(const ByteRange* a, const ByteRange* b);
// The same order on values, as range lists are sorted.
inline int byteRangeCompare(const ByteRange& a, const ByteRange& b) {
  return ByteRangeOrder(&a, &b);
}
