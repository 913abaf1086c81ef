#include "platform/core/Value.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/core/NoDestructor.h"
#include "platform/core/Str.h"

namespace ns {

namespace {

// The constants answered for absent values are read by any thread, exit handlers' and queue
// workers' included, while the process exits: never destroyed.
const std::string& emptyString() {
  static const NoDestructor<std::string> s;
  return *s;
}
const Data& emptyData() {
  static const NoDestructor<Data> d;
  return *d;
}
const Array& emptyArray() {
  static const NoDestructor<Array> a;
  return *a;
}
const Dictionary& emptyDictionary() {
  static const NoDestructor<Dictionary> d;
  return *d;
}
const Set& emptySet() {
  static const NoDestructor<Set> s;
  return *s;
}
const Ref<Object>& nullObject() {
  static const NoDestructor<Ref<Object>> o;
  return *o;
}
const Value& nilValue() {
  static const NoDestructor<Value> v;
  return *v;
}

std::size_t mix(std::size_t seed, std::size_t v) {
  return seed ^ (v + 0x9E3779B97F4A7C15ull + (seed << 6) + (seed >> 2));
}

std::string indent(unsigned level) {
  return std::string(level * 4u, ' ');
}

// Inside containers a string is printed bare only when it is made of ASCII letters, digits and
// underscores; anything else is quoted, with non-ASCII characters as \Uxxxx UTF-16 escapes.
bool needsQuotes(std::string_view s) {
  if (s.empty()) return true;
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!plain) return true;
  }
  return false;
}

std::string quoted(std::string_view s) {
  std::string out = "\"";
  for (char16_t u : str::toUtf16(s)) {
    switch (u) {
      case u'"':
        out += "\\\"";
        break;
      case u'\\':
        out += "\\\\";
        break;
      case u'\n':
        out += "\\n";
        break;
      case u'\r':
        out += "\\r";
        break;
      case u'\t':
        out += "\\t";
        break;
      case u'\a':
        out += "\\a";
        break;
      case u'\b':
        out += "\\b";
        break;
      case u'\f':
        out += "\\f";
        break;
      case u'\v':
        out += "\\v";
        break;
      default:
        if (u >= 0x20 && u < 0x7F) {
          out += static_cast<char>(u);
        } else {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\U%04x", static_cast<unsigned>(u));
          out += buf;
        }
    }
  }
  out += '"';
  return out;
}

std::string quoteIfNeeded(const std::string& s) {
  return needsQuotes(s) ? quoted(s) : s;
}

bool isContainer(const Value& v) {
  return v.isArray() || v.isDictionary() || v.isSet();
}

// How an element is printed inside a container at `level`.
std::string elementText(const Value& v, unsigned level) {
  if (isContainer(v)) return v.descriptionWithIndent(level);
  return quoteIfNeeded(v.description());
}

}  // namespace

// ---- construction ----

Value::Value(const char* s) {
  if (s) v_ = std::make_shared<const std::string>(s);
}
Value::Value(std::string s) : v_(std::make_shared<const std::string>(std::move(s))) {}
Value::Value(const std::optional<std::string>& s) {
  if (s) v_ = std::make_shared<const std::string>(*s);
}
Value::Storage Value::objectStorage(Ref<ns::Object> object) {
  if (!object) return Storage();
  return Storage(std::in_place_type<Ref<ns::Object>>, std::move(object));
}
Value::Value(ns::Array a) : v_(std::make_shared<const ns::Array>(std::move(a))) {}
Value::Value(ns::Dictionary d) : v_(std::make_shared<const ns::Dictionary>(std::move(d))) {}
Value::Value(ns::Set s) : v_(std::make_shared<const ns::Set>(std::move(s))) {}

// ---- getters ----

