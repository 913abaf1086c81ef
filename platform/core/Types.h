#pragma once
// Small vocabulary shared by the core: ranges counted in UTF-16 units or bytes, the not-found
// marker, comparison results and time intervals.
#include <cstddef>
#include <limits>

namespace ns {

// Seconds, as a double.
using TimeInterval = double;

// The platform's not-found marker (the largest signed long), so that stored or compared values
// match what callers expect.
inline constexpr std::size_t NotFound = static_cast<std::size_t>(std::numeric_limits<long>::max());

struct Range {
  std::size_t location = 0;
  std::size_t length = 0;

  constexpr std::size_t max() const { return location + length; }
  constexpr bool contains(std::size_t index) const { return index >= location && index < location + length; }
  constexpr bool found() const { return location != NotFound; }
  friend constexpr bool operator==(const Range&, const Range&) = default;
};

inline constexpr Range MakeRange(std::size_t location, std::size_t length) {
  return Range{location, length};
}

enum ComparisonResult : int { OrderedAscending = -1, OrderedSame = 0, OrderedDescending = 1 };

}  // namespace ns
