#include "platform/appkit/Window.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/Animation.h"
#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/AttributedString.h"
#include "platform/appkit/BezierPath.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Cursor.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Presenter.h"
#include "platform/appkit/Screen.h"
#include "platform/appkit/TextView.h"
#include "platform/appkit/View.h"
#include "platform/appkit/WindowController.h"
#include "platform/appkit/WindowMetrics.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"

namespace ak {

long CGWindowLevelForKey(int key) {
  switch (key) {
    case 0:
      return -2147483648L;  // base
    case 1:
      return -2147483628L;  // minimum
    case 2:
      return -2147483624L;  // desktop
    case 3:
      return -2147483603L;  // backstop menu
    case 4:
      return NormalWindowLevel;
    case 5:
      return FloatingWindowLevel;
    case 6:
      return 3;  // torn-off menu
    case 7:
      return 20;  // dock
    case 8:
      return 24;  // main menu
    case 9:
      return 25;  // status
    case 10:
      return ModalPanelWindowLevel;
    case 11:
      return PopUpMenuWindowLevel;
    case 12:
      return 500;  // dragging
    case 13:
      return 1000;  // screen saver
    case 14:
      return 2147483631L;  // maximum
    default:
      return NormalWindowLevel;
  }
}

namespace {

// The plain title-bar buttons: a round light drawn in the bar; a click inside runs the
// window's command.
class StandardButton : public View {
 public:
  WindowButton kind = WindowButton::CloseButton;
  bool enabled = true;
  bool pressed = false;

