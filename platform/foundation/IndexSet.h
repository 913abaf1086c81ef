#pragma once
// Sets of unsigned indexes (NSIndexSet / NSMutableIndexSet), kept as sorted, disjoint ranges.
// Indexes run from 0 to NotFound - 1; an index or range beyond raises NSRangeException. Both
// classes are archived by the keyed archiver under their platform names, so drag payloads and
// stored selections read back as they were written.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/core/Object.h"
#include "platform/core/Types.h"
#include "platform/serialization/Coder.h"

namespace ns {

enum NSEnumerationOptions : unsigned long {
  NSEnumerationConcurrent = 1UL << 0,
  NSEnumerationReverse = 1UL << 1,
};

class MutableIndexSet;

class IndexSet : public Object, public Coding {
 public:
  using IndexBlock = std::function<void(std::size_t index, bool* stop)>;
  using RangeBlock = std::function<void(Range range, bool* stop)>;
  using IndexTest = std::function<bool(std::size_t index, bool* stop)>;

  IndexSet() = default;
  static Ref<IndexSet> indexSet();
  static Ref<IndexSet> indexSetWithIndex(std::size_t index);
  static Ref<IndexSet> indexSetWithIndexesInRange(Range range);
  static Ref<IndexSet> initWithIndexSet(const IndexSet& other);

  std::size_t count() const;
  std::size_t firstIndex() const;  // NotFound when empty
  std::size_t lastIndex() const;   // NotFound when empty
  std::size_t indexGreaterThanIndex(std::size_t index) const;
  std::size_t indexLessThanIndex(std::size_t index) const;
  std::size_t indexGreaterThanOrEqualToIndex(std::size_t index) const;
  std::size_t indexLessThanOrEqualToIndex(std::size_t index) const;
  bool containsIndex(std::size_t index) const;
  bool containsIndexesInRange(Range range) const;
  bool containsIndexes(const IndexSet& other) const;
  bool intersectsIndexesInRange(Range range) const;
  std::size_t countOfIndexesInRange(Range range) const;
  // Copies up to `maxCount` indexes that lie in `*range` (the whole set when range is null) into
  // `buffer`, ascending; `*range` is then narrowed to what is left to fetch.
  std::size_t getIndexes_maxCount_inIndexRange(std::size_t* buffer, std::size_t maxCount, Range* range) const;
  bool isEqualToIndexSet(const IndexSet& other) const { return ranges_ == other.ranges_; }
  // The disjoint ranges, ascending.
  const std::vector<Range>& ranges() const { return ranges_; }

  void enumerateIndexesUsingBlock(const IndexBlock& block) const;
  void enumerateIndexesWithOptions_usingBlock(unsigned long options, const IndexBlock& block) const;
  void enumerateIndexesInRange_options_usingBlock(Range range, unsigned long options,
                                                  const IndexBlock& block) const;
  void enumerateRangesUsingBlock(const RangeBlock& block) const;
  void enumerateRangesWithOptions_usingBlock(unsigned long options, const RangeBlock& block) const;
  void enumerateRangesInRange_options_usingBlock(Range range, unsigned long options,
                                                 const RangeBlock& block) const;
  std::size_t indexPassingTest(const IndexTest& test) const;
  std::size_t indexWithOptions_passingTest(unsigned long options, const IndexTest& test) const;
  std::size_t indexInRange_options_passingTest(Range range, unsigned long options,
                                               const IndexTest& test) const;
  Ref<IndexSet> indexesPassingTest(const IndexTest& test) const;
  Ref<IndexSet> indexesWithOptions_passingTest(unsigned long options, const IndexTest& test) const;
  Ref<IndexSet> indexesInRange_options_passingTest(Range range, unsigned long options,
                                                   const IndexTest& test) const;

  Ref<IndexSet> copy() const;
  Ref<MutableIndexSet> mutableCopy() const;

  std::string className() const override { return "NSIndexSet"; }
  std::string description() const override;
  bool isEqual(const Object* other) const override;
  std::size_t hash() const override;
  void encodeWithCoder(Coder& coder) const override;
  void initWithCoder(Coder& coder) override;

 protected:
  void addRange(Range range);
  void removeRange(Range range);
  std::vector<Range> ranges_;
};

class MutableIndexSet : public IndexSet {
 public:
  MutableIndexSet() = default;
  static Ref<MutableIndexSet> indexSet();
  static Ref<MutableIndexSet> indexSetWithIndex(std::size_t index);
  static Ref<MutableIndexSet> indexSetWithIndexesInRange(Range range);

  void addIndex(std::size_t index) { addRange({index, 1}); }
  void addIndexesInRange(Range range) { addRange(range); }
  void addIndexes(const IndexSet& other);
  void removeIndex(std::size_t index) { removeRange({index, 1}); }
  void removeIndexesInRange(Range range) { removeRange(range); }
  void removeIndexes(const IndexSet& other);
  void removeAllIndexes() { ranges_.clear(); }
  // Moves every index at or above `index` by `delta`. Shifting down first removes the indexes
  // the move passes over ([index + delta, index)); indexes pushed past the largest index are
  // dropped.
  void shiftIndexesStartingAtIndex_by(std::size_t index, long delta);

  std::string className() const override { return "NSMutableIndexSet"; }
};

}  // namespace ns
