#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "lib/foundation/CacheBlocks.h"
#include "lib/foundation/DynamicDelegate.h"
#include "platform/core/Exception.h"
#include "platform/foundation/Cache.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"

namespace dd_test {

// An ordinary cache delegate that records what it is told.
class Recorder : public ns::Object {
 public:
  void cache_willEvictObject(ns::Ref<ns::Object>, ns::Ref<ns::Object>) { events->push_back("delegate told"); }
  std::vector<std::string>* events = nullptr;
};

}  // namespace dd_test

PL_CLASS_NAMED(dd_test::Recorder, "DDRecorder", ns::Object) {
  cls.method<&dd_test::Recorder::cache_willEvictObject>("cache:willEvictObject:");
}

PL_PROTOCOL(DDTestDelegate) {
  proto.optional<long(ns::Ref<ns::Object>, long)>("thing:doubled:");
  proto.optional<void(ns::Ref<ns::Object>)>("thingDidChange:");
}

namespace {

using dd_test::Recorder;

TEST(CacheBlocksTest, TheRealDelegateStaysAndIsToldBeforeTheBlock) {
  std::vector<std::string> events;
  auto cache = ns::make<ns::Cache>();
  auto recorder = ns::make<Recorder>();
  recorder->events = &events;
  cache->setDelegate(recorder);
  CacheBlocks::setWillEvictBlock(cache, [&](ns::Ref<ns::Object> c, ns::Ref<ns::Object>) {
    EXPECT_EQ(c, cache);
    events.push_back("block ran");
  });
  EXPECT_EQ(cache->delegate(), recorder);  // the accessor still answers the ordinary delegate
  auto dynamic = ns::send<ns::Ref<ns::Object>>(cache, ns::Sel("dyn_delegate"));  // the class's own getter
  ASSERT_NE(dynamic, nullptr);
  EXPECT_EQ(dynamic->className(), "DynamicNSCacheDelegate");
  EXPECT_NE(CacheBlocks::willEvictBlock(cache), nullptr);

  cache->setCountLimit(1);
  cache->setObject_forKey(ns::make<ns::Object>(), ns::Value("a"));
  cache->setObject_forKey(ns::make<ns::Object>(), ns::Value("b"));
  EXPECT_EQ(events, (std::vector<std::string>{"delegate told", "block ran"}));

  // Registering again changes nothing: the accessors were exchanged once.
  ObjectBlockDelegate::registerDynamicDelegate(ns::NSClassFromString("NSCache"));
  EXPECT_EQ(cache->delegate(), recorder);
  EXPECT_EQ(ObjectBlockDelegate::blk_delegateNameMap(ns::NSClassFromString("NSCache"))["NSCacheDelegate"],
            "delegate");

  // Its own dynamic delegate as the delegate leaves the real delegate nil.
  cache->setDelegate(dynamic);
  EXPECT_EQ(cache->delegate(), nullptr);
  EXPECT_EQ(ns::send<ns::Ref<ns::Object>>(cache, ns::Sel("dyn_delegate")), dynamic);
}

TEST(CacheBlocksTest, AGetterFillsAMissingEntryAndANilAnswerStoresNothing) {
  auto cache = ns::make<ns::Cache>();
  int calls = 0;
  auto made = ns::make<ns::Object>();
  EXPECT_EQ(CacheBlocks::objectForKey_withGetter(cache, ns::Value("k"),
                                                 [&] {
                                                   ++calls;
                                                   return made;
                                                 }),
            made);
  EXPECT_EQ(CacheBlocks::objectForKey_withGetter(cache, ns::Value("k"),
                                                 [&] {
                                                   ++calls;
                                                   return nullptr;
                                                 }),
            made);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(CacheBlocks::objectForKey_withGetter(cache, ns::Value("n"), [] { return nullptr; }), nullptr);
  EXPECT_EQ(cache->objectForKey(ns::Value("n")), nullptr);
  EXPECT_EQ(CacheBlocks::objectForKey_withGetter(cache, ns::Value("n"), nullptr), nullptr);
}

TEST(DynamicDelegateTest, OnlyDeclaredMethodsBindAndUnansweredMessagesAreDropped) {
  auto owner = ns::make<ns::Object>();
  ns::Protocol* protocol = ns::objc_getProtocol("DDTestDelegate");
  ASSERT_NE(protocol, nullptr);
  auto dynamic = ObjectDynamicDelegate::dynamicDelegateForProtocol(owner.get(), protocol);
  ASSERT_NE(dynamic, nullptr);
  EXPECT_EQ(dynamic->className(), "DynamicDelegate");
  EXPECT_TRUE(ns::conformsToProtocol(dynamic, protocol));

  dynamic->implementMethod_withBlock(ns::Sel("notInTheProtocol:"),
                                     ns::block<void(ns::Ref<ns::Object>)>([](ns::Ref<ns::Object>) {}));
  EXPECT_FALSE(ns::respondsToSelector(dynamic, ns::Sel("notInTheProtocol:")));
  EXPECT_EQ(dynamic->blockImplementationForMethod(ns::Sel("notInTheProtocol:")), nullptr);

  dynamic->implementMethod_withBlock(
      ns::Sel("thing:doubled:"),
      ns::block<long(ns::Ref<ns::Object>, long)>([](ns::Ref<ns::Object>, long n) { return n * 2; }));
  EXPECT_TRUE(ns::respondsToSelector(dynamic, ns::Sel("thing:doubled:")));
  EXPECT_EQ(ns::send<long>(dynamic, ns::Sel("thing:doubled:"), owner, 21L), 42);

  // A declared method nobody answers, arriving through forwarding, is dropped.
  auto signature = ns::MethodSignature::signatureWithObjCTypes("v@:@");
  auto invocation = ns::Invocation::invocationWithMethodSignature(signature);
  invocation->setSelector(ns::Sel("thingDidChange:"));
  ns::send<void>(dynamic, ns::Sel("forwardInvocation:"), invocation);

  try {
    ns::send<void>(dynamic, ns::Sel("doesNotRecognizeSelector:"), ns::Sel("thingDidChange:"));
    FAIL() << "doesNotRecognizeSelector: must raise";
  } catch (const ns::Exception& e) {
    EXPECT_EQ(e.name(), ns::NSInvalidArgumentException);
    EXPECT_EQ(
        e.reason().rfind("-[DynamicDelegate thingDidChange:]: unrecognized selector sent to instance 0x", 0),
        0u)
        << e.reason();
  }
  EXPECT_NE(dynamic->description().find("protocol = DDTestDelegate"), std::string::npos);
}

TEST(DynamicDelegateTest, TheRealDelegateAnswersWhatNoBlockDoes) {
  auto owner = ns::make<ns::Object>();
  auto dynamic =
      ObjectDynamicDelegate::dynamicDelegateForProtocol(owner.get(), ns::objc_getProtocol("NSCacheDelegate"));
  std::vector<std::string> events;
  auto recorder = ns::make<Recorder>();
  recorder->events = &events;
  dynamic->setRealDelegate(recorder);
  EXPECT_TRUE(ns::respondsToSelector(dynamic, ns::Sel("cache:willEvictObject:")));
  ns::send<void>(dynamic, ns::Sel("cache:willEvictObject:"), owner, owner);
  EXPECT_EQ(events, (std::vector<std::string>{"delegate told"}));
  recorder.reset();  // held weakly
  EXPECT_EQ(dynamic->realDelegate(), nullptr);
}

TEST(DynamicDelegateTest, ManyThreadsAskingForOneOwnerAndProtocolGetOneProxy) {
  auto owner = ns::make<ns::Object>();
  ns::Protocol* protocol = ns::objc_getProtocol("DDTestDelegate");
  std::mutex m;
  std::set<DynamicDelegate*> seen;
  auto ask = [&] {
    for (int i = 0; i < 1000; ++i) {
      auto d = ObjectDynamicDelegate::dynamicDelegateForProtocol(owner.get(), protocol);
      std::lock_guard lock(m);
      seen.insert(d.get());
    }
  };
  std::thread a(ask), b(ask);
  a.join();
  b.join();
  EXPECT_EQ(seen.size(), 1u);
}

}  // namespace
