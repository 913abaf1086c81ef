#include "lib/foundation/CollectionBlocks.h"

#include <mutex>
#include <vector>

#include "platform/dispatch/Queue.h"

namespace {

ns::Value orNull(ns::Value v) {
  return v.isNil() ? ns::Value::null() : v;
}

ValueTest negated(const ValueTest& test) {
  return [&test](const ns::Value& v) { return !test(v); };
}
EntryTest negated(const EntryTest& test) {
  return [&test](const ns::Value& k, const ns::Value& v) { return !test(k, v); };
}
IndexTest negated(const IndexTest& test) {
  return [&test](std::size_t i) { return !test(i); };
}

// Runs `block` over every element of a sequence on the global queue's threads; returns when all
// have run.
template <class Items>
void applyOver(const Items& items, const ValueAction& block) {
  dispatch::apply(items.size(), dispatch::globalQueue(), [&](std::size_t k) { block(items[k]); });
}

// The first passing element of an ordered sequence, nil when none.
template <class Sequence>
ns::Value firstPassing(const Sequence& items, const ValueTest& test) {
  for (const auto& v : items)
    if (test(v)) return v;
  return ns::Value();
}

template <class Sequence>
bool allPass(const Sequence& items, const ValueTest& test) {
  for (const auto& v : items)
    if (!test(v)) return false;
  return true;
}

template <class Sequence>
ns::Value fold(const Sequence& items, ns::Value sum, const ValueFold& block) {
  for (const auto& v : items) sum = block(sum, v);
  return sum;
}

template <class Sequence>
bool correspond(const Sequence& items, const ns::Array& other, const ValuePairTest& block) {
  bool result = false;
  std::size_t i = 0;
  for (const auto& v : items) {
    result = i < other.size() && block(v, other[i]);
    ++i;
    if (!result) break;
  }
  return result;
}

}  // namespace

// Arrays.

void ArrayBlocks::each(const ns::Array& array, const ValueAction& block) {
  for (const auto& v : array) block(v);
}
void ArrayBlocks::apply(const ns::Array& array, const ValueAction& block) {
  applyOver(array, block);
}
ns::Value ArrayBlocks::match(const ns::Array& array, const ValueTest& block) {
  return firstPassing(array, block);
}
ns::Array ArrayBlocks::select(const ns::Array& array, const ValueTest& block) {
  ns::Array out;
  for (const auto& v : array)
    if (block(v)) out.push_back(v);
  return out;
}
ns::Array ArrayBlocks::reject(const ns::Array& array, const ValueTest& block) {
  return select(array, negated(block));
}
ns::Array ArrayBlocks::map(const ns::Array& array, const ValueMapping& block) {
  ns::Array out;
  out.reserve(array.size());
  for (const auto& v : array) out.push_back(orNull(block(v)));
  return out;
}
ns::Value ArrayBlocks::reduce_withBlock(const ns::Array& array, ns::Value initial, const ValueFold& block) {
  return fold(array, std::move(initial), block);
}
bool ArrayBlocks::any(const ns::Array& array, const ValueTest& block) {
  return !match(array, block).isNil();
}
bool ArrayBlocks::none(const ns::Array& array, const ValueTest& block) {
  return match(array, block).isNil();
}
bool ArrayBlocks::all(const ns::Array& array, const ValueTest& block) {
  return allPass(array, block);
}
bool ArrayBlocks::corresponds_withBlock(const ns::Array& array, const ns::Array& other,
                                        const ValuePairTest& block) {
  return correspond(array, other, block);
}

void MutableArrayBlocks::performSelect(ns::Array& array, const ValueTest& block) {
  ns::Array kept;
  kept.reserve(array.size());
  for (auto& v : array)
    if (block(v)) kept.push_back(v);
  if (kept.size() != array.size()) array = std::move(kept);
}
void MutableArrayBlocks::performReject(ns::Array& array, const ValueTest& block) {
  performSelect(array, negated(block));
}
void MutableArrayBlocks::performMap(ns::Array& array, const ValueMapping& block) {
  ns::Array copy = array;
  for (std::size_t i = 0; i < copy.size(); ++i) {
    ns::Value result = orNull(block(copy[i]));
    if (!(result == copy[i])) copy[i] = std::move(result);
  }
  array = std::move(copy);
}

// Ordered sets.

