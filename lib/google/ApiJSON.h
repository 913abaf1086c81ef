#pragma once
// The mutable JSON tree behind the Data API model objects. A model object keeps its reply's
// dictionary by reference and a child object holds the very member of its parent, so an edit
// through the child is an edit of the parent: the containers are shared objects, held inside
// ns::Value as object references. Leaves are ordinary Values (strings, numbers with their kind,
// the null marker ns::Value::null()).
//
// Two trees are equal when they hold the same keys and equal leaves; a boolean is not equal to
// the number 1 here, as the two are different JSON.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/core/Object.h"
#include "platform/core/Value.h"

class ApiJSONArray;

// Hashing of text keys that finds a std::string by a string_view without making one.
struct ApiStringKeyHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view key) const { return std::hash<std::string_view>()(key); }
};
struct ApiStringKeyEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return a == b; }
};

class ApiJSONDictionary : public ns::Object {
 public:
  using Entry = std::pair<std::string, ns::Value>;

  ApiJSONDictionary() = default;
  explicit ApiJSONDictionary(std::size_t capacity) { entries_.reserve(capacity); }
  static ns::Ref<ApiJSONDictionary> dictionary() { return ns::make<ApiJSONDictionary>(); }

  std::size_t count() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  // The value under the key, or nullptr when absent.
  const ns::Value* find(std::string_view key) const;
  // The value under the key, nil when absent.
  ns::Value objectForKey(std::string_view key) const;
  // Replaces the value in place or appends the key; a nil value removes the key.
  void setObject_forKey(ns::Value value, std::string_view key);
  void removeObjectForKey(std::string_view key);
  void removeAllObjects();
  std::vector<std::string> allKeys() const;
  // The entries in the order of the text they were read from (or of insertion).
  const std::vector<Entry>& entries() const { return entries_; }

  // Key-value coding reads entries, as a dictionary does ("snippet.title" through raw JSON).
  ns::Value valueForKey(const std::string& key) const { return objectForKey(key); }

  std::string className() const override { return "NSMutableDictionary"; }
  std::string description() const override;
  bool isEqual(const ns::Object* other) const override;
  std::size_t hash() const override { return entries_.size(); }

 private:
  // Lookups go through the index once a dictionary is larger than a few entries.
  static constexpr std::size_t kIndexFrom = 12;
  void rebuildIndex();
  std::vector<Entry> entries_;
  std::unordered_map<std::string, std::size_t, ApiStringKeyHash, ApiStringKeyEqual> index_;
};

class ApiJSONArray : public ns::Object {
 public:
  ApiJSONArray() = default;
  explicit ApiJSONArray(std::size_t capacity) { items_.reserve(capacity); }
  static ns::Ref<ApiJSONArray> array() { return ns::make<ApiJSONArray>(); }

  std::size_t count() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  // Nil when out of range.
  ns::Value objectAtIndex(std::size_t index) const;
  // A nil value is not added.
  void addObject(ns::Value value);
  void insertObject_atIndex(ns::Value value, std::size_t index);
  void replaceObjectAtIndex_withObject(std::size_t index, ns::Value value);
  void removeObjectAtIndex(std::size_t index);
  void removeAllObjects() { items_.clear(); }
  const std::vector<ns::Value>& items() const { return items_; }

  // Key-value coding answers each element's value, the null marker where it has none.
  ns::Value valueForKey(const std::string& key) const;

  std::string className() const override { return "NSMutableArray"; }
  std::string description() const override;
  bool isEqual(const ns::Object* other) const override;
  std::size_t hash() const override { return items_.size(); }

 private:
  std::vector<ns::Value> items_;
};

// The tree dictionary or array a Value holds, else nullptr.
ns::Ref<ApiJSONDictionary> ApiJSONDictionaryOf(const ns::Value& value);
ns::Ref<ApiJSONArray> ApiJSONArrayOf(const ns::Value& value);
inline bool ApiJSONIsDictionary(const ns::Value& value) {
  return ApiJSONDictionaryOf(value) != nullptr;
}
inline bool ApiJSONIsArray(const ns::Value& value) {
  return ApiJSONArrayOf(value) != nullptr;
}
// The number of elements of a tree container or of a plain array or dictionary, else 0.
std::size_t ApiJSONCount(const ns::Value& value);

// An immutable snapshot: tree containers become ns::Dictionary (string keys) and ns::Array.
// Containers nested deeper than `maxDepth` are left empty, so that a writer bounded at that
// depth still refuses the tree without the copy itself descending without end.
ns::Value ApiJSONSnapshot(const ns::Value& value, std::size_t maxDepth = SIZE_MAX);
// A fresh tree: plain and tree containers alike become new mutable containers; leaves are kept.
ns::Value ApiJSONMutableTree(const ns::Value& value);
ns::Ref<ApiJSONDictionary> ApiJSONMutableDictionary(const ns::Dictionary& dictionary);
// A deep copy of a tree (the same as ApiJSONMutableTree).
inline ns::Value ApiJSONDeepCopy(const ns::Value& value) {
  return ApiJSONMutableTree(value);
}
// JSON equality over trees and plain values alike; booleans differ from numbers.
bool ApiJSONValuesEqual(const ns::Value& a, const ns::Value& b);

// The objects made from JSON values of a model object or query, by key, so that each is made
// once; a nil child removes the entry.
class ApiChildCache {
 public:
  ns::Value childForKey(std::string_view key) const;
  void setChild_forKey(ns::Value child, std::string_view key);
  void clear() { children_.clear(); }

 private:
  std::unordered_map<std::string, ns::Value, ApiStringKeyHash, ApiStringKeyEqual> children_;
};
