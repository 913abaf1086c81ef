#pragma once
// A popover: a borderless child window showing a view next to a point of another window, inside
// a bubble that may carry an arrow pointing at that point. The controller shows it at a point
// (optionally on the side with the most room), moves it, fades it in and out, and closes it when
// the application resigns active or the popover window resigns key, when asked to. Every
// appearance property lives in the frame view and is reached through the window. Main thread
// only.
//
//   auto popover = ak::make<BubblePopover>(listView);       // initWithContentView
//   popover->setDrawsArrow(false);
//   popover->displayPopoverInWindow_atPoint(window, point); // below the point, fading in
//   popover->closePopover(nullptr);                         // fading out
#include "platform/appkit/Animation.h"
#include "platform/appkit/Responder.h"
#include "platform/appkit/ViewController.h"
#include "platform/foundation/Notification.h"
#include "ui/BubblePopoverWindow.h"

class BubblePopover : public ak::Responder {
 public:
  BubblePopover();
  ~BubblePopover() override;

  // The window is made around the controller's view (an empty view without a controller).
  void initWithContentViewController(const ns::Ref<ak::ViewController>& controller);
  // A plain view controller is made around the view.
  void initWithContentView(const ns::Ref<ak::View>& view);
  void init() { initWithContentViewController(nullptr); }
  void init(const ns::Ref<ak::ViewController>& controller) { initWithContentViewController(controller); }
  void init(const ns::Ref<ak::View>& view) { initWithContentView(view); }

  // Shows the popover with its attachment point on `point` (in the window's base coordinates; a
  // screen point without a window). Showing a popover that is fading out keeps it on screen.
  void displayPopoverInWindow_atPoint(const ns::Ref<ak::Window>& window, const ak::Point& point);
  void displayPopoverInWindow_atPoint_chooseBestLocation(const ns::Ref<ak::Window>& window,
                                                         const ak::Point& point, bool chooseBestLocation);
  // The position with the most room around the point; the caller stores it.
  int bestPositionInWindow_atPoint(const ns::Ref<ak::Window>& window, const ak::Point& point) const;
  void movePopoverToPoint(const ak::Point& point);
  void closePopover(const ns::Ref<ns::Object>& sender);

  // ---- notification and animation handlers ----
  void windowDidResignKey(const ns::Ref<ns::Notification>& note);
  void applicationDidResignActive(const ns::Ref<ns::Notification>& note);
  void animationDidStop_finished(ns::Ref<ns::Object> animation, bool finished);

  // ---- state ----
  ns::Ref<ak::ViewController> contentViewController() const { return contentViewController_; }
  ns::Ref<BubblePopoverWindow> popoverWindow() const { return popoverWindow_; }
  bool isVisible() const { return popoverWindow_ && popoverWindow_->isVisible(); }
  bool animates() const { return animates_; }
  void setAnimates(bool animates) { animates_ = animates; }
  bool closesWhenPopoverResignsKey() const { return closesWhenPopoverResignsKey_; }
  void setClosesWhenPopoverResignsKey(bool closes) { closesWhenPopoverResignsKey_ = closes; }
  bool closesWhenApplicationBecomesInactive() const { return closesWhenApplicationBecomesInactive_; }
  void setClosesWhenApplicationBecomesInactive(bool closes) {
    closesWhenApplicationBecomesInactive_ = closes;
  }

  // ---- appearance, kept by the frame view ----
  int position() const { return popoverWindow_->popoverPosition(); }
  void setPosition(int position) { popoverWindow_->setPopoverPosition(position); }
  double distance() const { return popoverWindow_->distance(); }
  void setDistance(double distance) { popoverWindow_->setDistance(distance); }
  ns::Ref<ak::Color> borderColor() const { return popoverWindow_->borderColor(); }
  void setBorderColor(const ns::Ref<ak::Color>& color) { popoverWindow_->setBorderColor(color); }
  double borderWidth() const { return popoverWindow_->borderWidth(); }
  void setBorderWidth(double width) { popoverWindow_->setBorderWidth(width); }
  double cornerRadius() const { return popoverWindow_->cornerRadius(); }
  void setCornerRadius(double radius) { popoverWindow_->setCornerRadius(radius); }
  bool drawsArrow() const { return popoverWindow_->drawsArrow(); }
  void setDrawsArrow(bool draws) { popoverWindow_->setDrawsArrow(draws); }
  double arrowWidth() const { return popoverWindow_->arrowWidth(); }
  void setArrowWidth(double width) { popoverWindow_->setArrowWidth(width); }
  double arrowHeight() const { return popoverWindow_->arrowHeight(); }
  void setArrowHeight(double height) { popoverWindow_->setArrowHeight(height); }
  bool drawRoundCornerBesideArrow() const { return popoverWindow_->drawRoundCornerBesideArrow(); }
  void setDrawRoundCornerBesideArrow(bool draws) { popoverWindow_->setDrawRoundCornerBesideArrow(draws); }
  double viewMargin() const { return popoverWindow_->viewMargin(); }
  void setViewMargin(double margin) { popoverWindow_->setViewMargin(margin); }
  ns::Ref<ak::Color> backgroundColor() const { return popoverWindow_->popoverBackgroundColor(); }
  void setBackgroundColor(const ns::Ref<ak::Color>& color) {
    popoverWindow_->setPopoverBackgroundColor(color);
  }
  bool isMovable() const { return popoverWindow_->isMovable(); }
  void setMovable(bool movable) { popoverWindow_->setMovable(movable); }
  bool isResizable() const { return popoverWindow_->isResizable(); }
  void setResizable(bool resizable) { popoverWindow_->setResizable(resizable); }

  std::string className() const override { return "BubblePopover"; }

 private:
  void orderOutNow(const ns::Ref<ns::Object>& sender);

  ns::Ref<ak::ViewController> contentViewController_;
  ns::Ref<BubblePopoverWindow> popoverWindow_;
  bool animates_ = true;
  bool closesWhenPopoverResignsKey_ = false;
  bool closesWhenApplicationBecomesInactive_ = false;
  // A fade-out is running: the window goes when it ends, unless a show comes first.
  bool fadingOut_ = false;
  ns::Ref<ns::Object> closeSender_;
};
