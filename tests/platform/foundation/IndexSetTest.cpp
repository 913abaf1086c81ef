#include <gtest/gtest.h>

#include <vector>

#include "platform/core/Exception.h"
#include "platform/foundation/IndexSet.h"
#include "platform/serialization/KeyedArchiver.h"
#include "platform/serialization/KeyedUnarchiver.h"

namespace {

using ns::IndexSet;
using ns::MutableIndexSet;
using ns::NotFound;

ns::Ref<MutableIndexSet> oneAndFiveToNine() {
  auto s = MutableIndexSet::indexSet();
  s->addIndex(1);
  s->addIndexesInRange({5, 5});
  return s;
}

std::vector<std::size_t> indexesOf(const IndexSet& s, unsigned long options = 0) {
  std::vector<std::size_t> out;
  s.enumerateIndexesWithOptions_usingBlock(options, [&](std::size_t i, bool*) { out.push_back(i); });
  return out;
}

TEST(IndexSetTest, QueriesFollowTheSortedRanges) {
  auto s = oneAndFiveToNine();
  EXPECT_EQ(s->count(), 6u);
  EXPECT_EQ(s->ranges().size(), 2u);
  EXPECT_EQ(s->firstIndex(), 1u);
  EXPECT_EQ(s->lastIndex(), 9u);
  struct {
    std::size_t index, greater, less, greaterOrEqual, lessOrEqual;
  } cases[] = {
      {0, 1, NotFound, 1, NotFound}, {1, 5, NotFound, 1, 1},         {3, 5, 1, 5, 1}, {5, 6, 1, 5, 5},
      {9, NotFound, 8, 9, 9},        {20, NotFound, 9, NotFound, 9},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(s->indexGreaterThanIndex(c.index), c.greater) << c.index;
    EXPECT_EQ(s->indexLessThanIndex(c.index), c.less) << c.index;
    EXPECT_EQ(s->indexGreaterThanOrEqualToIndex(c.index), c.greaterOrEqual) << c.index;
    EXPECT_EQ(s->indexLessThanOrEqualToIndex(c.index), c.lessOrEqual) << c.index;
  }
  EXPECT_TRUE(s->containsIndexesInRange({6, 3}));
  EXPECT_FALSE(s->containsIndexesInRange({1, 5}));
  EXPECT_TRUE(s->intersectsIndexesInRange({0, 2}));
  EXPECT_FALSE(s->intersectsIndexesInRange({2, 3}));
  EXPECT_EQ(s->countOfIndexesInRange({0, 7}), 3u);
  EXPECT_TRUE(s->containsIndexes(*IndexSet::indexSetWithIndexesInRange({7, 2})));
  EXPECT_EQ(IndexSet::indexSet()->firstIndex(), NotFound);

  std::size_t buffer[4];
  ns::Range window{0, 100};
  EXPECT_EQ(s->getIndexes_maxCount_inIndexRange(buffer, 4, &window), 4u);
  EXPECT_EQ(std::vector<std::size_t>(buffer, buffer + 4), (std::vector<std::size_t>{1, 5, 6, 7}));
  EXPECT_EQ(window.location, 8u);
  EXPECT_EQ(s->getIndexes_maxCount_inIndexRange(buffer, 4, &window), 2u);
}

TEST(IndexSetTest, EnumeratesBothWaysAndEditsMergeAndSplitRanges) {
  auto s = oneAndFiveToNine();
  EXPECT_EQ(indexesOf(*s, ns::NSEnumerationReverse), (std::vector<std::size_t>{9, 8, 7, 6, 5, 1}));
  std::vector<std::size_t> stopped;
  s->enumerateIndexesUsingBlock([&](std::size_t i, bool* stop) {
    stopped.push_back(i);
    *stop = i == 5;
  });
  EXPECT_EQ(stopped, (std::vector<std::size_t>{1, 5}));
  std::vector<ns::Range> ranges;
  s->enumerateRangesWithOptions_usingBlock(ns::NSEnumerationReverse,
                                           [&](ns::Range r, bool*) { ranges.push_back(r); });
  EXPECT_EQ(ranges, (std::vector<ns::Range>{{5, 5}, {1, 1}}));
  EXPECT_EQ(
      s->indexWithOptions_passingTest(ns::NSEnumerationReverse, [](std::size_t i, bool*) { return i < 7; }),
      6u);
  EXPECT_EQ(s->indexesPassingTest([](std::size_t i, bool*) { return i % 2; })->count(), 4u);

  s->shiftIndexesStartingAtIndex_by(5, 2);
  EXPECT_EQ(indexesOf(*s), (std::vector<std::size_t>{1, 7, 8, 9, 10, 11}));
  s->shiftIndexesStartingAtIndex_by(8, -3);  // 5..7 are passed over: 7 goes
  EXPECT_EQ(indexesOf(*s), (std::vector<std::size_t>{1, 5, 6, 7, 8}));
  s->addIndex(2);
  s->addIndex(4);
  s->addIndex(3);
  EXPECT_EQ(s->ranges(), (std::vector<ns::Range>{{1, 8}}));
  s->removeIndexesInRange({3, 2});
  EXPECT_EQ(s->ranges(), (std::vector<ns::Range>{{1, 2}, {5, 4}}));
  s->removeIndexes(*IndexSet::indexSetWithIndex(1));
  EXPECT_EQ(indexesOf(*s), (std::vector<std::size_t>{2, 5, 6, 7, 8}));
  EXPECT_THROW(s->addIndex(NotFound), ns::Exception);
  s->removeAllIndexes();
  EXPECT_EQ(s->count(), 0u);
}

TEST(IndexSetTest, SurvivesTheKeyedArchiverEqualToItself) {
  for (auto s : {oneAndFiveToNine(), MutableIndexSet::indexSetWithIndex(3), MutableIndexSet::indexSet()}) {
    ns::Data archive = ns::KeyedArchiver::archivedDataWithRootObject(ns::Value(ns::Ref<ns::Object>(s)));
    ns::Value back = ns::KeyedUnarchiver::unarchiveObjectWithData(archive);
    auto decoded = back.objectAs<IndexSet>();
    ASSERT_NE(decoded, nullptr) << s->description();
    EXPECT_TRUE(decoded->isEqualToIndexSet(*s));
    EXPECT_EQ(decoded->className(), "NSMutableIndexSet");
    EXPECT_TRUE(decoded->isEqual(s.get()));
  }
  // A payload mixing an index set and other values, as drag payloads do.
  ns::Array payload{ns::Value(ns::Ref<ns::Object>(IndexSet::indexSetWithIndexesInRange({2, 3}))),
                    ns::Value("row")};
  ns::Value back = ns::KeyedUnarchiver::unarchiveObjectWithData(
      ns::KeyedArchiver::archivedDataWithRootObject(ns::Value(payload)));
  ASSERT_TRUE(back.isArray());
  EXPECT_EQ(back.array()[0].objectAs<IndexSet>()->count(), 3u);
  EXPECT_EQ(back.array()[0].objectAs<IndexSet>()->className(), "NSIndexSet");
}

}  // namespace