void OrderedSetBlocks::each(const ns::OrderedSet& set, const ValueAction& block) {
  ArrayBlocks::each(set.array(), block);
}
void OrderedSetBlocks::apply(const ns::OrderedSet& set, const ValueAction& block) {
  applyOver(set.array(), block);
}
ns::Value OrderedSetBlocks::match(const ns::OrderedSet& set, const ValueTest& block) {
  return firstPassing(set, block);
}
ns::OrderedSet OrderedSetBlocks::select(const ns::OrderedSet& set, const ValueTest& block) {
  return ns::OrderedSet(ArrayBlocks::select(set.array(), block));
}
ns::OrderedSet OrderedSetBlocks::reject(const ns::OrderedSet& set, const ValueTest& block) {
  return select(set, negated(block));
}
ns::OrderedSet OrderedSetBlocks::map(const ns::OrderedSet& set, const ValueMapping& block) {
  ns::OrderedSet out;
  for (const auto& v : set) out.addObject(orNull(block(v)));
  return out;
}
ns::Value OrderedSetBlocks::reduce_withBlock(const ns::OrderedSet& set, ns::Value initial,
                                             const ValueFold& block) {
  return fold(set, std::move(initial), block);
}
bool OrderedSetBlocks::any(const ns::OrderedSet& set, const ValueTest& block) {
  return !match(set, block).isNil();
}
bool OrderedSetBlocks::none(const ns::OrderedSet& set, const ValueTest& block) {
  return match(set, block).isNil();
}
bool OrderedSetBlocks::all(const ns::OrderedSet& set, const ValueTest& block) {
  return allPass(set, block);
}
bool OrderedSetBlocks::corresponds_withBlock(const ns::OrderedSet& set, const ns::OrderedSet& other,
                                             const ValuePairTest& block) {
  return correspond(set, other.array(), block);
}

void MutableOrderedSetBlocks::performSelect(ns::OrderedSet& set, const ValueTest& block) {
  std::vector<std::size_t> failing;
  for (std::size_t i = 0; i < set.count(); ++i)
    if (!block(set.array()[i])) failing.push_back(i);
  if (!failing.empty()) set.removeObjectsAtIndexes(failing);
}
void MutableOrderedSetBlocks::performReject(ns::OrderedSet& set, const ValueTest& block) {
  performSelect(set, negated(block));
}
void MutableOrderedSetBlocks::performMap(ns::OrderedSet& set, const ValueMapping& block) {
  std::vector<std::size_t> indexes;
  ns::Array objects;
  for (std::size_t i = 0; i < set.count(); ++i) {
    ns::Value result = orNull(block(set.array()[i]));
    if (!(result == set.array()[i])) {
      indexes.push_back(i);
      objects.push_back(std::move(result));
    }
  }
  if (!indexes.empty()) set.replaceObjectsAtIndexes_withObjects(indexes, objects);
}

// Sets.

void SetBlocks::each(const ns::Set& set, const ValueAction& block) {
  ArrayBlocks::each(set.allObjects(), block);
}
void SetBlocks::apply(const ns::Set& set, const ValueAction& block) {
  applyOver(set.allObjects(), block);
}
ns::Value SetBlocks::match(const ns::Set& set, const ValueTest& block) {
  return firstPassing(set, block);
}
ns::Set SetBlocks::select(const ns::Set& set, const ValueTest& block) {
  return ns::Set(ArrayBlocks::select(set.allObjects(), block));
}
ns::Set SetBlocks::reject(const ns::Set& set, const ValueTest& block) {
  return select(set, negated(block));
}
ns::Set SetBlocks::map(const ns::Set& set, const ValueMapping& block) {
  ns::Set out;
  for (const auto& v : set) out.add(orNull(block(v)));
  return out;
}
ns::Value SetBlocks::reduce_withBlock(const ns::Set& set, ns::Value initial, const ValueFold& block) {
  return fold(set, std::move(initial), block);
}
bool SetBlocks::any(const ns::Set& set, const ValueTest& block) {
  return !match(set, block).isNil();
}
bool SetBlocks::none(const ns::Set& set, const ValueTest& block) {
  return match(set, block).isNil();
}
bool SetBlocks::all(const ns::Set& set, const ValueTest& block) {
  return allPass(set, block);
}

void MutableSetBlocks::performSelect(ns::Set& set, const ValueTest& block) {
  set = SetBlocks::select(set, block);
}
void MutableSetBlocks::performReject(ns::Set& set, const ValueTest& block) {
  set = SetBlocks::reject(set, block);
}
void MutableSetBlocks::performMap(ns::Set& set, const ValueMapping& block) {
  set = SetBlocks::map(set, block);
}

// Dictionaries.

void DictionaryBlocks::each(const ns::Dictionary& dictionary, const EntryAction& block) {
  for (const auto& [k, v] : dictionary) block(k, v);
}
void DictionaryBlocks::apply(const ns::Dictionary& dictionary, const EntryAction& block) {
  const auto& entries = dictionary.entries();
  dispatch::apply(entries.size(), dispatch::globalQueue(),
                  [&](std::size_t i) { block(entries[i].first, entries[i].second); });
}
ns::Value DictionaryBlocks::match(const ns::Dictionary& dictionary, const EntryTest& block) {
  for (const auto& [k, v] : dictionary)
    if (block(k, v)) return v;
  return ns::Value();
}
ns::Dictionary DictionaryBlocks::select(const ns::Dictionary& dictionary, const EntryTest& block) {
  ns::Dictionary out;
  for (const auto& [k, v] : dictionary)
    if (block(k, v)) out.set(k, v);
  return out;
}
ns::Dictionary DictionaryBlocks::reject(const ns::Dictionary& dictionary, const EntryTest& block) {
  return select(dictionary, negated(block));
}
ns::Dictionary DictionaryBlocks::map(const ns::Dictionary& dictionary, const EntryMapping& block) {
  ns::Dictionary out;
  each(dictionary, [&](const ns::Value& k, const ns::Value& v) { out.set(k, orNull(block(k, v))); });
  return out;
}
bool DictionaryBlocks::any(const ns::Dictionary& dictionary, const EntryTest& block) {
  return !match(dictionary, block).isNil();
}
bool DictionaryBlocks::none(const ns::Dictionary& dictionary, const EntryTest& block) {
  return match(dictionary, block).isNil();
}
bool DictionaryBlocks::all(const ns::Dictionary& dictionary, const EntryTest& block) {
  for (const auto& [k, v] : dictionary)
    if (!block(k, v)) return false;
  return true;
}

