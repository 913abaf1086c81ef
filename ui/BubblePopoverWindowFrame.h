#pragma once
// The view that fills a popover window: it owns the bubble's geometry (where the arrow sits and
// how much room the arrow, border and margin take around the content), draws the outline, and
// moves or resizes its window when the user drags it and that is enabled. The popover's content
// view is a subview of it. Main thread only.
//
// Arrow positions: 0 left of the target (arrow on the right edge), 1 below (top edge), 2 right
// (left edge), 3 above (bottom edge); 4-7 left and right with the arrow near an end of the
// vertical edge, 8-11 above and below with the arrow near an end of the horizontal edge. Any
// other value has no arrow and attaches at (0, 0).
#include "platform/appkit/BezierPath.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/View.h"

class BubblePopoverWindowFrame : public ak::View {
 public:
  void initWithFrame(const ak::Rect& frame) override;

  // Conversions between the content view's rectangle and the frame view's (the window's).
  ak::Rect frameRectForContentRect(const ak::Rect& contentRect) const;
  ak::Rect contentRectForFrameRect(const ak::Rect& frameRect) const;
  // The point of the bounds (or of `rect`) that is placed on the target point.
  ak::Point attachmentPoint() const;
  ak::Point attachmentPointForRect(const ak::Rect& rect) const;
  // The outline of the bubble around the content rectangle, with its arrow.
  ns::Ref<ak::BezierPath> popoverFramePathForContentRect(const ak::Rect& contentRect) const;
  // Appends the arrow at the path's current point.
  void appendArrowToPath(const ns::Ref<ak::BezierPath>& path) const;

  void drawRect(const ak::Rect& dirtyRect) override;
  void mouseDown(const ns::Ref<ak::Event>& event) override;

  int popoverPosition() const { return popoverPosition_; }
  void setPopoverPosition(int position) { popoverPosition_ = position; }
  double distance() const { return distance_; }
  void setDistance(double distance) { distance_ = distance; }
  ns::Ref<ak::Color> borderColor() const { return borderColor_; }
  void setBorderColor(const ns::Ref<ak::Color>& color) { borderColor_ = color; }
  double borderWidth() const { return borderWidth_; }
  void setBorderWidth(double width) { borderWidth_ = width; }
  double cornerRadius() const { return cornerRadius_; }
  void setCornerRadius(double radius) { cornerRadius_ = radius; }
  bool drawsArrow() const { return drawsArrow_; }
  void setDrawsArrow(bool draws) { drawsArrow_ = draws; }
  double arrowWidth() const { return arrowWidth_; }
  void setArrowWidth(double width) { arrowWidth_ = width; }
  double arrowHeight() const { return arrowHeight_; }
  void setArrowHeight(double height) { arrowHeight_ = height; }
  bool drawRoundCornerBesideArrow() const { return drawRoundCornerBesideArrow_; }
  void setDrawRoundCornerBesideArrow(bool draws) { drawRoundCornerBesideArrow_ = draws; }
  double viewMargin() const { return viewMargin_; }
  void setViewMargin(double margin) { viewMargin_ = margin; }
  ns::Ref<ak::Color> backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(const ns::Ref<ak::Color>& color) { backgroundColor_ = color; }
  bool isMovable() const { return movable_; }
  void setMovable(bool movable) { movable_ = movable; }
  bool isResizable() const { return resizable_; }
  void setResizable(bool resizable) { resizable_ = resizable; }

  std::string className() const override { return "BubblePopoverWindowFrame"; }

 private:
  int popoverPosition_ = 1;
  double distance_ = 0;
  ns::Ref<ak::Color> borderColor_;
  double borderWidth_ = 2;
  double cornerRadius_ = 8;
  bool drawsArrow_ = true;
  double arrowWidth_ = 20;
  double arrowHeight_ = 16;
  bool drawRoundCornerBesideArrow_ = true;
  double viewMargin_ = 2;
  ns::Ref<ak::Color> backgroundColor_;
  bool movable_ = false;
  bool resizable_ = false;
};

// Which edge of the bubble carries the arrow of a position.
enum class BubbleArrowEdge { Right, Top, Left, Bottom, None };
BubbleArrowEdge BubbleArrowEdgeForPosition(int position);
