#include "ui/BubblePopoverWindowFrame.h"

#include <cmath>

#include "platform/appkit/Application.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Event.h"
#include "platform/dispatch/Queue.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runtime/ClassBuilder.h"
#include "ui/BubblePopoverWindow.h"

using ak::MakePoint;
using ak::MakeRect;
using ak::Point;
using ak::Rect;

BubbleArrowEdge BubbleArrowEdgeForPosition(int position) {
  switch (position) {
    case 0:
    case 4:
    case 5:
      return BubbleArrowEdge::Right;
    case 1:
    case 10:
    case 11:
      return BubbleArrowEdge::Top;
    case 2:
    case 6:
    case 7:
      return BubbleArrowEdge::Left;
    case 3:
    case 8:
    case 9:
      return BubbleArrowEdge::Bottom;
    default:
      return BubbleArrowEdge::None;
  }
}

namespace {

Rect grown(const Rect& r, double by) {
  return MakeRect(r.origin.x - by, r.origin.y - by, r.size.width + 2 * by, r.size.height + 2 * by);
}

}  // namespace

void BubblePopoverWindowFrame::initWithFrame(const Rect& frame) {
  View::initWithFrame(frame);
  popoverPosition_ = 1;
  distance_ = 0;
  borderColor_ = ak::colors::whiteColor();
  borderWidth_ = 2;
  cornerRadius_ = 8;
  drawsArrow_ = true;
  arrowWidth_ = 20;
  arrowHeight_ = 16;
  drawRoundCornerBesideArrow_ = true;
  viewMargin_ = 2;
  backgroundColor_ = ak::Color::colorWithCalibratedWhite_alpha(0.1, 0.75);
  movable_ = false;
  resizable_ = false;
}

// ---- geometry ----

Rect BubblePopoverWindowFrame::frameRectForContentRect(const Rect& contentRect) const {
  Rect f = grown(contentRect, viewMargin_);
  const double allowance = arrowHeight_ + distance_;
  switch (BubbleArrowEdgeForPosition(popoverPosition_)) {
    case BubbleArrowEdge::Right:
      f.size.width += allowance;
      break;
    case BubbleArrowEdge::Top:
      f.size.height += allowance;
      break;
    case BubbleArrowEdge::Left:
      f.size.width += allowance;
      f.origin.x -= allowance;
      break;
    case BubbleArrowEdge::Bottom:
      f.size.height += allowance;
      f.origin.y -= allowance;
      break;
    case BubbleArrowEdge::None:
      break;
  }
  return grown(f, borderWidth_);
}

Rect BubblePopoverWindowFrame::contentRectForFrameRect(const Rect& frameRect) const {
  Rect q = grown(frameRect, -borderWidth_);
  const double allowance = arrowHeight_ + distance_;
  switch (BubbleArrowEdgeForPosition(popoverPosition_)) {
    case BubbleArrowEdge::Right:
      q.size.width -= allowance;
      break;
    case BubbleArrowEdge::Top:
      q.size.height -= allowance;
      break;
    case BubbleArrowEdge::Left:
      q.size.width -= allowance;
      q.origin.x += allowance;
      break;
    case BubbleArrowEdge::Bottom:
      q.size.height -= allowance;
      q.origin.y += allowance;
      break;
    case BubbleArrowEdge::None:
      break;
  }
  return grown(q, -viewMargin_);
}

Point BubblePopoverWindowFrame::attachmentPoint() const {
  return attachmentPointForRect(bounds());
}

Point BubblePopoverWindowFrame::attachmentPointForRect(const Rect& r) const {
  double o = 2 * borderWidth_ + arrowHeight_ * 0.5;
  if (drawRoundCornerBesideArrow_) o += cornerRadius_;
  switch (popoverPosition_) {
    case 0:
      return MakePoint(ak::MaxX(r), ak::MidY(r));
    case 1:
      return MakePoint(ak::MidX(r), ak::MaxY(r));
    case 2:
      return MakePoint(ak::MinX(r), ak::MidY(r));
    case 3:
      return MakePoint(ak::MidX(r), ak::MinY(r));
    case 4:
      return MakePoint(ak::MaxX(r), ak::MinY(r) + o);
    case 5:
      return MakePoint(ak::MaxX(r), ak::MaxY(r) - o);
    case 6:
      return MakePoint(ak::MinX(r), ak::MinY(r) + o);
    case 7:
      return MakePoint(ak::MinX(r), ak::MaxY(r) - o);
    case 8:
      return MakePoint(ak::MaxX(r) - o, ak::MinY(r));
    case 9:
      return MakePoint(ak::MinX(r) + o, ak::MinY(r));
    case 10:
      return MakePoint(ak::MaxX(r) - o, ak::MaxY(r));
    case 11:
      return MakePoint(ak::MinX(r) + o, ak::MaxY(r));
    default:
      return ak::ZeroPoint;
  }
}

