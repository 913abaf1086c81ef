#include "platform/runtime/KeyValueCoding.h"

#include <cstdio>

#include "platform/core/Exception.h"

#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/KeyValueObserving.h"
#include "platform/runtime/Raise.h"
#include "platform/runtime/Send.h"
#include "platform/runtime/ValueBox.h"

namespace ns {

namespace {

const Sel kValueForKey("valueForKey:");
const Sel kSetValueForKey("setValue:forKey:");
const Sel kValueForUndefinedKey("valueForUndefinedKey:");
const Sel kSetValueForUndefinedKey("setValue:forUndefinedKey:");
const Sel kSetNilValueForKey("setNilValueForKey:");
const Sel kAutomaticallyNotifies("automaticallyNotifiesObserversForKey:");

std::string capitalized(std::string_view key) {
  std::string s(key);
  if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
  return s;
}

std::string objectText(const Object* object) {
  char buf[64];
  std::snprintf(buf, sizeof buf, " %p>", static_cast<const void*>(object));
  return "<" + NSStringFromClass(object_getClass(object)) + buf;
}

// The receiver's method for `sel` when it has the shape an accessor needs.
bool findAccessor(const Object* self, Sel sel, std::size_t arguments, runtime::MethodEntry& entry,
                  Ref<MethodSignature>& sig) {
  entry = runtime::lookUpEntry(object_getClass(self), sel, object_isClass(self), true);
  if (!entry) return false;
  sig = MethodSignature::signatureWithObjCTypes(*entry.types);
  if (sig->numberOfArguments() != arguments + 2) return false;
  bool returnsVoid = sig->returnInfo().normalized == "v";
  return arguments == 0 ? !returnsVoid : returnsVoid;
}

Value boxedResult(const Invocation& inv) {
  const std::string& t = inv.methodSignature()->returnInfo().normalized;
  switch (t[0]) {
    case '@':
      return runtime::unboxValue(inv.returnValue<Ref<Object>>().get());
    case '#':
      return Value(std::static_pointer_cast<Object>(detail::tryRetain(inv.returnValue<Class>())));
    case 'c':
      return Value(inv.returnValue<signed char>());
    case 'C':
      return Value(inv.returnValue<unsigned char>());
    case 'B':
      return Value(inv.returnValue<bool>());
    case 's':
      return Value(inv.returnValue<short>());
    case 'S':
      return Value(inv.returnValue<unsigned short>());
    case 'i':
    case 'l':
      return Value(inv.returnValue<int>());
    case 'I':
    case 'L':
      return Value(inv.returnValue<unsigned>());
    case 'q':
      return Value(inv.returnValue<long long>());
    case 'Q':
      return Value(inv.returnValue<unsigned long long>());
    case 'f':
      return Value(inv.returnValue<float>());
    case 'd':
      return Value(inv.returnValue<double>());
    case '*': {
      const char* s = inv.returnValue<const char*>();
      return s ? Value(s) : Value();
    }
    default:
      return Value();  // structures and other types have no value form here
  }
}

Value callGetter(Object* self, Sel sel, const runtime::MethodEntry& entry, const Ref<MethodSignature>& sig) {
  auto inv = make<Invocation>(sig);
  inv->setArgument(&self, 0);
  inv->setSelector(sel);
  inv->invokeImplementation(entry.imp, *entry.types);
  return boxedResult(*inv);
}

// Answers false when the value is nil for a scalar parameter.
bool storeArgument(Invocation& inv, const Value& value) {
  const std::string& t = inv.methodSignature()->argumentInfo(2).normalized;
  switch (t[0]) {
    case '@':
      inv.setArgumentValue<Value>(2, value);
      return true;
    case 'c':
    case 'C':
    case 'B':
    case 's':
    case 'S':
    case 'i':
    case 'I':
    case 'l':
    case 'L':
    case 'q':
    case 'Q':
    case 'f':
    case 'd':
      if (value.isNilOrNull()) return false;
      if (t[0] == 'B') {
        inv.setArgumentValue<bool>(2, value.boolValue());
      } else if (t[0] == 'f' || t[0] == 'd') {
        inv.setArgumentValue<double>(2, value.doubleValue());
      } else if (t[0] == 'Q' || t[0] == 'C' || t[0] == 'S' || t[0] == 'I' || t[0] == 'L') {
        inv.setArgumentValue<unsigned long long>(2, value.unsignedLongLongValue());
      } else {
        inv.setArgumentValue<long long>(2, value.longLongValue());
      }
      return true;
    default:
      runtime::raise(NSInvalidArgumentException,
                     "-[" + NSStringFromClass(object_getClass(inv.target().get())) + " " +
                         inv.selector().name() + "]: key-value coding cannot set a value of type '" + t +
                         "'");
  }
}

// NSObject's implementations.

Value valueForKeyImpl(Object* self, Sel, std::string key) {
  if (auto* box = dynamic_cast<runtime::ValueBox*>(self)) {
    return valueForKeyPathOfValue(box->value(), key);
  }
  const std::string cap = capitalized(key);
  for (const std::string& name : {"get" + cap, key, "is" + cap, "_" + key}) {
    runtime::MethodEntry entry;
    Ref<MethodSignature> sig;
    if (findAccessor(self, Sel(name), 0, entry, sig)) return callGetter(self, Sel(name), entry, sig);
  }
  return send<Value>(self, kValueForUndefinedKey, key);
}

void setValueForKeyImpl(Object* self, Sel, Value value, std::string key) {
  const std::string cap = capitalized(key);
  for (const std::string& name : {"set" + cap + ":", "_set" + cap + ":"}) {
    runtime::MethodEntry entry;
    Ref<MethodSignature> sig;
    if (!findAccessor(self, Sel(name), 1, entry, sig)) continue;
    auto inv = make<Invocation>(sig);
    inv->setArgument(&self, 0);
    inv->setSelector(Sel(name));
    if (!storeArgument(*inv, value)) {
      send<void>(self, kSetNilValueForKey, key);
      return;
    }
    bool notify = hasObservers(self) &&
                  send<bool>(static_cast<Object*>(object_getClass(self)), kAutomaticallyNotifies, key);
    if (notify) willChangeValueForKey(self, key);
    inv->invokeImplementation(entry.imp, *entry.types);
    if (notify) didChangeValueForKey(self, key);
    return;
  }
  send<void>(self, kSetValueForUndefinedKey, value, key);
}

Value valueForUndefinedKeyImpl(Object* self, Sel, std::string key) {
  runtime::raise(NSUnknownKeyException, "[" + objectText(self) +
                                            " valueForUndefinedKey:]: this class is not key value "
                                            "coding-compliant for the key " +
                                            key + ".");
}

void setValueForUndefinedKeyImpl(Object* self, Sel, Value, std::string key) {
  runtime::raise(NSUnknownKeyException, "[" + objectText(self) +
                                            " setValue:forUndefinedKey:]: this class is not key value "
                                            "coding-compliant for the key " +
                                            key + ".");
}

void setNilValueForKeyImpl(Object* self, Sel, std::string key) {
  runtime::raise(NSInvalidArgumentException,
                 "[" + objectText(self) + " setNilValueForKey]: could not set nil as the value for the key " +
                     key + ".");
}

BOOL automaticallyNotifiesImpl(Class, Sel, std::string) {
  return YES;
}

}  // namespace

Value valueForKey(const Object* object, std::string_view key) {
  return send<Value>(object, kValueForKey, std::string(key));
}

void setValue_forKey(Object* object, const Value& value, std::string_view key) {
  send<void>(object, kSetValueForKey, value, std::string(key));
}

Value valueForKeyPathOfValue(const Value& value, std::string_view keyPath) {
  if (keyPath.empty()) return value;
  auto dot = keyPath.find('.');
  std::string_view first = keyPath.substr(0, dot);
  Value next;
  if (value.isDictionary()) {
    next = value.dictionary()[Value(first)];
  } else if (value.isArray()) {
    Array out;
    for (const Value& element : value.array()) {
      Value v = valueForKeyPathOfValue(element, first);
      out.push_back(v.isNil() ? Value::null() : v);
    }
    next = Value(std::move(out));
  } else if (value.isObject()) {
    next = valueForKey(value.object().get(), first);
  } else if (value.isNil()) {
    return Value();
  } else {
    Ref<Object> keep = make<runtime::ValueBox>(value);
    next = valueForUndefinedKeyImpl(keep.get(), Sel(), std::string(first));
  }
  return dot == std::string_view::npos ? next : valueForKeyPathOfValue(next, keyPath.substr(dot + 1));
}

Value valueForKeyPath(const Object* object, std::string_view keyPath) {
  if (!object) return Value();
  auto dot = keyPath.find('.');
  Value first = valueForKey(object, keyPath.substr(0, dot));
  return dot == std::string_view::npos ? first : valueForKeyPathOfValue(first, keyPath.substr(dot + 1));
}

void setValue_forKeyPath(Object* object, const Value& value, std::string_view keyPath) {
  if (!object) return;
  auto dot = keyPath.rfind('.');
  if (dot == std::string_view::npos) {
    setValue_forKey(object, value, keyPath);
    return;
  }
  Value owner = valueForKeyPath(object, keyPath.substr(0, dot));
  if (owner.isNil()) return;  // as messaging nil
  if (!owner.isObject()) {
    runtime::raise(NSInvalidArgumentException, "setValue:forKeyPath: the value at '" +
                                                   std::string(keyPath.substr(0, dot)) +
                                                   "' is not an object that can be changed");
  }
  setValue_forKey(owner.object().get(), value, keyPath.substr(dot + 1));
}

void runtime::registerKeyValueCoding(Class objectClass) {
  ClassBuilder<Object> cls(objectClass);
  cls.method<&valueForKeyImpl>(kValueForKey);
  cls.method<&setValueForKeyImpl>(kSetValueForKey);
  cls.method<&valueForUndefinedKeyImpl>(kValueForUndefinedKey);
  cls.method<&setValueForUndefinedKeyImpl>(kSetValueForUndefinedKey);
  cls.method<&setNilValueForKeyImpl>(kSetNilValueForKey);
  cls.classMethod<&automaticallyNotifiesImpl>(kAutomaticallyNotifies);
}

}  // namespace ns
