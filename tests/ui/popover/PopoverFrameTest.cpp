// The bubble's geometry and outline, and how it is drawn.
#include <gtest/gtest.h>

#include "platform/appkit/Colors.h"
#include "platform/appkit/Make.h"
#include "platform/testing/ui/Canvas.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "ui/BubblePopover.h"
#include "ui/BubblePopoverWindowFrame.h"

using ak::MakePoint;
using ak::MakeRect;

namespace {

ns::Ref<BubblePopoverWindowFrame> frameAt(int position) {
  auto frame = ak::make<BubblePopoverWindowFrame>(MakeRect(0, 0, 108, 74));
  frame->setPopoverPosition(position);
  return frame;
}

std::size_t countOf(const ns::Ref<ak::BezierPath>& path, ak::BezierPathElement type) {
  std::size_t n = 0;
  for (const auto& e : path->elements()) n += e.type == type ? 1 : 0;
  return n;
}

// The corner points the outline passes through exactly (a squared corner), with R the outline
// rectangle of the content rectangle (0, 0, 100, 50) with the defaults.
void expectNear(const ak::Rect& a, const ak::Rect& b) {
  EXPECT_NEAR(a.origin.x, b.origin.x, 1e-9);
  EXPECT_NEAR(a.origin.y, b.origin.y, 1e-9);
  EXPECT_NEAR(a.size.width, b.size.width, 1e-9);
  EXPECT_NEAR(a.size.height, b.size.height, 1e-9);
}

bool passesThrough(const ns::Ref<ak::BezierPath>& path, ak::Point p) {
  for (const auto& e : path->elements()) {
    if (e.type == ak::BezierPathElement::LineTo && e.points[0] == p) return true;
  }
  return false;
}

}  // namespace

TEST(PopoverFrame, RectangleConversionsAndAttachmentPointsFollowThePosition) {
  pltest::HeadlessApp app;
  const ak::Rect content = MakeRect(0, 0, 100, 50);
  struct Case {
    int position;
    ak::Rect frame;
  } cases[] = {
      {1, MakeRect(-4, -4, 108, 74)},  {3, MakeRect(-4, -20, 108, 74)}, {0, MakeRect(-4, -4, 124, 58)},
      {2, MakeRect(-20, -4, 124, 58)}, {11, MakeRect(-4, -4, 108, 74)}, {8, MakeRect(-4, -20, 108, 74)},
      {12, MakeRect(-4, -4, 108, 58)}, {-1, MakeRect(-4, -4, 108, 58)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.position);
    auto frame = frameAt(c.position);
    EXPECT_EQ(frame->frameRectForContentRect(content), c.frame);
    EXPECT_EQ(frame->contentRectForFrameRect(c.frame), content);
  }
  // o = 2 x border + arrow height / 2 + corner radius = 20.
  const ak::Rect r = MakeRect(0, 0, 108, 74);
  struct Attach {
    int position;
    ak::Point point;
  } points[] = {
      {0, MakePoint(108, 37)}, {1, MakePoint(54, 74)},  {2, MakePoint(0, 37)},   {3, MakePoint(54, 0)},
      {4, MakePoint(108, 20)}, {5, MakePoint(108, 54)}, {6, MakePoint(0, 20)},   {7, MakePoint(0, 54)},
      {8, MakePoint(88, 0)},   {9, MakePoint(20, 0)},   {10, MakePoint(88, 74)}, {11, MakePoint(20, 74)},
      {12, MakePoint(0, 0)},   {-1, MakePoint(0, 0)},   {1000, MakePoint(0, 0)},
  };
  for (const auto& p : points) {
    SCOPED_TRACE(p.position);
    EXPECT_EQ(frameAt(p.position)->attachmentPointForRect(r), p.point);
  }
  // Without the rounded corner beside the arrow the offset loses the radius.
  auto square = frameAt(11);
  square->setDrawRoundCornerBesideArrow(false);
  EXPECT_EQ(square->attachmentPointForRect(r), MakePoint(12, 74));
  EXPECT_EQ(frameAt(1)->attachmentPoint(), MakePoint(54, 74));
}

