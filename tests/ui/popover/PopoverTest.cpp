// Showing, fading, closing, moving and resizing the popover, and where it chooses to open.
#include <gtest/gtest.h>

#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Make.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "ui/BubblePopover.h"

using ak::MakePoint;
using ak::MakeRect;
using ak::MakeSize;

namespace {

// The application's own set-up: no arrow, white fill, black border, closes on resigning key.
ns::Ref<BubblePopover> suggestionPopover() {
  auto popover = ak::make<BubblePopover>(ak::make<ak::View>(MakeRect(0, 0, 200, 100)));
  popover->setClosesWhenPopoverResignsKey(true);
  popover->setBorderColor(ak::colors::blackColor());
  popover->setBackgroundColor(ak::colors::whiteColor());
  popover->setDrawsArrow(false);
  return popover;
}

bool isChildOf(const ns::Ref<ak::Window>& child, const ns::Ref<ak::Window>& parent) {
  for (const auto& w : parent->childWindows()) {
    if (w == child) return child->parentWindow() == parent;
  }
  return false;
}

// Where the attachment point of a shown popover lies on the screen.
ak::Point attachmentOnScreen(const ns::Ref<BubblePopover>& popover) {
  auto window = popover->popoverWindow();
  return window->convertBaseToScreen(window->popoverWindowFrame()->attachmentPoint());
}

}  // namespace

