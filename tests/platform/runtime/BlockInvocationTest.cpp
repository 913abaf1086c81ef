#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/core/Exception.h"
#include "platform/dispatch/Synchronized.h"
#include "platform/runtime/AssociatedObjects.h"
#include "platform/runtime/Block.h"
#include "platform/runtime/Send.h"
#include "tests/platform/runtime/TestClasses.h"

// Twenty one-bit flags packed into three bytes, as a compiler lays them out.
struct PackedFlags {
  unsigned char bytes[3];
};
PL_STRUCT_ENCODING(PackedFlags, "{PackedFlags=b1b1b1b1b1b1b1b1b1b1b1b1b1b1b1b1b1b1b1b1}");

namespace {

using namespace rt_test;
using ns::Ref;
using ns::Value;

Ref<ns::Invocation> invocationFor(const char* className, ns::Sel sel) {
  ns::Method m = ns::class_getInstanceMethod(ns::NSClassFromString(className), sel);
  EXPECT_NE(m, nullptr) << sel.name();
  auto inv = ns::Invocation::invocationWithMethodSignature(
      ns::MethodSignature::signatureWithObjCTypes(ns::method_getTypeEncoding(m)));
  inv->setSelector(sel);
  return inv;
}

TEST(Invocations, ReturnEveryKindOfValue) {
  auto c = ns::make<Counter>();
  c->setCount(7);

  auto isPositive = invocationFor("RTCounter", "isPositive");
  isPositive->invokeWithTarget(c);
  // A one-byte result is copied as one byte: the byte after it stays untouched.
  unsigned char out[2] = {0, 0x7f};
  isPositive->getReturnValue(out);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], 0x7f);
  EXPECT_EQ(isPositive->returnValue<ns::BOOL>(), ns::YES);

  auto initial = invocationFor("RTCounter", "initial");
  initial->invokeWithTarget(c);
  char letter[2] = {0, 0x55};
  initial->getReturnValue(letter);
  EXPECT_EQ(letter[0], 'K');
  EXPECT_EQ(letter[1], 0x55);

  auto half = invocationFor("RTCounter", "half");
  half->invokeWithTarget(c);
  double d = 0;
  half->getReturnValue(&d);
  EXPECT_EQ(d, 3.5);

  auto frame = invocationFor("RTCounter", "frame");
  frame->invokeWithTarget(c);
  CGRect r{};
  frame->getReturnValue(&r);
  EXPECT_EQ(r.origin.x, 1.5);
  EXPECT_EQ(r.origin.y, 2.5);
  EXPECT_EQ(r.size.width, 7.0);
  EXPECT_EQ(r.size.height, 4.0);
  EXPECT_EQ(frame->methodSignature()->methodReturnLength(), sizeof(CGRect));

  auto offset = invocationFor("RTCounter", "offsetFrame:by:");
  CGRect in{{1, 1}, {2, 2}};
  CGPoint by{0.5, -1};
  offset->setArgument(&in, 2);
  offset->setArgument(&by, 3);
  offset->invokeWithTarget(c);
  EXPECT_EQ(offset->returnValue<CGRect>().origin.y, 0.0);

  auto me = invocationFor("RTCounter", "me");
  me->invokeWithTarget(c);
  EXPECT_EQ(me->returnValue<Ref<Counter>>(), c);

  auto add = invocationFor("RTCounter", "add:to:");
  add->setArgumentValue(2, 10L);
  add->setArgumentValue(3, 20L);
  add->invokeWithTarget(c);
  EXPECT_EQ(add->returnValue<long>(), 37);
  EXPECT_EQ(add->argumentValue<long>(3), 20);
  EXPECT_EQ(add->target(), c);
}

