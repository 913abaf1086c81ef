#include "tests/platform/runtime/TestClasses.h"

#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/TypeCodec.h"


namespace rt_test {

int Counter::resolveCalls = 0;

namespace {
long dynamicAnswer(Counter* self, ns::Sel) { return 42 + self->count(); }
}  // namespace

ns::BOOL Counter::resolveInstanceMethod(ns::Sel sel) {
  ++resolveCalls;
  if (sel.name() == "dynamicAnswer") {
    ns::class_addMethod(ns::NSClassFromString("RTCounter"), sel, ns::imp<&dynamicAnswer>(),
                        ns::impTypes<&dynamicAnswer>());
    return ns::YES;
  }
  return ns::NO;
}

ns::Ref<ns::MethodSignature> RecordingProxy::methodSignatureForSelector(ns::Sel sel) {
  ns::Method m = ns::class_getInstanceMethod(model, sel);
  return m ? ns::MethodSignature::signatureWithObjCTypes(ns::method_getTypeEncoding(m)) : nullptr;
}

void RecordingProxy::forwardInvocation(ns::Ref<ns::Invocation> invocation) {
  invocation->retainArguments();
  recorded.push_back(invocation);
}

}  // namespace rt_test

using rt_test::Counter;

PL_CLASS_NAMED(Counter, "RTCounter", ns::Object) {
  cls.property<&Counter::count, &Counter::setCount>("count", "N,V_count");
  cls.method<&Counter::increment>("increment");
  cls.method<&Counter::add_to>("add:to:");
  cls.method<&Counter::isPositive>("isPositive");
  cls.method<&Counter::initial>("initial");
  cls.method<&Counter::half>("half");
  cls.method<&Counter::frame>("frame");
  cls.method<&Counter::offsetFrame_by>("offsetFrame:by:");
  cls.method<&Counter::me>("me");
  cls.method<&Counter::fail>("fail");
  cls.classMethod<&Counter::resolveInstanceMethod>("resolveInstanceMethod:");
}

PL_CLASS_NAMED(rt_test::SubCounter, "RTSubCounter", Counter) {
  cls.method<&rt_test::SubCounter::doubled>("doubled");
}

PL_CLASS_NAMED(rt_test::ForwardingProxy, "RTForwardingProxy", ns::Proxy) {
  cls.method<&rt_test::ForwardingProxy::forwardingTargetForSelector>("forwardingTargetForSelector:");
}

PL_CLASS_NAMED(rt_test::RecordingProxy, "RTRecordingProxy", ns::Proxy) {
  cls.method<&rt_test::RecordingProxy::methodSignatureForSelector>("methodSignatureForSelector:");
  cls.method<&rt_test::RecordingProxy::forwardInvocation>("forwardInvocation:");
}
