#pragma once
// Key-value coding over the runtime: reading and writing properties by name through their
// registered accessors (getKey, key, isKey, _key; setKey:, _setKey:), scalars boxed into
// ns::Value. Each function sends the matching NSObject message, so a class can override it.
// Unknown keys raise "NSUnknownKeyException"; nil for a scalar raises NSInvalidArgumentException
// (setNilValueForKey:). Dictionaries answer their entries; arrays answer an array of their
// elements' values.
#include <string>
#include <string_view>

#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/runtime/TypeCodec.h"

namespace ns {

inline constexpr char NSUnknownKeyException[] = "NSUnknownKeyException";

Value valueForKey(const Object* object, std::string_view key);
inline Value valueForKey(const Ref<Object>& o, std::string_view key) {
  return valueForKey(o.get(), key);
}
void setValue_forKey(Object* object, const Value& value, std::string_view key);
inline void setValue_forKey(const Ref<Object>& o, const Value& value, std::string_view key) {
  setValue_forKey(o.get(), value, key);
}
// "a.b.c": each step reads through valueForKey (or a dictionary's entry).
Value valueForKeyPath(const Object* object, std::string_view keyPath);
inline Value valueForKeyPath(const Ref<Object>& o, std::string_view keyPath) {
  return valueForKeyPath(o.get(), keyPath);
}
void setValue_forKeyPath(Object* object, const Value& value, std::string_view keyPath);
inline void setValue_forKeyPath(const Ref<Object>& o, const Value& value, std::string_view keyPath) {
  setValue_forKeyPath(o.get(), value, keyPath);
}
// The value at a key path of any value: objects by KVC, dictionaries by entry.
Value valueForKeyPathOfValue(const Value& value, std::string_view keyPath);

namespace runtime {
void registerKeyValueCoding(Class objectClass);
}

}  // namespace ns
