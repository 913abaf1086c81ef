#pragma once
// Objects attached to any object under an opaque key (the address of a private static, a
// selector...), with a chosen ownership. A weak association reads null once its value died.
#include "platform/core/Object.h"
#include "platform/core/Value.h"

struct ObjectBlockAssociatedObjects {
  // Strong, non-atomic.
  static void associateValue_withKey(const ns::Object* object, const ns::Value& value, const void* key);
  // Strong, atomic.
  static void atomicallyAssociateValue_withKey(const ns::Object* object, const ns::Value& value,
                                               const void* key);
  // A copy of the value, non-atomic.
  static void associateCopyOfValue_withKey(const ns::Object* object, const ns::Value& value, const void* key);
  // A copy of the value, atomic.
  static void atomicallyAssociateCopyOfValue_withKey(const ns::Object* object, const ns::Value& value,
                                                     const void* key);
  // Not retained.
  static void weaklyAssociateValue_withKey(const ns::Object* object, const ns::Ref<ns::Object>& value,
                                           const void* key);
  // Nil when nothing (or nothing alive) is associated under the key.
  static ns::Value associatedValueForKey(const ns::Object* object, const void* key);
  static void removeAllAssociatedObjects(const ns::Object* object);
};