TEST(Invocations, PassBitFieldsInTheStorageTheyShare) {
  auto flip = ns::block<PackedFlags(PackedFlags)>([](PackedFlags f) {
    for (auto& b : f.bytes) b = static_cast<unsigned char>(~b);
    return f;
  });
  // Through libffi, the structure has the size the signature gives it: three bytes each way.
  EXPECT_EQ(flip->methodSignature()->methodReturnLength(), sizeof(PackedFlags));
  auto inv = ns::Invocation::invocationWithMethodSignature(flip->methodSignature());
  PackedFlags in{{0x01, 0x80, 0x0f}};
  inv->setArgument(&in, 1);
  inv->invokeWithTarget(flip);
  PackedFlags out{};
  inv->getReturnValue(&out);
  EXPECT_EQ(out.bytes[0], 0xfe);
  EXPECT_EQ(out.bytes[1], 0x7f);
  EXPECT_EQ(out.bytes[2], 0xf0);
}

TEST(Invocations, ArgumentIndexesOutOfRangeRaise) {
  auto add = invocationFor("RTCounter", "add:to:");
  long value = 1;
  for (long bad : {4L, 5L, -2L}) {
    try {
      add->setArgument(&value, bad);
      FAIL() << "no exception for index " << bad;
    } catch (const ns::Exception& e) {
      EXPECT_EQ(e.name(), "NSInvalidArgumentException");
      EXPECT_EQ(e.reason(), "-[NSInvocation setArgument:atIndex:]: index (" + std::to_string(bad) +
                                ") out of bounds [-1, 3]");
    }
    EXPECT_THROW(add->getArgument(&value, bad), ns::Exception);
  }
  // A typed value of the wrong kind is refused.
  EXPECT_THROW(add->setArgumentValue(2, ns::make<Counter>()), ns::Exception);
  EXPECT_THROW(add->argumentValue<std::string>(2), ns::Exception);
}

TEST(Invocations, RetainedArgumentsKeepObjectsAndCopyStrings) {
  auto sig = ns::MethodSignature::signatureWithObjCTypes("v32@0:8*16@24");
  auto inv = ns::Invocation::invocationWithMethodSignature(sig);
  char text[] = "original";
  const char* p = text;
  inv->setArgument(&p, 2);
  ns::Weak<ns::Object> weak;
  {
    auto arg = ns::make<Counter>();
    weak = arg;
    inv->setArgumentValue(3, arg);
  }
  EXPECT_FALSE(weak.expired());  // object arguments are kept
  EXPECT_FALSE(inv->argumentsRetained());
  inv->retainArguments();
  EXPECT_TRUE(inv->argumentsRetained());
  std::strcpy(text, "changed!");
  const char* kept = nullptr;
  inv->getArgument(&kept, 2);
  EXPECT_STREQ(kept, "original");
  inv.reset();
  EXPECT_TRUE(weak.expired());
}

