#pragma once
// Dynamic properties over JSON. Model and query classes declare their fields as dynamic
// properties (attribute strings with ",D") and carry no accessor code: the first access of a
// field finds the declared property the selector names, picks its row of the type table by the
// attribute string, and keeps a dispatch record (JSON key, return class, element class) for the
// declaring class and selector. Two entry points share that record:
//   - the object runtime: resolveInstanceMethod: installs a getter or setter, which serves
//     ns::send and key-value coding ("identifier" by key path, the "Title" spelling);
//   - typed C++ accessors, generated from one property table per class:
//
//     #define VIDEO_PROPERTIES(P) P(identifier, setIdentifier, ApiStringProperty)
//         P(viewCount, setViewCount, ApiUInt64Property)
//         P(snippet, setSnippet, ApiModelProperty<VideoSnippet>)      (one line per row, with "\")
//     class Video : public ApiObject {
//      public:
//       VIDEO_PROPERTIES(API_PROPERTY_ACCESSORS)
//     };
//     PL_CLASS(Video, ApiObject) { VIDEO_PROPERTIES(API_DECLARE_PROPERTY) }
//
// A typed getter answers nothing (nullopt, nullptr) for a JSON value of another type; the
// dynamic entry answers the value unchanged, and number rows coerce strings.
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>

#include "lib/google/ApiDateTime.h"
#include "platform/core/Number.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/TypeCodec.h"

// Model class -> the class made in its place (a C++ subclass of it).
using ApiSurrogates = std::shared_ptr<const std::unordered_map<ns::Class, ns::Class>>;
ApiSurrogates ApiMakeSurrogates(std::initializer_list<std::pair<ns::Class, ns::Class>> entries);

// The rows of the type table, in the order they are tried.
enum class ApiPropertyRow : int {
  None = 0,
  Int64 = 1,     // "Tq"
  UInt64 = 2,    // "TQ"
  Float = 3,     // "Tf"
  Double = 4,    // "Td"
  Bool = 5,      // "Tc"
  String = 6,    // T@"NSString"
  Number = 7,    // T@"NSNumber"
  DateTime = 8,  // T@"ApiDateTime"
  Array = 9,     // T@"NSArray"
  Any = 10,      // "T@,"
  Model = 11,    // T@"AnyClass"
};

// What the first access of a field finds; kept for the life of the process.
struct ApiDispatch {
  ns::Class declaringClass = nullptr;
  ApiPropertyRow row = ApiPropertyRow::None;
  ns::Class returnClass = nullptr;     // row 11: the named class (nullptr when none is registered)
  ns::Class containedClass = nullptr;  // row 9: the element class, if any
  std::string jsonKey;
};

// The operations a class needs to carry dynamic properties (model objects, queries).
class ApiRuntimeCommon {
 public:
  virtual ~ApiRuntimeCommon() = default;

  virtual ns::Value JSONValueForKey(std::string_view key) const = 0;
  // A nil value removes the key.
  virtual void setJSONValue_forKey(ns::Value value, std::string_view key) = 0;
  virtual ns::Value cacheChildForKey(std::string_view key) const = 0;
  // A nil child removes the entry.
  virtual void setCacheChild_forKey(ns::Value child, std::string_view key) = 0;
  virtual ApiSurrogates surrogates() const = 0;

  // Runtime entry: installs an accessor for the selector when it names a declared dynamic
  // property of the class or its superclasses up to the class's "ancestorClass".
  static bool resolveInstanceMethod_onClass(ns::Sel sel, ns::Class cls);
  // Only the first record for a class and selector is kept.
  static void setStoredDispatchForClass_selector_returnClass_containedClass_jsonKey(
      ns::Class cls, ns::Sel sel, ns::Class returnClass, ns::Class containedClass,
      const std::string& jsonKey);
  // The record found from the class upwards; each out-value is optional.
  static bool getStoredDispatchForClass_selector_returnClass_containedClass_jsonKey(
      ns::Class cls, ns::Sel sel, ns::Class* returnClass, ns::Class* containedClass, std::string* jsonKey);
  // The record for the class and selector, resolved on first use; nullptr when the selector
  // names no dynamic property.
  static const ApiDispatch* dispatchForClass_selector(ns::Class cls, ns::Sel sel);

  // A JSON value as a getter answers it: dictionaries become model objects (of the default
  // class or ApiObject, or the class of their "kind"), arrays arrays of converted elements,
  // strings date-times when the default class is ApiDateTime.
  static ns::Value objectFromJSON_defaultClass_surrogates_isCacheable(const ns::Value& json,
                                                                      ns::Class defaultClass,
                                                                      const ApiSurrogates& surrogates,
                                                                      bool* isCacheable);
  // A value given to a setter as JSON: model objects give their dictionary (made when they had
  // none, so that parent and child share it), date-times their text, arrays converted arrays.
  static ns::Value jsonFromAPIObject_expectedClass_isCacheable(const ns::Value& object,
                                                               ns::Class expectedClass, bool* isCacheable);

  // The accessors' behaviour by row. Scalar rows answer a number Value.
  static ns::Value getValue(ApiRuntimeCommon& owner, const ApiDispatch* dispatch);
  static void setValue(ApiRuntimeCommon& owner, const ApiDispatch* dispatch, const ns::Value& value);
};

// The runtime class of a registered C++ class (nullptr before the runtime has started).
template <class T>
ns::Class ApiClassOf() {
  const std::string* name = ns::detail::registeredClassName(typeid(T));
  return name ? ns::NSClassFromString(*name) : nullptr;
}

