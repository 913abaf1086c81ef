#pragma once
// The borderless window of a popover. Its real content view is the frame view, which fills the
// window and draws the bubble; the caller's view (the popover content view) sits inside it. The
// window never becomes key or main, so it never takes the keyboard from the window showing it.
//
// The window's own layout keeps the plain borderless conversions (the frame view fills it);
// contentView, setContentSize and the two rectangle conversions called on a BubblePopoverWindow
// answer for the popover content view, through the frame view.
#include "platform/appkit/Window.h"
#include "ui/BubblePopoverWindowFrame.h"

class BubblePopoverWindow : public ak::Window {
 public:
  // Always borderless, whatever the style: clear, not opaque, with shadow, alpha 1.
  void initWithContentRect_styleMask_backing_defer(const ak::Rect& contentRect, unsigned long styleMask,
                                                   ak::BackingStoreType backing, bool defer) override;

  bool canBecomeKeyWindow() const override { return false; }
  bool canBecomeMainWindow() const override { return false; }

  // The popover content view (the caller's), not the frame view.
  ns::Ref<ak::View> contentView() const { return popoverContentView_; }
  void setContentView(const ns::Ref<ak::View>& view) override;
  void setContentSize(const ak::Size& size);
  ns::Ref<BubblePopoverWindowFrame> popoverWindowFrame() const { return frameView_; }
  // The frame view's conversions; the zero rectangle without a frame view. (Non-const on
  // purpose: they hide, and do not replace, the conversions the window lays itself out with.)
  ak::Rect contentRectForFrameRect(const ak::Rect& frameRect);
  ak::Rect frameRectForContentRect(const ak::Rect& contentRect);

  // Resizing by dragging keeps the popover content within these sizes.
  ak::Size maxSize() const { return maxSize_; }
  void setMaxSize(const ak::Size& size) { maxSize_ = size; }

  void setFrame_display(const ak::Rect& frame, bool display) override;

  // ---- geometry setters that keep the arrow edge where it is ----
  int popoverPosition() const;
  void setPopoverPosition(int position);
  double distance() const;
  void setDistance(double distance);
  double arrowHeight() const;
  void setArrowHeight(double height);
  double borderWidth() const;
  void setBorderWidth(double width);
  double viewMargin() const;
  void setViewMargin(double margin);

  // ---- setters that forward to the frame view and redisplay it ----
  ns::Ref<ak::Color> borderColor() const;
  void setBorderColor(const ns::Ref<ak::Color>& color);
  double cornerRadius() const;
  void setCornerRadius(double radius);
  bool drawsArrow() const;
  void setDrawsArrow(bool draws);
  double arrowWidth() const;
  void setArrowWidth(double width);
  bool drawRoundCornerBesideArrow() const;
  void setDrawRoundCornerBesideArrow(bool draws);
  ns::Ref<ak::Color> popoverBackgroundColor() const;
  void setPopoverBackgroundColor(const ns::Ref<ak::Color>& color);

  // ---- setters that only forward ----
  bool isMovable() const;
  void setMovable(bool movable);
  bool isResizable() const;
  void setResizable(bool resizable);

  std::string className() const override { return "BubblePopoverWindow"; }

 private:
  void keepFrameViewFilling();
  void changeArrowAllowance(double delta);
  void changeEdgeWidth(double delta);
  void redisplayFrame();

  ns::Ref<BubblePopoverWindowFrame> frameView_;
  ns::Ref<ak::View> popoverContentView_;
  ak::Size maxSize_{1e9, 1e9};
  bool baseInit_ = false;
};

// Screen updates held back around a change made in several steps (nested; nothing is held back
// headless, where a window only shows what its backing store has after the last step).
void NSDisableScreenUpdates();
void NSEnableScreenUpdates();
int ScreenUpdatesDisabledCount();