  bool mouseDownCanMoveWindow() const override { return false; }
  void mouseDown(const ns::Ref<Event>& event) override { pressed = enabled; }
  void mouseUp(const ns::Ref<Event>& event) override {
    bool wasPressed = pressed;
    pressed = false;
    auto w = window();
    if (!wasPressed || !w || !event) return;
    Point p = convertPoint_fromView(event->locationInWindow(), nullptr);
    if (!mouse_inRect(p, bounds())) return;
    switch (kind) {
      case WindowButton::CloseButton:
        w->performClose(self<View>());
        break;
      case WindowButton::MiniaturizeButton:
        w->miniaturize(self<View>());
        break;
      case WindowButton::ZoomButton:
        w->zoom(self<View>());
        break;
      case WindowButton::FullScreenButton:
        w->toggleFullScreen(self<View>());
        break;
      default:
        break;
    }
  }
  void drawRect(const Rect&) override {
    static const double colors[][3] = {{0.99, 0.37, 0.34}, {0.99, 0.74, 0.18}, {0.16, 0.78, 0.25}};
    int i = std::clamp(int(kind), 0, 2);
    auto c = enabled && kind != WindowButton::FullScreenButton
                 ? Color::colorWithDeviceRed_green_blue_alpha(colors[i][0], colors[i][1], colors[i][2], 1)
                 : Color::colorWithDeviceRed_green_blue_alpha(0.78, 0.78, 0.78, 1);
    c->setFill();
    BezierPath::bezierPathWithOvalInRect(MakeRect(1, 2, 12, 12))->fill();
  }
};

// The content view's superview: the window's background and the plain title bar.
class ThemeFrame : public View {
 public:
  bool mouseDownCanMoveWindow() const override { return true; }
  void drawRect(const Rect& dirty) override {
    auto w = window();
    if (!w) return;
    auto background = w->backgroundColor() ? w->backgroundColor() : colors::windowBackgroundColor();
    background->setFill();
    RectFill(bounds());
    Rect content = w->contentRectForFrameRect(w->frame());
    double bar = w->frame().size.height - content.size.height;
    if (bar > 0) {
      Rect barRect = MakeRect(0, bounds().size.height - bar, bounds().size.width, bar);
      Color::colorWithDeviceWhite_alpha(w->isMainWindow() ? 0.85 : 0.93, 1)->setFill();
      RectFill(barRect);
      Color::colorWithDeviceWhite_alpha(0.6, 1)->setFill();
      RectFill(MakeRect(0, barRect.origin.y, barRect.size.width, 1));
      if (!w->title().empty()) {
        ns::Dictionary attributes;
        attributes.set(FontAttributeName, Font::titleBarFontOfSize(13));
        attributes.set(ForegroundColorAttributeName, Color::colorWithDeviceWhite_alpha(0.2, 1));
        Size size = sizeWithAttributes(w->title(), attributes);
        drawAtPoint_withAttributes(w->title(),
                                   MakePoint(std::floor((barRect.size.width - size.width) / 2),
                                             barRect.origin.y + std::floor((bar - size.height) / 2)),
                                   attributes);
      }
    }
  }
};

bool sanitizeFrame(Rect& r) {
  if (!std::isfinite(r.origin.x) || !std::isfinite(r.origin.y) || !std::isfinite(r.size.width) ||
      !std::isfinite(r.size.height) || !IsSaneRect(MakeRect(r.origin.x, r.origin.y, 0, 0))) {
    ns::Log("Window: a frame with non-finite numbers refused");
    return false;
  }
  r.size.width = std::clamp(r.size.width, 0.0, 32000.0);
  r.size.height = std::clamp(r.size.height, 0.0, 32000.0);
  return true;
}

struct DelegateHook {
  const char* notification;
  const char* selector;
};

const DelegateHook kWindowHooks[] = {
    {WindowDidBecomeKeyNotification, "windowDidBecomeKey:"},
    {WindowDidResignKeyNotification, "windowDidResignKey:"},
    {WindowDidBecomeMainNotification, "windowDidBecomeMain:"},
    {WindowDidResignMainNotification, "windowDidResignMain:"},
    {WindowDidResizeNotification, "windowDidResize:"},
    {WindowDidMoveNotification, "windowDidMove:"},
    {WindowWillCloseNotification, "windowWillClose:"},
    {WindowWillBeginSheetNotification, "windowWillBeginSheet:"},
    {WindowDidEndSheetNotification, "windowDidEndSheet:"},
    {WindowWillEnterFullScreenNotification, "windowWillEnterFullScreen:"},
    {WindowDidEnterFullScreenNotification, "windowDidEnterFullScreen:"},
    {WindowWillExitFullScreenNotification, "windowWillExitFullScreen:"},
    {WindowDidExitFullScreenNotification, "windowDidExitFullScreen:"},
    {WindowDidMiniaturizeNotification, "windowDidMiniaturize:"},
    {WindowDidDeminiaturizeNotification, "windowDidDeminiaturize:"},
};

void collectViews(const ns::Ref<View>& view, std::vector<ns::Ref<View>>& out) {
  out.push_back(view);
  for (const auto& sub : view->subviews()) collectViews(sub, out);
}

}  // namespace

Window::Window() = default;

Window::~Window() {
  auto center = ns::NotificationCenter::defaultCenter();
  for (const auto& token : delegateTokens_) center->removeObserver(token.get());
}

void Window::initWithContentRect_styleMask_backing_defer(const Rect& contentRect, unsigned long styleMask,
                                                         BackingStoreType, bool) {
  auto app = Application::sharedApplication();
  windowNumber_ = app->nextWindowNumber();
  styleMask_ = styleMask;
  Rect content = contentRect;
  if (!sanitizeFrame(content)) content = MakeRect(0, 0, 0, 0);
  frame_ = frameRectForContentRect(content);
  auto me = self<Window>();
  themeFrame_ = ak::make<ThemeFrame>(MakeRect(0, 0, frame_.size.width, frame_.size.height));
  themeFrame_->setWindowInternal(me);
  auto content_ = ak::make<View>(MakeRect(0, 0, content.size.width, content.size.height));
  setContentView(content_);
  relayoutThemeFrame();
  app->registerWindow(me);
}

// ---- geometry ----

Rect Window::frameRectForContentRect_styleMask(const Rect& content, unsigned long style) {
  Rect r = content;
  if ((style & TitledWindowMask) && !(style & FullSizeContentViewWindowMask) &&
      !(style & FullScreenWindowMask)) {
    r.size.height += metrics::kTitleBarHeight;
  }
  return r;
}

Rect Window::contentRectForFrameRect_styleMask(const Rect& frame, unsigned long style) {
  Rect r = frame;
  if ((style & TitledWindowMask) && !(style & FullSizeContentViewWindowMask) &&
      !(style & FullScreenWindowMask)) {
    r.size.height = std::max(0.0, r.size.height - metrics::kTitleBarHeight);
  }
  return r;
}

Rect Window::frameRectForContentRect(const Rect& content) const {
  return frameRectForContentRect_styleMask(content, styleMask_);
}

Rect Window::contentRectForFrameRect(const Rect& frame) const {
  return contentRectForFrameRect_styleMask(frame, styleMask_);
}

void Window::setMinSize(const Size& size) {
  minSize_ = size;
  // The system's minimum for the window follows.
  if (auto presenter = activePresenter(); presenter && visible_) presenter->windowPropertiesChanged(*this);
}

void Window::setFrame_display(const Rect& frame, bool display) {
  setFrameInternal(frame, display, false);
}

void Window::setFrame_display_animate(const Rect& frame, bool display, bool animate) {
  if (!animate) {
    setFrame_display(frame, display);
    return;
  }
  animator()->setFrame_display(frame, display);
}

void Window::setFrameInternal(const Rect& frame, bool display, bool) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  Rect f = frame;
  if (!sanitizeFrame(f)) return;
  f.size.width = std::max(f.size.width, minSize_.width);
  f.size.height = std::max(f.size.height, minSize_.height);
  if (f == frame_) return;
  auto keep = self<Window>();
  const Rect old = frame_;
  frame_ = f;
  const double dx = f.origin.x - old.origin.x, dy = f.origin.y - old.origin.y;
  if (!(f.size == old.size) && themeFrame_) {
    themeFrame_->setFrame(MakeRect(0, 0, f.size.width, f.size.height));
    relayoutThemeFrame();
    invalidateRect(MakeRect(0, 0, f.size.width, f.size.height));
  }
  if (dx != 0 || dy != 0) {
    // Child windows and an attached sheet travel with their parent.
    for (const auto& child : childWindows()) {
      Rect cf = child->frame();
      child->setFrameOrigin(MakePoint(cf.origin.x + dx, cf.origin.y + dy));
    }
    if (attachedSheet_) {
      Rect sf = attachedSheet_->frame();
      attachedSheet_->setFrameOrigin(MakePoint(sf.origin.x + dx, sf.origin.y + dy));
    }
  }
  if (dx != 0 || dy != 0) postNotification(WindowDidMoveNotification);
  if (!(f.size == old.size)) postNotification(WindowDidResizeNotification);
  if (auto presenter = activePresenter(); presenter && visible_) presenter->windowFrameChanged(*this);
  if (display && visible_) displayIfNeeded();
}

void Window::setFrameOrigin(const Point& origin) {
  setFrame_display(Rect{origin, frame_.size}, true);
}

void Window::setFrameTopLeftPoint(const Point& point) {
  setFrame_display(MakeRect(point.x, point.y - frame_.size.height, frame_.size.width, frame_.size.height),
                   true);
}

void Window::setContentSize(const Size& size) {
  Rect content = contentRectForFrameRect(frame_);
  Rect f = frameRectForContentRect(Rect{content.origin, size});
  f.origin.y = MaxY(frame_) - f.size.height;  // the top edge stays
  setFrame_display(f, true);
}

