#include "platform/appkit/Popover.h"

#include "platform/appkit/Animation.h"
#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/BezierPath.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Screen.h"
#include "platform/appkit/View.h"
#include "platform/core/Log.h"
#include "platform/foundation/Notification.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"

namespace ak {

namespace {

constexpr double kArrow = 12;

// Key only while its content has something to type into (a form's field), so that a popover
// that only shows things leaves the keys with its parent.
class PopoverWindow : public Window {
 public:
  bool takesKeys = false;
  bool canBecomeKeyWindow() const override { return takesKeys; }
  bool canBecomeMainWindow() const override { return false; }
};

// The first view, in the tree's order, that takes the keyboard.
ns::Ref<View> firstKeyView(const ns::Ref<View>& view) {
  if (!view || view->isHidden()) return nullptr;
  if (view->acceptsFirstResponder()) return view;
  for (const auto& subview : view->subviews())
    if (auto found = firstKeyView(subview)) return found;
  return nullptr;
}

// Draws the popover's body and its arrow pointing at the anchor.
class PopoverFrameView : public View {
 public:
  RectEdge edge = RectEdge::MaxY;
  void drawRect(const Rect&) override {
    const Rect b = bounds();
    Rect body = b;
    auto arrow = BezierPath::bezierPath();
    switch (edge) {
      case RectEdge::MaxX:  // opens to the right: the arrow on the left side
        body = MakeRect(kArrow, 0, b.size.width - kArrow, b.size.height);
        arrow->moveToPoint(MakePoint(kArrow, MidY(b) - kArrow));
        arrow->lineToPoint(MakePoint(0, MidY(b)));
        arrow->lineToPoint(MakePoint(kArrow, MidY(b) + kArrow));
        break;
      case RectEdge::MinX:
        body = MakeRect(0, 0, b.size.width - kArrow, b.size.height);
        arrow->moveToPoint(MakePoint(b.size.width - kArrow, MidY(b) - kArrow));
        arrow->lineToPoint(MakePoint(b.size.width, MidY(b)));
        arrow->lineToPoint(MakePoint(b.size.width - kArrow, MidY(b) + kArrow));
        break;
      case RectEdge::MaxY:  // opens above: the arrow at the bottom
        body = MakeRect(0, kArrow, b.size.width, b.size.height - kArrow);
        arrow->moveToPoint(MakePoint(MidX(b) - kArrow, kArrow));
        arrow->lineToPoint(MakePoint(MidX(b), 0));
        arrow->lineToPoint(MakePoint(MidX(b) + kArrow, kArrow));
        break;
      case RectEdge::MinY:
        body = MakeRect(0, 0, b.size.width, b.size.height - kArrow);
        arrow->moveToPoint(MakePoint(MidX(b) - kArrow, b.size.height - kArrow));
        arrow->lineToPoint(MakePoint(MidX(b), b.size.height));
        arrow->lineToPoint(MakePoint(MidX(b) + kArrow, b.size.height - kArrow));
        break;
    }
    arrow->closePath();
    Color::colorWithCalibratedWhite_alpha(0.97, 1)->setFill();
    BezierPath::bezierPathWithRoundedRect_xRadius_yRadius(body, 6, 6)->fill();
    arrow->fill();
  }
};

RectEdge opposite(RectEdge e) {
  switch (e) {
    case RectEdge::MinX:
      return RectEdge::MaxX;
    case RectEdge::MaxX:
      return RectEdge::MinX;
    case RectEdge::MinY:
      return RectEdge::MaxY;
    case RectEdge::MaxY:
      return RectEdge::MinY;
  }
  return e;
}

Rect placed(const Rect& anchor, const Size& content, RectEdge edge) {
  const bool horizontal = edge == RectEdge::MinX || edge == RectEdge::MaxX;
  const double w = content.width + (horizontal ? kArrow : 0);
  const double h = content.height + (horizontal ? 0 : kArrow);
  switch (edge) {
    case RectEdge::MaxX:
      return MakeRect(MaxX(anchor), MidY(anchor) - h / 2, w, h);
    case RectEdge::MinX:
      return MakeRect(MinX(anchor) - w, MidY(anchor) - h / 2, w, h);
    case RectEdge::MaxY:
      return MakeRect(MidX(anchor) - w / 2, MaxY(anchor), w, h);
    case RectEdge::MinY:
      return MakeRect(MidX(anchor) - w / 2, MinY(anchor) - h, w, h);
  }
  return MakeRect(0, 0, w, h);
}

bool fits(const Rect& frame, const Rect& visible, RectEdge edge) {
  switch (edge) {
    case RectEdge::MaxX:
      return MaxX(frame) <= MaxX(visible);
    case RectEdge::MinX:
      return MinX(frame) >= MinX(visible);
    case RectEdge::MaxY:
      return MaxY(frame) <= MaxY(visible);
    case RectEdge::MinY:
      return MinY(frame) >= MinY(visible);
  }
  return true;
}

bool responds(const ns::Ref<ns::Object>& o, const ns::Sel& sel) {
  return o && ns::respondsToSelector(o, sel);
}

}  // namespace

Popover::~Popover() {
  stopWatching();
}

Size Popover::contentSize() const {
  if (contentSize_.width > 0 || contentSize_.height > 0) return contentSize_;
  if (contentViewController_) {
    if (auto v = contentViewController_->view()) return v->frame().size;
  }
  return MakeSize(0, 0);
}

void Popover::post(const char* name, const char* selector) {
  auto note = ns::Notification::notificationWithName_object_userInfo(name, shared_from_this());
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(name, shared_from_this());
  auto d = delegate();
  ns::Sel sel(selector);
  if (responds(d, sel)) ns::send(d, sel, note);
}

void Popover::showRelativeToRect_ofView_preferredEdge(const Rect& rect, const ns::Ref<View>& view,
                                                      RectEdge edge) {
  auto keep = self<Popover>();
  auto parent = view ? view->window() : nullptr;
  if (!parent) {
    ns::Log("AppKit: a popover shown relative to a view in no window, ignored");
    return;
  }
  if (!contentViewController_ || !contentViewController_->view()) {
    ns::Log("AppKit: a popover without a content view controller, ignored");
    return;
  }
  const Rect anchor = parent->convertRectToScreen(view->convertRect_toView(rect, nullptr));
  const Size size = contentSize();
  const Rect visible = (parent->screen() ? parent->screen() : Screen::mainScreen())->visibleFrame();
  Rect frame = placed(anchor, size, edge);
  if (!fits(frame, visible, edge)) {
    const Rect other = placed(anchor, size, opposite(edge));
    if (fits(other, visible, opposite(edge))) {
      edge = opposite(edge);
      frame = other;
    }
  }
  shownEdge_ = edge;
  if (shown_) stopWatching();
  if (!window_) window_ = make<PopoverWindow>(frame, BorderlessWindowMask);
  window_->setReleasedWhenClosed(false);
  window_->setFrame_display(frame, false);
  auto body = make<PopoverFrameView>(MakeRect(0, 0, frame.size.width, frame.size.height));
  body->edge = edge;
  auto content = contentViewController_->view();
  content->removeFromSuperview();
  content->setFrame(MakeRect(edge == RectEdge::MaxX ? kArrow : 0, edge == RectEdge::MaxY ? kArrow : 0,
                             size.width, size.height));
  body->addSubview(content);
  window_->setContentView(body);

  const bool wasShown = shown_;
  if (!wasShown) post(PopoverWillShowNotification, "popoverWillShow:");
  shown_ = true;
  closing_ = false;
  parent_ = parent;
  parent->addChildWindow_ordered(window_, WindowOrderingMode::Above);
  auto keyView = firstKeyView(content);
  std::static_pointer_cast<PopoverWindow>(window_)->takesKeys = keyView != nullptr;
  window_->orderFront(nullptr);
  // A form opens ready for typing: its first field has the keys.
  if (keyView && !wasShown) {
    window_->makeKeyWindow();
    window_->makeFirstResponder(keyView);
  }

  // Watch for what closes a transient popover.
  if (behavior_ != PopoverBehavior::ApplicationDefined) {
    ns::Weak<Popover> weak = keep;
    monitor_ = Event::addLocalMonitorForEventsMatchingMask_handler(
        LeftMouseDownMask | EventMaskFromType(EventType::RightMouseDown),
        [weak](const ns::Ref<Event>& event) {
          auto p = weak.lock();
          if (!p || !p->shown_ || p->closing_) return event;
          auto target = event->window();
          if (target == p->window_) return event;
          if (p->behavior_ == PopoverBehavior::Semitransient && target && target == p->parent_.lock())
            return event;
          p->close();
          return event;
        });
    if (behavior_ == PopoverBehavior::Transient) {
      resignToken_ = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
          std::string(ApplicationDidResignActiveNotification), nullptr, nullptr, [weak](const auto&) {
            if (auto p = weak.lock(); p && p->shown_) p->close();
          });
    }
  }
  if (wasShown) return;
  if (animates_) {
    window_->setAlphaValue(0);
    ns::Weak<Popover> weak = keep;
    AnimationContext::runAnimationGroup_completionHandler(
        [&](AnimationContext&) { window_->animator()->setAlphaValue(1); },
        [weak] {
          if (auto p = weak.lock(); p && p->shown_ && !p->closing_)
            p->post(PopoverDidShowNotification, "popoverDidShow:");
        });
  } else {
    window_->setAlphaValue(1);
    post(PopoverDidShowNotification, "popoverDidShow:");
  }
}

