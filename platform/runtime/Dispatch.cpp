#include "platform/runtime/Dispatch.h"

#include <cstdio>

#include "platform/runtime/Raise.h"
#include "platform/runtime/Send.h"

namespace ns::detail {

namespace {

const Sel& forwardingTargetSel() {
  static const Sel s("forwardingTargetForSelector:");
  return s;
}
const Sel& signatureSel() {
  static const Sel s("methodSignatureForSelector:");
  return s;
}
const Sel& forwardInvocationSel() {
  static const Sel s("forwardInvocation:");
  return s;
}
const Sel& doesNotRecognizeSel() {
  static const Sel s("doesNotRecognizeSelector:");
  return s;
}

constexpr int kMaxForwarding = 32;  // a forwarding cycle must end in an error, not a hang

[[noreturn]] void unrecognized(const Object* receiver, Sel sel) {
  // The class's own doesNotRecognizeSelector: raises; should it return, raise all the same.
  send<void>(receiver, doesNotRecognizeSel(), sel);
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(receiver));
  runtime::raise("NSInvalidArgumentException",
                 methodText(receiver, sel) + ": unrecognized selector sent to " +
                     (object_isClass(receiver) ? "class " : "instance ") + address);
}

void checkCount(const Object* receiver, Sel sel, const MethodSignature& sig, std::size_t argc) {
  if (sig.numberOfArguments() != argc + 2) {
    runtime::raise("NSInvalidArgumentException",
                   methodText(receiver, sel) + ": called with " + std::to_string(argc) +
                       " arguments but the method takes " +
                       std::to_string(sig.numberOfArguments() < 2 ? 0 : sig.numberOfArguments() - 2));
  }
}

}  // namespace

std::string methodText(const Object* receiver, Sel sel) {
  bool isClass = object_isClass(receiver);
  return std::string(isClass ? "+[" : "-[") + NSStringFromClass(object_getClass(receiver)) + " " +
         sel.name() + "]";
}

void (*directImplementation(const Object* self, Sel sel, const std::type_info& fnType))() {
  Class cls = object_getClass(self);
  auto entry = runtime::lookUpEntry(cls, sel, object_isClass(self), false);
  if (entry.imp.canon && *entry.imp.canon == fnType) return entry.imp.fn;
  return nullptr;
}

PreparedSend prepareSend(const Object* self, Sel sel, std::size_t argc) {
  PreparedSend p;
  const Object* receiver = self;
  for (int depth = 0; depth < kMaxForwarding; ++depth) {
    Class cls = object_getClass(receiver);
    bool classSide = object_isClass(receiver);
    p.entry = runtime::lookUpEntry(cls, sel, classSide, true);
    if (p.entry) {
      auto sig = MethodSignature::signatureWithObjCTypes(*p.entry.types);
      checkCount(receiver, sel, *sig, argc);
      p.invocation = make<Invocation>(sig);
      Object* raw = const_cast<Object*>(receiver);
      p.invocation->setArgument(&raw, 0);
      if (sig->numberOfArguments() > 1) p.invocation->setSelector(sel);
      return p;
    }
    auto target = send<Ref<Object>>(receiver, forwardingTargetSel(), sel);
    if (target && target.get() != receiver) {
      p.receiver = target;
      receiver = target.get();
      continue;
    }
    auto sig = send<Ref<MethodSignature>>(receiver, signatureSel(), sel);
    if (sig) {
      checkCount(receiver, sel, *sig, argc);
      p.invocation = make<Invocation>(sig);
      Object* raw = const_cast<Object*>(receiver);
      p.invocation->setArgument(&raw, 0);
      if (sig->numberOfArguments() > 1) p.invocation->setSelector(sel);
      p.forward = true;
      return p;
    }
    unrecognized(receiver, sel);
  }
  runtime::raise("NSInvalidArgumentException", methodText(self, sel) + ": forwarding does not end");
}

void completeSend(PreparedSend& p) {
  if (p.forward) {
    send<void>(p.invocation->target(), forwardInvocationSel(), p.invocation);
  } else {
    p.invocation->invokeImplementation(p.entry.imp, *p.entry.types);
  }
}

void dispatchInvocation(Invocation& inv, const Ref<Object>& receiver) {
  Sel sel = inv.selector();
  Ref<Object> current = receiver;
  for (int depth = 0; depth < kMaxForwarding; ++depth) {
    Class cls = object_getClass(current.get());
    auto entry = runtime::lookUpEntry(cls, sel, object_isClass(current.get()), true);
    if (entry) {
      if (inv.target() != current) inv.setTarget(current);
      inv.invokeImplementation(entry.imp, *entry.types);
      return;
    }
    auto target = send<Ref<Object>>(current, forwardingTargetSel(), sel);
    if (target && target != current) {
      current = target;
      continue;
    }
    if (send<Ref<MethodSignature>>(current, signatureSel(), sel)) {
      if (inv.target() != current) inv.setTarget(current);
      send<void>(current, forwardInvocationSel(), inv.self<Invocation>());
      return;
    }
    unrecognized(current.get(), sel);
  }
  runtime::raise("NSInvalidArgumentException", methodText(receiver.get(), sel) + ": forwarding does not end");
}

}  // namespace ns::detail
