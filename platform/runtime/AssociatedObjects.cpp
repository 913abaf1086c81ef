#include "platform/runtime/AssociatedObjects.h"

#include "platform/runtime/Send.h"
#include "platform/runtime/SideTable.h"
#include "platform/runtime/ValueBox.h"

namespace ns {

void objc_setAssociatedObject(const Object* object, const void* key, const Ref<Object>& value,
                              AssociationPolicy policy) {
  if (!object) return;
  runtime::Association incoming;
  if (value) {
    switch (policy) {
      case OBJC_ASSOCIATION_ASSIGN:
        incoming.isWeak = true;
        incoming.weak = value;
        break;
      case OBJC_ASSOCIATION_COPY:
      case OBJC_ASSOCIATION_COPY_NONATOMIC:
        if (dynamic_cast<runtime::ValueBox*>(value.get())) {
          incoming.strong = value;
        } else {
          static const Sel copySel("copy");
          incoming.strong = send<Ref<Object>>(value, copySel);
        }
        break;
      default:
        incoming.strong = value;
        break;
    }
  }
  runtime::Association previous;  // released after the lock
  auto state = runtime::sideState(object, static_cast<bool>(value));
  if (!state) return;
  std::lock_guard guard(state->lock);
  auto it = state->associations.find(key);
  if (it != state->associations.end()) {
    previous = std::move(it->second);
    if (value) {
      it->second = std::move(incoming);
    } else {
      state->associations.erase(it);
    }
  } else if (value) {
    state->associations.emplace(key, std::move(incoming));
  }
}

void objc_setAssociatedObject(const Object* object, const void* key, const Value& value,
                              AssociationPolicy policy) {
  Ref<Object> keep;
  Object* boxed = runtime::boxValue(value, keep);
  objc_setAssociatedObject(object, key, keep ? keep : detail::tryRetain(boxed), policy);
}

Ref<Object> objc_getAssociatedObject(const Object* object, const void* key) {
  auto state = runtime::sideState(object, false);
  if (!state) return nullptr;
  std::lock_guard guard(state->lock);
  auto it = state->associations.find(key);
  if (it == state->associations.end()) return nullptr;
  return it->second.isWeak ? it->second.weak.lock() : it->second.strong;
}

Value objc_getAssociatedValue(const Object* object, const void* key) {
  return runtime::unboxValue(objc_getAssociatedObject(object, key).get());
}

void objc_removeAssociatedObjects(const Object* object) {
  auto state = runtime::sideState(object, false);
  if (!state) return;
  std::map<const void*, runtime::Association> released;
  std::lock_guard guard(state->lock);
  released.swap(state->associations);
}

void objc_addDestructionCallback(const Object* object, std::function<void(Object*)> callback) {
  if (!object || !callback) return;
  auto state = runtime::sideState(object, true);
  std::lock_guard guard(state->lock);
  state->destructionCallbacks.push_back(std::move(callback));
}

int objc_sync_enter(const Object* object) {
  if (!object) return OBJC_SYNC_SUCCESS;  // @synchronized(nil) does nothing
  runtime::sideState(object, true)->syncLock.lock();
  return OBJC_SYNC_SUCCESS;
}

int objc_sync_exit(const Object* object) {
  if (!object) return OBJC_SYNC_SUCCESS;
  auto state = runtime::sideState(object, false);
  if (!state || !state->syncLock.unlock()) return OBJC_SYNC_NOT_OWNING_THREAD_ERROR;
  return OBJC_SYNC_SUCCESS;
}

}  // namespace ns