void Popover::stopWatching() {
  if (monitor_) Event::removeMonitor(monitor_);
  monitor_ = nullptr;
  if (resignToken_) ns::NotificationCenter::defaultCenter()->removeObserver(resignToken_.get());
  resignToken_ = nullptr;
}

void Popover::close() {
  if (!shown_ || closing_) return;
  auto keep = self<Popover>();
  closing_ = true;
  stopWatching();
  post(PopoverWillCloseNotification, "popoverWillClose:");
  if (animates_) {
    ns::Weak<Popover> weak = keep;
    AnimationContext::runAnimationGroup_completionHandler(
        [&](AnimationContext&) { window_->animator()->setAlphaValue(0); },
        [weak] {
          if (auto p = weak.lock(); p && p->closing_) p->finishClose();
        });
  } else {
    finishClose();
  }
}

void Popover::finishClose() {
  auto keep = self<Popover>();
  if (auto parent = parent_.lock()) parent->removeChildWindow(window_);
  window_->orderOut(nullptr);
  shown_ = false;
  closing_ = false;
  post(PopoverDidCloseNotification, "popoverDidClose:");
}

void Popover::performClose(const ns::Ref<ns::Object>&) {
  static const ns::Sel shouldClose("popoverShouldClose:");
  auto d = delegate();
  if (responds(d, shouldClose) && !ns::send<bool>(d, shouldClose, self<Popover>())) return;
  close();
}

}  // namespace ak

PL_CLASS_NAMED(ak::Popover, "NSPopover", ns::Object) {}