TEST(Blocks, ReportTheirSignatureAndRunThroughInvocations) {
  std::vector<Ref<ns::Object>> got;
  auto b = ns::block<void(Ref<ns::Object>, Ref<ns::Object>)>([&](Ref<ns::Object> a, Ref<ns::Object> c) {
    got = {a, c};
  });
  EXPECT_STREQ(b->signature(), "v24@?0@8@16");
  // The signature is read from the descriptor, after the copy and dispose helpers.
  const ns::BlockLiteral* lit = b->literal();
  EXPECT_TRUE(lit->flags & ns::BLOCK_HAS_SIGNATURE);
  EXPECT_TRUE(lit->flags & ns::BLOCK_HAS_COPY_DISPOSE);
  EXPECT_STREQ(ns::blockSignatureOf(lit), "v24@?0@8@16");
  EXPECT_EQ(ns::Block::fromLiteral(lit), b.get());

  auto x = ns::make<Counter>();
  auto y = ns::make<Video>();
  auto inv = ns::Invocation::invocationWithMethodSignature(b->methodSignature());
  inv->setArgumentValue(1, x);
  inv->setArgumentValue(2, y);
  inv->invokeWithTarget(b);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], x);
  EXPECT_EQ(got[1], y);

  // Class names and scalars in generated signatures.
  auto typed = ns::block<double(Ref<Video>, long, std::string)>(
      [](Ref<Video> v, long n, std::string s) { return n + double(s.size()) + (v ? 0.5 : 0); });
  EXPECT_STREQ(typed->signature(), "d32@?0@\"RTVideo\"8q16@\"NSString\"24");
  EXPECT_EQ(typed->call<double>(y, 2L, std::string("abc")), 5.5);
  EXPECT_EQ(typed->call<double>(Ref<Video>(), 2, std::string("abc")), 5.0);   // converted: int to long
  EXPECT_THROW(typed->call<double>(y, 2L), ns::Exception);                    // too few arguments
  EXPECT_THROW(typed->call<double>(y, std::string("x"), 2L), ns::Exception);  // wrong types

  auto typedInv = ns::Invocation::invocationWithMethodSignature(typed->methodSignature());
  typedInv->setArgumentValue(2, 10L);
  typedInv->setArgumentValue(3, std::string("ab"));
  typedInv->invokeWithTarget(typed);
  EXPECT_EQ(typedInv->returnValue<double>(), 12.0);

  // Results narrower than a machine word: a float comes back as a float, not as integer bits.
  auto halve = ns::block<float(float)>([](float f) { return f / 2; });
  auto halveInv = ns::Invocation::invocationWithMethodSignature(halve->methodSignature());
  halveInv->setArgumentValue(1, 3.0f);
  halveInv->invokeWithTarget(halve);
  EXPECT_EQ(halveInv->returnValue<float>(), 1.5f);
  float raw = 0;
  halveInv->getReturnValue(&raw);
  EXPECT_EQ(raw, 1.5f);
  EXPECT_EQ(halve->call<double>(5.0), 2.5);  // converted on the way in and out
  auto negate = ns::block<short(short)>([](short v) { return static_cast<short>(-v); });
  EXPECT_EQ(negate->call<long>(7L), -7);
}

TEST(Blocks, ExceptionsCrossBackOverForeignFrames) {
  auto thrower = ns::block<long(long)>([](long n) -> long {
    if (n < 0) ns::Exception::raise("NSRangeException", "negative");
    return n;
  });
  EXPECT_EQ(thrower->call<long>(3L), 3);
  try {
    thrower->call<long>(-1L);
    FAIL();
  } catch (const ns::Exception& e) {
    EXPECT_EQ(e.reason(), "negative");
  }
  // Through libffi: an invocation, and a block installed as a method.
  auto inv = ns::Invocation::invocationWithMethodSignature(thrower->methodSignature());
  inv->setArgumentValue(1, -5L);
  EXPECT_THROW(inv->invokeWithTarget(thrower), ns::Exception);
  auto method = ns::block<void(Ref<ns::Object>)>([](Ref<ns::Object>) { throw std::logic_error("inside"); });
  ASSERT_TRUE(ns::class_addMethod(ns::NSClassFromString("RTVideo"), "explode",
                                  ns::imp_implementationWithBlock(method), "v@:"));
  EXPECT_THROW(ns::send(ns::make<Video>(), "explode"), std::logic_error);
  EXPECT_EQ(thrower->call<long>(4L), 4);  // nothing is left pending
}

