#include "ui/TitlebarWindow.h"

#include <cmath>

#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Control.h"
#include "platform/appkit/Make.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runtime/ClassBuilder.h"
#include "ui/TitlebarView.h"
#include "ui/TitlebarWindowDelegateProxy.h"
#include "ui/WindowButton.h"

namespace {

// Measured once per process from the platform's own title bar and buttons; measured again
// while still zero (a first window without a title bar has none to measure).
struct Metrics {
  double minimumTitlebarHeight = 0;
  double trafficLightLeftMargin = 0;
  double trafficLightSeparation = 0;
};

Metrics& metrics() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  static Metrics shared;  // plain doubles: nothing to destroy
  return shared;
}

void setFrameIfChanged(const ns::Ref<ak::View>& view, const ak::Rect& frame) {
  if (view && !(view->frame() == frame)) view->setFrame(frame);
}

}  // namespace

TitlebarWindow::~TitlebarWindow() {
  ns::NotificationCenter::defaultCenter()->removeObserver(this);
}

void TitlebarWindow::initWithContentRect_styleMask_backing_defer(const ak::Rect& contentRect,
                                                                 unsigned long styleMask,
                                                                 ak::BackingStoreType backing, bool defer) {
  ak::Window::initWithContentRect_styleMask_backing_defer(contentRect, styleMask, backing, defer);
  _doInitialWindowSetup();
}

void TitlebarWindow::initWithContentRect_styleMask_backing_defer_screen(const ak::Rect& contentRect,
                                                                        unsigned long styleMask,
                                                                        ak::BackingStoreType backing,
                                                                        bool defer,
                                                                        const ns::Ref<ak::Screen>&) {
  // Windows are placed in one screen space here; the screen adds nothing to the frame.
  initWithContentRect_styleMask_backing_defer(contentRect, styleMask, backing, defer);
}

// ---- set-up ----

void TitlebarWindow::_doInitialWindowSetup() {
  showsBaselineSeparator_ = true;
  centerTrafficLightButtons_ = true;
  titleBarHeight_ = cachedTitleBarHeight_ = _minimumTitlebarHeight();
  trafficLightButtonsLeftMargin_ = _defaultTrafficLightLeftMargin();
  delegateProxy_ = ns::make<TitlebarWindowDelegateProxy>();
  trafficLightButtonsTopMargin_ = fullScreenButtonTopMargin_ = 3.0;
  trafficLightSeparation_ = _defaultTrafficLightSeparation();
  ak::Window::setDelegate(delegateProxy_);

  auto center = ns::NotificationCenter::defaultCenter();
  auto me = self<TitlebarWindow>();
  for (const char* name :
       {ak::WindowDidResizeNotification, ak::WindowDidMoveNotification, ak::WindowDidEndSheetNotification}) {
    center->addObserver_selector_name_object(this, &TitlebarWindow::_layoutTrafficLightsAndContent,
                                             std::string(name), me);
  }
  center->addObserver_selector_name_object(this, &TitlebarWindow::_updateTitlebarView,
                                           std::string(ak::ApplicationDidBecomeActiveNotification));
  center->addObserver_selector_name_object(this, &TitlebarWindow::_updateTitlebarView,
                                           std::string(ak::ApplicationDidResignActiveNotification));
  center->addObserver_selector_name_object(this, &TitlebarWindow::_setupTrafficLightsTrackingArea,
                                           std::string(ak::WindowDidExitFullScreenNotification), me);
  // Only this window's own full-screen changes may collapse its bar.
  center->addObserver_selector_name_object(this, &TitlebarWindow::windowWillEnterFullScreen,
                                           std::string(ak::WindowWillEnterFullScreenNotification), me);
  center->addObserver_selector_name_object(this, &TitlebarWindow::windowWillExitFullScreen,
                                           std::string(ak::WindowWillExitFullScreenNotification), me);

  _createTitlebarView();
  _layoutTrafficLightsAndContent();
  _setupTrafficLightsTrackingArea();
}

