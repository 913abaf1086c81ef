#include <gtest/gtest.h>

#include "platform/core/Exception.h"
#include "platform/runtime/Encoding.h"
#include "platform/runtime/Invocation.h"
#include "platform/runtime/MethodSignature.h"

namespace {

using ns::runtime::normalizeEncoding;

TEST(TypeEncoding, SizesAndAlignmentsFollowTheCLayout) {
  struct Case {
    const char* type;
    std::size_t size, align;
  } cases[] = {
      {"c", 1, 1},
      {"B", 1, 1},
      {"s", 2, 2},
      {"i", 4, 4},
      {"q", 8, 8},
      {"f", 4, 4},
      {"d", 8, 8},
      {"@", 8, 8},
      {"@\"NSString\"", 8, 8},
      {"@?", 8, 8},
      {"#", 8, 8},
      {":", 8, 8},
      {"*", 8, 8},
      {"^{Opaque}", 8, 8},
      {"[4i]", 16, 4},
      {"{CGRect={CGPoint=dd}{CGSize=dd}}", 32, 8},
      {"{Mixed=cid}", 16, 8},
      {"(Either=cd)", 8, 8},
      {"{Bits=b3b5c}", 2, 1},
      {"{_NSRange=QQ}", 16, 8},
      {"{Named=\"x\"i\"y\"c}", 8, 4},
      {"r^v", 8, 8},
      {"{Empty}", 0, 1},
  };
  for (const auto& c : cases) {
    std::size_t size = 99, align = 99;
    const char* end = ns::NSGetSizeAndAlignment(c.type, &size, &align);
    EXPECT_EQ(size, c.size) << c.type;
    EXPECT_EQ(align, c.align) << c.type;
    EXPECT_EQ(*end, '\0') << c.type;
  }
}

TEST(TypeEncoding, NormalizingDropsQualifiersOffsetsAndNames) {
  EXPECT_EQ(normalizeEncoding("v24@0:8@16"), "v@:@");
  EXPECT_EQ(normalizeEncoding("v24@?0@\"NSString\"8@16"), "v@?@@");
  EXPECT_EQ(normalizeEncoding("Vv32@0:8r*16^{Foo=i}24"), "v@:*^v");
  EXPECT_EQ(normalizeEncoding("{CGRect={CGPoint=dd}{CGSize=dd}}40@0:8"), "{={=dd}{=dd}}@:");
  EXPECT_EQ(normalizeEncoding("@?<v@?@>"), "@?");
  EXPECT_EQ(normalizeEncoding("v-8@0"), "v@");
}

TEST(TypeEncoding, MalformedEncodingsAreRejectedWithoutCrashing) {
  for (const char* bad :
       {"{Unclosed=ii", "[12", "[x]", "(U=i", "^", "@\"Unterminated", "Z", "", "b", "{A={B={C={D="}) {
    EXPECT_EQ(normalizeEncoding(bad), "") << bad;
    EXPECT_ANY_THROW(ns::MethodSignature::signatureWithObjCTypes(bad)) << bad;
  }
  std::string deep(5000, '^');
  deep += "i";
  EXPECT_EQ(normalizeEncoding(deep), "");
  EXPECT_ANY_THROW(ns::NSGetSizeAndAlignment("{Broken", nullptr, nullptr));
}

TEST(MethodSignatureTest, ReportsTypesLengthsAndBounds) {
  auto sig = ns::MethodSignature::signatureWithObjCTypes("c40@0:8d16{_NSRange=QQ}24");
  EXPECT_EQ(sig->numberOfArguments(), 4u);
  EXPECT_STREQ(sig->methodReturnType(), "c");
  EXPECT_EQ(sig->methodReturnLength(), 1u);
  EXPECT_STREQ(sig->getArgumentTypeAtIndex(0), "@");
  EXPECT_STREQ(sig->getArgumentTypeAtIndex(1), ":");
  EXPECT_STREQ(sig->getArgumentTypeAtIndex(3), "{_NSRange=QQ}");
  EXPECT_EQ(sig->frameLength(), 40u);
  EXPECT_FALSE(sig->isOneway());
  EXPECT_ANY_THROW(sig->getArgumentTypeAtIndex(4));
  EXPECT_TRUE(ns::MethodSignature::signatureWithObjCTypes("Vv16@0:8")->isOneway());
  // Signatures are shared per encoding.
  EXPECT_EQ(sig, ns::MethodSignature::signatureWithObjCTypes("c40@0:8d16{_NSRange=QQ}24"));
}

TEST(MethodSignatureTest, CallsOnlyWhatLibffiLaysOutAsTheEncodingDoes) {
  auto callable = [](const char* types) {
    return ns::MethodSignature::signatureWithObjCTypes(types)->callInterface() != nullptr;
  };
  EXPECT_TRUE(callable("{_NSRange=QQ}@:{CGPoint=dd}(U=id)[4i]"));
  EXPECT_TRUE(callable("v@:{Flags=b1b3b4b9}"));
  // A complex field has no libffi type: dropping it would make the structure smaller than the
  // buffers an invocation gives it, so the call is refused instead.
  EXPECT_FALSE(callable("v@:{Odd=ijd}"));
  EXPECT_FALSE(callable("{Odd=ijd}@:"));
  // A huge array is sized, but is neither laid out element by element nor stored by value.
  const char* huge = "v@:{Huge=[1099511627775c]}";
  std::size_t size = 0;
  ns::NSGetSizeAndAlignment("{Huge=[1099511627775c]}", &size, nullptr);
  EXPECT_EQ(size, 1099511627775u);
  EXPECT_FALSE(callable(huge));
  EXPECT_THROW(
      ns::Invocation::invocationWithMethodSignature(ns::MethodSignature::signatureWithObjCTypes(huge)),
      ns::Exception);
}

}  // namespace
