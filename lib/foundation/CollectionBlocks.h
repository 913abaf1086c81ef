#pragma once
// Closure-taking operations over the platform's collections: iteration, search, filtering,
// mapping, folding and tests. Order, stopping and concurrency are those of the collection's own
// enumeration: `apply` runs its closure on several threads at once and returns when all have
// run; everything else runs on the calling thread, one element at a time, in order. A mapping
// closure that answers nil leaves the null marker in its place, so the result keeps one entry per
// element. Mutable forms edit the collection they are given.
#include <cstddef>
#include <functional>

#include "platform/core/Object.h"
#include "platform/core/OrderedSet.h"
#include "platform/core/Value.h"
#include "platform/foundation/IndexSet.h"

using ValueAction = std::function<void(const ns::Value& object)>;
using ValueTest = std::function<bool(const ns::Value& object)>;
using ValueMapping = std::function<ns::Value(const ns::Value& object)>;
using ValueFold = std::function<ns::Value(const ns::Value& sum, const ns::Value& object)>;
using ValuePairTest = std::function<bool(const ns::Value& object, const ns::Value& other)>;
using EntryAction = std::function<void(const ns::Value& key, const ns::Value& object)>;
using EntryTest = std::function<bool(const ns::Value& key, const ns::Value& object)>;
using EntryMapping = std::function<ns::Value(const ns::Value& key, const ns::Value& object)>;
using IndexAction = std::function<void(std::size_t index)>;
using IndexTest = std::function<bool(std::size_t index)>;
using IndexMapping = std::function<std::size_t(std::size_t index)>;
using IndexObjectMapping = std::function<ns::Value(std::size_t index)>;

struct ArrayBlocks {
  static void each(const ns::Array& array, const ValueAction& block);
  static void apply(const ns::Array& array, const ValueAction& block);
  // The first passing element; nil when none passes.
  static ns::Value match(const ns::Array& array, const ValueTest& block);
  // Empty when none passes.
  static ns::Array select(const ns::Array& array, const ValueTest& block);
  static ns::Array reject(const ns::Array& array, const ValueTest& block);
  static ns::Array map(const ns::Array& array, const ValueMapping& block);
  static ns::Value reduce_withBlock(const ns::Array& array, ns::Value initial, const ValueFold& block);
  static bool any(const ns::Array& array, const ValueTest& block);
  static bool none(const ns::Array& array, const ValueTest& block);
  static bool all(const ns::Array& array, const ValueTest& block);
  // Pairs the elements with `other`'s by index while the closure agrees; NO for an empty
  // receiver and for one longer than `other`.
  static bool corresponds_withBlock(const ns::Array& array, const ns::Array& other,
                                    const ValuePairTest& block);
};

struct MutableArrayBlocks {
  static void performSelect(ns::Array& array, const ValueTest& block);
  static void performReject(ns::Array& array, const ValueTest& block);
  static void performMap(ns::Array& array, const ValueMapping& block);
};

struct OrderedSetBlocks {
  static void each(const ns::OrderedSet& set, const ValueAction& block);
  static void apply(const ns::OrderedSet& set, const ValueAction& block);
  static ns::Value match(const ns::OrderedSet& set, const ValueTest& block);
  static ns::OrderedSet select(const ns::OrderedSet& set, const ValueTest& block);
  static ns::OrderedSet reject(const ns::OrderedSet& set, const ValueTest& block);
  // Equal results collapse into one entry.
  static ns::OrderedSet map(const ns::OrderedSet& set, const ValueMapping& block);
  static ns::Value reduce_withBlock(const ns::OrderedSet& set, ns::Value initial, const ValueFold& block);
  static bool any(const ns::OrderedSet& set, const ValueTest& block);
  static bool none(const ns::OrderedSet& set, const ValueTest& block);
  static bool all(const ns::OrderedSet& set, const ValueTest& block);
  static bool corresponds_withBlock(const ns::OrderedSet& set, const ns::OrderedSet& other,
                                    const ValuePairTest& block);
};