void Window::center() {
  Rect screen = Screen::mainScreen()->visibleFrame();
  setFrameOrigin(MakePoint(std::floor(MidX(screen) - frame_.size.width / 2),
                           std::floor(screen.origin.y + (screen.size.height - frame_.size.height) * 2 / 3)));
}

Rect Window::constrainFrameRect_toScreen(const Rect& frameRect, const ns::Ref<Screen>& screen) const {
  Rect f = frameRect;
  if (!screen || !(styleMask_ & TitledWindowMask) || (styleMask_ & FullScreenWindowMask) || !sanitizeFrame(f))
    return frameRect;
  const Rect v = screen->visibleFrame();
  double top = MaxY(f);
  if (styleMask_ & ResizableWindowMask) {
    f.size.width = std::min(f.size.width, std::max(v.size.width, minSize_.width));
    f.size.height = std::min(f.size.height, std::max(v.size.height, minSize_.height));
  }
  // The title bar is the frame's top strip: its top edge no higher than the visible frame's,
  // its bottom edge no lower.
  const double bar = std::min(f.size.height, metrics::kTitleBarHeight);
  top = std::max(std::min(top, MaxY(v)), MinY(v) + bar);
  f.origin.y = top - f.size.height;
  // Across, the title bar stays whole on the visible frame; a frame wider than it keeps its left
  // edge there, with the buttons.
  f.origin.x = std::max(std::min(f.origin.x, MaxX(v) - f.size.width), MinX(v));
  return f;
}

Rect Window::convertRectToScreen(const Rect& rect) const {
  return OffsetRect(rect, frame_.origin.x, frame_.origin.y);
}
Rect Window::convertRectFromScreen(const Rect& rect) const {
  return OffsetRect(rect, -frame_.origin.x, -frame_.origin.y);
}
Point Window::convertBaseToScreen(const Point& p) const {
  return {p.x + frame_.origin.x, p.y + frame_.origin.y};
}
Point Window::convertScreenToBase(const Point& p) const {
  return {p.x - frame_.origin.x, p.y - frame_.origin.y};
}

ns::Ref<Screen> Window::screen() const {
  ns::Ref<Screen> best;
  double bestArea = 0;
  for (const auto& s : Screen::screens()) {
    if (!IntersectsRect(s->frame(), frame_)) continue;
    const Rect part = IntersectionRect(s->frame(), frame_);
    const double area = part.size.width * part.size.height;
    if (!best || area > bestArea) {
      best = s;
      bestArea = area;
    }
  }
  return best ? best : Screen::mainScreen();
}

void Window::screensChangedInternal() {
  if (!visible_ || miniaturized_ || isSheet() || parentWindow() || isInFullScreen()) return;
  const double area = frame_.size.width * frame_.size.height;
  if (!(area > 0)) return;
  ns::Ref<Screen> nearest;
  double largest = 0, nearestDistance = 0;
  for (const auto& s : Screen::screens()) {
    const Rect sf = s->frame();
    if (IntersectsRect(sf, frame_)) {
      const Rect part = IntersectionRect(sf, frame_);
      largest = std::max(largest, part.size.width * part.size.height);
    }
    // The gap between the two rectangles, 0 where they meet.
    const double dx = std::max({0.0, MinX(sf) - MaxX(frame_), MinX(frame_) - MaxX(sf)});
    const double dy = std::max({0.0, MinY(sf) - MaxY(frame_), MinY(frame_) - MaxY(sf)});
    const double distance = std::hypot(dx, dy);
    if (!nearest || distance < nearestDistance) {
      nearest = s;
      nearestDistance = distance;
    }
  }
  if (!nearest || largest * 2 > area) return;
  // In whole where it fits (its top left where it does not), then as showing it constrains it.
  const Rect v = nearest->visibleFrame();
  Rect f = frame_;
  f.origin.x = std::max(std::min(f.origin.x, MaxX(v) - f.size.width), MinX(v));
  f.origin.y = std::min(std::max(f.origin.y, MinY(v)), MaxY(v) - f.size.height);
  f = constrainFrameRect_toScreen(f, nearest);
  if (!(f == frame_)) setFrame_display(f, true);
}

void Window::setStyleMask(unsigned long styleMask) {
  if (styleMask == styleMask_) return;
  styleMask_ = styleMask;
  relayoutThemeFrame();
  invalidateRect(MakeRect(0, 0, frame_.size.width, frame_.size.height));
}

void Window::setCollectionBehavior(unsigned long behavior) {
  collectionBehavior_ = behavior;
  relayoutThemeFrame();
}

void Window::setBackingScaleFactorInternal(double scale) {
  if (!std::isfinite(scale) || scale < 1 || scale > 8 || scale == backingScale_) return;
  auto keep = self<Window>();
  {
    std::lock_guard lock(drawMutex_);
    backingScale_ = scale;
  }
  invalidateRect(MakeRect(0, 0, frame_.size.width, frame_.size.height));
  postNotification(WindowDidChangeBackingPropertiesNotification);
  if (visible_) displayIfNeeded();
}

void Window::setOccludedInternal(bool occluded) {
  if (occluded == occluded_) return;
  auto keep = self<Window>();
  occluded_ = occluded;
  // What was drawn while covered (moving pictures skip drawing then) shows again.
  if (!occluded) invalidateRect(MakeRect(0, 0, frame_.size.width, frame_.size.height));
  postNotification(WindowDidChangeOcclusionStateNotification);
}

void Window::setAlphaValue(double alpha) {
  if (!std::isfinite(alpha)) return;
  alpha_ = std::clamp(alpha, 0.0, 1.0);
  if (auto presenter = activePresenter()) presenter->windowPropertiesChanged(*this);
}

void Window::setBackgroundColor(const ns::Ref<Color>& color) {
  backgroundColor_ = color;
  invalidateRect(MakeRect(0, 0, frame_.size.width, frame_.size.height));
}

