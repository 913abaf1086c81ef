#pragma once
// An ordered collection of distinct Values (NSOrderedSet / NSMutableOrderedSet): the order is
// the order of insertion, an element equal to one already present is not added again.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <unordered_map>
#include <vector>

#include "platform/core/Types.h"
#include "platform/core/Value.h"

namespace ns {

class OrderedSet {
 public:
  using const_iterator = Array::const_iterator;

  OrderedSet() = default;
  OrderedSet(std::initializer_list<Value> items);
  // orderedSetWithArray: later elements equal to earlier ones are dropped.
  explicit OrderedSet(const Array& items);

  std::size_t count() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  // Raises NSRangeException beyond the end.
  const Value& objectAtIndex(std::size_t index) const;
  std::size_t indexOfObject(const Value& v) const;  // NotFound when absent
  bool containsObject(const Value& v) const { return index_.count(v) != 0; }
  const Array& array() const { return items_; }
  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }

  // Answers false when an equal value was already there (nil is never added).
  bool addObject(const Value& v);
  void removeObject(const Value& v);
  // `indexes` ascending; out-of-range indexes raise NSRangeException before anything changes.
  void removeObjectsAtIndexes(const std::vector<std::size_t>& indexes);
  // Replaces the element at each index by the matching object; where a new object equals an
  // element kept elsewhere, the later of the two goes, so the elements stay distinct.
  void replaceObjectsAtIndexes_withObjects(const std::vector<std::size_t>& indexes, const Array& objects);
  void removeAllObjects();

  friend bool operator==(const OrderedSet& a, const OrderedSet& b) { return a.items_ == b.items_; }

 private:
  void rebuildIndex();
  Array items_;
  std::unordered_map<Value, std::size_t, Value::Hasher> index_;
};

}  // namespace ns
