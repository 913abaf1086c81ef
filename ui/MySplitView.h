#pragma once
// The application's split views: black, with the divider painted in the divider colour, and a
// mouse-down anywhere but on the divider drags the whole window (outside full screen).
#include "ui/ConstrainedSplitView.h"

class MySplitView : public ConstrainedSplitView {
 public:
  void drawRect(const ak::Rect& dirtyRect) override;
  void drawDividerInRect(const ak::Rect& rect) override;
  bool mouseDownCanMoveWindow() const override { return false; }
  void mouseDown(const ns::Ref<ak::Event>& event) override;
  // Where a mouse-down still takes the divider: the divider after the first subview (at 0 when
  // that one is collapsed), 2 points wider on each side.
  ak::Rect dividerHitRect() const;
};