void TitlebarWindow::_createTitlebarView() {
  auto frameView = themeFrameView();
  if (!frameView) return;
  titleBarContainer_ = ak::make<TitlebarContainer>(ak::ZeroRect);
  frameView->addSubview_positioned_relativeTo(titleBarContainer_, ak::WindowOrderingMode::Below, nullptr);
  setTitleBarView(ak::make<TitlebarView>(ak::ZeroRect));
}

// ---- metrics ----

double TitlebarWindow::_minimumTitlebarHeight() {
  auto& m = metrics();
  if (m.minimumTitlebarHeight == 0)
    m.minimumTitlebarHeight = frame().size.height - contentRectForFrameRect(frame()).size.height;
  return m.minimumTitlebarHeight;
}

double TitlebarWindow::_defaultTrafficLightLeftMargin() {
  auto& m = metrics();
  if (m.trafficLightLeftMargin == 0) {
    if (auto close = _closeButtonToLayout()) m.trafficLightLeftMargin = close->frame().origin.x;
  }
  return m.trafficLightLeftMargin;
}

double TitlebarWindow::_defaultTrafficLightSeparation() {
  auto& m = metrics();
  if (m.trafficLightSeparation == 0) {
    auto close = _closeButtonToLayout();
    auto minimize = _minimizeButtonToLayout();
    if (close && minimize) m.trafficLightSeparation = minimize->frame().origin.x - ak::MaxX(close->frame());
  }
  return m.trafficLightSeparation;
}

// ---- properties ----

void TitlebarWindow::setTitleBarView(const ns::Ref<ak::View>& view) {
  if (!view || view == titleBarView_) return;
  if (titleBarView_) titleBarView_->removeFromSuperview();
  titleBarView_ = view;
  if (!titleBarContainer_) return;
  view->setFrame(titleBarContainer_->bounds());
  view->setAutoresizingMask(ak::ViewWidthSizable | ak::ViewHeightSizable);
  titleBarContainer_->addSubview(view);
}

void TitlebarWindow::setTitleBarHeight(double height) {
  if (height == titleBarHeight_ || std::isnan(height)) return;
  titleBarHeight_ = cachedTitleBarHeight_ = height;
  _layoutTrafficLightsAndContent();
  _displayWindowAndTitlebar();
}

void TitlebarWindow::setShowsBaselineSeparator(bool shows) {
  if (shows == showsBaselineSeparator_) return;
  showsBaselineSeparator_ = shows;
  if (titleBarView_) titleBarView_->setNeedsDisplay(true);
}

void TitlebarWindow::setShowsTitle(bool shows) {
  if (shows == showsTitle_) return;
  showsTitle_ = shows;
  _displayWindowAndTitlebar();
}

void TitlebarWindow::setTrafficLightButtonsLeftMargin(double margin) {
  if (margin == trafficLightButtonsLeftMargin_ || std::isnan(margin)) return;
  trafficLightButtonsLeftMargin_ = margin;
  _layoutTrafficLightsAndContent();
  _displayWindowAndTitlebar();
  _setupTrafficLightsTrackingArea();
}

void TitlebarWindow::setFullScreenButtonRightMargin(double margin) {
  if (margin == fullScreenButtonRightMargin_ || std::isnan(margin)) return;
  fullScreenButtonRightMargin_ = margin;
  setFullScreenButtonRightMargin_ = true;
  _layoutTrafficLightsAndContent();
  _displayWindowAndTitlebar();
}

void TitlebarWindow::setCenterFullScreenButton(bool center) {
  if (center == centerFullScreenButton_) return;
  centerFullScreenButton_ = center;
  _layoutTrafficLightsAndContent();
}

