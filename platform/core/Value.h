#pragma once
// The dynamic value: what the system keeps as an untyped object (JSON and property-list values,
// user defaults, notification user info, database arguments, mixed arrays). A Value is immutable
// and copies share their contents, so passing one around is cheap.
//
// Kinds: nil (a default-constructed Value: "no object"), the null marker, number, string (UTF-8),
// data, date, array, dictionary (insertion order kept, any Value as key), set, object reference.
//
// Equality is the platform's: 18 == 18.0, YES == 1, strings by their UTF-16 code units, containers
// element by element (dictionaries and sets regardless of order), objects by isEqual. hash()
// agrees with equality.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Date.h"
#include "platform/core/Number.h"
#include "platform/core/Object.h"
#include "platform/core/Types.h"

namespace ns {

class Value;
class Dictionary;
class Set;
using Array = std::vector<Value>;

// The null marker (NSNull): an object that stands for "nothing" inside containers.
struct Null {
  friend constexpr bool operator==(Null, Null) { return true; }
};

class Value {
 public:
  enum class Kind : std::uint8_t { Nil, Null, Number, String, Data, Date, Array, Dictionary, Set, Object };

  Value() = default;
  Value(std::nullptr_t) {}
  Value(Null) : v_(Null{}) {}
  Value(Number n) : v_(n) {}
  Value(bool v) : v_(Number(v)) {}
  Value(signed char v) : v_(Number(v)) {}
  Value(short v) : v_(Number(v)) {}
  Value(int v) : v_(Number(v)) {}
  Value(long v) : v_(Number(v)) {}
  Value(long long v) : v_(Number(v)) {}
  Value(unsigned char v) : v_(Number(v)) {}
  Value(unsigned short v) : v_(Number(v)) {}
  Value(unsigned int v) : v_(Number(v)) {}
  Value(unsigned long v) : v_(Number(v)) {}
  Value(unsigned long long v) : v_(Number(v)) {}
  Value(float v) : v_(Number(v)) {}
  Value(double v) : v_(Number(v)) {}
  // A null C string is nil.
  Value(const char* s);
  Value(char* s) : Value(static_cast<const char*>(s)) {}
  // Other raw pointers would silently become booleans.
  template <class T>
  Value(T*) = delete;
  Value(std::string s);
  Value(std::string_view s) : Value(std::string(s)) {}
  // nullopt is nil.
  Value(const std::optional<std::string>& s);
  Value(ns::Data d) : v_(std::move(d)) {}
  Value(const MutableData& d) : v_(d.copy()) {}
  Value(ns::Date d) : v_(d) {}
  Value(ns::Array a);
  // A vector of anything a Value can be made from (not bytes: use Data for those).
  template <class T,
            class = std::enable_if_t<!std::is_same_v<T, Value> && !std::is_same_v<T, std::uint8_t> &&
                                     !std::is_same_v<T, char> && std::is_constructible_v<Value, const T&>>>
  Value(const std::vector<T>& items) : Value(ns::Array(items.begin(), items.end())) {}
  Value(ns::Dictionary d);
  Value(ns::Set s);
  // A null reference is nil.
  template <class T, class = std::enable_if_t<std::is_base_of_v<ns::Object, T>>>
  Value(Ref<T> object)
      : v_(objectStorage(std::const_pointer_cast<std::remove_const_t<T>>(std::move(object)))) {}

  static Value null() { return Value(Null{}); }

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool isNil() const { return kind() == Kind::Nil; }
  bool isNull() const { return kind() == Kind::Null; }
  // Nil or the null marker: the two ways of saying "nothing".
  bool isNilOrNull() const { return isNil() || isNull(); }
  bool isNumber() const { return kind() == Kind::Number; }
  bool isBool() const { return isNumber() && std::get<Number>(v_).isBool(); }
  bool isString() const { return kind() == Kind::String; }
  bool isData() const { return kind() == Kind::Data; }
  bool isDate() const { return kind() == Kind::Date; }
  bool isArray() const { return kind() == Kind::Array; }
  bool isDictionary() const { return kind() == Kind::Dictionary; }
  bool isSet() const { return kind() == Kind::Set; }
  bool isObject() const { return kind() == Kind::Object; }
  explicit operator bool() const { return !isNil(); }

  // Typed getters: the held value, or an empty/zero one for another kind.
  Number number() const;
  const std::string& string() const;
  const ns::Data& data() const;
  ns::Date date() const;
  const ns::Array& array() const;
  const ns::Dictionary& dictionary() const;
  const ns::Set& set() const;
  const Ref<ns::Object>& object() const;
  template <class T>
  Ref<T> objectAs() const {
    return std::dynamic_pointer_cast<T>(object());
  }
  // The string, or nullopt for another kind.
  std::optional<std::string> optionalString() const;

