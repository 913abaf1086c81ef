#include "lib/google/ApiYouTubeModels.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <string_view>
#include <typeinfo>

#include "platform/runtime/ClassBuilder.h"

// There are over twelve hundred accessors: each is kept to a look-up of its dispatch record and one
// call into code shared by every field of its kind, and the classes are registered from tables,
// so that this file compiles in reasonable time.

namespace {

// The dispatch record of a generated accessor, found on its first use.
[[gnu::noinline]] const ApiDispatch* dispatchFor(const std::type_info& type, const char* selector) {
  const std::string* name = ns::detail::registeredClassName(type);
  ns::Class cls = name ? ns::NSClassFromString(*name) : nullptr;
  return cls ? ApiRuntimeCommon::dispatchForClass_selector(cls, ns::Sel(selector)) : nullptr;
}

class Slot {
 public:
  const ApiDispatch* get(const std::type_info& type, const char* selector) {
    const ApiDispatch* d = dispatch_.load(std::memory_order_acquire);
    if (!d) {
      d = dispatchFor(type, selector);
      dispatch_.store(d, std::memory_order_release);
    }
    return d;
  }

 private:
  std::atomic<const ApiDispatch*> dispatch_{nullptr};
};

template <class Kind>
[[gnu::noinline]] typename Kind::Get readField(const ApiRuntimeCommon& owner, const ApiDispatch* d) {
  return Kind::fromValue(ApiRuntimeCommon::getValue(const_cast<ApiRuntimeCommon&>(owner), d));
}
template <class Kind>
[[gnu::noinline]] void writeField(ApiRuntimeCommon& owner, const ApiDispatch* d,
                                  const typename Kind::Set& value) {
  ApiRuntimeCommon::setValue(owner, d, Kind::toValue(value));
}
[[gnu::noinline]] ns::Ref<ns::Object> readObject(const ApiRuntimeCommon& owner, const ApiDispatch* d) {
  ns::Value value = ApiRuntimeCommon::getValue(const_cast<ApiRuntimeCommon&>(owner), d);
  return value.isObject() ? value.object() : nullptr;
}
[[gnu::noinline]] void writeObject(ApiRuntimeCommon& owner, const ApiDispatch* d,
                                   const ns::Ref<ns::Object>& object) {
  ApiRuntimeCommon::setValue(owner, d, object ? ns::Value(object) : ns::Value());
}

template <class Kind>
struct FieldAccess {
  static typename Kind::Get get(const ApiRuntimeCommon& owner, const ApiDispatch* d) {
    return readField<Kind>(owner, d);
  }
  static void set(ApiRuntimeCommon& owner, const ApiDispatch* d, const typename Kind::Set& value) {
    writeField<Kind>(owner, d, value);
  }
};
// A part: an object of the declared class, or nothing when the JSON holds something else.
template <class T>
struct FieldAccess<ApiModelProperty<T>> {
  static ns::Ref<T> get(const ApiRuntimeCommon& owner, const ApiDispatch* d) {
    return std::dynamic_pointer_cast<T>(readObject(owner, d));
  }
  static void set(ApiRuntimeCommon& owner, const ApiDispatch* d, const ns::Ref<T>& value) {
    writeObject(owner, d, value);
  }
};

}  // namespace