Number Value::number() const {
  return isNumber() ? std::get<Number>(v_) : Number();
}
const std::string& Value::string() const {
  return isString() ? *std::get<std::shared_ptr<const std::string>>(v_) : emptyString();
}
const Data& Value::data() const {
  return isData() ? std::get<ns::Data>(v_) : emptyData();
}
Date Value::date() const {
  return isDate() ? std::get<ns::Date>(v_) : ns::Date();
}
const Array& Value::array() const {
  return isArray() ? *std::get<std::shared_ptr<const ns::Array>>(v_) : emptyArray();
}
const Dictionary& Value::dictionary() const {
  return isDictionary() ? *std::get<std::shared_ptr<const ns::Dictionary>>(v_) : emptyDictionary();
}
const Set& Value::set() const {
  return isSet() ? *std::get<std::shared_ptr<const ns::Set>>(v_) : emptySet();
}
const Ref<Object>& Value::object() const {
  return isObject() ? std::get<Ref<ns::Object>>(v_) : nullObject();
}
std::optional<std::string> Value::optionalString() const {
  if (!isString()) return std::nullopt;
  return string();
}

int Value::intValue() const {
  if (isNumber()) return number().intValue();
  if (isString()) return str::intValue(string());
  return 0;
}
long Value::integerValue() const {
  if (isNumber()) return number().integerValue();
  if (isString()) return str::integerValue(string());
  return 0;
}
long long Value::longLongValue() const {
  if (isNumber()) return number().longLongValue();
  if (isString()) return str::longLongValue(string());
  return 0;
}
unsigned long long Value::unsignedLongLongValue() const {
  if (isNumber()) return number().unsignedLongLongValue();
  if (isString()) return static_cast<unsigned long long>(str::longLongValue(string()));
  return 0;
}
double Value::doubleValue() const {
  if (isNumber()) return number().doubleValue();
  if (isString()) return str::doubleValue(string());
  return 0.0;
}
bool Value::boolValue() const {
  if (isNumber()) return number().boolValue();
  if (isString()) return str::boolValue(string());
  return false;
}
std::string Value::stringValue() const {
  if (isString()) return string();
  if (isNumber()) return number().description();
  return std::string();
}

// ---- containers ----

std::size_t Value::count() const {
  switch (kind()) {
    case Kind::Array:
      return array().size();
    case Kind::Dictionary:
      return dictionary().count();
    case Kind::Set:
      return set().count();
    default:
      return 0;
  }
}

const Value& Value::operator[](std::size_t index) const {
  if (!isArray()) return nilValue();
  const Array& a = array();
  return index < a.size() ? a[index] : nilValue();
}

const Value& Value::operator[](const Value& key) const {
  if (!isDictionary()) return nilValue();
  return dictionary().objectForKey(key);
}

namespace {
template <class T>
T* unshare(std::shared_ptr<const T>& p) {
  if (p.use_count() > 1) p = std::make_shared<const T>(*p);
  return const_cast<T*>(p.get());
}
}  // namespace

Array* Value::mutableArray() {
  if (!isArray()) return nullptr;
  return unshare(std::get<std::shared_ptr<const ns::Array>>(v_));
}
Dictionary* Value::mutableDictionary() {
  if (!isDictionary()) return nullptr;
  return unshare(std::get<std::shared_ptr<const ns::Dictionary>>(v_));
}
Set* Value::mutableSet() {
  if (!isSet()) return nullptr;
  return unshare(std::get<std::shared_ptr<const ns::Set>>(v_));
}

// ---- description ----

std::string Value::description() const {
  switch (kind()) {
    case Kind::Nil:
      return "(null)";
    case Kind::Null:
      return "<null>";
    case Kind::Number:
      return number().description();
    case Kind::String:
      return string();
    case Kind::Data:
      return data().description();
    case Kind::Date:
      return date().description();
    case Kind::Object:
      return object()->description();
    default:
      return descriptionWithIndent(0);
  }
}

