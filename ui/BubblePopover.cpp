#include "ui/BubblePopover.h"

#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Screen.h"
#include "platform/appkit/View.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runtime/ClassBuilder.h"

using ak::MakePoint;
using ak::Point;
using ak::Rect;

BubblePopover::BubblePopover() = default;

BubblePopover::~BubblePopover() {
  ns::NotificationCenter::defaultCenter()->removeObserver(this);
}

void BubblePopover::initWithContentViewController(const ns::Ref<ak::ViewController>& controller) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  contentViewController_ = controller;
  animates_ = true;
  ns::Ref<ak::View> view = controller ? controller->view() : nullptr;
  if (!view) view = ak::make<ak::View>(ak::ZeroRect);
  const Rect viewFrame = view->frame();
  popoverWindow_ = ak::make<BubblePopoverWindow>(viewFrame, ak::BorderlessWindowMask,
                                                 ak::BackingStoreType::Buffered, true);
  popoverWindow_->setContentView(view);
  popoverWindow_->setMinSize(viewFrame.size);

  // The fades report their end to the controller.
  auto fade = ak::BasicAnimation::animation();
  fade->setDelegate(shared_from_this());
  popoverWindow_->setAnimations({{"alphaValue", fade}});

  auto center = ns::NotificationCenter::defaultCenter();
  center->addObserver_selector_name_object(this, &BubblePopover::windowDidResignKey,
                                           std::string(ak::WindowDidResignKeyNotification), popoverWindow_);
  center->addObserver_selector_name_object(this, &BubblePopover::applicationDidResignActive,
                                           std::string(ak::ApplicationDidResignActiveNotification), nullptr);
}

void BubblePopover::initWithContentView(const ns::Ref<ak::View>& view) {
  auto controller = ak::make<ak::ViewController>();
  controller->setView(view);
  initWithContentViewController(controller);
}

// ---- showing, moving and closing ----

void BubblePopover::displayPopoverInWindow_atPoint(const ns::Ref<ak::Window>& window, const Point& point) {
  displayPopoverInWindow_atPoint_chooseBestLocation(window, point, false);
}

void BubblePopover::displayPopoverInWindow_atPoint_chooseBestLocation(const ns::Ref<ak::Window>& window,
                                                                      const Point& point,
                                                                      bool chooseBestLocation) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  auto keep = self<BubblePopover>();
  if (popoverWindow_->isVisible()) {
    // A show while the popover fades out keeps it: otherwise the end of the fade would take
    // away what the caller has just asked to see.
    if (fadingOut_) {
      fadingOut_ = false;
      if (animates_) {
        popoverWindow_->animator()->setAlphaValue(1.0);
      } else {
        ak::animation::stop(popoverWindow_.get(), "alphaValue");
        popoverWindow_->setAlphaValue(1.0);
      }
    }
    return;
  }
  if (chooseBestLocation) popoverWindow_->setPopoverPosition(bestPositionInWindow_atPoint(window, point));
  const Point a = popoverWindow_->popoverWindowFrame()->attachmentPoint();
  const Point t = window ? window->convertBaseToScreen(point) : point;
  popoverWindow_->setFrameOrigin(MakePoint(t.x - a.x, t.y - a.y));
  if (animates_) popoverWindow_->setAlphaValue(0.0);
  if (window) window->addChildWindow_ordered(popoverWindow_, ak::WindowOrderingMode::Above);
  popoverWindow_->orderFront(nullptr);
  if (animates_) popoverWindow_->animator()->setAlphaValue(1.0);
}

int BubblePopover::bestPositionInWindow_atPoint(const ns::Ref<ak::Window>& window, const Point& point) const {
  ns::Ref<ak::Screen> screen = window ? window->screen() : nullptr;
  if (!screen) screen = ak::Screen::mainScreen();
  const Rect s = screen ? screen->visibleFrame() : ak::ZeroRect;
  const Point t = window ? window->convertBaseToScreen(point) : point;

  const Rect frame = popoverWindow_->frame();
  const double margin = popoverWindow_->viewMargin();
  const double w = frame.size.width + 2 * margin;
  const double h = frame.size.height + 2 * margin;
  const double d = popoverWindow_->distance() + popoverWindow_->arrowHeight();

  int side = 1;
  if (t.y - h - d >= ak::MinY(s)) {
    side = 1;
  } else if (t.x + w + d < ak::MaxX(s)) {
    side = 2;
  } else if (t.x - w - d >= ak::MinX(s)) {
    side = 0;
  } else if (t.y + h + d < ak::MaxY(s)) {
    side = 3;
  }

  const Rect v = window ? ak::IntersectionRect(window->frame(), s) : s;
  double e = popoverWindow_->arrowWidth() * 0.5;
  if (popoverWindow_->drawRoundCornerBesideArrow()) e += popoverWindow_->cornerRadius();

  if (side == 1 || side == 3) {
    if (ak::MinX(v) > t.x - w / 2 && ak::MaxX(s) > t.x + w - e) return side == 1 ? 11 : 9;
    if (t.x + w / 2 >= ak::MaxX(v) && t.x - w + e >= ak::MinX(s)) return side == 1 ? 10 : 8;
  } else {
    if (ak::MinY(v) > t.y - h / 2 && ak::MaxY(s) > t.y + h - e) return side == 2 ? 6 : 4;
    if (t.y + h / 2 >= ak::MaxY(v) && t.y - h + e >= ak::MinY(s)) return side == 2 ? 7 : 5;
  }
  return side;
}

void BubblePopover::movePopoverToPoint(const Point& point) {
  const Point a = popoverWindow_->popoverWindowFrame()->attachmentPoint();
  auto parent = popoverWindow_->parentWindow();
  const Point t = parent ? parent->convertBaseToScreen(point) : point;
  popoverWindow_->setFrameOrigin(MakePoint(t.x - a.x, t.y - a.y));
}

void BubblePopover::closePopover(const ns::Ref<ns::Object>& sender) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  if (!popoverWindow_->isVisible()) return;
  auto keep = self<BubblePopover>();
  if (!animates_) {
    fadingOut_ = false;
    orderOutNow(sender);
    return;
  }
  fadingOut_ = true;
  closeSender_ = sender;
  popoverWindow_->animator()->setAlphaValue(0.0);
}

void BubblePopover::orderOutNow(const ns::Ref<ns::Object>& sender) {
  if (auto parent = popoverWindow_->parentWindow()) parent->removeChildWindow(popoverWindow_);
  popoverWindow_->orderOut(sender);
}

void BubblePopover::animationDidStop_finished(ns::Ref<ns::Object>, bool finished) {
  if (!finished || !fadingOut_ || popoverWindow_->alphaValue() != 0.0) return;
  auto keep = self<BubblePopover>();
  fadingOut_ = false;
  auto sender = std::move(closeSender_);
  orderOutNow(sender);
  popoverWindow_->setAlphaValue(1.0);
}

void BubblePopover::windowDidResignKey(const ns::Ref<ns::Notification>& note) {
  if (closesWhenPopoverResignsKey_) closePopover(note);
}

void BubblePopover::applicationDidResignActive(const ns::Ref<ns::Notification>& note) {
  if (closesWhenApplicationBecomesInactive_) closePopover(note);
}

PL_CLASS(BubblePopover, ak::Responder) {
  cls.method<&BubblePopover::animationDidStop_finished>("animationDidStop:finished:");
}
