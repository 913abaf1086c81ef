#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/core/Exception.h"
#include "platform/runtime/Block.h"
#include "platform/runtime/Send.h"
#include "tests/platform/runtime/TestClasses.h"

namespace {

using namespace rt_test;
using ns::Ref;
using ns::Sel;

ns::Class cls(const char* name) {
  ns::Class c = ns::NSClassFromString(name);
  EXPECT_NE(c, nullptr) << name;
  return c;
}

std::string raisedReason(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(nothing raised)";
}

TEST(ClassRecords, RegistryNamesSuperclassesAndKinds) {
  ns::Class counter = cls("RTCounter");
  ns::Class sub = cls("RTSubCounter");
  EXPECT_EQ(ns::NSStringFromClass(sub), "RTSubCounter");
  EXPECT_EQ(ns::class_getSuperclass(sub), counter);
  EXPECT_EQ(ns::class_getSuperclass(counter), cls("NSObject"));
  EXPECT_EQ(ns::class_getSuperclass(cls("NSProxy")), nullptr);
  EXPECT_EQ(ns::NSClassFromString("NoSuchClass"), nullptr);

  auto made = ns::class_createInstance(sub);
  ASSERT_NE(std::dynamic_pointer_cast<SubCounter>(made), nullptr);
  EXPECT_TRUE(ns::isKindOfClass(made, counter));
  EXPECT_TRUE(ns::isKindOfClass(made, sub));
  EXPECT_TRUE(ns::isMemberOfClass(made, sub));
  EXPECT_FALSE(ns::isMemberOfClass(made, counter));

  // An unregistered C++ subclass belongs to its nearest registered ancestor; proxies to NSProxy.
  auto plain = ns::make<PlainSubCounter>();
  EXPECT_EQ(ns::object_getClass(plain.get()), sub);
  EXPECT_EQ(ns::object_getClass(ns::make<ns::Proxy>().get()), cls("NSProxy"));
  EXPECT_EQ(ns::object_getClass(ns::make<ns::Object>().get()), cls("NSObject"));
}

TEST(RespondsToSelector, AnswersFromTablesInheritanceAdditionsAndResolution) {
  auto sub = ns::make<SubCounter>();
  EXPECT_TRUE(ns::respondsToSelector(sub, "doubled"));              // registered
  EXPECT_TRUE(ns::respondsToSelector(sub, "increment"));            // inherited
  EXPECT_TRUE(ns::respondsToSelector(sub, "respondsToSelector:"));  // from NSObject
  EXPECT_FALSE(ns::respondsToSelector(sub, "fly"));
  EXPECT_FALSE(ns::respondsToSelector(ns::make<Counter>(), "doubled"));

  // Added at run time.
  ns::Class counter = cls("RTCounter");
  EXPECT_FALSE(ns::respondsToSelector(sub, "addedLater"));
  auto added = ns::block<long(Ref<ns::Object>)>([](Ref<ns::Object>) { return 7L; });
  EXPECT_TRUE(ns::class_addMethod(counter, "addedLater", ns::imp_implementationWithBlock(added), "q@:"));
  EXPECT_TRUE(ns::respondsToSelector(sub, "addedLater"));
  EXPECT_EQ(ns::send<long>(sub, "addedLater"), 7);

  // Resolved by resolveInstanceMethod:, which runs once; later sends find the added method.
  EXPECT_TRUE(ns::respondsToSelector(sub, "dynamicAnswer"));
  int calls = Counter::resolveCalls;
  sub->setCount(3);
  EXPECT_EQ(ns::send<long>(sub, "dynamicAnswer"), 45);
  EXPECT_EQ(Counter::resolveCalls, calls);
  EXPECT_TRUE(ns::instancesRespondToSelector(counter, "dynamicAnswer"));
  EXPECT_FALSE(ns::instancesRespondToSelector(counter, "neverResolved"));
  EXPECT_TRUE(
      ns::send<ns::BOOL>(static_cast<ns::Object*>(counter), "instancesRespondToSelector:", Sel("increment")));
}

TEST(Send, CallsWithTypesCheckedAgainstTheEncoding) {
  auto c = ns::make<Counter>();
  ns::send(c, "setCount:", 5L);
  ns::send(c, "increment");
  EXPECT_EQ(ns::send<long>(c, "count"), 6);
  EXPECT_EQ(ns::send<long>(c, "add:to:", 1L, 2L), 9);
  // Arithmetic arguments and results convert by value.
  EXPECT_EQ(ns::send<long>(c, "add:to:", 1, 2), 9);
  EXPECT_EQ(ns::send<double>(c, "count"), 6.0);
  EXPECT_TRUE(ns::send<bool>(c, "isPositive"));
  // Anything else that does not fit raises instead of reaching the method.
  EXPECT_ANY_THROW(ns::send<long>(c, "add:to:", 1L, c));
  EXPECT_ANY_THROW(ns::send<long>(c, "add:to:", 1.5, 2L));
  EXPECT_ANY_THROW(ns::send<long>(c, "add:to:", 1L));
  EXPECT_ANY_THROW(ns::send<Ref<ns::Object>>(c, "count"));
  EXPECT_EQ(c->count(), 6);
  // Objects come back as references.
  EXPECT_EQ(ns::send<Ref<ns::Object>>(c, "me"), c);
  EXPECT_EQ(ns::send<Ref<Counter>>(c, "me"), c);
  // Structures travel by value.
  CGRect r = ns::send<CGRect>(c, "offsetFrame:by:", CGRect{{1, 2}, {3, 4}}, CGPoint{10, 20});
  EXPECT_EQ(r.origin.x, 11);
  EXPECT_EQ(r.origin.y, 22);
  EXPECT_EQ(r.size.height, 4);
  // Sending to null answers zero.
  EXPECT_EQ(ns::send<long>(Ref<Counter>(), "count"), 0);
  EXPECT_EQ(ns::send<Ref<ns::Object>>(Ref<Counter>(), "me"), nullptr);
  // An exception thrown by a method reaches the sender, on both call paths.
  EXPECT_EQ(raisedReason([&] { ns::send(c, "fail"); }), "failed inside a method");
  auto inv =
      ns::Invocation::invocationWithMethodSignature(ns::MethodSignature::signatureWithObjCTypes("v16@0:8"));
  inv->setSelector("fail");
  EXPECT_EQ(raisedReason([&] { inv->invokeWithTarget(c); }), "failed inside a method");
  EXPECT_EQ(ns::send<long>(c, "count"), 6);  // the runtime is usable after the failure
}

TEST(Send, UnrecognizedSelectorRaisesTheExactText) {
  auto c = ns::make<Counter>();
  char expected[128];
  std::snprintf(expected, sizeof expected, "-[RTCounter fly:]: unrecognized selector sent to instance %p",
                static_cast<void*>(c.get()));
  std::string reason = raisedReason([&] { ns::send(c, "fly:", 1); });
  EXPECT_NE(reason.find(expected), std::string::npos) << reason;
  // The text ends with the address, as the platform prints it.
  EXPECT_EQ(reason.substr(reason.size() - std::strlen(expected)), expected);
  std::string classReason =
      raisedReason([&] { ns::send(static_cast<ns::Object*>(cls("RTCounter")), "fly"); });
  EXPECT_NE(classReason.find("+[RTCounter fly]: unrecognized selector sent to class 0x"), std::string::npos)
      << classReason;
}

TEST(Forwarding, ForwardingTargetReachesTheTarget) {
  auto target = ns::make<Counter>();
  target->setCount(2);
  auto proxy = ns::make<ForwardingProxy>();
  proxy->target = target;
  EXPECT_EQ(ns::send<long>(proxy, "add:to:", 3L, 4L), 9);
  ns::send(proxy, "increment");
  EXPECT_EQ(target->count(), 3);
  // Without a target the proxy falls to NSProxy, which refuses.
  proxy->target = nullptr;
  EXPECT_NE(raisedReason([&] {
              ns::send(proxy, "increment");
            }).find("-[NSProxy methodSignatureForSelector:] called!"),
            std::string::npos);
}

TEST(Forwarding, RecordedInvocationsReplayOnAnotherObject) {
  auto recorder = ns::make<RecordingProxy>();
  recorder->model = cls("RTCounter");
  ns::send(recorder, "setCount:", 40L);
  EXPECT_EQ(ns::send<long>(recorder, "add:to:", 1L, 1L), 0);  // recorded, not performed
  ASSERT_EQ(recorder->recorded.size(), 2u);
  EXPECT_EQ(recorder->recorded[0]->selector(), Sel("setCount:"));
  EXPECT_EQ(recorder->recorded[0]->argumentValue<long>(2), 40);

  auto second = ns::make<Counter>();
  recorder->recorded[0]->invokeWithTarget(second);
  EXPECT_EQ(second->count(), 40);
  recorder->recorded[1]->invokeWithTarget(second);
  EXPECT_EQ(recorder->recorded[1]->returnValue<long>(), 42);

  // An unknown selector still raises the platform's text, from the proxy.
  std::string reason = raisedReason([&] { ns::send(recorder, "fly"); });
  EXPECT_NE(reason.find("-[RTRecordingProxy fly]: unrecognized selector sent to instance 0x"),
            std::string::npos)
      << reason;
}

TEST(MethodTables, ExchangeAndReplaceChangeWhatSendsReach) {
  ns::Class sub = cls("RTSubCounter");
  auto c = ns::make<SubCounter>();
  c->setCount(5);
  ns::Method doubled = ns::class_getInstanceMethod(sub, "doubled");
  ns::Method half = ns::class_getInstanceMethod(sub, "half");
  ASSERT_NE(doubled, nullptr);
  EXPECT_STREQ(ns::method_getTypeEncoding(doubled), "q16@0:8");
  EXPECT_STREQ(ns::method_getTypeEncoding(half), "d16@0:8");

  // Exchanging methods of different types makes a mismatched send raise, never misbehave.
  ns::Method count = ns::class_getInstanceMethod(sub, "count");
  ns::method_exchangeImplementations(doubled, count);
  EXPECT_EQ(ns::send<long>(c, "doubled"), 5);
  EXPECT_EQ(ns::send<long>(c, "count"), 10);
  EXPECT_EQ(c->count(), 5);  // direct C++ calls are not affected
  ns::method_exchangeImplementations(doubled, count);
  EXPECT_EQ(ns::send<long>(c, "doubled"), 10);

  // class_addMethod does not replace a method the class itself defines; class_replaceMethod does.
  auto seven = ns::block<long(Ref<ns::Object>)>([](Ref<ns::Object>) { return 7L; });
  EXPECT_FALSE(ns::class_addMethod(sub, "doubled", ns::imp_implementationWithBlock(seven), "q@:"));
  EXPECT_EQ(ns::send<long>(c, "doubled"), 10);
  ns::Imp old = ns::class_replaceMethod(sub, "doubled", ns::imp_implementationWithBlock(seven), "q@:");
  EXPECT_TRUE(old);
  EXPECT_EQ(ns::send<long>(c, "doubled"), 7);
  ns::method_setImplementation(ns::class_getInstanceMethod(sub, "doubled"), old);
  EXPECT_EQ(ns::send<long>(c, "doubled"), 10);
  // A subclass adding a method its superclass has overrides it for the subclass only.
  EXPECT_TRUE(ns::class_addMethod(sub, "half",
                                  ns::imp_implementationWithBlock(ns::block<double(Ref<ns::Object>)>(
                                      [](Ref<ns::Object>) { return -1.0; })),
                                  "d@:"));
  EXPECT_EQ(ns::send<double>(c, "half"), -1.0);
  EXPECT_EQ(ns::send<double>(ns::make<Counter>(), "half"), 0.0);
}

TEST(Blocks, ImplementationsFromBlocksWithObjectEncodings) {
  ns::Class counter = cls("RTCounter");
  std::vector<Ref<ns::Object>> seen;
  auto setter =
      ns::block<void(Ref<ns::Object>, Ref<ns::Object>)>([&](Ref<ns::Object> self, Ref<ns::Object> value) {
        seen = {self, value};
      });
  auto getter = ns::block<Ref<ns::Object>(Ref<ns::Object>)>([](Ref<ns::Object> self) { return self; });
  ASSERT_TRUE(ns::class_addMethod(counter, "setThing:", ns::imp_implementationWithBlock(setter), "v@:@"));
  ASSERT_TRUE(ns::class_addMethod(counter, "thing", ns::imp_implementationWithBlock(getter), "@@:"));
  auto c = ns::make<Counter>();
  auto value = ns::make<ns::Object>();
  ns::send(c, "setThing:", value);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], c);
  EXPECT_EQ(seen[1], value);
  EXPECT_EQ(ns::send<Ref<ns::Object>>(c, "thing"), c);
  ns::Imp imp = ns::method_getImplementation(ns::class_getInstanceMethod(counter, "thing"));
  EXPECT_EQ(ns::imp_getBlock(imp), getter);
}

}  // namespace