void Window::relayoutThemeFrame() {
  if (!themeFrame_) return;
  const double w = frame_.size.width, h = frame_.size.height;
  if (contentView_) {
    Rect content = contentRectForFrameRect(frame_);
    Rect local = MakeRect(0, 0, content.size.width, content.size.height);
    if (!(contentView_->frame() == local)) contentView_->setFrame(local);
  }
  const bool titled = (styleMask_ & TitledWindowMask) && !(styleMask_ & FullScreenWindowMask);
  struct Slot {
    WindowButton kind;
    bool present;
    double x;
    bool enabled;
  } slots[] = {
      {WindowButton::CloseButton, titled, metrics::kCloseButtonX, (styleMask_ & ClosableWindowMask) != 0},
      {WindowButton::MiniaturizeButton, titled, metrics::kMiniaturizeButtonX,
       (styleMask_ & MiniaturizableWindowMask) != 0},
      {WindowButton::ZoomButton, titled, metrics::kZoomButtonX, (styleMask_ & ResizableWindowMask) != 0},
      {WindowButton::FullScreenButton,
       titled && (collectionBehavior_ & WindowCollectionBehaviorFullScreenPrimary),
       w - metrics::kFullScreenButtonRightMargin - metrics::kStandardButtonWidth, true},
  };
  for (const auto& slot : slots) {
    auto it = buttons_.find(int(slot.kind));
    if (!slot.present) {
      if (it != buttons_.end()) {
        it->second->removeFromSuperview();
        buttons_.erase(it);
      }
      continue;
    }
    ns::Ref<View> button;
    if (it == buttons_.end()) {
      auto b = ak::make<StandardButton>(ZeroRect);
      b->kind = slot.kind;
      b->setAutoresizingMask(ViewMinYMargin |
                             (slot.kind == WindowButton::FullScreenButton ? ViewMinXMargin : ViewNotSizable));
      themeFrame_->addSubview(b);
      buttons_[int(slot.kind)] = b;
      button = b;
    } else {
      button = it->second;
    }
    static_cast<StandardButton&>(*button).enabled = slot.enabled;
    Rect f = MakeRect(slot.x, h - metrics::kStandardButtonTop - metrics::kStandardButtonHeight,
                      metrics::kStandardButtonWidth, metrics::kStandardButtonHeight);
    if (!(button->frame() == f)) button->setFrame(f);
  }
}

// ---- title and views ----

void Window::setTitle(const std::string& title) {
  title_ = title;
  if (auto presenter = activePresenter()) presenter->windowPropertiesChanged(*this);
  invalidateRect(MakeRect(0, frame_.size.height - metrics::kTitleBarHeight, frame_.size.width,
                          metrics::kTitleBarHeight));
}

void Window::setContentView(const ns::Ref<View>& view) {
  if (view == contentView_ || !themeFrame_) return;
  auto keep = self<Window>();
  if (contentView_) contentView_->removeFromSuperview();
  contentView_ = view;
  if (!view) return;
  Rect content = contentRectForFrameRect(frame_);
  view->setFrame(MakeRect(0, 0, content.size.width, content.size.height));
  view->setAutoresizingMask(ViewWidthSizable | ViewHeightSizable);
  themeFrame_->addSubview_positioned_relativeTo(view, WindowOrderingMode::Below, nullptr);
}

ns::Ref<View> Window::standardWindowButton(WindowButton kind) const {
  auto it = buttons_.find(int(kind));
  return it == buttons_.end() ? nullptr : it->second;
}

ns::Ref<View> Window::themeFrame() const {
  return themeFrame_;
}

// ---- delegate and controller ----

void Window::setDelegate(const ns::Ref<ns::Object>& delegate) {
  removeDelegateObservers();
  delegate_ = delegate;
  registerDelegateObservers();
}

void Window::removeDelegateObservers() {
  auto center = ns::NotificationCenter::defaultCenter();
  for (const auto& token : delegateTokens_) center->removeObserver(token.get());
  delegateTokens_.clear();
}

void Window::registerDelegateObservers() {
  auto delegate = delegate_.lock();
  if (!delegate) return;
  auto center = ns::NotificationCenter::defaultCenter();
  ns::Weak<ns::Object> weak = delegate;
  for (const auto& hook : kWindowHooks) {
    ns::Sel sel(hook.selector);
    if (!ns::respondsToSelector(delegate, sel)) continue;
    delegateTokens_.push_back(center->addObserverForName_object_queue_usingBlock(
        std::string(hook.notification), shared_from_this(), nullptr,
        [weak, sel](const ns::Ref<ns::Notification>& note) {
          if (auto d = weak.lock()) ns::send(d, sel, note);
        }));
  }
}

void Window::setWindowController(const ns::Ref<WindowController>& controller) {
  windowController_ = controller;
}

void Window::postNotification(const char* name) {
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(name, shared_from_this());
}

// ---- ordering, key and main ----

void Window::orderIn() {
  if (visible_) return;
  // A sheet and a child window go where their parent puts them.
  if (!isSheet() && !parentWindow()) {
    const Rect constrained = constrainFrameRect_toScreen(frame_, screen());
    if (!(constrained == frame_)) setFrame_display(constrained, false);
  }
  closed_ = false;
  visible_ = true;
  Application::sharedApplication()->windowOrderedIn(self<Window>());
  invalidateRect(MakeRect(0, 0, frame_.size.width, frame_.size.height));
  if (auto presenter = activePresenter()) presenter->windowOrderedIn(self<Window>());
  for (const auto& child : childWindows()) child->orderFront(nullptr);
  if (themeFrame_) themeFrame_->markTrackingAreasNeedUpdate();
}

void Window::makeKeyAndOrderFront(const ns::Ref<ns::Object>&) {
  auto keep = self<Window>();
  orderIn();
  makeKeyWindow();
  makeMainWindow();
}