// Property kinds of the typed accessors: the attribute string the property is declared with,
// the C++ types, and the conversion from what the row answers.
struct ApiInt64Property {
  using Get = long long;
  using Set = long long;
  static std::string attributes() { return "Tq,D,N"; }
  static Get fromValue(const ns::Value& v) { return v.longLongValue(); }
  static ns::Value toValue(Set v) { return ns::Value(v); }
};
struct ApiUInt64Property {
  using Get = unsigned long long;
  using Set = unsigned long long;
  static std::string attributes() { return "TQ,D,N"; }
  static Get fromValue(const ns::Value& v) { return v.unsignedLongLongValue(); }
  static ns::Value toValue(Set v) { return ns::Value(v); }
};
struct ApiFloatProperty {
  using Get = float;
  using Set = float;
  static std::string attributes() { return "Tf,D,N"; }
  static Get fromValue(const ns::Value& v) { return v.floatValue(); }
  static ns::Value toValue(Set v) { return ns::Value(v); }
};
struct ApiDoubleProperty {
  using Get = double;
  using Set = double;
  static std::string attributes() { return "Td,D,N"; }
  static Get fromValue(const ns::Value& v) { return v.doubleValue(); }
  static ns::Value toValue(Set v) { return ns::Value(v); }
};
struct ApiBoolProperty {
  using Get = bool;
  using Set = bool;
  static std::string attributes() { return "Tc,D,N"; }
  static Get fromValue(const ns::Value& v) { return v.boolValue(); }
  static ns::Value toValue(Set v) { return ns::Value(v); }
};
struct ApiStringProperty {
  using Get = std::optional<std::string>;
  using Set = std::optional<std::string>;
  static std::string attributes() { return "T@\"NSString\",C,D,N"; }
  static Get fromValue(const ns::Value& v) { return v.optionalString(); }
  static ns::Value toValue(const Set& v) { return ns::Value(v); }
};
struct ApiNumberProperty {
  using Get = std::optional<ns::Number>;
  using Set = std::optional<ns::Number>;
  static std::string attributes() { return "T@\"NSNumber\",&,D,N"; }
  static Get fromValue(const ns::Value& v) { return v.isNumber() ? Get(v.number()) : std::nullopt; }
  static ns::Value toValue(const Set& v) { return v ? ns::Value(*v) : ns::Value(); }
};
struct ApiDateTimeProperty {
  using Get = ns::Ref<ApiDateTime>;
  using Set = ns::Ref<ApiDateTime>;
  static std::string attributes() { return "T@\"ApiDateTime\",&,D,N"; }
  static Get fromValue(const ns::Value& v) { return v.objectAs<ApiDateTime>(); }
  static ns::Value toValue(const Set& v) { return ns::Value(v); }
};
// Elements are converted values: model objects (object Values), strings, numbers. The getter
// answers an empty array for nothing, so that `for (auto& x : list->items())` is safe; a nil
// setter value removes the key.
struct ApiArrayProperty {
  using Get = ns::Array;
  using Set = std::optional<ns::Array>;
  static std::string attributes() { return "T@\"NSArray\",&,D,N"; }
  static Get fromValue(const ns::Value& v) { return v.isArray() ? v.array() : ns::Array(); }
  static ns::Value toValue(const Set& v) { return v ? ns::Value(*v) : ns::Value(); }
};
struct ApiAnyProperty {
  using Get = ns::Value;
  using Set = ns::Value;
  static std::string attributes() { return "T@,&,D,N"; }
  static Get fromValue(const ns::Value& v) { return v; }
  static ns::Value toValue(const Set& v) { return v; }
};
template <class T>
struct ApiModelProperty {
  using Get = ns::Ref<T>;
  using Set = ns::Ref<T>;
  static std::string attributes() {
    const std::string* name = ns::detail::registeredClassName(typeid(T));
    return "T@\"" + (name ? *name : std::string("ApiObject")) + "\",&,D,N";
  }
  static Get fromValue(const ns::Value& v) { return v.objectAs<T>(); }
  static ns::Value toValue(const Set& v) { return ns::Value(v); }
};

// A per-accessor slot for its dispatch record: filled on first use, never cleared.
class ApiDispatchSlot {
 public:
  template <class Owner>
  const ApiDispatch* get(const char* selector) {
    const ApiDispatch* d = dispatch_.load(std::memory_order_acquire);
    if (!d) {
      if (ns::Class cls = ApiClassOf<Owner>()) {
        d = ApiRuntimeCommon::dispatchForClass_selector(cls, ns::Sel(selector));
        dispatch_.store(d, std::memory_order_release);
      }
    }
    return d;
  }

 private:
  std::atomic<const ApiDispatch*> dispatch_{nullptr};
};

// Typed accessors of one property-table row, declared inside the class.
#define API_PROPERTY_ACCESSORS(name, setter, Kind)                                             \
  typename Kind::Get name() const {                                                            \
    static ApiDispatchSlot slot;                                                               \
    using ApiOwner_ = std::remove_cv_t<std::remove_reference_t<decltype(*this)>>;              \
    const ApiDispatch* d = slot.get<ApiOwner_>(#name);                                         \
    return Kind::fromValue(ApiRuntimeCommon::getValue(const_cast<ApiOwner_&>(*this), d));      \
  }                                                                                            \
  void setter(const typename Kind::Set& value) {                                               \
    static ApiDispatchSlot slot;                                                               \
    using ApiOwner_ = std::remove_cv_t<std::remove_reference_t<decltype(*this)>>;              \
    ApiRuntimeCommon::setValue(*this, slot.get<ApiOwner_>(#setter ":"), Kind::toValue(value)); \
  }

// The declared property of one property-table row, inside the class's PL_CLASS body.
#define API_DECLARE_PROPERTY(name, setter, Kind) cls.declaredProperty(#name, Kind::attributes());
