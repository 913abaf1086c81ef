// The coders as classes of the object runtime, and the archive class look-up through the
// runtime's class registry.
#include <mutex>

#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/Send.h"
#include "platform/serialization/CodingRegistry.h"
#include "platform/serialization/KeyedArchiver.h"
#include "platform/serialization/KeyedUnarchiver.h"

namespace ns {

void setDefaultCodingResolver(CodingRegistry::Resolver r);  // CodingRegistry.cpp

namespace {

void encodeObject(Coder* self, Sel, Value value, std::string key) {
  self->encodeObject_forKey(value, key);
}
void encodeBool(Coder* self, Sel, BOOL value, std::string key) {
  self->encodeBool_forKey(value != NO, key);
}
void encodeInt64(Coder* self, Sel, long long value, std::string key) {
  self->encodeInt64_forKey(value, key);
}
void encodeInteger(Coder* self, Sel, long value, std::string key) {
  self->encodeInt64_forKey(value, key);
}
void encodeDouble(Coder* self, Sel, double value, std::string key) {
  self->encodeDouble_forKey(value, key);
}
void encodeFloat(Coder* self, Sel, float value, std::string key) {
  self->encodeFloat_forKey(value, key);
}
Value decodeObject(Coder* self, Sel, std::string key) {
  return self->decodeObjectForKey(key);
}
Value decodeObjectOfClass(Coder* self, Sel, Class cls, std::string key) {
  return self->decodeObjectOfClass_forKey(cls ? cls->name() : std::string("NSObject"), key);
}
BOOL decodeBool(Coder* self, Sel, std::string key) {
  return self->decodeBoolForKey(key) ? YES : NO;
}
long long decodeInt64(Coder* self, Sel, std::string key) {
  return self->decodeInt64ForKey(key);
}
long decodeInteger(Coder* self, Sel, std::string key) {
  return static_cast<long>(self->decodeInt64ForKey(key));
}
double decodeDouble(Coder* self, Sel, std::string key) {
  return self->decodeDoubleForKey(key);
}
float decodeFloat(Coder* self, Sel, std::string key) {
  return self->decodeFloatForKey(key);
}
BOOL containsValue(Coder* self, Sel, std::string key) {
  return self->containsValueForKey(key) ? YES : NO;
}
BOOL requiresSecure(Coder* self, Sel) {
  return self->requiresSecureCoding() ? YES : NO;
}
BOOL allowsKeyed(Coder*, Sel) {
  return YES;
}

// Classes the runtime knows are made through it when nothing registered them for archiving.
std::optional<CodingClass> fromRuntime(const std::string& name) {
  Class cls = NSClassFromString(name);
  if (!cls) return std::nullopt;
  CodingClass info;
  info.name = name;
  Class super = class_getSuperclass(cls);
  info.superclassName = super ? super->name() : "";
  info.make = [cls] { return class_createInstance(cls); };
  static const Sel secureSel("supportsSecureCoding");
  Method m = class_getClassMethod(cls, secureSel);
  info.supportsSecureCoding = m && send<BOOL>(cls, secureSel) != NO;
  return info;
}

}  // namespace

// Called by the registry on first use, which also keeps this file (and the coder classes
// registered in it) in every program that archives.
void installRuntimeCodingResolver() {
  static std::once_flag once;
  std::call_once(once, [] { setDefaultCodingResolver(&fromRuntime); });
}

PL_CLASS_NAMED(Coder, "NSCoder", Object) {
  cls.method<&encodeObject>("encodeObject:forKey:");
  cls.method<&encodeBool>("encodeBool:forKey:");
  cls.method<&encodeInt64>("encodeInt64:forKey:");
  cls.method<&encodeInteger>("encodeInteger:forKey:");
  cls.method<&encodeDouble>("encodeDouble:forKey:");
  cls.method<&encodeFloat>("encodeFloat:forKey:");
  cls.method<&decodeObject>("decodeObjectForKey:");
  cls.method<&decodeObjectOfClass>("decodeObjectOfClass:forKey:");
  cls.method<&decodeBool>("decodeBoolForKey:");
  cls.method<&decodeInt64>("decodeInt64ForKey:");
  cls.method<&decodeInteger>("decodeIntegerForKey:");
  cls.method<&decodeDouble>("decodeDoubleForKey:");
  cls.method<&decodeFloat>("decodeFloatForKey:");
  cls.method<&containsValue>("containsValueForKey:");
  cls.method<&requiresSecure>("requiresSecureCoding");
  cls.method<&allowsKeyed>("allowsKeyedCoding");
}

PL_CLASS_NAMED(KeyedArchiver, "NSKeyedArchiver", Coder) {}

PL_CLASS_NAMED(KeyedUnarchiver, "NSKeyedUnarchiver", Coder) {}

}  // namespace ns
