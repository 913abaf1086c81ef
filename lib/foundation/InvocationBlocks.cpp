#include "lib/foundation/InvocationBlocks.h"

#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Runtime.h"

PL_CLASS_NAMED(BlockInvocationGrabber, "BlockInvocationGrabber", ns::Proxy) {
  cls.method<&BlockInvocationGrabber::methodSignatureForSelector>("methodSignatureForSelector:");
  cls.method<&BlockInvocationGrabber::forwardInvocation>("forwardInvocation:");
}

ns::Ref<BlockInvocationGrabber> BlockInvocationGrabber::grabberWithTarget(const ns::Ref<ns::Object>& target) {
  auto grabber = ns::make<BlockInvocationGrabber>();
  grabber->target_ = target;
  return grabber;
}

ns::Ref<ns::MethodSignature> BlockInvocationGrabber::methodSignatureForSelector(ns::Sel sel) {
  if (!target_) return nullptr;
  ns::Method m = ns::class_getInstanceMethod(ns::object_getClass(target_), sel);
  return m ? ns::MethodSignature::signatureWithObjCTypes(ns::method_getTypeEncoding(m)) : nullptr;
}

void BlockInvocationGrabber::forwardInvocation(ns::Ref<ns::Invocation> invocation) {
  invocation->setTarget(target_);
  invocation->retainArguments();
  invocation_ = std::move(invocation);
}

ns::Ref<ns::Invocation> InvocationBlocks::invocationWithTarget_block(
    const ns::Ref<ns::Object>& target, const std::function<void(ns::Ref<BlockInvocationGrabber>)>& block) {
  auto grabber = BlockInvocationGrabber::grabberWithTarget(target);
  if (block) block(grabber);
  return grabber->invocation();
}