TEST(AssociatedObjects, FollowTheirPolicies) {
  static const char retainKey = 0, weakKey = 0, copyKey = 0;
  ns::Weak<ns::Object> kept;
  ns::Weak<ns::Object> ownerWeak;
  auto unowned = ns::make<Counter>();
  {
    auto owner = ns::make<Video>();
    ownerWeak = owner;
    {
      auto value = ns::make<Counter>();
      kept = value;
      ns::objc_setAssociatedObject(owner.get(), &retainKey, value, ns::OBJC_ASSOCIATION_RETAIN_NONATOMIC);
    }
    EXPECT_FALSE(kept.expired());  // retained by the association
    EXPECT_EQ(ns::objc_getAssociatedObject(owner.get(), &retainKey), kept.lock());

    ns::objc_setAssociatedObject(owner.get(), &weakKey, unowned, ns::OBJC_ASSOCIATION_ASSIGN);
    EXPECT_EQ(ns::objc_getAssociatedObject(owner.get(), &weakKey), unowned);

    ns::objc_setAssociatedObject(owner.get(), &copyKey, Value("text"), ns::OBJC_ASSOCIATION_COPY);
    EXPECT_EQ(ns::objc_getAssociatedValue(owner.get(), &copyKey).string(), "text");
    // An object that cannot copy itself refuses the copy policy.
    EXPECT_THROW(
        ns::objc_setAssociatedObject(owner.get(), &copyKey, ns::make<Counter>(), ns::OBJC_ASSOCIATION_COPY),
        ns::Exception);
    EXPECT_EQ(ns::objc_getAssociatedValue(owner.get(), &copyKey).string(), "text");
  }
  EXPECT_TRUE(ownerWeak.expired());
  EXPECT_TRUE(kept.expired());        // released with its owner
  EXPECT_EQ(unowned.use_count(), 1);  // an assign association never owned it

  // A weak association reads as null once its value died; null removes; remove-all clears.
  auto owner = ns::make<Video>();
  {
    auto shortLived = ns::make<Counter>();
    ns::objc_setAssociatedObject(owner.get(), &weakKey, shortLived, ns::OBJC_ASSOCIATION_ASSIGN);
  }
  EXPECT_EQ(ns::objc_getAssociatedObject(owner.get(), &weakKey), nullptr);
  ns::objc_setAssociatedObject(owner.get(), &retainKey, unowned, ns::OBJC_ASSOCIATION_RETAIN);
  ns::objc_setAssociatedObject(owner.get(), &retainKey, Ref<ns::Object>(), ns::OBJC_ASSOCIATION_RETAIN);
  EXPECT_EQ(ns::objc_getAssociatedObject(owner.get(), &retainKey), nullptr);
  ns::objc_setAssociatedObject(owner.get(), &retainKey, unowned, ns::OBJC_ASSOCIATION_RETAIN);
  ns::objc_removeAssociatedObjects(owner.get());
  EXPECT_EQ(ns::objc_getAssociatedObject(owner.get(), &retainKey), nullptr);
  EXPECT_EQ(unowned.use_count(), 1);

  // Classes take associations too.
  ns::Class cls = ns::NSClassFromString("RTVideo");
  ns::objc_setAssociatedObject(cls, &retainKey, Value(3), ns::OBJC_ASSOCIATION_RETAIN);
  EXPECT_EQ(ns::objc_getAssociatedValue(cls, &retainKey).intValue(), 3);
  ns::objc_removeAssociatedObjects(cls);
}

TEST(AssociatedObjects, DestructionCallbacksRunBeforeAssociationsAreReleased) {
  static const char key = 0;
  std::vector<std::string> order;
  const void* seenAddress = nullptr;
  const void* address = nullptr;
  {
    auto owner = ns::make<Video>();
    address = owner.get();
    ns::objc_setAssociatedObject(owner.get(), &key, ns::block<void()>([] {}), ns::OBJC_ASSOCIATION_RETAIN);
    ns::objc_addDestructionCallback(owner.get(), [&](ns::Object* dying) {
      seenAddress = dying;
      order.push_back(ns::objc_getAssociatedObject(dying, &key) ? "associations still there" : "gone");
    });
  }
  EXPECT_EQ(seenAddress, address);
  EXPECT_EQ(order, std::vector<std::string>{"associations still there"});
}

