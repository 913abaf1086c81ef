#include "lib/google/ApiJSON.h"

#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/KeyValueCoding.h"

namespace {

bool sameNumberKind(const ns::Value& a, const ns::Value& b) {
  return a.number().isBool() == b.number().isBool();
}

}  // namespace

PL_CLASS(ApiJSONDictionary, ns::Object) {
  cls.method<&ApiJSONDictionary::valueForKey>("valueForKey:");
}
PL_CLASS(ApiJSONArray, ns::Object) {
  cls.method<&ApiJSONArray::valueForKey>("valueForKey:");
}

// Dictionary.

const ns::Value* ApiJSONDictionary::find(std::string_view key) const {
  if (!index_.empty()) {
    auto it = index_.find(key);
    return it == index_.end() ? nullptr : &entries_[it->second].second;
  }
  for (const Entry& e : entries_) {
    if (e.first == key) return &e.second;
  }
  return nullptr;
}

ns::Value ApiJSONDictionary::objectForKey(std::string_view key) const {
  const ns::Value* v = find(key);
  return v ? *v : ns::Value();
}

void ApiJSONDictionary::setObject_forKey(ns::Value value, std::string_view key) {
  if (value.isNil()) {
    removeObjectForKey(key);
    return;
  }
  if (const ns::Value* existing = find(key)) {
    *const_cast<ns::Value*>(existing) = std::move(value);
    return;
  }
  entries_.emplace_back(std::string(key), std::move(value));
  if (!index_.empty()) {
    index_.emplace(entries_.back().first, entries_.size() - 1);
  } else if (entries_.size() >= kIndexFrom) {
    rebuildIndex();
  }
}

void ApiJSONDictionary::removeObjectForKey(std::string_view key) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->first == key) {
      entries_.erase(it);
      if (!index_.empty()) rebuildIndex();
      return;
    }
  }
}

void ApiJSONDictionary::removeAllObjects() {
  entries_.clear();
  index_.clear();
}

void ApiJSONDictionary::rebuildIndex() {
  index_.clear();
  if (entries_.size() < kIndexFrom) return;
  index_.reserve(entries_.size() * 2);
  for (std::size_t i = 0; i < entries_.size(); ++i) index_.emplace(entries_[i].first, i);
}

std::vector<std::string> ApiJSONDictionary::allKeys() const {
  std::vector<std::string> keys;
  keys.reserve(entries_.size());
  for (const Entry& e : entries_) keys.push_back(e.first);
  return keys;
}

std::string ApiJSONDictionary::description() const {
  return ApiJSONSnapshot(ns::Value(self<ApiJSONDictionary>())).description();
}

bool ApiJSONDictionary::isEqual(const ns::Object* other) const {
  auto* o = dynamic_cast<const ApiJSONDictionary*>(other);
  if (!o) return false;
  if (o == this) return true;
  if (o->count() != count()) return false;
  for (const Entry& e : entries_) {
    const ns::Value* v = o->find(e.first);
    if (!v || !ApiJSONValuesEqual(e.second, *v)) return false;
  }
  return true;
}

// Array.

ns::Value ApiJSONArray::objectAtIndex(std::size_t index) const {
  return index < items_.size() ? items_[index] : ns::Value();
}

void ApiJSONArray::addObject(ns::Value value) {
  if (!value.isNil()) items_.push_back(std::move(value));
}

void ApiJSONArray::insertObject_atIndex(ns::Value value, std::size_t index) {
  if (value.isNil()) return;
  if (index > items_.size()) index = items_.size();
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), std::move(value));
}

void ApiJSONArray::replaceObjectAtIndex_withObject(std::size_t index, ns::Value value) {
  if (index < items_.size() && !value.isNil()) items_[index] = std::move(value);
}

void ApiJSONArray::removeObjectAtIndex(std::size_t index) {
  if (index < items_.size()) items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
}

ns::Value ApiJSONArray::valueForKey(const std::string& key) const {
  ns::Array out;
  out.reserve(items_.size());
  for (const ns::Value& item : items_) {
    ns::Value v = ns::valueForKeyPathOfValue(item, key);
    out.push_back(v.isNil() ? ns::Value::null() : v);
  }
  return ns::Value(std::move(out));
}

std::string ApiJSONArray::description() const {
  return ApiJSONSnapshot(ns::Value(self<ApiJSONArray>())).description();
}

bool ApiJSONArray::isEqual(const ns::Object* other) const {
  auto* o = dynamic_cast<const ApiJSONArray*>(other);
  if (!o) return false;
  if (o == this) return true;
  if (o->items_.size() != items_.size()) return false;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (!ApiJSONValuesEqual(items_[i], o->items_[i])) return false;
  }
  return true;
}

// Helpers.

ns::Ref<ApiJSONDictionary> ApiJSONDictionaryOf(const ns::Value& value) {
  if (!value.isObject()) return nullptr;
  return std::dynamic_pointer_cast<ApiJSONDictionary>(value.object());
}

ns::Ref<ApiJSONArray> ApiJSONArrayOf(const ns::Value& value) {
  if (!value.isObject()) return nullptr;
  return std::dynamic_pointer_cast<ApiJSONArray>(value.object());
}

