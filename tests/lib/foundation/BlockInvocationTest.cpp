#include <gtest/gtest.h>

#include <cstring>

#include "lib/foundation/BlockInvocation.h"
#include "platform/core/Exception.h"
#include "platform/runtime/TypeCodec.h"

namespace bi_test {
struct Point {
  double x, y;
};
struct Size {
  double width, height;
};
struct Rect {
  Point origin;
  Size size;
};
struct Foo {
  int i;
  char c[3];
  double d;
};
}  // namespace bi_test

PL_STRUCT_ENCODING(bi_test::Point, "{CGPoint=dd}");
PL_STRUCT_ENCODING(bi_test::Size, "{CGSize=dd}");
PL_STRUCT_ENCODING(bi_test::Rect, "{CGRect={CGPoint=dd}{CGSize=dd}}");
PL_STRUCT_ENCODING(bi_test::Foo, "{Foo=i[3c]d}");

namespace {

using bi_test::Foo;
using bi_test::Point;
using bi_test::Rect;

ns::Ref<ns::MethodSignature> signature(const char* types) {
  return ns::MethodSignature::signatureWithObjCTypes(types);
}

TEST(BlockInvocationTest, StructuresGoInAndComeBackThroughAMethodsInvocation) {
  auto block = ns::block<Rect(Point)>([](Point p) { return Rect{{p.x, p.y}, {p.x * 2, p.y * 3}}; });
  auto method = signature("{CGRect={CGPoint=dd}{CGSize=dd}}@:{CGPoint=dd}");
  auto bi = BlockInvocation::initWithBlock_methodSignature(block, method);
  ASSERT_NE(bi, nullptr);
  EXPECT_EQ(bi->returnLength(), sizeof(Rect));
  auto inv = ns::Invocation::invocationWithMethodSignature(method);
  inv->setSelector(ns::Sel("rectAt:"));
  Point p{1.5, 2.0};
  inv->setArgument(&p, 2);
  bi->invokeUsingInvocation(inv);
  Rect r{};
  inv->getReturnValue(&r);
  EXPECT_EQ(r.origin.x, 1.5);
  EXPECT_EQ(r.origin.y, 2.0);
  EXPECT_EQ(r.size.width, 3.0);
  EXPECT_EQ(r.size.height, 6.0);

  auto echo = BlockInvocation::initWithBlock_methodSignature(ns::block<Foo(Foo)>([](Foo f) {
                                                               f.d *= 2;
                                                               return f;
                                                             }),
                                                             nullptr);
  ASSERT_NE(echo, nullptr);
  Foo in{7, {'a', 'b', 'c'}, 1.25};
  echo->setArgument_atIndex(&in, 0);
  echo->invoke();
  Foo out{};
  echo->getReturnValue(&out);
  EXPECT_EQ(out.i, 7);
  EXPECT_EQ(std::string(out.c, 3), "abc");
  EXPECT_EQ(out.d, 2.5);
}

TEST(BlockInvocationTest, NarrowIntegralResultsComeBackWhole) {
  // libffi widens these to a machine word; the invocation must not overflow its buffer.
  auto yes =
      BlockInvocation::initWithBlock_methodSignature(ns::block<ns::BOOL()>([] { return ns::YES; }), nullptr);
  auto letter =
      BlockInvocation::initWithBlock_methodSignature(ns::block<char()>([] { return 'z'; }), nullptr);
  auto small = BlockInvocation::initWithBlock_methodSignature(ns::block<short()>([] { return short(-1234); }),
                                                              nullptr);
  ASSERT_TRUE(yes && letter && small);
  yes->invoke();
  letter->invoke();
  small->invoke();
  ns::BOOL b = 0;
  char c = 0;
  short s = 0;
  yes->getReturnValue(&b);
  letter->getReturnValue(&c);
  small->getReturnValue(&s);
  EXPECT_EQ(b, ns::YES);
  EXPECT_EQ(c, 'z');
  EXPECT_EQ(s, -1234);
}

TEST(BlockInvocationTest, ArgumentsFollowTheBlocksOwnDeclaration) {
  std::string seen;
  auto block = ns::block<void(const char*, long)>(
      [&](const char* text, long n) { seen = std::string(text) + std::to_string(n); });
  auto bi = BlockInvocation::initWithBlock_methodSignature(block, nullptr);
  ASSERT_NE(bi, nullptr);
  EXPECT_EQ(bi->returnLength(), 0u);
  char text[] = "abc";
  const char* pointer = text;
  long n = 5;
  bi->setArgument_atIndex(&pointer, 0);
  bi->setArgument_atIndex(&n, 1);
  long back = 0;
  bi->getArgument_atIndex(&back, 1);
  EXPECT_EQ(back, 5);
  const char* first = nullptr;
  bi->getArgument_atIndex(&first, 0);  // the first declared argument, not the block
  EXPECT_EQ(first, pointer);
  bi->retainArguments();
  text[0] = 'X';  // the caller's string changes after retaining
  bi->invoke();
  EXPECT_EQ(seen, "abc5");
  bi->clearArguments();
  bi->getArgument_atIndex(&back, 1);
  EXPECT_EQ(back, 0);
  EXPECT_THROW(bi->getArgument_atIndex(&back, 2), ns::Exception);

  // A void block copies nothing back into the method's invocation.
  auto method = signature("i@:*q");
  auto inv = ns::Invocation::invocationWithMethodSignature(method);
  int sentinel = 77;
  inv->setReturnValue(&sentinel);
  const char* other = "zz";
  inv->setArgument(&other, 2);
  inv->setArgument(&n, 3);
  auto voidBlock = BlockInvocation::initWithBlock_methodSignature(block, method);
  voidBlock->invokeUsingInvocation(inv);
  EXPECT_EQ(seen, "zz5");
  int result = 0;
  inv->getReturnValue(&result);
  EXPECT_EQ(result, 77);
}

TEST(BlockInvocationTest, OtherInvocationsUnsignedBlocksAndMissingArgumentsAreHandled) {
  class OtherInvocation : public ns::Invocation {
   public:
    using ns::Invocation::Invocation;
  };
  int calls = 0;
  long seenArgument = -1;
  auto block = ns::block<void(long, long)>([&](long a, long b) {
    ++calls;
    seenArgument = a + b;
  });
  auto method = signature("v@:q");  // one argument fewer than the block takes
  auto bi = BlockInvocation::initWithBlock_methodSignature(block, method);
  auto other = ns::make<OtherInvocation>(method);
  bi->invokeUsingInvocation(other);
  EXPECT_EQ(calls, 0);
  auto inv = ns::Invocation::invocationWithMethodSignature(method);
  long a = 40;
  inv->setArgument(&a, 2);
  bi->invokeUsingInvocation(inv);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seenArgument, 40);  // the missing second argument is zero

  auto unsigned_ = ns::block<void()>([] {});
  unsigned_->literal()->flags &= ~ns::BLOCK_HAS_SIGNATURE;
  EXPECT_EQ(BlockInvocation::initWithBlock_methodSignature(unsigned_, nullptr), nullptr);
}

TEST(BlockInvocationTest, ObjectResultsAreHeldAndExceptionsReachTheCaller) {
  auto made = ns::make<ns::Object>();
  ns::Weak<ns::Object> watch = made;
  auto bi = BlockInvocation::initWithBlock_methodSignature(
      ns::block<ns::Ref<ns::Object>()>([&made] { return std::exchange(made, nullptr); }), nullptr);
  bi->invoke();
  EXPECT_FALSE(watch.expired());  // the held return value keeps it
  bi->setReturnValue(nullptr);
  EXPECT_TRUE(watch.expired());

  auto throwing = BlockInvocation::initWithBlock_methodSignature(
      ns::block<void()>([] { ns::Exception::raise(ns::NSInvalidArgumentException, "from the block"); }),
      nullptr);
  EXPECT_THROW(throwing->invoke(), ns::Exception);
}

}  // namespace
