#include "lib/foundation/BlockAssociatedObjects.h"

#include "platform/runtime/AssociatedObjects.h"

void ObjectBlockAssociatedObjects::associateValue_withKey(const ns::Object* object, const ns::Value& value,
                                                          const void* key) {
  ns::objc_setAssociatedObject(object, key, value, ns::OBJC_ASSOCIATION_RETAIN_NONATOMIC);
}

void ObjectBlockAssociatedObjects::atomicallyAssociateValue_withKey(const ns::Object* object,
                                                                    const ns::Value& value, const void* key) {
  ns::objc_setAssociatedObject(object, key, value, ns::OBJC_ASSOCIATION_RETAIN);
}

void ObjectBlockAssociatedObjects::associateCopyOfValue_withKey(const ns::Object* object,
                                                                const ns::Value& value, const void* key) {
  ns::objc_setAssociatedObject(object, key, value, ns::OBJC_ASSOCIATION_COPY_NONATOMIC);
}

void ObjectBlockAssociatedObjects::atomicallyAssociateCopyOfValue_withKey(const ns::Object* object,
                                                                          const ns::Value& value,
                                                                          const void* key) {
  ns::objc_setAssociatedObject(object, key, value, ns::OBJC_ASSOCIATION_COPY);
}

void ObjectBlockAssociatedObjects::weaklyAssociateValue_withKey(const ns::Object* object,
                                                                const ns::Ref<ns::Object>& value,
                                                                const void* key) {
  ns::objc_setAssociatedObject(object, key, value, ns::OBJC_ASSOCIATION_ASSIGN);
}

ns::Value ObjectBlockAssociatedObjects::associatedValueForKey(const ns::Object* object, const void* key) {
  return ns::objc_getAssociatedValue(object, key);
}

void ObjectBlockAssociatedObjects::removeAllAssociatedObjects(const ns::Object* object) {
  ns::objc_removeAssociatedObjects(object);
}
