#include "platform/foundation/IndexSet.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/core/Data.h"
#include "platform/core/Exception.h"
#include "platform/core/Format.h"
#include "platform/dispatch/Queue.h"
#include "platform/serialization/CodingRegistry.h"

namespace ns {

namespace {

// The largest index is NotFound - 1, so a range may reach up to NotFound.
void checkRange(Range r, const char* method) {
  if (r.location >= NotFound || r.length > NotFound - r.location)
    Exception::raise_format(
        NSRangeException,
        "*** -[NSIndexSet %s]: Range {%lu, %lu} exceeds maximum index value of NSNotFound - 1", method,
        static_cast<unsigned long>(r.location), static_cast<unsigned long>(r.length));
}

// The part of `r` inside `window`; empty when they do not meet.
Range clip(Range r, Range window) {
  std::size_t lo = std::max(r.location, window.location);
  std::size_t hi = std::min(r.max(), window.max());
  return lo < hi ? Range{lo, hi - lo} : Range{lo, 0};
}

const struct Registration {
  Registration() {
    registerCodingClass<IndexSet>("NSIndexSet");
    registerCodingClass<MutableIndexSet>("NSMutableIndexSet", "NSIndexSet");
  }
} registration;

void appendVarint(std::vector<std::uint8_t>& out, std::uint64_t v) {
  do {
    std::uint8_t byte = v & 0x7f;
    v >>= 7;
    out.push_back(static_cast<std::uint8_t>(byte | (v ? 0x80 : 0)));
  } while (v);
}

bool readVarint(const std::uint8_t*& p, const std::uint8_t* end, std::uint64_t& v) {
  v = 0;
  for (int shift = 0; p < end && shift < 64; shift += 7) {
    std::uint8_t byte = *p++;
    v |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
    if (!(byte & 0x80)) return true;
  }
  return false;
}

}  // namespace

Ref<IndexSet> IndexSet::indexSet() {
  return make<IndexSet>();
}

Ref<IndexSet> IndexSet::indexSetWithIndex(std::size_t index) {
  return indexSetWithIndexesInRange({index, 1});
}

Ref<IndexSet> IndexSet::indexSetWithIndexesInRange(Range range) {
  auto s = make<IndexSet>();
  s->addRange(range);
  return s;
}

Ref<IndexSet> IndexSet::initWithIndexSet(const IndexSet& other) {
  auto s = make<IndexSet>();
  s->ranges_ = other.ranges_;
  return s;
}

std::size_t IndexSet::count() const {
  std::size_t n = 0;
  for (const auto& r : ranges_) n += r.length;
  return n;
}

std::size_t IndexSet::firstIndex() const {
  return ranges_.empty() ? NotFound : ranges_.front().location;
}

std::size_t IndexSet::lastIndex() const {
  return ranges_.empty() ? NotFound : ranges_.back().max() - 1;
}

std::size_t IndexSet::indexGreaterThanOrEqualToIndex(std::size_t index) const {
  // The first range that ends after `index`.
  auto it = std::upper_bound(ranges_.begin(), ranges_.end(), index,
                             [](std::size_t i, const Range& r) { return i < r.max(); });
  if (it == ranges_.end()) return NotFound;
  return std::max(index, it->location);
}

std::size_t IndexSet::indexGreaterThanIndex(std::size_t index) const {
  return index + 1 >= NotFound ? NotFound : indexGreaterThanOrEqualToIndex(index + 1);
}

std::size_t IndexSet::indexLessThanOrEqualToIndex(std::size_t index) const {
  // The last range that starts at or before `index`.
  auto it = std::upper_bound(ranges_.begin(), ranges_.end(), index,
                             [](std::size_t i, const Range& r) { return i < r.location; });
  if (it == ranges_.begin()) return NotFound;
  --it;
  return std::min(index, it->max() - 1);
}

std::size_t IndexSet::indexLessThanIndex(std::size_t index) const {
  return index == 0 ? NotFound : indexLessThanOrEqualToIndex(index - 1);
}

bool IndexSet::containsIndex(std::size_t index) const {
  return indexGreaterThanOrEqualToIndex(index) == index;
}

bool IndexSet::containsIndexesInRange(Range range) const {
  if (range.length == 0) return false;
  auto it = std::upper_bound(ranges_.begin(), ranges_.end(), range.location,
                             [](std::size_t i, const Range& r) { return i < r.max(); });
  return it != ranges_.end() && it->location <= range.location && it->max() >= range.max();
}

bool IndexSet::containsIndexes(const IndexSet& other) const {
  for (const auto& r : other.ranges_)
    if (!containsIndexesInRange(r)) return false;
  return true;
}

bool IndexSet::intersectsIndexesInRange(Range range) const {
  return countOfIndexesInRange(range) > 0;
}

std::size_t IndexSet::countOfIndexesInRange(Range range) const {
  std::size_t n = 0;
  for (const auto& r : ranges_) n += clip(r, range).length;
  return n;
}

std::size_t IndexSet::getIndexes_maxCount_inIndexRange(std::size_t* buffer, std::size_t maxCount,
                                                       Range* range) const {
  Range window = range ? *range : Range{0, NotFound};
  std::size_t n = 0;
  std::size_t next = window.location;
  for (const auto& r : ranges_) {
    Range part = clip(r, window);
    for (std::size_t i = part.location; i < part.max() && n < maxCount; ++i) {
      buffer[n++] = i;
      next = i + 1;
    }
    if (n == maxCount) break;
  }
  if (range) {
    std::size_t end = window.max();
    if (n < maxCount) next = end;
    *range = Range{next, end > next ? end - next : 0};
  }
  return n;
}

void IndexSet::enumerateIndexesUsingBlock(const IndexBlock& block) const {
  enumerateIndexesInRange_options_usingBlock({0, NotFound}, 0, block);
}

void IndexSet::enumerateIndexesWithOptions_usingBlock(unsigned long options, const IndexBlock& block) const {
  enumerateIndexesInRange_options_usingBlock({0, NotFound}, options, block);
}

void IndexSet::enumerateIndexesInRange_options_usingBlock(Range range, unsigned long options,
                                                          const IndexBlock& block) const {
  if (options & NSEnumerationConcurrent) {
    std::vector<std::size_t> all;
    for (const auto& r : ranges_) {
      Range part = clip(r, range);
      for (std::size_t i = part.location; i < part.max(); ++i) all.push_back(i);
    }
    if (options & NSEnumerationReverse) std::reverse(all.begin(), all.end());
    // `stop` is advisory here, as on the platform: blocks already started still finish.
    std::atomic<bool> stopped{false};
    dispatch::apply(all.size(), dispatch::globalQueue(), [&](std::size_t k) {
      if (stopped.load(std::memory_order_relaxed)) return;
      bool stop = false;
      block(all[k], &stop);
      if (stop) stopped = true;
    });
    return;
  }
  bool stop = false;
  if (options & NSEnumerationReverse) {
    for (auto r = ranges_.rbegin(); r != ranges_.rend() && !stop; ++r) {
      Range part = clip(*r, range);
      for (std::size_t i = part.max(); i > part.location && !stop; --i) block(i - 1, &stop);
    }
  } else {
    for (auto r = ranges_.begin(); r != ranges_.end() && !stop; ++r) {
      Range part = clip(*r, range);
      for (std::size_t i = part.location; i < part.max() && !stop; ++i) block(i, &stop);
    }
  }
}

void IndexSet::enumerateRangesUsingBlock(const RangeBlock& block) const {
  enumerateRangesInRange_options_usingBlock({0, NotFound}, 0, block);
}

void IndexSet::enumerateRangesWithOptions_usingBlock(unsigned long options, const RangeBlock& block) const {
  enumerateRangesInRange_options_usingBlock({0, NotFound}, options, block);
}

void IndexSet::enumerateRangesInRange_options_usingBlock(Range range, unsigned long options,
                                                         const RangeBlock& block) const {
  std::vector<Range> parts;
  for (const auto& r : ranges_) {
    Range part = clip(r, range);
    if (part.length) parts.push_back(part);
  }
  if (options & NSEnumerationReverse) std::reverse(parts.begin(), parts.end());
  bool stop = false;
  for (std::size_t k = 0; k < parts.size() && !stop; ++k) block(parts[k], &stop);
}

std::size_t IndexSet::indexPassingTest(const IndexTest& test) const {
  return indexInRange_options_passingTest({0, NotFound}, 0, test);
}

std::size_t IndexSet::indexWithOptions_passingTest(unsigned long options, const IndexTest& test) const {
  return indexInRange_options_passingTest({0, NotFound}, options, test);
}

std::size_t IndexSet::indexInRange_options_passingTest(Range range, unsigned long options,
                                                       const IndexTest& test) const {
  // The first passing index in enumeration order; a concurrent search still answers the first.
  std::size_t found = NotFound;
  enumerateIndexesInRange_options_usingBlock(
      range, options & ~static_cast<unsigned long>(NSEnumerationConcurrent), [&](std::size_t i, bool* stop) {
        if (test(i, stop)) {
          found = i;
          *stop = true;
        }
      });
  return found;
}

Ref<IndexSet> IndexSet::indexesPassingTest(const IndexTest& test) const {
  return indexesInRange_options_passingTest({0, NotFound}, 0, test);
}

Ref<IndexSet> IndexSet::indexesWithOptions_passingTest(unsigned long options, const IndexTest& test) const {
  return indexesInRange_options_passingTest({0, NotFound}, options, test);
}

Ref<IndexSet> IndexSet::indexesInRange_options_passingTest(Range range, unsigned long options,
                                                           const IndexTest& test) const {
  auto result = make<IndexSet>();
  std::mutex m;
  enumerateIndexesInRange_options_usingBlock(range, options, [&](std::size_t i, bool* stop) {
    if (test(i, stop)) {
      std::lock_guard lock(m);
      result->addRange({i, 1});
    }
  });
  return result;
}

Ref<IndexSet> IndexSet::copy() const {
  return initWithIndexSet(*this);
}

Ref<MutableIndexSet> IndexSet::mutableCopy() const {
  auto s = make<MutableIndexSet>();
  s->addIndexes(*this);
  return s;
}

std::string IndexSet::description() const {
  std::string text;
  for (const auto& r : ranges_) {
    if (!text.empty()) text += ' ';
    text += r.length == 1 ? std::to_string(r.location)
                          : std::to_string(r.location) + "-" + std::to_string(r.max() - 1);
  }
  return ns::format("<%s: %p>[number of indexes: %lu (in %lu ranges), indexes: (%s)]", className(),
                    static_cast<const void*>(this), static_cast<unsigned long>(count()),
                    static_cast<unsigned long>(ranges_.size()), text);
}

bool IndexSet::isEqual(const Object* other) const {
  auto* o = dynamic_cast<const IndexSet*>(other);
  return o && isEqualToIndexSet(*o);
}

std::size_t IndexSet::hash() const {
  return count();
}

void IndexSet::encodeWithCoder(Coder& coder) const {
  coder.encodeInt64_forKey(static_cast<std::int64_t>(ranges_.size()), "NSRangeCount");
  if (ranges_.size() == 1) {
    coder.encodeInt64_forKey(static_cast<std::int64_t>(ranges_[0].location), "NSLocation");
    coder.encodeInt64_forKey(static_cast<std::int64_t>(ranges_[0].length), "NSLength");
  } else if (ranges_.size() > 1) {
    std::vector<std::uint8_t> bytes;
    for (const auto& r : ranges_) {
      appendVarint(bytes, r.location);
      appendVarint(bytes, r.length);
    }
    coder.encodeBytes_length_forKey(bytes.data(), bytes.size(), "NSRangeData");
  }
}

void IndexSet::initWithCoder(Coder& coder) {
  ranges_.clear();
  auto damaged = [] {
    Exception::raise(NSInvalidUnarchiveOperationException,
                     "*** -[NSIndexSet initWithCoder:]: damaged index set data");
  };
  auto add = [&](std::uint64_t location, std::uint64_t length) {
    if (location >= NotFound || length > NotFound - location) damaged();
    addRange({static_cast<std::size_t>(location), static_cast<std::size_t>(length)});
  };
  std::int64_t n = coder.decodeInt64ForKey("NSRangeCount");
  if (n < 0) damaged();
  if (n == 1) {
    std::int64_t location = coder.decodeInt64ForKey("NSLocation");
    std::int64_t length = coder.decodeInt64ForKey("NSLength");
    if (location < 0 || length < 0) damaged();
    add(static_cast<std::uint64_t>(location), static_cast<std::uint64_t>(length));
  } else if (n > 1) {
    Data bytes = coder.decodeBytesForKey("NSRangeData");
    const std::uint8_t* p = bytes.bytes();
    const auto* end = p + bytes.length();
    for (std::int64_t k = 0; k < n; ++k) {
      std::uint64_t location, length;
      if (!readVarint(p, end, location) || !readVarint(p, end, length)) damaged();
      add(location, length);
    }
  }
}

void IndexSet::addRange(Range range) {
  checkRange(range, "addIndexesInRange:");
  if (range.length == 0) return;
  // Merge with every range that overlaps or touches it.
  auto first = std::lower_bound(ranges_.begin(), ranges_.end(), range.location,
                                [](const Range& r, std::size_t loc) { return r.max() < loc; });
  auto last = first;
  std::size_t lo = range.location, hi = range.max();
  while (last != ranges_.end() && last->location <= hi) {
    lo = std::min(lo, last->location);
    hi = std::max(hi, last->max());
    ++last;
  }
  first = ranges_.erase(first, last);
  ranges_.insert(first, Range{lo, hi - lo});
}

void IndexSet::removeRange(Range range) {
  checkRange(range, "removeIndexesInRange:");
  if (range.length == 0) return;
  std::vector<Range> kept;
  kept.reserve(ranges_.size() + 1);
  for (const auto& r : ranges_) {
    if (r.max() <= range.location || r.location >= range.max()) {
      kept.push_back(r);
      continue;
    }
    if (r.location < range.location) kept.push_back({r.location, range.location - r.location});
    if (r.max() > range.max()) kept.push_back({range.max(), r.max() - range.max()});
  }
  ranges_ = std::move(kept);
}

Ref<MutableIndexSet> MutableIndexSet::indexSet() {
  return make<MutableIndexSet>();
}

Ref<MutableIndexSet> MutableIndexSet::indexSetWithIndex(std::size_t index) {
  return indexSetWithIndexesInRange({index, 1});
}

Ref<MutableIndexSet> MutableIndexSet::indexSetWithIndexesInRange(Range range) {
  auto s = make<MutableIndexSet>();
  s->addIndexesInRange(range);
  return s;
}

void MutableIndexSet::addIndexes(const IndexSet& other) {
  for (const auto& r : other.ranges()) addRange(r);
}

void MutableIndexSet::removeIndexes(const IndexSet& other) {
  for (const auto& r : other.ranges()) removeRange(r);
}

void MutableIndexSet::shiftIndexesStartingAtIndex_by(std::size_t index, long delta) {
  if (delta == 0 || index >= NotFound) return;
  std::vector<Range> moving;
  for (const auto& r : ranges_) {
    Range part = clip(r, {index, NotFound - index});
    if (part.length) moving.push_back(part);
  }
  removeRange({index, NotFound - index});
  if (delta < 0) {
    std::size_t down = static_cast<std::size_t>(-(delta + 1)) + 1;
    std::size_t from = index > down ? index - down : 0;
    removeRange({from, index - from});
    for (const auto& r : moving) {
      // Indexes that would fall below zero are gone with the ones passed over.
      if (r.max() <= down) continue;
      std::size_t lo = r.location > down ? r.location - down : 0;
      addRange({lo, r.max() - down - lo});
    }
  } else {
    std::size_t up = static_cast<std::size_t>(delta);
    for (const auto& r : moving) {
      if (r.location >= NotFound - up) continue;  // pushed past the largest index
      std::size_t hi = std::min(r.max(), NotFound - up);
      addRange({r.location + up, hi - r.location});
    }
  }
}

}  // namespace ns