namespace {

TEST(PerformSelector, CallsMethodsWithObjectArgumentsAndAnswersObjectResults) {
  auto c = ns::make<Counter>();
  EXPECT_EQ(ns::send<Ref<ns::Object>>(c, "performSelector:", Sel("me")), c);
  EXPECT_EQ(ns::send<Ref<ns::Object>>(c, "performSelector:", Sel("increment")), nullptr);
  EXPECT_EQ(c->count(), 1);
  auto recorder = ns::make<RecordingProxy>();
  recorder->model = ns::NSClassFromString("RTVideo");
  auto related = ns::make<Video>();
  ns::send<Ref<ns::Object>>(recorder, "performSelector:withObject:", Sel("setRelated:"), related);
  ASSERT_EQ(recorder->recorded.size(), 1u);
  EXPECT_EQ(recorder->recorded[0]->argumentValue<Ref<Video>>(2), related);
  recorder->recorded.clear();  // a kept invocation keeps its target: the recorder itself
  EXPECT_THROW(ns::send<Ref<ns::Object>>(c, "performSelector:", Sel("fly")), ns::Exception);
  EXPECT_EQ(ns::send<std::string>(c, "description"), c->description());
}

TEST(Concurrency, SendsRaceWithMethodTableChanges) {
  ns::Class counter = ns::NSClassFromString("RTCounter");
  auto shared = ns::make<Counter>();
  std::atomic<bool> failed{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      auto own = ns::make<SubCounter>();
      for (int i = 0; i < 300; ++i) {
        ns::send(own, "increment");
        if (ns::send<long>(own, "count") != i + 1) failed = true;
        ns::respondsToSelector(shared, "half");
        std::string name = "added_" + std::to_string(t) + "_" + std::to_string(i);
        auto b = ns::block<long(Ref<ns::Object>)>([i](Ref<ns::Object>) { return long(i); });
        ns::class_addMethod(counter, ns::Sel(name), ns::imp_implementationWithBlock(b), "q@:");
        if (ns::send<long>(own, ns::Sel(name)) != i) failed = true;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_FALSE(failed);
}

}  // namespace

namespace {

TEST(Forwarding, ACycleOfForwardingTargetsEndsInAnError) {
  auto a = ns::make<ForwardingProxy>();
  auto b = ns::make<ForwardingProxy>();
  a->target = b;
  b->target = a;
  EXPECT_THROW(ns::send(a, "increment"), ns::Exception);
  a->target = nullptr;  // break the reference cycle
}

TEST(ClassMessages, ClassesAnswerClassMethodsAndRootInstanceMethods) {
  ns::Object* counterClass = ns::NSClassFromString("RTCounter");
  auto made = ns::send<Ref<ns::Object>>(counterClass, "new");
  EXPECT_NE(std::dynamic_pointer_cast<Counter>(made), nullptr);
  EXPECT_TRUE(ns::send<ns::BOOL>(counterClass, "respondsToSelector:", Sel("resolveInstanceMethod:")));
  EXPECT_TRUE(ns::respondsToSelector(counterClass, "new"));
  EXPECT_FALSE(ns::respondsToSelector(counterClass, "increment"));  // an instance method
  EXPECT_EQ(ns::class_getClassMethod(ns::NSClassFromString("RTCounter"), "increment"), nullptr);
  EXPECT_NE(ns::class_getClassMethod(ns::NSClassFromString("RTSubCounter"), "resolveInstanceMethod:"),
            nullptr);
  EXPECT_EQ(ns::send<ns::Class>(made, "class"), ns::NSClassFromString("RTCounter"));
}

TEST(MethodEncodings, FollowTheCompilersFrameLayout) {
  EXPECT_EQ((ns::runtime::methodEncoding<void, signed char, double>()), "v28@0:8c16d20");
  EXPECT_EQ((ns::runtime::methodEncoding<CGRect, CGPoint>()),
            "{CGRect={CGPoint=dd}{CGSize=dd}}32@0:8{CGPoint=dd}16");
  EXPECT_EQ((ns::runtime::methodEncoding<Ref<ns::Object>, Sel, ns::Class, const char*, bool>()),
            "@44@0:8:16#24*32B40");
  EXPECT_EQ((ns::runtime::blockEncoding<void>()), "v8@?0");
}

TEST(Blocks, StructuresTravelThroughBlocksAndInvocations) {
  auto grow = ns::block<CGRect(CGPoint)>([](CGPoint p) { return CGRect{p, {p.x * 2, p.y * 2}}; });
  EXPECT_STREQ(grow->signature(), "{CGRect={CGPoint=dd}{CGSize=dd}}24@?0{CGPoint=dd}8");
  CGRect direct = grow->call<CGRect>(CGPoint{1, 2});
  EXPECT_EQ(direct.size.height, 4);
  auto inv = ns::Invocation::invocationWithMethodSignature(grow->methodSignature());
  CGPoint p{3, 5};
  inv->setArgument(&p, 1);
  inv->invokeWithTarget(grow);
  CGRect r{};
  inv->getReturnValue(&r);
  EXPECT_EQ(r.origin.x, 3);
  EXPECT_EQ(r.origin.y, 5);
  EXPECT_EQ(r.size.width, 6);
  EXPECT_EQ(r.size.height, 10);
  // A block without a result leaves nothing to read.
  auto nothing = ns::block<void()>([] {});
  EXPECT_EQ(nothing->methodSignature()->methodReturnLength(), 0u);
}

}  // namespace
