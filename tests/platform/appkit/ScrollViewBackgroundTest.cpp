// The scroll view's background: drawn by its clip view under the document, so it shows below a
// short document and through a transparent one, follows scrolling, and goes with no colour or
// with drawsBackground off.
#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TableView.h"
#include "platform/testing/ui/Canvas.h"
#include "tests/platform/appkit/AppKitTestSupport.h"

namespace {

using ak::MakeRect;
using appkit_test::swatch;

constexpr ak::RGBA kGrey{50, 50, 50, 255};
constexpr ak::RGBA kWhite{255, 255, 255, 255};

struct ScrollFixture {
  pltest::HeadlessApp app;
  ns::Ref<ak::Window> window = app.window(MakeRect(0, 0, 300, 400), ak::BorderlessWindowMask);
  ns::Ref<ak::ScrollView> scroll = ak::make<ak::ScrollView>(MakeRect(0, 0, 300, 400));

  ScrollFixture() {
    window->setBackgroundColor(ak::Color::colorWithDeviceRed_green_blue_alpha(1, 1, 1, 1));
    window->setContentView(scroll);
  }
  // y measured from the window's top.
  ak::RGBA pixel(double x, double yFromTop) { return pltest::windowPixel(window, x, 400 - yFromTop); }
  testing::AssertionResult near(double x, double yFromTop, ak::RGBA expected) {
    auto seen = pixel(x, yFromTop);
    const int a[] = {seen.r, seen.g, seen.b, seen.a}, b[] = {expected.r, expected.g, expected.b, expected.a};
    for (int i = 0; i < 4; ++i) {
      if (std::abs(a[i] - b[i]) > 2)
        return testing::AssertionFailure()
               << pltest::describe(seen) << " instead of " << pltest::describe(expected);
    }
    return testing::AssertionSuccess();
  }
};

TEST(ScrollViewBackground, ShowsBelowAShortDocumentAndGoesWhenSwitchedOff) {
  ScrollFixture f;
  EXPECT_EQ(f.scroll->backgroundColor(), nullptr);
  EXPECT_TRUE(f.scroll->drawsBackground());
  // A flipped document 120 points high: rows at the top, nothing under them.
  auto document = swatch(MakeRect(0, 0, 300, 120), appkit_test::kRed, true);
  f.scroll->setDocumentView(document);
  // No colour: nothing of the scroll view's own below the document.
  EXPECT_EQ(f.pixel(150, 300), kWhite);

  f.scroll->setBackgroundColor(ak::Color::colorWithCalibratedWhite_alpha(50 / 255.0, 1));
  EXPECT_EQ(f.scroll->contentView()->backgroundColor(), f.scroll->backgroundColor());
  pltest::renderWindow(f.window, "grey-under-a-short-document");
  EXPECT_EQ(f.pixel(150, 60), appkit_test::kRed);
  EXPECT_TRUE(f.near(150, 300, kGrey));
  EXPECT_TRUE(f.near(5, 125, kGrey));

  f.scroll->setDrawsBackground(false);
  EXPECT_EQ(f.pixel(150, 300), kWhite);
  f.scroll->setDrawsBackground(true);
  EXPECT_TRUE(f.near(150, 300, kGrey));
  f.scroll->setBackgroundColor(nullptr);
  EXPECT_EQ(f.pixel(150, 300), kWhite);
}

TEST(ScrollViewBackground, ShowsThroughATransparentDocumentAndFollowsScrolling) {
  ScrollFixture f;
  const ak::RGBA dark{20, 25, 30, 255};
  f.scroll->setBackgroundColor(
      ak::Color::colorWithDeviceRed_green_blue_alpha(20 / 255.0, 25 / 255.0, 30 / 255.0, 1));
  // A table whose own background is transparent, as the list's is.
  auto table = ak::make<ak::TableView>(MakeRect(0, 0, 300, 400));
  table->setBackgroundColor(ak::Color::colorWithCalibratedWhite_alpha(184 / 255.0, 0));
  f.scroll->setDocumentView(table);
  EXPECT_TRUE(f.near(150, 200, dark));

  // A tall see-through document with a half-transparent white band at its top: the two mix.
  auto document = swatch(MakeRect(0, 0, 300, 1200), {0, 0, 0, 0}, true);
  document->addSubview(swatch(MakeRect(0, 0, 300, 40), {255, 255, 255, 128}, true));
  f.scroll->setDocumentView(document);
  EXPECT_TRUE(f.near(150, 200, dark));
  auto mixed = f.pixel(150, 20);
  EXPECT_NEAR(mixed.r, (20 + 255) / 2, 3);
  EXPECT_NEAR(mixed.b, (30 + 255) / 2, 3);
  // Scrolled down, the band leaves the view and the background is drawn where it was.
  f.scroll->contentView()->scrollToPoint({0, 600});
  ASSERT_EQ(f.scroll->contentView()->bounds().origin.y, 600);
  EXPECT_TRUE(f.near(150, 20, dark));
  EXPECT_TRUE(f.near(150, 390, dark));
}

}  // namespace