struct MutableOrderedSetBlocks {
  static void performSelect(ns::OrderedSet& set, const ValueTest& block);
  static void performReject(ns::OrderedSet& set, const ValueTest& block);
  static void performMap(ns::OrderedSet& set, const ValueMapping& block);
};

// Sets promise no order: which passing element `match` answers is not fixed.
struct SetBlocks {
  static void each(const ns::Set& set, const ValueAction& block);
  static void apply(const ns::Set& set, const ValueAction& block);
  static ns::Value match(const ns::Set& set, const ValueTest& block);
  static ns::Set select(const ns::Set& set, const ValueTest& block);
  static ns::Set reject(const ns::Set& set, const ValueTest& block);
  static ns::Set map(const ns::Set& set, const ValueMapping& block);
  static ns::Value reduce_withBlock(const ns::Set& set, ns::Value initial, const ValueFold& block);
  static bool any(const ns::Set& set, const ValueTest& block);
  static bool none(const ns::Set& set, const ValueTest& block);
  static bool all(const ns::Set& set, const ValueTest& block);
};

struct MutableSetBlocks {
  static void performSelect(ns::Set& set, const ValueTest& block);
  static void performReject(ns::Set& set, const ValueTest& block);
  static void performMap(ns::Set& set, const ValueMapping& block);
};

struct DictionaryBlocks {
  static void each(const ns::Dictionary& dictionary, const EntryAction& block);
  static void apply(const ns::Dictionary& dictionary, const EntryAction& block);
  // The object of a passing entry; nil when none passes.
  static ns::Value match(const ns::Dictionary& dictionary, const EntryTest& block);
  static ns::Dictionary select(const ns::Dictionary& dictionary, const EntryTest& block);
  static ns::Dictionary reject(const ns::Dictionary& dictionary, const EntryTest& block);
  static ns::Dictionary map(const ns::Dictionary& dictionary, const EntryMapping& block);
  static bool any(const ns::Dictionary& dictionary, const EntryTest& block);
  static bool none(const ns::Dictionary& dictionary, const EntryTest& block);
  static bool all(const ns::Dictionary& dictionary, const EntryTest& block);
};

struct MutableDictionaryBlocks {
  // The test runs concurrently.
  static void performSelect(ns::Dictionary& dictionary, const EntryTest& block);
  static void performReject(ns::Dictionary& dictionary, const EntryTest& block);
  static void performMap(ns::Dictionary& dictionary, const EntryMapping& block);
};

struct IndexSetBlocks {
  static void each(const ns::IndexSet& set, const IndexAction& block);
  static void apply(const ns::IndexSet& set, const IndexAction& block);
  // The first passing index, or NotFound.
  static std::size_t match(const ns::IndexSet& set, const IndexTest& block);
  // Null, not an empty set, when none passes.
  static ns::Ref<ns::IndexSet> select(const ns::IndexSet& set, const IndexTest& block);
  static ns::Ref<ns::IndexSet> reject(const ns::IndexSet& set, const IndexTest& block);
  // Null when the result is empty.
  static ns::Ref<ns::MutableIndexSet> map(const ns::IndexSet& set, const IndexMapping& block);
  static ns::Array mapIndex(const ns::IndexSet& set, const IndexObjectMapping& block);
  static bool any(const ns::IndexSet& set, const IndexTest& block);
  static bool none(const ns::IndexSet& set, const IndexTest& block);
  static bool all(const ns::IndexSet& set, const IndexTest& block);
};

struct MutableIndexSetBlocks {
  static void performSelect(ns::MutableIndexSet& set, const IndexTest& block);
  static void performReject(ns::MutableIndexSet& set, const IndexTest& block);
  static void performMap(ns::MutableIndexSet& set, const IndexMapping& block);
};