std::string Value::descriptionWithIndent(unsigned level) const {
  const std::string pad = indent(level);
  const std::string inner = indent(level + 1);
  switch (kind()) {
    case Kind::Array:
    case Kind::Set: {
      const Array& items = isArray() ? array() : set().allObjects();
      std::string out = pad + (isSet() ? "{(" : "(") + "\n";
      for (std::size_t i = 0; i < items.size(); ++i) {
        out += inner + elementText(items[i], level + 1);
        out += i + 1 < items.size() ? ",\n" : "\n";
      }
      out += pad + (isSet() ? ")}" : ")");
      return out;
    }
    case Kind::Dictionary: {
      // With string keys only the entries are sorted by key, as the platform prints them;
      // otherwise they keep their insertion order.
      std::vector<const Dictionary::Entry*> entries;
      bool allStrings = true;
      for (const auto& e : dictionary()) {
        entries.push_back(&e);
        allStrings = allStrings && e.first.isString();
      }
      if (allStrings) {
        std::stable_sort(entries.begin(), entries.end(),
                         [](const Dictionary::Entry* a, const Dictionary::Entry* b) {
                           return str::compare(a->first.string(), b->first.string()) == OrderedAscending;
                         });
      }
      std::string out = pad + "{\n";
      for (const auto* e : entries) {
        out += inner + elementText(e->first, level + 1) + " = " + elementText(e->second, level + 1) + ";\n";
      }
      out += pad + "}";
      return out;
    }
    default:
      return description();
  }
}

// ---- equality, hashing, ordering ----

bool Value::isEqual(const Value& other) const {
  if (kind() != other.kind()) return false;
  switch (kind()) {
    case Kind::Nil:
    case Kind::Null:
      return true;
    case Kind::Number:
      return number() == other.number();
    case Kind::String: {
      const auto& a = std::get<std::shared_ptr<const std::string>>(v_);
      const auto& b = std::get<std::shared_ptr<const std::string>>(other.v_);
      return a == b || *a == *b;
    }
    case Kind::Data:
      return data() == other.data();
    case Kind::Date:
      return date() == other.date();
    case Kind::Array: {
      const auto& a = std::get<std::shared_ptr<const ns::Array>>(v_);
      const auto& b = std::get<std::shared_ptr<const ns::Array>>(other.v_);
      return a == b || *a == *b;
    }
    case Kind::Dictionary:
      return dictionary() == other.dictionary();
    case Kind::Set:
      return set() == other.set();
    case Kind::Object: {
      const auto& a = object();
      const auto& b = other.object();
      return a == b || a->isEqual(b.get());
    }
  }
  return false;
}

std::size_t Value::hash() const {
  switch (kind()) {
    case Kind::Nil:
      return 0;
    case Kind::Null:
      return 0x6e756c6cu;
    case Kind::Number:
      return number().hash();
    case Kind::String:
      return std::hash<std::string>()(string());
    case Kind::Data:
      return data().hash();
    case Kind::Date:
      return date().hash();
    case Kind::Array: {
      const Array& a = array();
      std::size_t h = mix(0xa77a, a.size());
      // A few leading elements are enough to spread arrays without hashing big trees.
      for (std::size_t i = 0; i < a.size() && i < 3; ++i) h = mix(h, a[i].hash());
      return h;
    }
    case Kind::Dictionary:
      return dictionary().hash();
    case Kind::Set:
      return set().hash();
    case Kind::Object:
      return object()->hash();
  }
  return 0;
}

