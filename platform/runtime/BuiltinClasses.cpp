// The classes every program has: NSObject (ns::Object), NSProxy, and the runtime's own object
// kinds. Their methods are what resolution and forwarding fall back on.
#include <cstdio>

#include "platform/runtime/Block.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Invocation.h"
#include "platform/runtime/KeyValueCoding.h"
#include "platform/runtime/KeyValueObserving.h"
#include "platform/runtime/MethodSignature.h"
#include "platform/runtime/Proxy.h"
#include "platform/runtime/Raise.h"
#include "platform/runtime/Send.h"

namespace ns {

namespace detail {

Ref<Object>& returnSlot() {
  thread_local Ref<Object> slot;
  return slot;
}

namespace {
std::exception_ptr& pending() {
  thread_local std::exception_ptr e;
  return e;
}
}  // namespace

void storePendingException(std::exception_ptr e) {
  // The first failure wins: it is the one the call site will report.
  if (!pending()) pending() = std::move(e);
}

void rethrowPendingException() {
  if (!pending()) return;
  std::exception_ptr e = std::move(pending());
  pending() = nullptr;
  returnSlot().reset();
  std::rethrow_exception(e);
}

Ref<Object> tryRetain(Object* object) {
  return object ? object->weak_from_this().lock() : nullptr;
}

Ref<Object> retain(Object* object) {
  if (!object) return nullptr;
  auto strong = object->weak_from_this().lock();
  if (!strong) {
    runtime::raise("NSInvalidArgumentException",
                   object->className() + ": an object passed through the runtime must be owned by a Ref");
  }
  return strong;
}

void raiseWrongClass(const char* expected, Object* actual) {
  runtime::raise("NSInvalidArgumentException", "expected an object of C++ type " + std::string(expected) +
                                                   " but got " +
                                                   (actual ? actual->className() : std::string("nil")));
}

void raiseWrongReceiver(Object* self, const char* expected) {
  runtime::raise(
      "NSInvalidArgumentException",
      "the receiver " + (self ? self->className() : std::string("nil")) + " is not of C++ type " + expected);
}

}  // namespace detail

namespace {

bool isClassSide(Object* self) {
  return object_isClass(self);
}

Class classOf(Object* self) {
  return object_getClass(self);
}

BOOL respondsToSelectorImpl(Object* self, Sel, Sel sel) {
  return runtime::lookUpEntry(classOf(self), sel, isClassSide(self), true) ? YES : NO;
}

Ref<Object> forwardingTargetImpl(Object*, Sel, Sel) {
  return nullptr;
}

Ref<MethodSignature> methodSignatureImpl(Object* self, Sel, Sel sel) {
  auto entry = runtime::lookUpEntry(classOf(self), sel, isClassSide(self), true);
  return entry ? MethodSignature::signatureWithObjCTypes(*entry.types) : nullptr;
}

void doesNotRecognizeImpl(Object* self, Sel, Sel sel) {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<void*>(self));
  runtime::raise("NSInvalidArgumentException", detail::methodText(self, sel) +
                                                   ": unrecognized selector sent to " +
                                                   (isClassSide(self) ? "class " : "instance ") + address);
}

void forwardInvocationImpl(Object* self, Sel, Ref<Invocation> invocation) {
  send<void>(self, "doesNotRecognizeSelector:", invocation ? invocation->selector() : Sel());
}

Class classImpl(Object* self, Sel) {
  return classOf(self);
}
Class superclassImpl(Object* self, Sel) {
  return class_getSuperclass(classOf(self));
}
Ref<Object> selfImpl(Object* self, Sel) {
  return detail::tryRetain(self);
}
BOOL isProxyNo(Object*, Sel) {
  return NO;
}
BOOL isProxyYes(Object*, Sel) {
  return YES;
}

BOOL isKindOfClassImpl(Object* self, Sel, Class cls) {
  return class_isSubclassOfClass(classOf(self), cls) ? YES : NO;
}
BOOL isMemberOfClassImpl(Object* self, Sel, Class cls) {
  return classOf(self) == cls ? YES : NO;
}

BOOL conformsToProtocolImpl(Object* self, Sel, Ref<Protocol> p) {
  for (Class c = classOf(self); c; c = c->superclass()) {
    if (class_conformsToProtocol(c, p.get())) return YES;
  }
  return NO;
}

BOOL isEqualImpl(Object* self, Sel, Ref<Object> other) {
  return self->isEqual(other.get()) ? YES : NO;
}
unsigned long hashImpl(Object* self, Sel) {
  return self->hash();
}

std::string descriptionImpl(Object* self, Sel) {
  return self->description();
}

// performSelector: and its forms: any method whose arguments are objects; an object result is
// answered, any other result is dropped.
Ref<Object> performWith(Object* self, Sel sel, const std::vector<Ref<Object>>& args) {
  if (!self || !sel) return nullptr;
  Ref<MethodSignature> sig = send<Ref<MethodSignature>>(self, "methodSignatureForSelector:", sel);
  if (!sig) {
    send<void>(self, "doesNotRecognizeSelector:", sel);
    return nullptr;
  }
  auto inv = make<Invocation>(sig);
  inv->setArgument(&self, 0);
  inv->setSelector(sel);
  for (std::size_t i = 0; i < args.size() && i + 2 < sig->numberOfArguments(); ++i) {
    inv->setArgumentValue(static_cast<long>(i + 2), args[i]);
  }
  detail::dispatchInvocation(*inv, detail::retain(self));
  return runtime::isObjectType(sig->returnInfo().normalized) ? inv->returnValue<Ref<Object>>() : nullptr;
}
Ref<Object> perform0(Object* self, Sel, Sel sel) {
  return performWith(self, sel, {});
}
Ref<Object> perform1(Object* self, Sel, Sel sel, Ref<Object> a) {
  return performWith(self, sel, {a});
}
Ref<Object> perform2(Object* self, Sel, Sel sel, Ref<Object> a, Ref<Object> b) {
  return performWith(self, sel, {a, b});
}

BOOL resolveNo(Class, Sel, Sel) {
  return NO;
}
BOOL instancesRespondImpl(Class self, Sel, Sel sel) {
  return class_respondsToSelector(self, sel) ? YES : NO;
}
Ref<Object> newImpl(Class self, Sel) {
  return class_createInstance(self);
}

Ref<MethodSignature> proxySignatureImpl(Object* self, Sel, Sel) {
  runtime::raise("NSInvalidArgumentException", "-[NSProxy methodSignatureForSelector:] called!");
}
void proxyForwardImpl(Object*, Sel, Ref<Invocation>) {
  runtime::raise("NSInvalidArgumentException", "-[NSProxy forwardInvocation:] called!");
}

template <class C>
void addRootMethods(runtime::ClassBuilder<C>& cls) {
  cls.template method<&respondsToSelectorImpl>("respondsToSelector:");
  cls.template method<&forwardingTargetImpl>("forwardingTargetForSelector:");
  cls.template method<&doesNotRecognizeImpl>("doesNotRecognizeSelector:");
  cls.template method<&classImpl>("class");
  cls.template method<&superclassImpl>("superclass");
  cls.template method<&selfImpl>("self");
  cls.template method<&isKindOfClassImpl>("isKindOfClass:");
  cls.template method<&isMemberOfClassImpl>("isMemberOfClass:");
  cls.template method<&conformsToProtocolImpl>("conformsToProtocol:");
  cls.template method<&isEqualImpl>("isEqual:");
  cls.template method<&hashImpl>("hash");
  cls.template method<&descriptionImpl>("description");
  cls.template method<&perform0>("performSelector:");
  cls.template method<&perform1>("performSelector:withObject:");
  cls.template method<&perform2>("performSelector:withObject:withObject:");
  cls.template classMethod<&resolveNo>("resolveInstanceMethod:");
  cls.template classMethod<&resolveNo>("resolveClassMethod:");
  cls.template classMethod<&instancesRespondImpl>("instancesRespondToSelector:");
  cls.template classMethod<&newImpl>("new");
}

void registerObject(runtime::ClassBuilder<Object>& cls) {
  addRootMethods(cls);
  cls.method<&methodSignatureImpl>("methodSignatureForSelector:");
  cls.method<&forwardInvocationImpl>("forwardInvocation:");
  cls.method<&isProxyNo>("isProxy");
  cls.protocol("NSObject");
  runtime::registerKeyValueCoding(cls.cls());
  runtime::registerKeyValueObserving(cls.cls());
}

void registerProxy(runtime::ClassBuilder<Proxy>& cls) {
  addRootMethods(cls);
  cls.method<&proxySignatureImpl>("methodSignatureForSelector:");
  cls.method<&proxyForwardImpl>("forwardInvocation:");
  cls.method<&isProxyYes>("isProxy");
  cls.protocol("NSObject");
}

void noBody(runtime::ClassBuilder<Block>&) {}
void noSignatureBody(runtime::ClassBuilder<MethodSignature>&) {}
void noInvocationBody(runtime::ClassBuilder<Invocation>&) {}
void noProtocolBody(runtime::ClassBuilder<Protocol>&) {}

}  // namespace

namespace runtime {

void registerBuiltinClasses() {
  declareClass<Object, void>("NSObject", &registerObject);
  declareClass<Proxy, void>("NSProxy", &registerProxy);
  declareClass<Block, Object>("NSBlock", &noBody);
  declareClass<MethodSignature, Object>("NSMethodSignature", &noSignatureBody);
  declareClass<Invocation, Object>("NSInvocation", &noInvocationBody);
  declareClass<Protocol, Object>("Protocol", &noProtocolBody);
}

std::string setterNameForProperty(std::string_view name) {
  std::string s = "set" + std::string(name) + ":";
  if (s.size() > 4 && s[3] >= 'a' && s[3] <= 'z') s[3] = static_cast<char>(s[3] - 'a' + 'A');
  return s;
}

}  // namespace runtime
}  // namespace ns