#define API_YOUTUBE_ACCESSOR_BODIES_(C, name, setter, Kind)                 \
  Kind::Get C::name() const {                                               \
    static Slot slot;                                                       \
    return FieldAccess<Kind>::get(*this, slot.get(typeid(C), #name));       \
  }                                                                         \
  void C::setter(const Kind::Set& value) {                                  \
    static Slot slot;                                                       \
    FieldAccess<Kind>::set(*this, slot.get(typeid(C), #setter ":"), value); \
  }
#define API_YOUTUBE_CLASS_BODIES_(Name, Super, Kind) Name##_PROPERTIES(API_YOUTUBE_ACCESSOR_BODIES_, Name)
API_YOUTUBE_CLASSES(API_YOUTUBE_CLASS_BODIES_)
#undef API_YOUTUBE_CLASS_BODIES_
#undef API_YOUTUBE_ACCESSOR_BODIES_

namespace {

struct FieldEntry {
  const char* name;
  std::string (*attributes)();
};

struct ArrayClassEntry {
  const char* className;
  const char* jsonKey;
  const char* elementClass;
};

#define API_YOUTUBE_ARRAY_ENTRY_(Class, Key, Element) {#Class, Key, Element},
const ArrayClassEntry kArrayClasses[] = {API_YOUTUBE_ARRAY_CLASSES(API_YOUTUBE_ARRAY_ENTRY_)};
#undef API_YOUTUBE_ARRAY_ENTRY_

// The four JSON keys that are not property names.
const std::pair<const char*, const char*> kKeyExceptions[] = {
    {"identifier", "id"},
    {"ETag", "etag"},
    {"descriptionProperty", "description"},
    {"defaultProperty", "default"},
};

// The declared fields of one class (up to the entry without a name), its key exceptions, the
// element classes of its arrays and its kind (registered when the runtime starts).
void declareModelClass(ns::Class cls, const FieldEntry* fields, const char* kind) {
  ns::Dictionary keyMap;
  for (const FieldEntry* field = fields; field->name; ++field) {
    ns::class_addProperty(cls, field->name, field->attributes());
    for (const auto& [name, key] : kKeyExceptions) {
      if (std::strcmp(field->name, name) == 0) keyMap.set(ns::Value(name), ns::Value(key));
    }
  }
  ApiModelSchema schema(cls);
  if (*kind) schema.kind(kind);
  if (!keyMap.empty()) schema.propertyToJSONKeyMap(keyMap);
  ns::Dictionary arrays;
  for (const ArrayClassEntry& entry : kArrayClasses) {
    if (cls->name() == entry.className) arrays.set(ns::Value(entry.jsonKey), ns::Value(entry.elementClass));
  }
  if (!arrays.empty()) schema.arrayPropertyToClassMap(arrays);
}

template <class C>
struct ModelTable;

#define API_YOUTUBE_FIELD_(C, name, setter, Kind) {#name, &Kind::attributes},
#define API_YOUTUBE_TABLE_(Name, Super, Kind)                                                               \
  template <>                                                                                               \
  struct ModelTable<Name> {                                                                                 \
    static constexpr FieldEntry fields[] = {Name##_PROPERTIES(API_YOUTUBE_FIELD_, Name){nullptr, nullptr}}; \
    static constexpr const char* kind = Kind;                                                               \
  };
API_YOUTUBE_CLASSES(API_YOUTUBE_TABLE_)
#undef API_YOUTUBE_TABLE_
#undef API_YOUTUBE_FIELD_

std::function<void(ns::ClassRecord*)> declareModelClassBody(const FieldEntry* fields, const char* kind) {
  return [fields, kind](ns::ClassRecord* cls) { declareModelClass(cls, fields, kind); };
}

// Through the base pointer, so that all classes share one kind of reference-count block.
template <class C>
ns::Ref<ns::Object> makeModel() {
  return ns::Ref<ns::Object>(static_cast<ns::Object*>(new C));
}
template <class C>
bool isModel(const ns::Object* object) {
  return dynamic_cast<const C*>(object) != nullptr;
}

// The registration that ClassBuilder's declareClass makes, with the parts that do not depend on
// the class shared by all of them.
template <class C, class Super>
bool registerModelClass(const char* name) {
  ns::runtime::ClassRegistration registration;
  registration.name = name;
  registration.type = &typeid(C);
  registration.superType = &typeid(Super);
  registration.factory = &makeModel<C>;
  registration.isInstance = &isModel<C>;
  registration.body = declareModelClassBody(ModelTable<C>::fields, ModelTable<C>::kind);
  ns::runtime::registerClass(std::move(registration));
  return true;
}

#define API_YOUTUBE_REGISTER_(Name, Super, Kind) registerModelClass<Name, Super>(#Name),
[[maybe_unused]] const bool kRegistered[] = {API_YOUTUBE_CLASSES(API_YOUTUBE_REGISTER_)};
#undef API_YOUTUBE_REGISTER_

}  // namespace

ns::Class ApiYouTubeModelClassNamed(const std::string& name) {
  return ns::NSClassFromString(name);
}
