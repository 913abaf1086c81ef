#include "platform/core/Object.h"

#include <gtest/gtest.h>

namespace {

struct Widget : ns::Object {};

TEST(ObjectTest, DescriptionNamesTheClassAndAddress) {
  auto w = ns::make<Widget>();
  std::string d = w->description();
  EXPECT_EQ(d.rfind("<Widget: 0x", 0), 0u) << d;
  EXPECT_EQ(d.back(), '>');
}

TEST(ObjectTest, WeakSelfDoesNotKeepAlive) {
  auto w = ns::make<Widget>();
  ns::Weak<Widget> weak = w->weakSelf<Widget>();
  EXPECT_EQ(weak.lock(), w);
  w.reset();
  EXPECT_TRUE(weak.expired());
}

}  // namespace