void MutableDictionaryBlocks::performSelect(ns::Dictionary& dictionary, const EntryTest& block) {
  const auto& entries = dictionary.entries();
  std::vector<char> failing(entries.size(), 0);
  dispatch::apply(entries.size(), dispatch::globalQueue(),
                  [&](std::size_t i) { failing[i] = !block(entries[i].first, entries[i].second); });
  std::vector<ns::Value> doomed;
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (failing[i]) doomed.push_back(entries[i].first);
  for (const auto& k : doomed) dictionary.remove(k);
}
void MutableDictionaryBlocks::performReject(ns::Dictionary& dictionary, const EntryTest& block) {
  performSelect(dictionary, negated(block));
}
void MutableDictionaryBlocks::performMap(ns::Dictionary& dictionary, const EntryMapping& block) {
  ns::Dictionary copy = dictionary;
  for (const auto& [k, v] : dictionary) {
    ns::Value result = orNull(block(k, v));
    if (!(result == v)) copy.set(k, std::move(result));
  }
  dictionary = std::move(copy);
}

// Index sets.

void IndexSetBlocks::each(const ns::IndexSet& set, const IndexAction& block) {
  set.enumerateIndexesUsingBlock([&](std::size_t i, bool*) { block(i); });
}
void IndexSetBlocks::apply(const ns::IndexSet& set, const IndexAction& block) {
  set.enumerateIndexesWithOptions_usingBlock(ns::NSEnumerationConcurrent,
                                             [&](std::size_t i, bool*) { block(i); });
}
std::size_t IndexSetBlocks::match(const ns::IndexSet& set, const IndexTest& block) {
  return set.indexPassingTest([&](std::size_t i, bool*) { return block(i); });
}
ns::Ref<ns::IndexSet> IndexSetBlocks::select(const ns::IndexSet& set, const IndexTest& block) {
  auto passing = set.indexesPassingTest([&](std::size_t i, bool*) { return block(i); });
  return passing->count() ? passing : nullptr;
}
ns::Ref<ns::IndexSet> IndexSetBlocks::reject(const ns::IndexSet& set, const IndexTest& block) {
  return select(set, negated(block));
}
ns::Ref<ns::MutableIndexSet> IndexSetBlocks::map(const ns::IndexSet& set, const IndexMapping& block) {
  auto out = ns::MutableIndexSet::indexSet();
  each(set, [&](std::size_t i) { out->addIndex(block(i)); });
  return out->count() ? out : nullptr;
}
ns::Array IndexSetBlocks::mapIndex(const ns::IndexSet& set, const IndexObjectMapping& block) {
  ns::Array out;
  out.reserve(set.count());
  each(set, [&](std::size_t i) { out.push_back(orNull(block(i))); });
  return out;
}
bool IndexSetBlocks::any(const ns::IndexSet& set, const IndexTest& block) {
  return match(set, block) != ns::NotFound;
}
bool IndexSetBlocks::none(const ns::IndexSet& set, const IndexTest& block) {
  return match(set, block) == ns::NotFound;
}
bool IndexSetBlocks::all(const ns::IndexSet& set, const IndexTest& block) {
  bool result = true;
  set.enumerateIndexesUsingBlock([&](std::size_t i, bool* stop) {
    if (!block(i)) {
      result = false;
      *stop = true;
    }
  });
  return result;
}

void MutableIndexSetBlocks::performSelect(ns::MutableIndexSet& set, const IndexTest& block) {
  auto failing = set.indexesPassingTest([&](std::size_t i, bool*) { return !block(i); });
  if (failing->count()) set.removeIndexes(*failing);
}
void MutableIndexSetBlocks::performReject(ns::MutableIndexSet& set, const IndexTest& block) {
  performSelect(set, negated(block));
}
void MutableIndexSetBlocks::performMap(ns::MutableIndexSet& set, const IndexMapping& block) {
  auto mapped = ns::MutableIndexSet::indexSet();
  IndexSetBlocks::each(set, [&](std::size_t i) { mapped->addIndex(block(i)); });
  set.removeAllIndexes();
  set.addIndexes(*mapped);
}