TEST(PopoverFrame, TheOutlineCarriesTheArrowOnlyForItsPositionAndWhenDrawn) {
  pltest::HeadlessApp app;
  const ak::Rect content = MakeRect(0, 0, 100, 50);
  // R = content grown by margin 2 and half the border 1: (-3, -3, 106, 56).
  auto top = frameAt(1);
  auto path = top->popoverFramePathForContentRect(content);
  EXPECT_EQ(path->lineJoinStyle(), ak::LineJoinStyle::Round);
  EXPECT_EQ(countOf(path, ak::BezierPathElement::CurveTo), 4u);
  EXPECT_TRUE(passesThrough(path, MakePoint(50, 53 + 16)));  // the tip above the top edge's middle
  EXPECT_TRUE(passesThrough(path, MakePoint(40, 53)));
  EXPECT_TRUE(passesThrough(path, MakePoint(60, 53)));

  struct Tip {
    int position;
    ak::Point tip;
  } tips[] = {
      {0, MakePoint(103 + 16, 25)}, {2, MakePoint(-3 - 16, 25)},  {3, MakePoint(50, -3 - 16)},
      {11, MakePoint(5 + 10, 69)},  {10, MakePoint(95 - 10, 69)}, {5, MakePoint(119, 45 - 10)},
      {4, MakePoint(119, 5 + 10)},  {8, MakePoint(95 - 10, -19)}, {9, MakePoint(5 + 10, -19)},
      {6, MakePoint(-19, 5 + 10)},  {7, MakePoint(-19, 45 - 10)},
  };
  for (const auto& t : tips) {
    SCOPED_TRACE(t.position);
    EXPECT_TRUE(passesThrough(frameAt(t.position)->popoverFramePathForContentRect(content), t.tip));
  }

  // Positions outside the table: a plain rounded rectangle, nothing sticks out of R.
  for (int position : {12, -1}) {
    SCOPED_TRACE(position);
    auto bounds = frameAt(position)->popoverFramePathForContentRect(content)->controlPointBounds();
    expectNear(bounds, MakeRect(-3, -3, 106, 56));
  }

  // No arrow drawn: the room stays, the edge is straight.
  auto flat = frameAt(1);
  flat->setDrawsArrow(false);
  EXPECT_EQ(flat->frameRectForContentRect(content), MakeRect(-4, -4, 108, 74));
  expectNear(flat->popoverFramePathForContentRect(content)->controlPointBounds(), MakeRect(-3, -3, 106, 56));

  // No radius: square corners, no arcs.
  auto sharp = frameAt(1);
  sharp->setCornerRadius(0);
  auto sharpPath = sharp->popoverFramePathForContentRect(content);
  EXPECT_EQ(countOf(sharpPath, ak::BezierPathElement::CurveTo), 0u);
  EXPECT_TRUE(passesThrough(sharpPath, MakePoint(103, -3)));
}

TEST(PopoverFrame, ACornerBesideAnArrowAtAnEndIsSquaredWhenAsked) {
  pltest::HeadlessApp app;
  const ak::Rect content = MakeRect(0, 0, 100, 50);
  // R = (-3, -3, 106, 56): its corners.
  const ak::Point topLeft = MakePoint(-3, 53), topRight = MakePoint(103, 53);
  const ak::Point bottomRight = MakePoint(103, -3), bottomLeft = MakePoint(-3, -3);
  struct Case {
    int position;
    ak::Point squared;
  } cases[] = {
      {4, bottomRight}, {5, topRight},   {6, bottomLeft}, {7, topLeft},
      {8, bottomRight}, {9, bottomLeft}, {10, topRight},  {11, topLeft},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.position);
    auto frame = frameAt(c.position);
    auto rounded = frame->popoverFramePathForContentRect(content);
    EXPECT_EQ(countOf(rounded, ak::BezierPathElement::CurveTo), 4u);
    frame->setDrawRoundCornerBesideArrow(false);
    auto path = frame->popoverFramePathForContentRect(content);
    EXPECT_EQ(countOf(path, ak::BezierPathElement::CurveTo), 3u);
    const bool atCorner = path->elements().front().points[0] == c.squared || passesThrough(path, c.squared);
    EXPECT_TRUE(atCorner);
  }
}

TEST(PopoverFrame, DrawnWithTheDefaultsTheArrowTipTheFillAndClearCorners) {
  pltest::HeadlessApp app;
  auto view = ak::make<ak::View>(MakeRect(0, 0, 200, 100));
  auto popover = ak::make<BubblePopover>(view);
  auto window = popover->popoverWindow();
  // 200 x 100 content: the window is 208 x 124, the arrow tip at (104, 124).
  ASSERT_EQ(window->frame().size, ak::MakeSize(208, 124));
  window->orderFront(nullptr);
  pltest::renderWindow(window, "bubble");
  // Just under the tip, the border colour (white by default).
  const auto tip = pltest::windowPixel(window, 104, 121);
  EXPECT_GE(tip.r, 250);
  EXPECT_GE(tip.a, 250);
  // Beside the tip, above the top edge: clear.
  EXPECT_EQ(pltest::windowPixel(window, 80, 121).a, 0);
  // The middle: 0.1 grey at 0.75 alpha.
  EXPECT_TRUE(pltest::pixelNear(window->backingStore(), 104, 124 - 1 - 50, {26, 26, 26, 191}, 2));
  // The border along the top edge, beside the arrow: white.
  const auto edge = pltest::windowPixel(window, 30, 107);
  EXPECT_GE(edge.r, 250);
  EXPECT_GE(edge.a, 250);
  // The outermost corner pixels lie outside the rounded corners.
  EXPECT_EQ(pltest::windowPixel(window, 0, 0).a, 0);
  EXPECT_EQ(pltest::windowPixel(window, 207, 0).a, 0);
  EXPECT_EQ(pltest::windowPixel(window, 0, 107).a, 0);
}
