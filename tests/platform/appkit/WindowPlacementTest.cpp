// Titled windows shown on a screen smaller than their frame: the title bar lands on the visible
// frame, a resizable window shrinks to it (never below its minimum size), and a frame kept from a
// larger screen is brought onto the screen it opens on, the one that holds most of it.
#include <gtest/gtest.h>

#include "platform/appkit/Screen.h"
#include "platform/appkit/Window.h"
#include "platform/appkit/WindowMetrics.h"
#include "platform/testing/ui/HeadlessApp.h"

namespace {

using ak::MakeRect;

constexpr unsigned long kResizable =
    ak::TitledWindowMask | ak::ClosableWindowMask | ak::MiniaturizableWindowMask | ak::ResizableWindowMask;
constexpr unsigned long kFixed = ak::TitledWindowMask | ak::ClosableWindowMask;

// A hidden window whose frame (title bar included) is `frame`, shown once placed.
ns::Ref<ak::Window> shownWithFrame(const ak::Rect& frame, unsigned long style, ak::Size minSize = {}) {
  auto window = ak::make<ak::Window>(MakeRect(0, 0, 100, 100), style);
  window->setMinSize(minSize);
  window->setFrame_display(frame, false);
  EXPECT_EQ(window->frame(), frame);
  window->makeKeyAndOrderFront(nullptr);
  return window;
}

TEST(WindowPlacement, AWindowLargerThanASmallScreenOpensWithItsTitleBarOnTheVisibleFrame) {
  struct Case {
    const char* what;
    ak::Rect screen;
    ak::Rect frame;
    unsigned long style;
    ak::Size minSize;
    ak::Rect expected;
  } cases[] = {
      // The main window's size, centred on the visible frame as far as it goes (1024x678 and
      // 1280x698 below the menu bar's strip): the top stood above the screen.
      {"1024x700",
       MakeRect(0, 0, 1024, 700),
       MakeRect(0, 0, 1100, 749),
       kResizable,
       {682, 422},
       MakeRect(0, 0, 1024, 678)},
      {"1280x720",
       MakeRect(0, 0, 1280, 720),
       MakeRect(90, 0, 1100, 749),
       kResizable,
       {682, 422},
       MakeRect(90, 0, 1100, 698)},
      // Kept from a 1920x1080 screen, centred there.
      {"stored",
       MakeRect(0, 0, 1024, 700),
       MakeRect(360, 165, 1200, 750),
       kResizable,
       {682, 422},
       MakeRect(0, 0, 1024, 678)},
      // Kept from the right half of a larger screen, and smaller than this one: moved, not sized.
      {"stored off the side",
       MakeRect(0, 0, 1024, 700),
       MakeRect(1500, 600, 600, 400),
       kResizable,
       {},
       MakeRect(424, 278, 600, 400)},
      // Not resizable: the size stays, the top and the buttons' left edge come onto the screen.
      {"fixed size",
       MakeRect(0, 0, 1024, 700),
       MakeRect(-20, 0, 1100, 749),
       kFixed,
       {},
       MakeRect(0, -71, 1100, 749)},
      // A minimum size bigger than the screen is kept; the rest as for any resizable window.
      {"minimum size",
       MakeRect(0, 0, 1024, 700),
       MakeRect(0, 0, 1300, 900),
       kResizable,
       {1200, 800},
       MakeRect(0, -122, 1200, 800)},
      // A window fallen below the screen comes up until its title bar is on it.
      {"below",
       MakeRect(0, 0, 1024, 700),
       MakeRect(100, -600, 400, 300),
       kResizable,
       {},
       MakeRect(100, -278, 400, 300)},
      // On the screen already: left where it is.
      {"inside",
       MakeRect(0, 0, 1024, 700),
       MakeRect(10, 20, 400, 300),
       kResizable,
       {},
       MakeRect(10, 20, 400, 300)},
  };
  for (const auto& c : cases) {
    pltest::HeadlessApp app;
    ak::Screen::setScreenFrames({c.screen});
    auto window = shownWithFrame(c.frame, c.style, c.minSize);
    EXPECT_EQ(window->frame(), c.expected) << c.what;
    EXPECT_EQ(window->constrainFrameRect_toScreen(c.frame, ak::Screen::mainScreen()), c.expected) << c.what;
    // The standard buttons, in the frame's top strip, lie on the visible frame.
    const ak::Rect visible = ak::Screen::mainScreen()->visibleFrame();
    auto close = window->standardWindowButton(ak::WindowButton::CloseButton);
    ASSERT_TRUE(close) << c.what;
    const ak::Rect button = window->convertRectToScreen(close->frame());
    EXPECT_TRUE(ak::ContainsRect(visible, button)) << c.what;
  }
}

TEST(WindowPlacement, TheSystemsWorkAreaIsTheVisibleFrameAndOnlyTitledTopLevelWindowsAreMoved) {
  pltest::HeadlessApp app;
  // A panel takes the top 40 points of the first screen; a second screen stands to its right.
  ak::Screen::setScreenFrames_visibleFrames({MakeRect(0, 0, 1024, 700), MakeRect(1024, 0, 1280, 720)},
                                            {MakeRect(0, 0, 1024, 660), MakeRect(0, 0, 0, 0)});
  ASSERT_EQ(ak::Screen::screens().size(), 2u);
  EXPECT_EQ(ak::Screen::screens()[1]->visibleFrame(), MakeRect(1024, 0, 1280, 720));
  EXPECT_EQ(shownWithFrame(MakeRect(0, 0, 1100, 749), kResizable)->frame(), MakeRect(0, 0, 1024, 660));
  // On the second screen, by its own visible frame.
  EXPECT_EQ(shownWithFrame(MakeRect(1100, 100, 800, 700), kResizable)->frame(), MakeRect(1100, 20, 800, 700));
  // Borderless windows (full-screen, pop-ups) go where they are put.
  EXPECT_EQ(shownWithFrame(MakeRect(0, 0, 1100, 749), ak::BorderlessWindowMask)->frame(),
            MakeRect(0, 0, 1100, 749));
  auto window = ak::make<ak::Window>(MakeRect(0, 0, 100, 100), kResizable);
  EXPECT_EQ(window->constrainFrameRect_toScreen(MakeRect(0, 0, 1100, 749), nullptr),
            MakeRect(0, 0, 1100, 749));
  // Without visible frames the system's screens are whole.
  ak::Screen::setScreenFrames_visibleFrames({MakeRect(0, 0, 800, 600)}, {});
  EXPECT_EQ(ak::Screen::mainScreen()->visibleFrame(), MakeRect(0, 0, 800, 600));
}

TEST(WindowPlacement, AWindowAcrossTwoScreensOpensOnTheOneThatHoldsMostOfIt) {
  pltest::HeadlessApp app;
  ak::Screen::setScreenFrames({MakeRect(0, 0, 1024, 700), MakeRect(1024, 0, 1280, 720)});
  const auto screens = ak::Screen::screens();
  ASSERT_EQ(screens.size(), 2u);
  // 676 points across on the second screen, 124 on the first: it comes whole onto the second.
  auto right = ak::make<ak::Window>(MakeRect(0, 0, 100, 100), kResizable);
  right->setFrame_display(MakeRect(900, 100, 800, 500), false);
  EXPECT_EQ(right->screen(), screens[1]);
  right->makeKeyAndOrderFront(nullptr);
  EXPECT_EQ(right->frame(), MakeRect(1024, 100, 800, 500));
  // Mostly on the first: it stays on the first.
  EXPECT_EQ(shownWithFrame(MakeRect(600, 100, 800, 500), kResizable)->frame(), MakeRect(224, 100, 800, 500));
  // Off every screen: the main one.
  right->setFrame_display(MakeRect(5000, 5000, 100, 100), false);
  EXPECT_EQ(right->screen(), screens[0]);
}

}  // namespace
