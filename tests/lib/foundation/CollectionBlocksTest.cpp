#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "lib/foundation/CollectionBlocks.h"
#include "platform/testing/Monitor.h"

namespace {

using ns::Value;

Value V(long n) {
  return Value(n);
}
long N(const Value& v) {
  return v.integerValue();
}

TEST(CollectionBlocksTest, MatchStopsAtTheFirstPassAndEmptyCollectionsAnswerAsDocumented) {
  ns::Array a{V(1), V(2), V(3), V(4)};
  std::vector<long> tested;
  Value found = ArrayBlocks::match(a, [&](const Value& v) {
    tested.push_back(N(v));
    return N(v) % 2 == 0;
  });
  EXPECT_EQ(N(found), 2);
  EXPECT_EQ(tested, (std::vector<long>{1, 2}));
  EXPECT_TRUE(ArrayBlocks::match(a, [](const Value&) { return false; }).isNil());

  auto never = [](const Value&) { return false; };
  EXPECT_TRUE(ArrayBlocks::all({}, never));
  EXPECT_TRUE(SetBlocks::all({}, never));
  EXPECT_TRUE(OrderedSetBlocks::all({}, never));
  EXPECT_TRUE(IndexSetBlocks::all(ns::IndexSet(), [](std::size_t) { return false; }));
  EXPECT_TRUE(DictionaryBlocks::all({}, [](const Value&, const Value&) { return false; }));
  EXPECT_FALSE(ArrayBlocks::all(a, [](const Value& v) { return N(v) < 4; }));
  EXPECT_TRUE(ArrayBlocks::any(a, [](const Value& v) { return N(v) == 4; }));
  EXPECT_TRUE(ArrayBlocks::none(a, [](const Value& v) { return N(v) == 5; }));

  auto same = [](const Value& x, const Value& y) { return x == y; };
  EXPECT_FALSE(ArrayBlocks::corresponds_withBlock({}, {}, same));
  EXPECT_FALSE(ArrayBlocks::corresponds_withBlock(a, {V(1), V(2), V(3)}, same));
  EXPECT_TRUE(ArrayBlocks::corresponds_withBlock({V(1), V(2)}, a, same));  // extra elements are not looked at
  EXPECT_FALSE(ArrayBlocks::corresponds_withBlock(a, {V(1), V(9), V(3), V(4)}, same));
}

TEST(CollectionBlocksTest, MappingKeepsOneEntryPerElementAndFilteringKeepsOrder) {
  ns::Array a{V(1), V(2), V(3)};
  ns::Array mapped = ArrayBlocks::map(a, [](const Value& v) { return N(v) == 2 ? Value() : V(N(v) * 10); });
  ASSERT_EQ(mapped.size(), 3u);
  EXPECT_EQ(N(mapped[0]), 10);
  EXPECT_TRUE(mapped[1].isNull());
  EXPECT_EQ(N(mapped[2]), 30);
  EXPECT_EQ(ArrayBlocks::select(a, [](const Value& v) { return N(v) != 2; }), (ns::Array{V(1), V(3)}));
  EXPECT_EQ(ArrayBlocks::reject(a, [](const Value& v) { return N(v) != 2; }), (ns::Array{V(2)}));
  EXPECT_TRUE(ArrayBlocks::select(a, [](const Value&) { return false; }).empty());
  EXPECT_EQ(N(ArrayBlocks::reduce_withBlock(a, V(100),
                                            [](const Value& s, const Value& v) { return V(N(s) + N(v)); })),
            106);
  EXPECT_EQ(N(ArrayBlocks::reduce_withBlock({}, V(7), [](const Value& s, const Value&) { return s; })), 7);

  ns::Array m = a;
  MutableArrayBlocks::performMap(m, [](const Value& v) { return v; });
  EXPECT_EQ(m, a);
  MutableArrayBlocks::performMap(m, [](const Value& v) { return V(N(v) + 10); });
  EXPECT_EQ(m, (ns::Array{V(11), V(12), V(13)}));
  MutableArrayBlocks::performSelect(m, [](const Value& v) { return N(v) > 11; });
  EXPECT_EQ(m, (ns::Array{V(12), V(13)}));
  MutableArrayBlocks::performReject(m, [](const Value& v) { return N(v) == 13; });
  EXPECT_EQ(m, (ns::Array{V(12)}));

  // Equal results collapse in ordered sets and sets.
  ns::OrderedSet os{V(1), V(2), V(3), V(4)};
  ns::OrderedSet halves = OrderedSetBlocks::map(os, [](const Value& v) { return V(N(v) / 2); });
  EXPECT_EQ(halves.array(), (ns::Array{V(0), V(1), V(2)}));
  EXPECT_EQ(SetBlocks::map(ns::Set{V(1), V(2), V(3)}, [](const Value&) { return V(0); }).count(), 1u);
  MutableOrderedSetBlocks::performMap(os, [](const Value& v) { return V(N(v) % 3); });
  EXPECT_EQ(os.array(), (ns::Array{V(1), V(2), V(0)}));
  MutableOrderedSetBlocks::performReject(os, [](const Value& v) { return N(v) == 2; });
  EXPECT_EQ(os.array(), (ns::Array{V(1), V(0)}));
  ns::Set s{V(1), V(2), V(3)};
  MutableSetBlocks::performSelect(s, [](const Value& v) { return N(v) >= 2; });
  EXPECT_EQ(s, (ns::Set{V(2), V(3)}));
  EXPECT_EQ(N(SetBlocks::match(s, [](const Value& v) { return N(v) == 3; })), 3);

  ns::Dictionary d{{Value("a"), V(1)}, {Value("b"), V(2)}};
  EXPECT_EQ(N(DictionaryBlocks::match(d, [](const Value& k, const Value&) { return k == Value("b"); })), 2);
  ns::Dictionary dm =
      DictionaryBlocks::map(d, [](const Value& k, const Value& v) { return k == Value("a") ? Value() : v; });
  EXPECT_TRUE(dm[Value("a")].isNull());
  EXPECT_EQ(DictionaryBlocks::select(d, [](const Value&, const Value& v) { return N(v) == 1; }).count(), 1u);
  MutableDictionaryBlocks::performReject(d, [](const Value&, const Value& v) { return N(v) == 1; });
  EXPECT_EQ(d, (ns::Dictionary{{Value("b"), V(2)}}));
  MutableDictionaryBlocks::performMap(d, [](const Value&, const Value& v) { return V(N(v) * 2); });
  EXPECT_EQ(N(d[Value("b")]), 4);
}

TEST(CollectionBlocksTest, IndexSetOperationsAnswerNilWhereArraysAnswerEmpty) {
  auto set = ns::MutableIndexSet::indexSet();
  set->addIndex(1);
  set->addIndex(2);
  EXPECT_EQ(IndexSetBlocks::select(*set, [](std::size_t) { return false; }), nullptr);
  EXPECT_EQ(IndexSetBlocks::reject(*set, [](std::size_t) { return true; }), nullptr);
  EXPECT_EQ(IndexSetBlocks::select(*set, [](std::size_t i) { return i == 2; })->firstIndex(), 2u);
  EXPECT_EQ(IndexSetBlocks::match(*set, [](std::size_t i) { return i > 5; }), ns::NotFound);
  EXPECT_TRUE(IndexSetBlocks::none(*set, [](std::size_t i) { return i > 5; }));
  ns::Array objects =
      IndexSetBlocks::mapIndex(*set, [](std::size_t i) { return i == 1 ? Value() : V(long(i)); });
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_TRUE(objects[0].isNull());
  EXPECT_EQ(IndexSetBlocks::map(*set, [](std::size_t i) { return i + 10; })->count(), 2u);

  MutableIndexSetBlocks::performMap(*set, [](std::size_t i) { return i + 10; });
  EXPECT_TRUE(set->isEqualToIndexSet(*ns::IndexSet::indexSetWithIndexesInRange({11, 2})));
  MutableIndexSetBlocks::performSelect(*set, [](std::size_t i) { return i == 12; });
  EXPECT_TRUE(set->isEqualToIndexSet(*ns::IndexSet::indexSetWithIndex(12)));
}

TEST(CollectionBlocksTest, ApplyRunsEveryElementOnceOnSeveralThreads) {
  ns::Array a;
  for (long i = 0; i < 10000; ++i) a.push_back(V(i));
  std::vector<std::atomic<int>> runs(a.size());
  pltest::Monitor monitor;
  std::set<std::thread::id> threads;
  ArrayBlocks::apply(a, [&](const Value& v) {
    runs[static_cast<std::size_t>(N(v))]++;
    monitor.change([&] { threads.insert(std::this_thread::get_id()); });
    // The first element waits for another thread to take some: a loaded machine may otherwise
    // let one thread run them all before another starts.
    if (N(v) == 0) monitor.waitFor([&] { return threads.size() > 1; });
  });
  for (auto& r : runs) ASSERT_EQ(r.load(), 1);
  EXPECT_GE(threads.size(), 2u);

  auto indexes = ns::IndexSet::indexSetWithIndexesInRange({0, 10000});
  std::atomic<long> sum{0};
  IndexSetBlocks::apply(*indexes, [&](std::size_t i) { sum += static_cast<long>(i); });
  EXPECT_EQ(sum.load(), 9999L * 10000 / 2);
}

}  // namespace