std::size_t ApiJSONCount(const ns::Value& value) {
  if (value.isObject()) {
    if (auto* d = dynamic_cast<const ApiJSONDictionary*>(value.object().get())) return d->count();
    if (auto* a = dynamic_cast<const ApiJSONArray*>(value.object().get())) return a->count();
    return 0;
  }
  return value.count();
}

ns::Value ApiJSONSnapshot(const ns::Value& value, std::size_t maxDepth) {
  bool container =
      ApiJSONIsDictionary(value) || ApiJSONIsArray(value) || value.isArray() || value.isDictionary();
  if (container && maxDepth == 0) return ns::Value(ns::Array());
  if (value.isObject()) {
    if (auto* d = dynamic_cast<const ApiJSONDictionary*>(value.object().get())) {
      ns::Dictionary out;
      for (const auto& [key, v] : d->entries()) out.set(ns::Value(key), ApiJSONSnapshot(v, maxDepth - 1));
      return ns::Value(std::move(out));
    }
    if (auto* a = dynamic_cast<const ApiJSONArray*>(value.object().get())) {
      ns::Array out;
      out.reserve(a->count());
      for (const ns::Value& v : a->items()) out.push_back(ApiJSONSnapshot(v, maxDepth - 1));
      return ns::Value(std::move(out));
    }
    return value;
  }
  if (value.isArray()) {
    ns::Array out;
    for (const ns::Value& v : value.array()) out.push_back(ApiJSONSnapshot(v, maxDepth - 1));
    return ns::Value(std::move(out));
  }
  if (value.isDictionary()) {
    ns::Dictionary out;
    for (const auto& [k, v] : value.dictionary()) out.set(k, ApiJSONSnapshot(v, maxDepth - 1));
    return ns::Value(std::move(out));
  }
  return value;
}

ns::Ref<ApiJSONDictionary> ApiJSONMutableDictionary(const ns::Dictionary& dictionary) {
  auto out = ns::make<ApiJSONDictionary>(dictionary.count());
  for (const auto& [k, v] : dictionary) {
    // JSON keys are text; anything else is kept under its description.
    out->setObject_forKey(ApiJSONMutableTree(v), k.isString() ? k.string() : k.description());
  }
  return out;
}

ns::Value ApiJSONMutableTree(const ns::Value& value) {
  if (value.isObject()) {
    if (auto* d = dynamic_cast<const ApiJSONDictionary*>(value.object().get())) {
      auto out = ns::make<ApiJSONDictionary>(d->count());
      for (const auto& [key, v] : d->entries()) out->setObject_forKey(ApiJSONMutableTree(v), key);
      return ns::Value(out);
    }
    if (auto* a = dynamic_cast<const ApiJSONArray*>(value.object().get())) {
      auto out = ns::make<ApiJSONArray>(a->count());
      for (const ns::Value& v : a->items()) out->addObject(ApiJSONMutableTree(v));
      return ns::Value(out);
    }
    return value;
  }
  if (value.isArray()) {
    auto out = ns::make<ApiJSONArray>(value.count());
    for (const ns::Value& v : value.array()) out->addObject(ApiJSONMutableTree(v));
    return ns::Value(out);
  }
  if (value.isDictionary()) return ns::Value(ApiJSONMutableDictionary(value.dictionary()));
  return value;
}

bool ApiJSONValuesEqual(const ns::Value& a, const ns::Value& b) {
  bool aTree = a.isObject() && (ApiJSONIsDictionary(a) || ApiJSONIsArray(a));
  bool bTree = b.isObject() && (ApiJSONIsDictionary(b) || ApiJSONIsArray(b));
  if (aTree || bTree) {
    if (aTree && bTree) return a.object()->isEqual(b.object().get());
    // A tree against a plain container: compare their snapshots.
    return ApiJSONValuesEqual(ApiJSONSnapshot(a), ApiJSONSnapshot(b));
  }
  if (a.isNumber() && b.isNumber()) return sameNumberKind(a, b) && a.number() == b.number();
  if (a.isArray() && b.isArray()) {
    if (a.count() != b.count()) return false;
    for (std::size_t i = 0; i < a.count(); ++i) {
      if (!ApiJSONValuesEqual(a[i], b[i])) return false;
    }
    return true;
  }
  if (a.isDictionary() && b.isDictionary()) {
    if (a.count() != b.count()) return false;
    for (const auto& [k, v] : a.dictionary()) {
      const ns::Value* other = b.dictionary().find(k);
      if (!other || !ApiJSONValuesEqual(v, *other)) return false;
    }
    return true;
  }
  return a == b;
}

ns::Value ApiChildCache::childForKey(std::string_view key) const {
  auto it = children_.find(key);
  return it == children_.end() ? ns::Value() : it->second;
}

void ApiChildCache::setChild_forKey(ns::Value child, std::string_view key) {
  auto it = children_.find(key);
  if (child.isNil()) {
    if (it != children_.end()) children_.erase(it);
  } else if (it != children_.end()) {
    it->second = std::move(child);
  } else {
    children_.emplace(std::string(key), std::move(child));
  }
}