void Window::orderFront(const ns::Ref<ns::Object>&) {
  orderIn();
}

void Window::orderOut(const ns::Ref<ns::Object>&) {
  if (!visible_) return;
  auto keep = self<Window>();
  visible_ = false;
  for (const auto& child : childWindows()) child->orderOut(nullptr);
  Application::sharedApplication()->windowOrderedOut(this);
  if (auto presenter = activePresenter()) presenter->windowOrderedOut(*this);
}

void Window::close() {
  if (closed_) return;
  auto keep = self<Window>();
  postNotification(WindowWillCloseNotification);
  if (attachedSheet_) attachedSheet_->orderOut(nullptr);
  if (auto parent = parentWindow()) parent->removeChildWindow(keep);
  orderOut(nullptr);
  closed_ = true;
  mouseDownView_ = nullptr;
  rightMouseDownView_ = nullptr;
  // A sheet closed while it hangs (its close button, the desktop's close) ends as cancelled: the
  // window under it would otherwise wait for it for good. Marked closed first, so that a
  // did-end handler that closes it again finds nothing more to do.
  if (auto parent = sheetParent(); parent && parent->attachedSheet() == keep)
    Application::sharedApplication()->endSheet_returnCode(keep, ModalResponseCancel);
  if (auto presenter = activePresenter()) presenter->windowClosed(*this);
  Application::sharedApplication()->windowClosed(this);
}

void Window::performClose(const ns::Ref<ns::Object>& sender) {
  if (!(styleMask_ & ClosableWindowMask)) {
    noResponderFor("performClose:");
    return;
  }
  static const ns::Sel shouldClose("windowShouldClose:");
  auto d = delegate();
  if (d && ns::respondsToSelector(d, shouldClose) && !ns::send<bool>(d, shouldClose, shared_from_this()))
    return;
  close();
}

void Window::miniaturize(const ns::Ref<ns::Object>&) {
  if (miniaturized_) return;
  miniaturized_ = true;
  if (auto presenter = activePresenter()) presenter->windowMiniaturized(*this, true);
  postNotification(WindowDidMiniaturizeNotification);
}

void Window::deminiaturize(const ns::Ref<ns::Object>&) {
  if (!miniaturized_) return;
  miniaturized_ = false;
  if (auto presenter = activePresenter()) presenter->windowMiniaturized(*this, false);
  postNotification(WindowDidDeminiaturizeNotification);
}

void Window::zoom(const ns::Ref<ns::Object>&) {
  if (auto presenter = activePresenter(); presenter && visible_ && presenter->zoomWindow(*this)) return;
  // Zoomed, it goes back to the frame it had; otherwise it takes its screen's visible frame.
  const Rect standard = screen()->visibleFrame();
  if (unzoomedFrame_ && frame_ == standard) {
    const Rect back = *unzoomedFrame_;
    unzoomedFrame_.reset();
    setFrame_display(back, true);
    return;
  }
  unzoomedFrame_ = frame_;
  setFrame_display(standard, true);
}

bool Window::isKeyWindow() const {
  return Application::sharedApplication()->keyWindow().get() == this;
}
bool Window::isMainWindow() const {
  return Application::sharedApplication()->mainWindow().get() == this;
}

bool Window::canBecomeKeyWindow() const {
  return (styleMask_ & TitledWindowMask) != 0 || isSheet();
}
bool Window::canBecomeMainWindow() const {
  return (styleMask_ & TitledWindowMask) != 0 && !isSheet() && visible_;
}

void Window::makeKeyWindow() {
  if (!canBecomeKeyWindow() || isKeyWindow()) return;
  Application::sharedApplication()->setKeyWindowInternal(self<Window>());
}

void Window::makeMainWindow() {
  if (!canBecomeMainWindow() || isMainWindow()) return;
  Application::sharedApplication()->setMainWindowInternal(self<Window>());
}

void Window::becomeKeyWindow() {
  if (!firstResponder()) {
    auto initial = initialFirstResponder();
    if (!initial || !makeFirstResponder(initial)) makeFirstResponder(nullptr);
  }
  if (themeFrame_) themeFrame_->markTrackingAreasNeedUpdate();
  postNotification(WindowDidBecomeKeyNotification);
}

void Window::resignKeyWindow() {
  if (themeFrame_) themeFrame_->markTrackingAreasNeedUpdate();
  postNotification(WindowDidResignKeyNotification);
}

void Window::becomeMainWindow() {
  invalidateRect(MakeRect(0, 0, frame_.size.width, frame_.size.height));
  postNotification(WindowDidBecomeMainNotification);
}

void Window::resignMainWindow() {
  invalidateRect(MakeRect(0, 0, frame_.size.width, frame_.size.height));
  postNotification(WindowDidResignMainNotification);
}

// ---- responders and events ----

bool Window::makeFirstResponder(const ns::Ref<Responder>& responder) {
  ns::Ref<Responder> target = responder ? responder : ns::Ref<Responder>(self<Window>());
  auto current = firstResponder();
  if (current == target) return true;
  if (current && current.get() != this && !current->resignFirstResponder()) return false;
  if (target.get() != this && !target->acceptsFirstResponder()) {
    firstResponder_ = self<Window>();
    return false;
  }
  // The target is first responder while it becomes one, so that it may hand on (a text field
  // to the window's field editor) by a nested call.
  firstResponder_ = target;
  if (target.get() != this && !target->becomeFirstResponder()) {
    firstResponder_ = self<Window>();
    return false;
  }
  return true;
}

bool Window::performKeyEquivalent(const ns::Ref<Event>& event) {
  auto frame = themeFrame_;
  return frame && frame->performKeyEquivalent(event);
}