// ---- the outline ----

ns::Ref<ak::BezierPath> BubblePopoverWindowFrame::popoverFramePathForContentRect(
    const Rect& contentRect) const {
  // The stroke runs along R, so half of it lies outside.
  const Rect r = grown(contentRect, viewMargin_ + borderWidth_ * 0.5);
  auto path = ak::BezierPath::bezierPath();
  path->setLineJoinStyle(ak::LineJoinStyle::Round);

  const int p = popoverPosition_;
  const double radius = cornerRadius_;
  const bool round = radius > 0;
  const bool squareBeside = !drawRoundCornerBesideArrow_;
  const bool topLeft = round && !(squareBeside && (p == 7 || p == 11));
  const bool topRight = round && !(squareBeside && (p == 5 || p == 10));
  const bool bottomRight = round && !(squareBeside && (p == 4 || p == 8));
  const bool bottomLeft = round && !(squareBeside && (p == 6 || p == 9));
  const double minX = ak::MinX(r), maxX = ak::MaxX(r), minY = ak::MinY(r), maxY = ak::MaxY(r);
  const double halfArrow = arrowWidth_ / 2;

  // One edge: an arrow at its start, in its middle (after a line to the middle less half the
  // arrow) or at its end (after a line to one arrow width before the end), then the end point.
  auto edge = [&](int startArrow, int centredArrow, Point middle, int endArrow, Point beforeEnd, Point end) {
    if (p == startArrow) {
      appendArrowToPath(path);
    } else if (p == centredArrow) {
      path->lineToPoint(middle);
      appendArrowToPath(path);
    } else if (p == endArrow) {
      path->lineToPoint(beforeEnd);
      appendArrowToPath(path);
    }
    path->lineToPoint(end);
  };
  auto corner = [&](bool rounded, Point cornerPoint, Point toward) {
    if (rounded) path->appendBezierPathWithArcFromPoint_toPoint_radius(cornerPoint, toward, radius);
  };

  // Top edge, to the right.
  path->moveToPoint(MakePoint(topLeft ? minX + radius : minX, maxY));
  const double topEnd = topRight ? maxX - radius : maxX;
  edge(11, 1, MakePoint(ak::MidX(r) - halfArrow, maxY), 10, MakePoint(topEnd - arrowWidth_, maxY),
       MakePoint(topEnd, maxY));
  corner(topRight, MakePoint(maxX, maxY), MakePoint(maxX, minY));
  // Right edge, downward.
  const double rightEnd = bottomRight ? minY + radius : minY;
  edge(5, 0, MakePoint(maxX, ak::MidY(r) + halfArrow), 4, MakePoint(maxX, rightEnd + arrowWidth_),
       MakePoint(maxX, rightEnd));
  corner(bottomRight, MakePoint(maxX, minY), MakePoint(minX, minY));
  // Bottom edge, to the left.
  const double bottomEnd = bottomLeft ? minX + radius : minX;
  edge(8, 3, MakePoint(ak::MidX(r) + halfArrow, minY), 9, MakePoint(bottomEnd + arrowWidth_, minY),
       MakePoint(bottomEnd, minY));
  corner(bottomLeft, MakePoint(minX, minY), MakePoint(minX, maxY));
  // Left edge, upward.
  const double leftEnd = topLeft ? maxY - radius : maxY;
  edge(6, 2, MakePoint(minX, ak::MidY(r) - halfArrow), 7, MakePoint(minX, leftEnd - arrowWidth_),
       MakePoint(minX, leftEnd));
  corner(topLeft, MakePoint(minX, maxY), MakePoint(maxX, maxY));
  path->closePath();
  return path;
}