void TitlebarWindow::setCenterTrafficLightButtons(bool center) {
  if (center == centerTrafficLightButtons_) return;
  centerTrafficLightButtons_ = center;
  _layoutTrafficLightsAndContent();
  _setupTrafficLightsTrackingArea();
}

void TitlebarWindow::setVerticalTrafficLightButtons(bool vertical) {
  if (vertical == verticalTrafficLightButtons_) return;
  verticalTrafficLightButtons_ = vertical;
  _layoutTrafficLightsAndContent();
  _setupTrafficLightsTrackingArea();
}

void TitlebarWindow::setTrafficLightSeparation(double separation) {
  if (separation == trafficLightSeparation_ || std::isnan(separation)) return;
  trafficLightSeparation_ = separation;
  _layoutTrafficLightsAndContent();
  _setupTrafficLightsTrackingArea();
}

void TitlebarWindow::installButton(ns::Ref<WindowButton>& slot, const ns::Ref<WindowButton>& button,
                                   ak::WindowButton kind, const char* action) {
  if (button == slot) return;
  if (slot) slot->removeFromSuperview();
  slot = button;
  if (!button) return;
  button->setTarget(self<TitlebarWindow>());
  button->setAction(ns::Sel(action));
  if (auto standard = standardWindowButton(kind)) button->setFrameOrigin(standard->frame().origin);
  if (auto frameView = themeFrameView()) frameView->addSubview(button);
}

void TitlebarWindow::setCloseButton(const ns::Ref<WindowButton>& button) {
  installButton(closeButton_, button, ak::WindowButton::CloseButton, "performClose:");
}
void TitlebarWindow::setMinimizeButton(const ns::Ref<WindowButton>& button) {
  installButton(minimizeButton_, button, ak::WindowButton::MiniaturizeButton, "performMiniaturize:");
}
void TitlebarWindow::setZoomButton(const ns::Ref<WindowButton>& button) {
  installButton(zoomButton_, button, ak::WindowButton::ZoomButton, "performZoom:");
}
void TitlebarWindow::setFullScreenButton(const ns::Ref<WindowButton>& button) {
  installButton(fullScreenButton_, button, ak::WindowButton::FullScreenButton, "toggleFullScreen:");
}

// ---- delegate ----

void TitlebarWindow::setDelegate(const ns::Ref<ns::Object>& delegate) {
  if (!delegateProxy_) {
    // Before set-up (inside the platform's initialiser) there is no proxy yet.
    ak::Window::setDelegate(delegate);
    return;
  }
  delegateProxy_->setSecondaryDelegate(delegate);
  ak::Window::setDelegate(nullptr);
  ak::Window::setDelegate(delegateProxy_);
}

ns::Ref<ns::Object> TitlebarWindow::delegate() const {
  return delegateProxy_ ? delegateProxy_->secondaryDelegate() : ak::Window::delegate();
}

// ---- platform overrides ----

void TitlebarWindow::becomeKeyWindow() {
  ak::Window::becomeKeyWindow();
  _updateTitlebarView();
  _layoutTrafficLightsAndContent();
  _setupTrafficLightsTrackingArea();
}

void TitlebarWindow::resignKeyWindow() {
  ak::Window::resignKeyWindow();
  _updateTitlebarView();
  _layoutTrafficLightsAndContent();
}

void TitlebarWindow::becomeMainWindow() {
  ak::Window::becomeMainWindow();
  _updateTitlebarView();
}

void TitlebarWindow::resignMainWindow() {
  ak::Window::resignMainWindow();
  _updateTitlebarView();
}

void TitlebarWindow::setContentView(const ns::Ref<ak::View>& view) {
  ak::Window::setContentView(view);
  if (titleBarContainer_) _repositionContentView();
}

void TitlebarWindow::setTitle(const std::string& title) {
  ak::Window::setTitle(title);
  if (!titleBarContainer_) return;
  _layoutTrafficLightsAndContent();
  _displayWindowAndTitlebar();
}