void Window::sendEvent(const ns::Ref<Event>& event) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  // A window made without its initialiser (through the runtime) has no views to send to.
  if (!event || closed_ || !themeFrame_) return;
  auto keep = self<Window>();
  const EventType type = event->type();
  const Point location = event->locationInWindow();
  const bool mouseEvent = type == EventType::LeftMouseDown || type == EventType::LeftMouseUp ||
                          type == EventType::LeftMouseDragged || type == EventType::RightMouseDown ||
                          type == EventType::RightMouseUp || type == EventType::RightMouseDragged ||
                          type == EventType::MouseMoved || type == EventType::ScrollWheel;
  // Where the mouse was before this event: where areas that joined since then first saw it.
  const std::optional<Point> lastMouse =
      mouseLocationKnown_ ? std::optional<Point>(mouseLocation_) : std::nullopt;
  if (mouseEvent) {
    mouseLocation_ = location;
    mouseLocationKnown_ = true;
  }
  // A window with a sheet takes no clicks or keys until the sheet ends.
  if (attachedSheet_ && (type == EventType::LeftMouseDown || type == EventType::RightMouseDown ||
                         type == EventType::KeyDown || type == EventType::ScrollWheel)) {
    return;
  }
  switch (type) {
    case EventType::LeftMouseDown: {
      updateTrackingAreas();
      auto hit = themeFrame_->hitTest(location);
      if (!hit) return;
      if (!isKeyWindow() && canBecomeKeyWindow()) {
        makeKeyWindow();
        makeMainWindow();
      }
      // A Control-click on a view with a context menu is a right click.
      if ((event->modifierFlags() & ControlKeyMask) && hit->menuForEvent(event)) {
        hit->rightMouseDown(event);
        return;
      }
      if (hit != firstResponder() && hit->acceptsFirstResponder()) {
        bool accepted = true;
        for (auto ancestor = hit->superview(); ancestor; ancestor = ancestor->superview()) {
          if (!ancestor->validateProposedFirstResponder_forEvent(hit, event)) accepted = false;
        }
        if (accepted) makeFirstResponder(hit);
      }
      const bool inTitleBar = hit == themeFrame_ && location.y >= contentRectForFrameRect(frame_).size.height;
      if (movable_ && !isInFullScreen() && mouseDownCanMoveWindow(hit) &&
          (inTitleBar || movableByBackground_)) {
        dragWindow(event);
        return;
      }
      mouseDownView_ = hit;
      hit->mouseDown(event);
      // A view that left the window in its own tracking loop gets nothing more from it.
      if (hit->window().get() != this) mouseDownView_ = nullptr;
      return;
    }
    case EventType::LeftMouseDragged: {
      processTrackingAreas(event, true, lastMouse);
      if (auto view = mouseDownView_) view->mouseDragged(event);
      return;
    }
    case EventType::LeftMouseUp: {
      auto view = std::move(mouseDownView_);
      mouseDownView_ = nullptr;
      if (view) view->mouseUp(event);
      return;
    }
    case EventType::RightMouseDown: {
      auto hit = themeFrame_->hitTest(location);
      if (!hit) return;
      rightMouseDownView_ = hit;
      hit->rightMouseDown(event);
      return;
    }
    case EventType::RightMouseDragged: {
      processTrackingAreas(event, true, lastMouse);
      if (auto view = rightMouseDownView_) view->rightMouseDragged(event);
      return;
    }
    case EventType::RightMouseUp: {
      auto view = std::move(rightMouseDownView_);
      rightMouseDownView_ = nullptr;
      if (view) view->rightMouseUp(event);
      return;
    }
    case EventType::MouseMoved: {
      processTrackingAreas(event, false, lastMouse);
      updateCursor(location);
      if (acceptsMouseMoved_) {
        if (auto responder = firstResponder(); responder && responder.get() != this)
          responder->mouseMoved(event);
      }
      return;
    }
    case EventType::ScrollWheel: {
      if (auto hit = themeFrame_->hitTest(location)) hit->scrollWheel(event);
      return;
    }
    case EventType::KeyDown: {
      if (performKeyEquivalent(event)) return;
      // Then the main menu, for keys with Command or Control: the application alone matches
      // key equivalents (after each item's validation).
      if (event->modifierFlags() & (CommandKeyMask | ControlKeyMask)) {
        auto menu = std::dynamic_pointer_cast<Menu>(Application::sharedApplication()->mainMenu());
        if (menu && menu->performKeyEquivalent(event)) return;
      }
      ns::Ref<Responder> responder = firstResponder();
      if (!responder) responder = keep;
      responder->keyDown(event);
      return;
    }
    case EventType::KeyUp:
    case EventType::FlagsChanged: {
      ns::Ref<Responder> responder = firstResponder();
      if (!responder) responder = keep;
      if (type == EventType::KeyUp) {
        responder->keyUp(event);
      } else {
        responder->flagsChanged(event);
      }
      return;
    }
    case EventType::MouseEntered:
    case EventType::MouseExited: {
      auto area = event->trackingArea();
      auto owner = area ? area->owner() : nullptr;
      if (!owner) return;
      if (type == EventType::MouseEntered) {
        owner->mouseEntered(event);
      } else {
        owner->mouseExited(event);
      }
      return;
    }
    default:
      return;
  }
}

// A view inside one that keeps its mouse-downs (a split view, a table's rows) keeps them too.
bool Window::mouseDownCanMoveWindow(const ns::Ref<View>& hit) {
  for (auto view = hit; view; view = view->superview())
    if (!view->mouseDownCanMoveWindow()) return false;
  return true;
}

