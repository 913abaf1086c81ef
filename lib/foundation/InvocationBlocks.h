#pragma once
// Building an invocation by writing the message send: the closure sends the message to a grabber
// (with ns::send), which records it instead of performing it.
#include <functional>

#include "platform/core/Object.h"
#include "platform/runtime/Invocation.h"
#include "platform/runtime/MethodSignature.h"
#include "platform/runtime/Proxy.h"
#include "platform/runtime/Sel.h"

class BlockInvocationGrabber : public ns::Proxy {
 public:
  static ns::Ref<BlockInvocationGrabber> grabberWithTarget(const ns::Ref<ns::Object>& target);

  const ns::Ref<ns::Object>& target() const { return target_; }
  // The recorded message, its target set to the real target; null until one is sent.
  const ns::Ref<ns::Invocation>& invocation() const { return invocation_; }

  // The target's signature for the selector (null when it has no such method).
  ns::Ref<ns::MethodSignature> methodSignatureForSelector(ns::Sel sel);
  void forwardInvocation(ns::Ref<ns::Invocation> invocation);

 private:
  ns::Ref<ns::Object> target_;
  ns::Ref<ns::Invocation> invocation_;
};

struct InvocationBlocks {
  // The invocation of the message the closure sent to the grabber; null when it sent none.
  static ns::Ref<ns::Invocation> invocationWithTarget_block(
      const ns::Ref<ns::Object>& target, const std::function<void(ns::Ref<BlockInvocationGrabber>)>& block);
};