void TitlebarWindow::setStyleMask(unsigned long styleMask) {
  preventWindowFrameChange_ = true;
  ak::Window::setStyleMask(styleMask);
  preventWindowFrameChange_ = false;
  // The platform re-tiles its frame view on a style change (the content view back under the
  // standard bar, the standard buttons back in place); the custom bar's layout goes on top.
  if (titleBarContainer_) _layoutTrafficLightsAndContent();
}

void TitlebarWindow::setFrame_display(const ak::Rect& frame, bool display) {
  if (!preventWindowFrameChange_) ak::Window::setFrame_display(frame, display);
}

void TitlebarWindow::setFrame_display_animate(const ak::Rect& frame, bool display, bool animate) {
  if (!preventWindowFrameChange_) ak::Window::setFrame_display_animate(frame, display, animate);
}

ns::Ref<ak::View> TitlebarWindow::themeFrameView() const {
  auto content = contentView();
  return content ? content->superview() : themeFrame();
}

bool TitlebarWindow::isActiveAppearance() const {
  return isMainWindow() && ak::Application::sharedApplication()->isActive();
}

// ---- full screen ----

void TitlebarWindow::windowWillEnterFullScreen(const ns::Ref<ns::Notification>&) {
  if (!hideTitleBarInFullScreen_) return;
  titleBarHeight_ = 0;
  _layoutTrafficLightsAndContent();
  _displayWindowAndTitlebar();
  _hideTitleBarView(true);
}

void TitlebarWindow::windowWillExitFullScreen(const ns::Ref<ns::Notification>&) {
  if (!hideTitleBarInFullScreen_) return;
  titleBarHeight_ = cachedTitleBarHeight_;
  _layoutTrafficLightsAndContent();
  _displayWindowAndTitlebar();
  _hideTitleBarView(false);
}

void TitlebarWindow::undoManagerDidCloseUndoGroupNotification(const ns::Ref<ns::Notification>&) {
  _displayWindowAndTitlebar();
}

// ---- layout ----

void TitlebarWindow::_recalculateFrameForTitleBarContainer() {
  auto frameView = themeFrameView();
  if (!titleBarContainer_ || !frameView) return;
  const ak::Rect f = frameView->frame();
  setFrameIfChanged(titleBarContainer_, ak::MakeRect(0, f.origin.y + f.size.height - titleBarHeight_,
                                                     f.size.width, std::max(0.0, titleBarHeight_)));
}

ns::Ref<ak::View> TitlebarWindow::_windowButtonToLayout_orUserProvided(
    ak::WindowButton kind, const ns::Ref<WindowButton>& userProvided) {
  auto standard = standardWindowButton(kind);
  if (userProvided) {
    if (standard) standard->setHidden(true);
    return userProvided;
  }
  if (standard && standard->superview() != themeFrameView()) standard->setHidden(false);
  return standard;
}

ns::Ref<ak::View> TitlebarWindow::_closeButtonToLayout() {
  return _windowButtonToLayout_orUserProvided(ak::WindowButton::CloseButton, closeButton_);
}
ns::Ref<ak::View> TitlebarWindow::_minimizeButtonToLayout() {
  return _windowButtonToLayout_orUserProvided(ak::WindowButton::MiniaturizeButton, minimizeButton_);
}
ns::Ref<ak::View> TitlebarWindow::_zoomButtonToLayout() {
  return _windowButtonToLayout_orUserProvided(ak::WindowButton::ZoomButton, zoomButton_);
}
ns::Ref<ak::View> TitlebarWindow::_fullScreenButtonToLayout() {
  return _windowButtonToLayout_orUserProvided(ak::WindowButton::FullScreenButton, fullScreenButton_);
}