void BubblePopoverWindowFrame::appendArrowToPath(const ns::Ref<ak::BezierPath>& path) const {
  if (!drawsArrow_ || !path) return;
  const Point c = path->currentPoint();
  Point tip = c, end = c;
  switch (BubbleArrowEdgeForPosition(popoverPosition_)) {
    case BubbleArrowEdge::Top:
      tip = MakePoint(c.x + arrowWidth_ / 2, c.y + arrowHeight_);
      end = MakePoint(c.x + arrowWidth_, c.y);
      break;
    case BubbleArrowEdge::Right:
      tip = MakePoint(c.x + arrowHeight_, c.y - arrowWidth_ / 2);
      end = MakePoint(c.x, c.y - arrowWidth_);
      break;
    case BubbleArrowEdge::Bottom:
      tip = MakePoint(c.x - arrowWidth_ / 2, c.y - arrowHeight_);
      end = MakePoint(c.x - arrowWidth_, c.y);
      break;
    case BubbleArrowEdge::Left:
      tip = MakePoint(c.x - arrowHeight_, c.y + arrowWidth_ / 2);
      end = MakePoint(c.x, c.y + arrowWidth_);
      break;
    case BubbleArrowEdge::None:
      break;
  }
  path->lineToPoint(tip);
  path->lineToPoint(end);
}

// ---- drawing ----

void BubblePopoverWindowFrame::drawRect(const Rect& dirtyRect) {
  ak::BezierPath::clipRect(dirtyRect);
  auto path = popoverFramePathForContentRect(contentRectForFrameRect(bounds()));
  if (backgroundColor_) {
    backgroundColor_->set();
    path->fill();
  }
  path->setLineWidth(borderWidth_);
  if (borderColor_) {
    borderColor_->set();
    path->stroke();
  }
}

// ---- moving and resizing by dragging ----

void BubblePopoverWindowFrame::mouseDown(const ns::Ref<ak::Event>& event) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  auto window = this->window();
  if (!window || !event) return;
  auto keep = self<BubblePopoverWindowFrame>();
  const Point p = convertPoint_fromView(event->locationInWindow(), nullptr);
  const Rect content = contentRectForFrameRect(bounds());
  const bool inOutline = popoverFramePathForContentRect(content)->containsPoint(p);
  const bool resize = inOutline && !ak::PointInRect(p, content);
  if (resize ? !resizable_ : !movable_) return;

  auto popoverWindow = std::dynamic_pointer_cast<BubblePopoverWindow>(window);
  const Point start = event->locationInScreen();
  const Rect startFrame = window->frame();
  auto app = ak::Application::sharedApplication();
  for (;;) {
    auto next = app->nextEventMatchingMask_untilDate_inMode_dequeue(
        ak::LeftMouseDraggedMask | ak::LeftMouseUpMask, ns::Date::distantFuture(),
        ns::EventTrackingRunLoopMode, true);
    if (!next || next->type() == ak::EventType::LeftMouseUp || window->isClosed()) break;
    const Point now = next->locationInScreen();
    const double dx = now.x - start.x, dy = now.y - start.y;
    Rect frame = startFrame;
    if (!resize) {
      frame.origin.x += dx;
      frame.origin.y += dy;
    } else {
      // The lower-right corner follows the mouse, within the window's size limits.
      frame.size.width += dx;
      frame.size.height -= dy;
      frame.origin.y += dy;
      const Rect k = popoverWindow ? popoverWindow->contentRectForFrameRect(frame) : frame;
      const ak::Size maxSize = popoverWindow ? popoverWindow->maxSize() : ak::MakeSize(HUGE_VAL, HUGE_VAL);
      const ak::Size minSize = window->minSize();
      if (k.size.width > maxSize.width) {
        frame.size.width -= k.size.width - maxSize.width;
      } else if (k.size.width < minSize.width) {
        frame.size.width += minSize.width - k.size.width;
      }
      if (k.size.height > maxSize.height) {
        const double excess = k.size.height - maxSize.height;
        frame.size.height -= excess;
        frame.origin.y += excess;
      } else if (k.size.height < minSize.height) {
        const double shortfall = minSize.height - k.size.height;
        frame.size.height += shortfall;
        frame.origin.y -= shortfall;
      }
    }
    window->setFrame_display_animate(frame, true, false);
  }
}

PL_CLASS(BubblePopoverWindowFrame, ak::View) {}
