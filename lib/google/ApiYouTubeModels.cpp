#include "lib/google/ApiYouTubeModels.h"

#include <cstring>
#include <string_view>

#include "platform/runtime/ClassBuilder.h"

// The accessors: each finds its dispatch record once and then reads or writes the JSON through
// the row of the type table its property was declared with.
#define API_YOUTUBE_ACCESSOR_BODIES_(C, name, setter, Kind)                                        \
  Kind::Get C::name() const {                                                                      \
    static ApiDispatchSlot slot;                                                                   \
    return Kind::fromValue(ApiRuntimeCommon::getValue(const_cast<C&>(*this), slot.get<C>(#name))); \
  }                                                                                                \
  void C::setter(const Kind::Set& value) {                                                         \
    static ApiDispatchSlot slot;                                                                   \
    ApiRuntimeCommon::setValue(*this, slot.get<C>(#setter ":"), Kind::toValue(value));             \
  }
#define API_YOUTUBE_CLASS_BODIES_(Name, Super, Kind) Name##_PROPERTIES(API_YOUTUBE_ACCESSOR_BODIES_, Name)
API_YOUTUBE_CLASSES(API_YOUTUBE_CLASS_BODIES_)
#undef API_YOUTUBE_CLASS_BODIES_
#undef API_YOUTUBE_ACCESSOR_BODIES_

namespace {

struct ArrayClassEntry {
  const char* className;
  const char* jsonKey;
  const char* elementClass;
};

#define API_YOUTUBE_ARRAY_ENTRY_(Class, Key, Element) {#Class, Key, Element},
const ArrayClassEntry kArrayClasses[] = {API_YOUTUBE_ARRAY_CLASSES(API_YOUTUBE_ARRAY_ENTRY_)};
#undef API_YOUTUBE_ARRAY_ENTRY_

// The four JSON keys that are not property names.
void noteKeyException(ns::Dictionary& map, std::string_view property) {
  static const std::pair<const char*, const char*> kExceptions[] = {
      {"identifier", "id"},
      {"ETag", "etag"},
      {"descriptionProperty", "description"},
      {"defaultProperty", "default"},
  };
  for (const auto& [name, key] : kExceptions) {
    if (property == name) map.set(ns::Value(name), ns::Value(key));
  }
}

// The schema of one class: its kind (registered when the runtime starts), its key exceptions and
// the element classes of its arrays.
void finishModelClass(ns::Class cls, const char* name, const char* kind, const ns::Dictionary& keyMap) {
  ApiModelSchema schema(cls);
  if (*kind) schema.kind(kind);
  if (!keyMap.empty()) schema.propertyToJSONKeyMap(keyMap);
  ns::Dictionary arrays;
  for (const ArrayClassEntry& entry : kArrayClasses) {
    if (std::strcmp(entry.className, name) == 0)
      arrays.set(ns::Value(entry.jsonKey), ns::Value(entry.elementClass));
  }
  if (!arrays.empty()) schema.arrayPropertyToClassMap(arrays);
}

template <class C>
void registerModelClass(ns::runtime::ClassBuilder<C>& cls);

#define API_YOUTUBE_DECLARE_PROPERTY_(C, name, setter, Kind) \
  cls.declaredProperty(#name, Kind::attributes());           \
  noteKeyException(keyMap, #name);
#define API_YOUTUBE_CLASS_BODY_(Name, Super, Kind)                                                           \
  template <>                                                                                                \
  void registerModelClass<Name>(ns::runtime::ClassBuilder<Name> & cls) {                                     \
    [[maybe_unused]] ns::Dictionary keyMap;                                                                  \
    Name##_PROPERTIES(API_YOUTUBE_DECLARE_PROPERTY_, Name) finishModelClass(cls.cls(), #Name, Kind, keyMap); \
  }
API_YOUTUBE_CLASSES(API_YOUTUBE_CLASS_BODY_)
#undef API_YOUTUBE_CLASS_BODY_
#undef API_YOUTUBE_DECLARE_PROPERTY_

#define API_YOUTUBE_REGISTER_(Name, Super, Kind) \
  ns::runtime::declareClass<Name, Super>(#Name, &registerModelClass<Name>),
[[maybe_unused]] const bool kRegistered[] = {API_YOUTUBE_CLASSES(API_YOUTUBE_REGISTER_)};
#undef API_YOUTUBE_REGISTER_

}  // namespace

ns::Class ApiYouTubeModelClassNamed(const std::string& name) {
  return ns::NSClassFromString(name);
}
