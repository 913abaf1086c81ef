#include "tests/platform/runtime/TestClasses.h"

#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/KeyValueObserving.h"
#include "platform/runtime/TypeCodec.h"

namespace rt_test {

int Counter::resolveCalls = 0;

std::vector<std::string>& hookEvents() {
  static std::vector<std::string> events;
  return events;
}

void Video::setCount(int count) {
  ns::KeyValueChange change(this, "count");
  count_ = count;
}

namespace {
long dynamicAnswer(Counter* self, ns::Sel) {
  return 42 + self->count();
}
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
  cls.load([] { rt_test::hookEvents().push_back("load RTCounter"); });
  cls.initialize([] { rt_test::hookEvents().push_back("initialize RTCounter"); });
}

PL_CLASS_NAMED(rt_test::SubCounter, "RTSubCounter", Counter) {
  cls.method<&rt_test::SubCounter::doubled>("doubled");
  cls.load([] { rt_test::hookEvents().push_back("load RTSubCounter"); });
}

PL_CLASS_NAMED(rt_test::ForwardingProxy, "RTForwardingProxy", ns::Proxy) {
  cls.method<&rt_test::ForwardingProxy::forwardingTargetForSelector>("forwardingTargetForSelector:");
}

PL_CLASS_NAMED(rt_test::RecordingProxy, "RTRecordingProxy", ns::Proxy) {
  cls.method<&rt_test::RecordingProxy::methodSignatureForSelector>("methodSignatureForSelector:");
  cls.method<&rt_test::RecordingProxy::forwardInvocation>("forwardInvocation:");
}

using rt_test::Video;

PL_PROTOCOL(RTCacheDelegate) {
  proto.adopts("NSObject");
  proto.optional<void(ns::Ref<ns::Object>, ns::Ref<ns::Object>)>("cache:willEvictObject:");
  proto.required<long(ns::Ref<ns::Object>)>("costOfObject:");
  proto.optionalClassMethod<ns::BOOL()>("sharedEviction");
}

PL_CLASS_NAMED(rt_test::RTCache, "RTCache", ns::Object) {}

PL_CLASS_NAMED(Video, "RTVideo", ns::Object) {
  cls.property<&Video::title, &Video::setTitle>("title", "C,N,V_title");
  cls.property<&Video::count, &Video::setCount>("count", "N,V_count");
  cls.property<&Video::delegate, &Video::setDelegate>("delegate", "W,N,Vdelegate");
  cls.property<&Video::isFinished, &Video::setFinished>("finished", "N,GisFinished,V_finished");
  cls.property<&Video::rating>("rating", "R,N,V_rating");
  cls.property<&Video::related, &Video::setRelated>("related", "&,N,V_related");
  cls.property<&Video::subtitle, &Video::setSubtitle>("subtitle", "C,N,V_subtitle");
  cls.declaredProperty("identifier", "T@\"NSString\",D,N");
  cls.classMethod<&Video::automaticallyNotifiesObserversForKey>("automaticallyNotifiesObserversForKey:");
  cls.protocol("RTCacheDelegate");
}

PL_CLASS_NAMED(rt_test::Observer, "RTObserver", ns::Object) {
  cls.method<&rt_test::Observer::observeValueForKeyPath_ofObject_change_context>(
      "observeValueForKeyPath:ofObject:change:context:");
}

PL_CLASS_NAMED(rt_test::LazyBase, "RTLazyBase", ns::Object) {
  cls.method<&rt_test::LazyBase::ping>("ping");
  cls.initialize([] { rt_test::hookEvents().push_back("initialize RTLazyBase"); });
}

PL_CLASS_NAMED(rt_test::LazySub, "RTLazySub", rt_test::LazyBase) {
  cls.initialize([] { rt_test::hookEvents().push_back("initialize RTLazySub"); });
}