void Window::dragWindow(const ns::Ref<Event>& mouseDown) {
  auto keep = self<Window>();
  auto app = Application::sharedApplication();
  // By screen locations: the window moves under the pointer, so each event's location in the
  // window is taken against wherever the window stood when the system saw it.
  Point last = mouseDown->locationInScreen();
  Point origin = frame_.origin;
  for (;;) {
    auto event = app->nextEventMatchingMask_untilDate_inMode_dequeue(LeftMouseDraggedMask | LeftMouseUpMask,
                                                                     ns::Date::distantFuture(),
                                                                     ns::EventTrackingRunLoopMode, true);
    if (!event || event->type() == EventType::LeftMouseUp || closed_) break;
    Point p = event->locationInScreen();
    origin.x += p.x - last.x;
    origin.y += p.y - last.y;
    last = p;
    setFrameOrigin(origin);
  }
}

void Window::updateTrackingAreas() {
  if (!themeFrame_ || !trackingAreasDirty_) return;
  trackingAreasDirty_ = false;
  std::vector<ns::Ref<View>> views;
  collectViews(themeFrame_, views);
  for (const auto& view : views) {
    if (!view->trackingAreasNeedUpdate()) continue;
    view->clearTrackingAreasNeedUpdate();
    view->updateTrackingAreas();
  }
}

void Window::processTrackingAreas(const ns::Ref<Event>& event, bool dragging,
                                  std::optional<Point> lastMouse) {
  updateTrackingAreas();
  std::vector<ns::Ref<View>> views;
  collectViews(themeFrame_, views);
  auto app = Application::sharedApplication();
  const Point location = event->locationInWindow();
  for (const auto& view : views) {
    auto areas = view->trackingAreas();
    if (areas.empty()) continue;
    const bool hidden = view->isHiddenOrHasHiddenAncestor();
    const Point p = view->convertPoint_fromView(location, nullptr);
    for (const auto& area : areas) {
      const unsigned long o = area->options();
      const bool active = (o & TrackingActiveAlways) || ((o & TrackingActiveInKeyWindow) && isKeyWindow()) ||
                          ((o & TrackingActiveInActiveApp) && app->isActive()) ||
                          ((o & TrackingActiveWhenFirstResponder) && firstResponder() == view);
      if (!active) continue;
      if (dragging && !(o & TrackingEnabledDuringMouseDrag)) continue;
      const Rect rect = (o & TrackingInVisibleRect) ? view->visibleRect() : area->rect();
      const bool inside = !hidden && MouseInRect(p, rect, view->isFlipped());
      auto owner = area->owner();
      // An area that joined the window since the last event (a reused row view) is entered when
      // the mouse is in it now, and exited when the mouse was in it then and has left: its owner
      // may show a hover state it restored itself, which must not outlive the mouse's leaving.
      const bool wasInside =
          area->knowsInside()
              ? area->mouseInside()
              : !inside && !hidden && lastMouse &&
                    MouseInRect(view->convertPoint_fromView(*lastMouse, nullptr), rect, view->isFlipped());
      area->setKnowsInside(true);
      area->setMouseInside(inside);
      if (!owner) continue;
      if (inside != wasInside && (o & TrackingMouseEnteredAndExited)) {
        auto e = Event::
            enterExitEventWithType_location_modifierFlags_timestamp_windowNumber_context_eventNumber_trackingNumber_userData(
                inside ? EventType::MouseEntered : EventType::MouseExited, location, event->modifierFlags(),
                event->timestamp(), windowNumber_, nullptr, 0, area, nullptr);
        if (inside) {
          owner->mouseEntered(e);
        } else {
          owner->mouseExited(e);
        }
      }
      if (inside && !wasInside && (o & TrackingCursorUpdate)) owner->cursorUpdate(event);
      if (inside && (o & TrackingMouseMoved) && event->type() == EventType::MouseMoved)
        owner->mouseMoved(event);
    }
  }
}

void Window::invalidateCursorRectsForView(const ns::Ref<View>&) {
  cursorRectsValid_ = false;
}

void Window::resetCursorRects() {
  if (!themeFrame_) return;
  std::vector<ns::Ref<View>> views;
  collectViews(themeFrame_, views);
  for (const auto& view : views) {
    view->discardCursorRects();
    if (!view->isHiddenOrHasHiddenAncestor()) view->resetCursorRects();
  }
  cursorRectsValid_ = true;
}

void Window::updateCursor(const Point& location) {
  if (!cursorRectsValid_) resetCursorRects();
  std::vector<ns::Ref<View>> views;
  collectViews(themeFrame_, views);
  // Later views in the walk lie in front.
  for (auto it = views.rbegin(); it != views.rend(); ++it) {
    const auto& view = *it;
    if (view->cursorRects().empty() || view->isHiddenOrHasHiddenAncestor()) continue;
    const Point p = view->convertPoint_fromView(location, nullptr);
    const Rect visible = view->visibleRect();
    for (const auto& cr : view->cursorRects()) {
      if (MouseInRect(p, IntersectionRect(cr.rect, visible), view->isFlipped())) {
        cr.cursor->set();
        return;
      }
    }
  }
  Cursor::arrowCursor()->set();
}

// ---- full screen ----