void TitlebarWindow::_layoutTrafficLightsAndContent() {
  if (!titleBarContainer_) return;
  _recalculateFrameForTitleBarContainer();
  const ak::Rect k = titleBarContainer_->frame();
  auto close = _closeButtonToLayout();
  auto minimize = _minimizeButtonToLayout();
  auto zoom = _zoomButtonToLayout();
  if (close && minimize && zoom) {
    ak::Rect c = close->frame(), m = minimize->frame(), z = zoom->frame();
    if (!verticalTrafficLightButtons_) {
      const double y = centerTrafficLightButtons_
                           ? std::round(k.origin.y + k.size.height * 0.5 - c.size.height * 0.5)
                           : k.origin.y + k.size.height - c.size.height - trafficLightButtonsTopMargin_;
      c.origin = {trafficLightButtonsLeftMargin_, y};
      m.origin = {c.origin.x + c.size.width + trafficLightSeparation_, y};
      z.origin = {m.origin.x + m.size.width + trafficLightSeparation_, y};
    } else {
      const double step = trafficLightSeparation_ - 2.0;
      const double total = c.size.height + m.size.height + z.size.height + 2 * step;
      const double bottom = centerTrafficLightButtons_
                                ? std::round(k.origin.y + k.size.height * 0.5 - total * 0.5)
                                : k.origin.y + k.size.height - total - trafficLightButtonsTopMargin_;
      z.origin = {trafficLightButtonsLeftMargin_, bottom};
      m.origin = {trafficLightButtonsLeftMargin_, z.origin.y + z.size.height + step};
      c.origin = {trafficLightButtonsLeftMargin_, m.origin.y + m.size.height + step};
    }
    setFrameIfChanged(close, c);
    setFrameIfChanged(minimize, m);
    setFrameIfChanged(zoom, z);
  }
  if (auto full = _fullScreenButtonToLayout()) {
    ak::Rect f = full->frame();
    if (!setFullScreenButtonRightMargin_) setFullScreenButtonRightMargin(k.size.width - ak::MaxX(f));
    f.origin.x = k.size.width - f.size.width - fullScreenButtonRightMargin_;
    f.origin.y = centerFullScreenButton_
                     ? std::round(k.origin.y + k.size.height * 0.5 - f.size.height * 0.5)
                     : k.origin.y + k.size.height - f.size.height - fullScreenButtonTopMargin_;
    setFrameIfChanged(full, f);
  }
  _repositionContentView();
}

void TitlebarWindow::_repositionContentView() {
  auto content = contentView();
  if (!content) return;
  ak::Rect f = content->frame();
  f.size.height = std::max(0.0, frame().size.height - titleBarHeight_);
  if (f == content->frame()) return;
  content->setFrame(f);
  content->setNeedsDisplay(true);
}

void TitlebarWindow::_setupTrafficLightsTrackingArea() {
  if (auto frameView = themeFrameView()) {
    frameView->viewWillStartLiveResize();
    frameView->viewDidEndLiveResize();
  }
}

void TitlebarWindow::_updateTitlebarView() {
  if (!titleBarView_) return;
  titleBarView_->setNeedsDisplay(true);
  const bool active = isActiveAppearance();
  for (const auto& sub : titleBarView_->subviews()) {
    if (auto control = std::dynamic_pointer_cast<ak::Control>(sub)) control->setEnabled(active);
  }
}

void TitlebarWindow::_hideTitleBarView(bool hidden) {
  if (titleBarView_) titleBarView_->setHidden(hidden);
}

void TitlebarWindow::_displayWindowAndTitlebar() {
  if (titleBarView_) titleBarView_->setNeedsDisplay(true);
}

PL_CLASS(TitlebarWindow, ak::Window) {
  // The actions of the custom traffic lights, sent to the window through the runtime.
  cls.method<&ak::Window::performClose>("performClose:");
  cls.method<&ak::Window::miniaturize>("performMiniaturize:");
  cls.method<&ak::Window::zoom>("performZoom:");
  cls.method<&ak::Window::toggleFullScreen>("toggleFullScreen:");
}