TEST(ObjectLocks, AreRecursiveAndOwnedByTheirThread) {
  auto object = ns::make<Counter>();
  EXPECT_EQ(ns::objc_sync_enter(object.get()), ns::OBJC_SYNC_SUCCESS);
  EXPECT_EQ(ns::objc_sync_enter(object.get()), ns::OBJC_SYNC_SUCCESS);
  int fromOtherThread = 0;
  std::thread([&] { fromOtherThread = ns::objc_sync_exit(object.get()); }).join();
  EXPECT_EQ(fromOtherThread, ns::OBJC_SYNC_NOT_OWNING_THREAD_ERROR);
  EXPECT_EQ(ns::objc_sync_exit(object.get()), ns::OBJC_SYNC_SUCCESS);
  EXPECT_EQ(ns::objc_sync_exit(object.get()), ns::OBJC_SYNC_SUCCESS);
  EXPECT_EQ(ns::objc_sync_exit(object.get()), ns::OBJC_SYNC_NOT_OWNING_THREAD_ERROR);

  // Both scoped locks in one program: each must run its own destructor. When they shared a name,
  // the object lock's destructor was the address lock's, which freed a record it never had.
  int plain = 0;
  for (int round = 0; round < 3; ++round) {
    ns::ObjcSyncGuard objectLock(object.get());
    ns::Synchronized addressLock(&plain);
    ns::Synchronized sameAddressAgain(object.get());  // the address table is a separate lock
    std::thread([&] { fromOtherThread = ns::objc_sync_exit(object.get()); }).join();
    EXPECT_EQ(fromOtherThread, ns::OBJC_SYNC_NOT_OWNING_THREAD_ERROR);
  }
  // Every guard released what it took: the object lock is no longer held by this thread.
  EXPECT_EQ(ns::objc_sync_exit(object.get()), ns::OBJC_SYNC_NOT_OWNING_THREAD_ERROR);

  // Two threads counting under the object's lock (and an address lock) lose no increment.
  long total = 0;
  auto work = [&] {
    for (int i = 0; i < 2000; ++i) {
      ns::ObjcSyncGuard lock(object.get());
      ns::Synchronized addressLock(&plain);
      ++total;
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(total, 4000);
}

TEST(ClassHooks, LoadRunsInRegistrationOrderAndInitializeOncePerClassSuperclassFirst) {
  auto& events = hookEvents();
  auto position = [&](const std::string& e) {
    return std::find(events.begin(), events.end(), e) - events.begin();
  };
  ASSERT_LT(position("load RTCounter"), static_cast<long>(events.size()));
  EXPECT_LT(position("load RTCounter"), position("load RTSubCounter"));

  EXPECT_EQ(std::count(events.begin(), events.end(), "initialize RTLazyBase"), 0);
  ns::send(ns::make<LazySub>(), "ping");
  ns::send(ns::make<LazySub>(), "ping");
  ns::send(ns::make<LazyBase>(), "ping");
  EXPECT_EQ(std::count(events.begin(), events.end(), "initialize RTLazyBase"), 1);
  EXPECT_EQ(std::count(events.begin(), events.end(), "initialize RTLazySub"), 1);
  EXPECT_LT(position("initialize RTLazyBase"), position("initialize RTLazySub"));
}

TEST(Protocols, DescribeMethodsAndConformance) {
  ns::Protocol* p = ns::objc_getProtocol("RTCacheDelegate");
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(ns::protocol_getName(p), "RTCacheDelegate");
  EXPECT_EQ(ns::objc_getProtocol("NoSuchProtocol"), nullptr);

  auto optional = ns::protocol_getMethodDescription(p, "cache:willEvictObject:", false, true);
  EXPECT_EQ(optional.name, ns::Sel("cache:willEvictObject:"));
  EXPECT_EQ(optional.types, "v32@0:8@16@24");
  EXPECT_FALSE(ns::protocol_getMethodDescription(p, "cache:willEvictObject:", true, true).name);
  EXPECT_EQ(ns::protocol_getMethodDescription(p, "costOfObject:", true, true).types, "q24@0:8@16");
  EXPECT_EQ(ns::protocol_getMethodDescription(p, "sharedEviction", false, false).types, "c16@0:8");
  EXPECT_EQ(ns::protocol_copyMethodDescriptionList(p, false, true).size(), 1u);
  EXPECT_TRUE(ns::protocol_conformsToProtocol(p, ns::objc_getProtocol("NSObject")));

  EXPECT_TRUE(ns::conformsToProtocol(ns::make<Video>(), p));
  EXPECT_TRUE(ns::conformsToProtocol(ns::make<Video>(), ns::objc_getProtocol("NSObject")));
  EXPECT_FALSE(ns::conformsToProtocol(ns::make<Counter>(), p));
  EXPECT_TRUE(ns::class_conformsToProtocol(ns::NSClassFromString("RTVideo"), p));
}

}  // namespace