void Window::toggleFullScreen(const ns::Ref<ns::Object>&) {
  auto keep = self<Window>();
  if (fullScreenPending_) return;
  if (auto presenter = activePresenter(); presenter && visible_) {
    // On screen the system sets the frame; the did notification waits for its answer.
    const bool entering = !isInFullScreen();
    postNotification(entering ? WindowWillEnterFullScreenNotification : WindowWillExitFullScreenNotification);
    if (entering) {
      frameBeforeFullScreen_ = frame_;
      styleBeforeFullScreen_ = styleMask_;
      setStyleMask(styleMask_ | FullScreenWindowMask);
    } else {
      setStyleMask(styleBeforeFullScreen_ & ~static_cast<unsigned long>(FullScreenWindowMask));
    }
    fullScreenPending_ = true;
    if (presenter->setWindowFullScreen(*this, entering)) return;
    fullScreenPending_ = false;
    setFrame_display(entering ? screen()->frame() : frameBeforeFullScreen_, true);
    postNotification(entering ? WindowDidEnterFullScreenNotification : WindowDidExitFullScreenNotification);
    return;
  }
  if (!isInFullScreen()) {
    postNotification(WindowWillEnterFullScreenNotification);
    frameBeforeFullScreen_ = frame_;
    styleBeforeFullScreen_ = styleMask_;
    setStyleMask(styleMask_ | FullScreenWindowMask);
    setFrame_display(screen()->frame(), true);
    postNotification(WindowDidEnterFullScreenNotification);
  } else {
    postNotification(WindowWillExitFullScreenNotification);
    setStyleMask(styleBeforeFullScreen_ & ~static_cast<unsigned long>(FullScreenWindowMask));
    setFrame_display(frameBeforeFullScreen_, true);
    postNotification(WindowDidExitFullScreenNotification);
  }
}

void Window::finishFullScreenTransition() {
  if (!fullScreenPending_) return;
  auto keep = self<Window>();
  fullScreenPending_ = false;
  if (isInFullScreen()) {
    postNotification(WindowDidEnterFullScreenNotification);
  } else {
    setFrame_display(frameBeforeFullScreen_, true);
    postNotification(WindowDidExitFullScreenNotification);
  }
}

// ---- children and sheets ----

void Window::addChildWindow_ordered(const ns::Ref<Window>& child, WindowOrderingMode) {
  if (!child || child.get() == this) return;
  if (auto old = child->parentWindow()) old->removeChildWindow(child);
  children_.push_back(child);
  child->parentWindow_ = self<Window>();
  if (visible_) child->orderFront(nullptr);
}

void Window::removeChildWindow(const ns::Ref<Window>& child) {
  children_.erase(std::remove_if(children_.begin(), children_.end(),
                                 [&](const ns::Weak<Window>& w) { return w.expired() || w.lock() == child; }),
                  children_.end());
  if (child && child->parentWindow_.lock().get() == this) child->parentWindow_.reset();
}

std::vector<ns::Ref<Window>> Window::childWindows() const {
  std::vector<ns::Ref<Window>> out;
  for (const auto& w : children_) {
    if (auto c = w.lock()) out.push_back(c);
  }
  return out;
}

Rect Window::sheetPositionRect(const ns::Ref<Window>& sheet) const {
  Rect rect = MakeRect(0, contentRectForFrameRect(frame_).size.height, frame_.size.width, 0);
  static const ns::Sel positionSel("window:willPositionSheet:usingRect:");
  auto d = delegate();
  if (d && ns::respondsToSelector(d, positionSel)) {
    Rect answered =
        ns::send<Rect>(d, positionSel, std::const_pointer_cast<Window>(self<Window>()), sheet, rect);
    if (IsSaneRect(answered)) rect = answered;
  }
  return rect;
}

void Window::attachSheetInternal(const ns::Ref<Window>& sheet) {
  auto keep = self<Window>();
  attachedSheet_ = sheet;
  sheet->sheetParent_ = keep;
  postNotification(WindowWillBeginSheetNotification);
  Rect at = sheetPositionRect(sheet);
  Rect sf = sheet->frame();
  sheet->setFrame_display(
      MakeRect(frame_.origin.x + at.origin.x + std::floor((at.size.width - sf.size.width) / 2),
               frame_.origin.y + at.origin.y - sf.size.height, sf.size.width, sf.size.height),
      false);
  sheet->orderFront(nullptr);
  sheet->makeKeyWindow();
}

void Window::detachSheetInternal() {
  auto keep = self<Window>();
  auto sheet = std::move(attachedSheet_);
  attachedSheet_ = nullptr;
  if (sheet) sheet->sheetParent_.reset();
  postNotification(WindowDidEndSheetNotification);
}

// ---- internals ----

void Window::viewRemovedInternal(const View* view) {
  auto responder = firstResponder();
  if (auto rv = std::dynamic_pointer_cast<View>(responder); rv && rv->isDescendantOf(view))
    makeFirstResponder(nullptr);
  cursorRectsValid_ = false;
}

void Window::viewHiddenInternal(const View* view) {
  viewRemovedInternal(view);
}

void Window::contentLayoutChanged() {
  relayoutThemeFrame();
}

void Window::beginLiveResize() {
  if (inLiveResize_ || !themeFrame_) return;
  inLiveResize_ = true;
  std::vector<ns::Ref<View>> views;
  collectViews(themeFrame_, views);
  for (const auto& v : views) v->viewWillStartLiveResize();
}

void Window::endLiveResize() {
  if (!inLiveResize_ || !themeFrame_) return;
  inLiveResize_ = false;
  std::vector<ns::Ref<View>> views;
  collectViews(themeFrame_, views);
  for (const auto& v : views) v->viewDidEndLiveResize();
}

ns::Ref<BasicAnimation> Window::animationForKey(const std::string& key) const {
  auto it = animations_.find(key);
  return it == animations_.end() ? nullptr : it->second;
}

ns::Ref<WindowAnimator> Window::animator() {
  return ns::make<WindowAnimator>(self<Window>());
}

}  // namespace ak

PL_CLASS_NAMED(ak::Window, "NSWindow", ak::Responder) {}

namespace ak {

ns::Ref<TextView> Window::fieldEditor_forObject(bool createFlag, const ns::Ref<ns::Object>&) {
  if (!fieldEditor_ && createFlag) {
    fieldEditor_ = make<TextView>(ZeroRect);
    fieldEditor_->setFieldEditor(true);
  }
  return fieldEditor_;
}

void Window::endEditingFor(const ns::Ref<ns::Object>&) {
  if (fieldEditor_ && firstResponder() == fieldEditor_) makeFirstResponder(nullptr);
}

}  // namespace ak
