#pragma once
// Objects attached to any object (or class) under an opaque key, with an ownership policy.
// Weak references are std::weak_ptr: an "assign" association reads as null once its value died.
#include <cstdint>
#include <functional>
#include <type_traits>

#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ns {

enum AssociationPolicy : std::uintptr_t {
  OBJC_ASSOCIATION_ASSIGN = 0,
  OBJC_ASSOCIATION_RETAIN_NONATOMIC = 1,
  OBJC_ASSOCIATION_COPY_NONATOMIC = 3,
  OBJC_ASSOCIATION_RETAIN = 01401,
  OBJC_ASSOCIATION_COPY = 01403,
};

// A null value removes the association. The copy policies keep the result of sending `copy`
// (values that are not objects are kept as they are: they cannot change).
void objc_setAssociatedObject(const Object* object, const void* key, const Ref<Object>& value,
                              AssociationPolicy policy);
void objc_setAssociatedObject(const Object* object, const void* key, const Value& value,
                              AssociationPolicy policy);
template <class T, class = std::enable_if_t<std::is_base_of_v<Object, T>>>
void objc_setAssociatedObject(const Object* object, const void* key, const Ref<T>& value,
                              AssociationPolicy policy) {
  Ref<Object> base = std::const_pointer_cast<std::remove_const_t<T>>(value);
  objc_setAssociatedObject(object, key, base, policy);
}
Ref<Object> objc_getAssociatedObject(const Object* object, const void* key);
// The associated object as a value (a boxed string comes back as the string).
Value objc_getAssociatedValue(const Object* object, const void* key);
void objc_removeAssociatedObjects(const Object* object);

// Runs `callback` while the object is being destroyed, before its associations are released.
// This stands in for replacing -dealloc: the object's own members are already gone, so the
// callback may use the address only as a key.
void objc_addDestructionCallback(const Object* object, std::function<void(Object*)> callback);

// The object's recursive lock (@synchronized). objc_sync_exit answers
// OBJC_SYNC_NOT_OWNING_THREAD_ERROR when the calling thread does not hold it.
enum { OBJC_SYNC_SUCCESS = 0, OBJC_SYNC_NOT_OWNING_THREAD_ERROR = -1 };
int objc_sync_enter(const Object* object);
int objc_sync_exit(const Object* object);

// Holds the object's lock for a scope. Named apart from ns::Synchronized (the address-keyed lock in
// platform/dispatch): two classes of one name in one program share one destructor symbol.
class ObjcSyncGuard {
 public:
  explicit ObjcSyncGuard(const Object* object) : object_(object) { objc_sync_enter(object_); }
  ~ObjcSyncGuard() { objc_sync_exit(object_); }
  ObjcSyncGuard(const ObjcSyncGuard&) = delete;
  ObjcSyncGuard& operator=(const ObjcSyncGuard&) = delete;

 private:
  const Object* object_;
};

}  // namespace ns
