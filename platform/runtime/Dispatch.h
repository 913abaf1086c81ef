#pragma once
// Internal: the message-dispatch steps behind ns::send and Invocation::invoke.
#include <string>
#include <typeinfo>

#include "platform/runtime/Invocation.h"
#include "platform/runtime/Runtime.h"

namespace ns::detail {

// The receiver's implementation of `sel` when it has exactly the C++ function type `fnType`.
void (*directImplementation(const Object* self, Sel sel, const std::type_info& fnType))();

struct PreparedSend {
  Ref<Invocation> invocation;
  runtime::MethodEntry entry;
  Ref<Object> receiver;  // keeps a forwarding target alive during the call
  bool forward = false;
};

// Finds what will answer the message: a method (after resolution), a forwarding target's method,
// or forwardInvocation:. Raises the unrecognized-selector error when nothing does.
PreparedSend prepareSend(const Object* self, Sel sel, std::size_t argumentCount);
void completeSend(PreparedSend& prepared);
void dispatchInvocation(Invocation& invocation, const Ref<Object>& receiver);

// "-[Class sel]" or "+[Class sel]".
std::string methodText(const Object* receiver, Sel sel);

}  // namespace ns::detail