TEST(Popover, TheBestPositionHasTheMostRoomAroundThePoint) {
  pltest::HeadlessApp app;
  // The default 100 x 50 content: a 108 x 74 window.
  auto popover = ak::make<BubblePopover>(ak::make<ak::View>(MakeRect(0, 0, 100, 50)));
  auto whole = app.window(MakeRect(0, 0, 1440, 878), ak::BorderlessWindowMask);
  auto parent = app.window(MakeRect(300, 200, 600, 500), ak::BorderlessWindowMask);
  struct Case {
    const char* what;
    ns::Ref<ak::Window> window;
    ak::Point point;
    int position;
  } cases[] = {
      {"room below", whole, MakePoint(700, 500), 1},
      {"near the bottom, room on the right", whole, MakePoint(300, 60), 2},
      {"near the right and bottom edges", whole, MakePoint(1400, 60), 0},
      {"near the parent's left edge", parent, MakePoint(10, 400), 11},
      {"near the parent's right edge", parent, MakePoint(590, 400), 10},
      {"near the bottom left corner of the screen", whole, MakePoint(300, 20), 6},
      {"near the top right corner of the screen, right side blocked", whole, MakePoint(1400, 60), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(popover->bestPositionInWindow_atPoint(c.window, c.point), c.position);
  }

  // Without a window the point is a screen point and the main screen counts; too wide for either
  // side near the bottom, it opens above.
  auto wide = ak::make<BubblePopover>(ak::make<ak::View>(MakeRect(0, 0, 1300, 50)));
  EXPECT_EQ(wide->bestPositionInWindow_atPoint(nullptr, MakePoint(720, 40)), 3);

  // Showing at a point never changes the position; choosing does.
  popover->displayPopoverInWindow_atPoint(whole, MakePoint(1400, 60));
  EXPECT_EQ(popover->position(), 1);
  popover->setAnimates(false);
  popover->closePopover(nullptr);
  popover->displayPopoverInWindow_atPoint_chooseBestLocation(whole, MakePoint(1400, 60), true);
  EXPECT_EQ(popover->position(), 0);
  EXPECT_EQ(attachmentOnScreen(popover), MakePoint(1400, 60));
}

TEST(Popover, TheSuggestionListFadesInFollowsItsParentAndFadesOut) {
  pltest::HeadlessApp app;
  auto parent = app.window(MakeRect(200, 300, 600, 400));
  ASSERT_TRUE(parent->isKeyWindow());
  auto popover = suggestionPopover();
  auto window = popover->popoverWindow();
  EXPECT_FALSE(window->canBecomeKeyWindow());
  EXPECT_FALSE(window->canBecomeMainWindow());

  // No arrow is drawn but its room is kept: 200 x 100 content in a 208 x 124 window.
  popover->displayPopoverInWindow_atPoint(parent, MakePoint(100, 350));
  EXPECT_TRUE(popover->isVisible());
  EXPECT_TRUE(isChildOf(window, parent));
  EXPECT_TRUE(parent->isKeyWindow());
  EXPECT_EQ(window->frame(), MakeRect(300 - 104, 650 - 124, 208, 124));
  EXPECT_EQ(window->alphaValue(), 0.0);
  app.advance(0.125);
  EXPECT_GT(window->alphaValue(), 0.3);
  EXPECT_LT(window->alphaValue(), 0.7);
  app.advance(0.2);
  EXPECT_EQ(window->alphaValue(), 1.0);

  // Showing again while visible does nothing.
  popover->displayPopoverInWindow_atPoint(parent, MakePoint(10, 10));
  EXPECT_EQ(window->frame().origin, MakePoint(196, 526));

  parent->setFrameOrigin(MakePoint(250, 280));
  EXPECT_EQ(window->frame().origin, MakePoint(246, 506));
  popover->movePopoverToPoint(MakePoint(100, 350));
  EXPECT_EQ(window->frame().origin, MakePoint(246, 506));
  popover->movePopoverToPoint(MakePoint(110, 340));
  EXPECT_EQ(window->frame().origin, MakePoint(256, 496));

  popover->closePopover(nullptr);
  app.advance(0.1);
  EXPECT_TRUE(popover->isVisible());
  EXPECT_LT(window->alphaValue(), 1.0);
  app.advance(0.2);
  EXPECT_FALSE(popover->isVisible());
  EXPECT_EQ(window->alphaValue(), 1.0);
  EXPECT_TRUE(parent->childWindows().empty());
  EXPECT_EQ(window->parentWindow(), nullptr);
  // Closing an invisible popover does nothing.
  popover->closePopover(nullptr);
  EXPECT_FALSE(popover->isVisible());
}

TEST(Popover, AShowDuringTheFadeOutKeepsThePopoverAndAnInterruptedFadeLeavesIt) {
  pltest::HeadlessApp app;
  auto parent = app.window(MakeRect(200, 300, 600, 400));
  auto popover = suggestionPopover();
  auto window = popover->popoverWindow();
  popover->displayPopoverInWindow_atPoint(parent, MakePoint(100, 350));
  app.advance(0.5);

  // New suggestions arrive a tenth of a second after a close.
  popover->closePopover(nullptr);
  app.advance(0.1);
  popover->displayPopoverInWindow_atPoint(parent, MakePoint(100, 350));
  app.advance(1.0);
  EXPECT_TRUE(popover->isVisible());
  EXPECT_EQ(window->alphaValue(), 1.0);
  EXPECT_TRUE(isChildOf(window, parent));

  // A fade-out stopped before its end (finished NO) leaves the window where it is.
  popover->closePopover(nullptr);
  app.advance(0.1);
  ak::animation::stop(window.get(), "alphaValue");
  app.advance(1.0);
  EXPECT_TRUE(popover->isVisible());
  EXPECT_GT(window->alphaValue(), 0.0);
  EXPECT_LT(window->alphaValue(), 1.0);

  // Without animation the window goes at once.
  popover->setAnimates(false);
  popover->closePopover(nullptr);
  EXPECT_FALSE(popover->isVisible());
  popover->displayPopoverInWindow_atPoint(parent, MakePoint(100, 350));
  EXPECT_TRUE(popover->isVisible());
  // A show during a fade-out without animation also keeps it.
  popover->setAnimates(true);
  popover->closePopover(nullptr);
  popover->setAnimates(false);
  popover->displayPopoverInWindow_atPoint(parent, MakePoint(100, 350));
  app.advance(1.0);
  EXPECT_TRUE(popover->isVisible());
  EXPECT_EQ(window->alphaValue(), 1.0);
}

TEST(Popover, ItClosesWhenItsWindowResignsKeyOrTheApplicationResignsActiveWhenAsked) {
  pltest::HeadlessApp app;
  auto parent = app.window(MakeRect(200, 300, 600, 400));
  app.app()->activateIgnoringOtherApps(true);
  auto popover = suggestionPopover();
  popover->setAnimates(false);
  auto center = ns::NotificationCenter::defaultCenter();

  popover->displayPopoverInWindow_atPoint(parent, MakePoint(100, 350));
  app.app()->deactivate();
  EXPECT_TRUE(popover->isVisible());
  app.app()->activateIgnoringOtherApps(true);
  popover->setClosesWhenApplicationBecomesInactive(true);
  app.app()->deactivate();
  EXPECT_FALSE(popover->isVisible());

  popover->displayPopoverInWindow_atPoint(parent, MakePoint(100, 350));
  // Another window resigning key is not the popover's.
  center->postNotificationName_object(ak::WindowDidResignKeyNotification, parent);
  EXPECT_TRUE(popover->isVisible());
  center->postNotificationName_object(ak::WindowDidResignKeyNotification, popover->popoverWindow());
  EXPECT_FALSE(popover->isVisible());
  popover->setClosesWhenPopoverResignsKey(false);
  popover->displayPopoverInWindow_atPoint(parent, MakePoint(100, 350));
  center->postNotificationName_object(ak::WindowDidResignKeyNotification, popover->popoverWindow());
  EXPECT_TRUE(popover->isVisible());
}

TEST(Popover, GeometryChangesKeepTheArrowWhereItPoints) {
  pltest::HeadlessApp app;
  auto parent = app.window(MakeRect(200, 300, 600, 400));
  auto popover = ak::make<BubblePopover>(ak::make<ak::View>(MakeRect(0, 0, 100, 50)));
  popover->setAnimates(false);
  auto window = popover->popoverWindow();
  popover->displayPopoverInWindow_atPoint(parent, MakePoint(300, 200));
  const ak::Point target = MakePoint(500, 500);
  ASSERT_EQ(attachmentOnScreen(popover), target);
  auto content = window->contentView();

  struct Step {
    int position;
    ak::Size size;
  } steps[] = {
      {3, MakeSize(108, 74)}, {0, MakeSize(124, 58)}, {11, MakeSize(108, 74)}, {6, MakeSize(124, 58)}};
  for (const auto& s : steps) {
    SCOPED_TRACE(s.position);
    popover->setPosition(s.position);
    EXPECT_TRUE(popover->isVisible());
    EXPECT_EQ(window->frame().size, s.size);
    EXPECT_EQ(attachmentOnScreen(popover), target);
    EXPECT_EQ(content->frame(), window->contentRectForFrameRect(MakeRect(0, 0, s.size.width, s.size.height)));
    EXPECT_EQ(content->frame().size, MakeSize(100, 50));
  }
  EXPECT_EQ(ScreenUpdatesDisabledCount(), 0);

  popover->setPosition(1);
  const ak::Rect before = window->frame();
  popover->setBorderWidth(2);
  popover->setDistance(0);
  popover->setArrowHeight(16);
  popover->setViewMargin(2);
  EXPECT_EQ(window->frame(), before);

  // Each change keeps the top edge (with the arrow) and the attachment point in place.
  popover->setBorderWidth(5);
  EXPECT_EQ(window->frame(), MakeRect(before.origin.x - 3, before.origin.y - 6, 114, 80));
  popover->setDistance(4);
  popover->setArrowHeight(10);
  popover->setViewMargin(6);
  EXPECT_EQ(ak::MaxY(window->frame()), ak::MaxY(before));
  EXPECT_EQ(attachmentOnScreen(popover), target);
  EXPECT_EQ(content->frame(), window->contentRectForFrameRect(
                                  MakeRect(0, 0, window->frame().size.width, window->frame().size.height)));
  EXPECT_EQ(content->frame().size, MakeSize(100, 50));

  // On the left edge the left edge stays.
  popover->setPosition(2);
  const ak::Rect left = window->frame();
  popover->setBorderWidth(1);
  popover->setDistance(0);
  EXPECT_EQ(window->frame().origin.x, left.origin.x);
  EXPECT_EQ(attachmentOnScreen(popover), target);
}

TEST(Popover, DraggingMovesOrResizesOnlyWhenEnabled) {
  pltest::HeadlessApp app;
  auto parent = app.window(MakeRect(200, 300, 600, 400));
  auto popover = ak::make<BubblePopover>(ak::make<ak::View>(MakeRect(0, 0, 100, 50)));
  popover->setAnimates(false);
  auto window = popover->popoverWindow();
  popover->displayPopoverInWindow_atPoint(parent, MakePoint(300, 200));
  const ak::Rect start = window->frame();
  // In the window: the content at (4, 4, 100, 50), the outline ring out to 1 point from the edge.
  const ak::Point onContent = MakePoint(50, 30), onRing = MakePoint(105, 30);

  // Both flags off: nothing moves.
  pltest::drag(window, {onContent, MakePoint(80, 10)});
  pltest::drag(window, {onRing, MakePoint(125, 10)});
  app.dispatchQueued();
  EXPECT_EQ(window->frame(), start);

  popover->setMovable(true);
  pltest::drag(window, {onContent, MakePoint(80, 10)});
  app.dispatchQueued();
  EXPECT_EQ(window->frame(), MakeRect(start.origin.x + 30, start.origin.y - 20, 108, 74));
  // A press on the ring is a resize, which is still off.
  const ak::Rect moved = window->frame();
  pltest::drag(window, {onRing, MakePoint(125, 10)});
  app.dispatchQueued();
  EXPECT_EQ(window->frame(), moved);

  popover->setMovable(false);
  popover->setResizable(true);
  pltest::drag(window, {onRing, MakePoint(125, 10)});
  app.dispatchQueued();
  // The lower-right corner follows: 20 wider, 20 taller downwards.
  EXPECT_EQ(window->frame(), MakeRect(moved.origin.x, moved.origin.y - 20, 128, 94));
  EXPECT_EQ(window->contentView()->frame().size, MakeSize(100, 50));

  // Within the window's limits: the content never gets smaller than at the start, nor larger
  // than the maximum.
  const ak::Rect grown = window->frame();
  pltest::drag(window, {MakePoint(125, 30), MakePoint(25, 60)});
  app.dispatchQueued();
  EXPECT_EQ(window->frame(), MakeRect(grown.origin.x, grown.origin.y + 20, 108, 74));
  window->setMaxSize(MakeSize(110, 60));
  const ak::Rect small = window->frame();
  pltest::drag(window, {MakePoint(105, 30), MakePoint(145, -20)});
  app.dispatchQueued();
  EXPECT_EQ(window->frame(), MakeRect(small.origin.x, small.origin.y - 10, 118, 84));
}