  // The platform's conversions: numbers convert as C does, strings are parsed ("7" is 7,
  // " 12abc" is 12, "yes" is true), anything else is zero.
  int intValue() const;
  long integerValue() const;
  long long longLongValue() const;
  unsigned long long unsignedLongLongValue() const;
  double doubleValue() const;
  float floatValue() const { return static_cast<float>(doubleValue()); }
  bool boolValue() const;
  // The string itself, a number's description, or "" for anything else.
  std::string stringValue() const;

  // Containers. count() is the number of elements of an array, dictionary or set, else 0.
  std::size_t count() const;
  // Array element, nil when out of range or not an array.
  const Value& operator[](std::size_t index) const;
  const Value& objectAtIndex(std::size_t index) const { return (*this)[index]; }
  // Dictionary value, nil when absent or not a dictionary.
  const Value& operator[](const Value& key) const;
  const Value& objectForKey(const Value& key) const { return (*this)[key]; }

  // Copy-on-write access for building values in place: nullptr when the value is of another
  // kind. The pointer is valid until this Value is changed or destroyed.
  ns::Array* mutableArray();
  ns::Dictionary* mutableDictionary();
  ns::Set* mutableSet();

  // What "%@" prints. Strings print bare here; inside containers they are quoted when needed.
  std::string description() const;
  // The container form at an indentation level (four spaces per level), as nested output uses it.
  std::string descriptionWithIndent(unsigned level) const;

  bool isEqual(const Value& other) const;
  friend bool operator==(const Value& a, const Value& b) { return a.isEqual(b); }
  std::size_t hash() const;
  // Orders numbers by value, strings by UTF-16 code units, dates by time; values of different
  // kinds by kind. Used for sorting keys; not a total order over objects.
  ComparisonResult compare(const Value& other) const;

  struct Hasher {
    std::size_t operator()(const Value& v) const { return v.hash(); }
  };

 private:
  using Storage =
      std::variant<std::monostate, Null, Number, std::shared_ptr<const std::string>, ns::Data, ns::Date,
                   std::shared_ptr<const ns::Array>, std::shared_ptr<const ns::Dictionary>,
                   std::shared_ptr<const ns::Set>, Ref<ns::Object>>;
  static Storage objectStorage(Ref<ns::Object> object);
  Storage v_;
};

// Insertion-ordered dictionary keyed by Value equality. Setting an existing key replaces its
// value in place; removing a key keeps the order of the others.
class Dictionary {
 public:
  using Entry = std::pair<Value, Value>;
  using const_iterator = std::vector<Entry>::const_iterator;

  Dictionary() = default;
  Dictionary(std::initializer_list<Entry> entries);

  std::size_t count() const { return entries_.size(); }
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

  // The value for `key`, or nullptr when absent.
  const Value* find(const Value& key) const;
  bool contains(const Value& key) const { return find(key) != nullptr; }
  // The value for `key`, or nil when absent.
  const Value& objectForKey(const Value& key) const;
  const Value& operator[](const Value& key) const { return objectForKey(key); }

  // A nil value removes the key, as setValue:forKey: does.
  void set(const Value& key, Value value);
  void setObject_forKey(Value value, const Value& key) { set(key, std::move(value)); }
  void setValue_forKey(Value value, const Value& key) { set(key, std::move(value)); }
  bool remove(const Value& key);
  void removeObjectForKey(const Value& key) { remove(key); }
  void removeAllObjects();
  void addEntriesFromDictionary(const Dictionary& other);

  std::vector<Value> allKeys() const;
  std::vector<Value> allValues() const;
  const std::vector<Entry>& entries() const { return entries_; }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

  friend bool operator==(const Dictionary& a, const Dictionary& b);
  std::size_t hash() const;
  std::string description() const { return Value(*this).description(); }

 private:
  std::vector<Entry> entries_;
  std::unordered_map<Value, std::size_t, Value::Hasher> index_;
};

// Insertion-ordered set of distinct Values.
class Set {
 public:
  using const_iterator = std::vector<Value>::const_iterator;

  Set() = default;
  Set(std::initializer_list<Value> items);
  explicit Set(const Array& items);

  std::size_t count() const { return items_.size(); }
  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  bool contains(const Value& v) const { return index_.count(v) != 0; }
  bool containsObject(const Value& v) const { return contains(v); }
  // Answers false when an equal value was already there (nil is never added).
  bool add(const Value& v);
  void addObject(const Value& v) { add(v); }
  bool remove(const Value& v);
  void removeObject(const Value& v) { remove(v); }
  void removeAllObjects();

  const Array& allObjects() const { return items_; }
  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }

  friend bool operator==(const Set& a, const Set& b);
  std::size_t hash() const;

 private:
  Array items_;
  std::unordered_map<Value, std::size_t, Value::Hasher> index_;
};

}  // namespace ns

template <>
struct std::hash<ns::Value> {
  std::size_t operator()(const ns::Value& v) const { return v.hash(); }
};