ComparisonResult Value::compare(const Value& other) const {
  if (kind() != other.kind()) return kind() < other.kind() ? OrderedAscending : OrderedDescending;
  switch (kind()) {
    case Kind::Number:
      return number().compare(other.number());
    case Kind::String:
      return str::compare(string(), other.string());
    case Kind::Date:
      return date().compare(other.date());
    case Kind::Data: {
      int r = data().view().compare(other.data().view());
      return r < 0 ? OrderedAscending : r > 0 ? OrderedDescending : OrderedSame;
    }
    case Kind::Array: {
      const Array& a = array();
      const Array& b = other.array();
      for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        ComparisonResult r = a[i].compare(b[i]);
        if (r != OrderedSame) return r;
      }
      return a.size() < b.size() ? OrderedAscending : a.size() > b.size() ? OrderedDescending : OrderedSame;
    }
    default: {
      std::size_t a = count(), b = other.count();
      return a < b ? OrderedAscending : a > b ? OrderedDescending : OrderedSame;
    }
  }
}

// ---- Dictionary ----

Dictionary::Dictionary(std::initializer_list<Entry> entries) {
  for (const auto& e : entries) set(e.first, e.second);
}

const Value* Dictionary::find(const Value& key) const {
  auto it = index_.find(key);
  return it == index_.end() ? nullptr : &entries_[it->second].second;
}

const Value& Dictionary::objectForKey(const Value& key) const {
  const Value* v = find(key);
  return v ? *v : nilValue();
}

void Dictionary::set(const Value& key, Value value) {
  // A nil key cannot be looked up again; ignore it rather than store an unreachable entry.
  if (key.isNil()) return;
  if (value.isNil()) {
    remove(key);
    return;
  }
  auto it = index_.find(key);
  if (it != index_.end()) {
    entries_[it->second].second = std::move(value);
    return;
  }
  index_.emplace(key, entries_.size());
  entries_.emplace_back(key, std::move(value));
}

bool Dictionary::remove(const Value& key) {
  auto it = index_.find(key);
  if (it == index_.end()) return false;
  std::size_t pos = it->second;
  index_.erase(it);
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(pos));
  for (auto& [k, i] : index_)
    if (i > pos) --i;
  return true;
}

void Dictionary::removeAllObjects() {
  entries_.clear();
  index_.clear();
}

void Dictionary::addEntriesFromDictionary(const Dictionary& other) {
  for (const auto& [k, v] : other) set(k, v);
}

std::vector<Value> Dictionary::allKeys() const {
  std::vector<Value> keys;
  keys.reserve(entries_.size());
  for (const auto& e : entries_) keys.push_back(e.first);
  return keys;
}

std::vector<Value> Dictionary::allValues() const {
  std::vector<Value> values;
  values.reserve(entries_.size());
  for (const auto& e : entries_) values.push_back(e.second);
  return values;
}

bool operator==(const Dictionary& a, const Dictionary& b) {
  if (&a == &b) return true;
  if (a.count() != b.count()) return false;
  for (const auto& [k, v] : a) {
    const Value* other = b.find(k);
    if (!other || !(*other == v)) return false;
  }
  return true;
}

std::size_t Dictionary::hash() const {
  return mix(0xd1c7, entries_.size());
}

// ---- Set ----

Set::Set(std::initializer_list<Value> items) {
  for (const auto& v : items) add(v);
}
Set::Set(const Array& items) {
  for (const auto& v : items) add(v);
}

bool Set::add(const Value& v) {
  if (v.isNil() || index_.count(v)) return false;
  index_.emplace(v, items_.size());
  items_.push_back(v);
  return true;
}

bool Set::remove(const Value& v) {
  auto it = index_.find(v);
  if (it == index_.end()) return false;
  std::size_t pos = it->second;
  index_.erase(it);
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(pos));
  for (auto& [k, i] : index_)
    if (i > pos) --i;
  return true;
}

void Set::removeAllObjects() {
  items_.clear();
  index_.clear();
}

bool operator==(const Set& a, const Set& b) {
  if (&a == &b) return true;
  if (a.count() != b.count()) return false;
  return std::all_of(a.begin(), a.end(), [&](const Value& v) { return b.contains(v); });
}

std::size_t Set::hash() const {
  return mix(0x5e7, items_.size());
}

}  // namespace ns
