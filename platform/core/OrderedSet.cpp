#include "platform/core/OrderedSet.h"

#include "platform/core/Exception.h"

namespace ns {

OrderedSet::OrderedSet(std::initializer_list<Value> items) {
  for (const auto& v : items) addObject(v);
}

OrderedSet::OrderedSet(const Array& items) {
  for (const auto& v : items) addObject(v);
}

const Value& OrderedSet::objectAtIndex(std::size_t index) const {
  if (index >= items_.size())
    Exception::raise_format(NSRangeException,
                            "*** -[NSOrderedSet objectAtIndex:]: index %lu beyond bounds [0 .. %ld]",
                            static_cast<unsigned long>(index), static_cast<long>(items_.size()) - 1);
  return items_[index];
}

std::size_t OrderedSet::indexOfObject(const Value& v) const {
  auto it = index_.find(v);
  return it == index_.end() ? NotFound : it->second;
}

bool OrderedSet::addObject(const Value& v) {
  if (v.isNil() || index_.count(v)) return false;
  index_.emplace(v, items_.size());
  items_.push_back(v);
  return true;
}

void OrderedSet::removeObject(const Value& v) {
  auto it = index_.find(v);
  if (it == index_.end()) return;
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(it->second));
  rebuildIndex();
}

void OrderedSet::removeObjectsAtIndexes(const std::vector<std::size_t>& indexes) {
  for (auto i : indexes)
    if (i >= items_.size())
      Exception::raise_format(NSRangeException,
                              "*** -[NSMutableOrderedSet removeObjectsAtIndexes:]: index %lu beyond bounds",
                              static_cast<unsigned long>(i));
  std::vector<bool> doomed(items_.size(), false);
  for (auto i : indexes) doomed[i] = true;
  Array kept;
  kept.reserve(items_.size());
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (!doomed[i]) kept.push_back(std::move(items_[i]));
  items_ = std::move(kept);
  rebuildIndex();
}

void OrderedSet::replaceObjectsAtIndexes_withObjects(const std::vector<std::size_t>& indexes,
                                                     const Array& objects) {
  if (indexes.size() != objects.size())
    Exception::raise(NSInvalidArgumentException,
                     "*** -[NSMutableOrderedSet replaceObjectsAtIndexes:withObjects:]: count of array does "
                     "not match count of indexes");
  for (auto i : indexes)
    if (i >= items_.size())
      Exception::raise_format(
          NSRangeException,
          "*** -[NSMutableOrderedSet replaceObjectsAtIndexes:withObjects:]: index %lu beyond bounds",
          static_cast<unsigned long>(i));
  Array next = items_;
  for (std::size_t k = 0; k < indexes.size(); ++k) next[indexes[k]] = objects[k];
  items_.clear();
  index_.clear();
  for (const auto& v : next) addObject(v);
}

void OrderedSet::removeAllObjects() {
  items_.clear();
  index_.clear();
}

void OrderedSet::rebuildIndex() {
  index_.clear();
  for (std::size_t i = 0; i < items_.size(); ++i) index_.emplace(items_[i], i);
}

}  // namespace ns
