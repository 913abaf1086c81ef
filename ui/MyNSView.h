#pragma once
// A view that paints itself with a colour inside rounded corners, or with a drawing block:
// backgrounds, shadows and rounded panels.
#include <functional>
#include <mutex>

#include "platform/appkit/BezierPath.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/View.h"

class MyNSView : public ak::View {
 public:
  // Called with the outline of the bounds (valid only during the call) and the bounds; it draws
  // and clips itself.
  using DrawingBlock = std::function<void(const ak::BezierPath&, ak::Rect)>;

  void initWithFrame(const ak::Rect& frame) override;
  using ak::View::init;

  void drawRect(const ak::Rect& dirtyRect) override;
  // Dragging the view moves the window, except in full screen.
  bool mouseDownCanMoveWindow() const override;

  // None of the setters marks the view for display.
  DrawingBlock drawingBlock() const;
  void setDrawingBlock(DrawingBlock block);
  ns::Ref<ak::Color> backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(const ns::Ref<ak::Color>& color) { backgroundColor_ = color; }
  float cornerRadius() const { return cornerRadius_; }
  void setCornerRadius(float radius) { cornerRadius_ = radius; }

  std::string className() const override { return "MyNSView"; }

 private:
  mutable std::mutex blockMutex_;  // the block is an atomic property
  DrawingBlock drawingBlock_;
  ns::Ref<ak::Color> backgroundColor_;
  float cornerRadius_ = 0;
};
