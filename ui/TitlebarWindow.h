#pragma once
// A window whose title bar is taller than the platform's and drawn by the application: a
// gradient with rounded top corners, a baseline separator, a faint noise and the title (or what
// a drawing block paints instead). It hosts views in the bar (titleBarView), lays the traffic
// lights and the full-screen button out inside it, can swap them for WindowButtons, and ends the
// content view where the bar begins. Main thread only.
#include <functional>
#include <optional>

#include "platform/appkit/BezierPath.h"
#include "platform/appkit/Window.h"

namespace ns {
class Notification;
}

namespace ak {
class Color;
class Shadow;
}  // namespace ak

class TitlebarContainer;
class TitlebarWindowDelegateProxy;
class WindowButton;

class TitlebarWindow : public ak::Window {
 public:
  // (active appearance, the title bar view's bounds, the rounded-top outline to clip to)
  using DrawingBlock = std::function<void(bool, ak::Rect, const ak::BezierPath&)>;

  ~TitlebarWindow() override;

  void initWithContentRect_styleMask_backing_defer(const ak::Rect& contentRect, unsigned long styleMask,
                                                   ak::BackingStoreType backing, bool defer) override;
  void initWithContentRect_styleMask_backing_defer_screen(const ak::Rect& contentRect,
                                                          unsigned long styleMask,
                                                          ak::BackingStoreType backing, bool defer,
                                                          const ns::Ref<ak::Screen>& screen);

  // ---- the bar ----
  ns::Ref<ak::View> titleBarView() const { return titleBarView_; }
  // Ignored for nil or the current view; the new view fills the container.
  void setTitleBarView(const ns::Ref<ak::View>& view);
  ns::Ref<TitlebarContainer> titleBarContainer() const { return titleBarContainer_; }
  double titleBarHeight() const { return titleBarHeight_; }
  void setTitleBarHeight(double height);
  double cachedTitleBarHeight() const { return cachedTitleBarHeight_; }
  bool showsBaselineSeparator() const { return showsBaselineSeparator_; }
  void setShowsBaselineSeparator(bool shows);
  bool showsTitle() const { return showsTitle_; }
  void setShowsTitle(bool shows);
  bool showsTitleInFullscreen() const { return showsTitleInFullscreen_; }
  void setShowsTitleInFullscreen(bool shows) { showsTitleInFullscreen_ = shows; }
  bool hideTitleBarInFullScreen() const { return hideTitleBarInFullScreen_; }
  void setHideTitleBarInFullScreen(bool hide) { hideTitleBarInFullScreen_ = hide; }
  const DrawingBlock& titleBarDrawingBlock() const { return titleBarDrawingBlock_; }
  void setTitleBarDrawingBlock(DrawingBlock block) { titleBarDrawingBlock_ = std::move(block); }

  // ---- the buttons ----
  double trafficLightButtonsLeftMargin() const { return trafficLightButtonsLeftMargin_; }
  void setTrafficLightButtonsLeftMargin(double margin);
  double trafficLightButtonsTopMargin() const { return trafficLightButtonsTopMargin_; }
  void setTrafficLightButtonsTopMargin(double margin) { trafficLightButtonsTopMargin_ = margin; }
  double fullScreenButtonRightMargin() const { return fullScreenButtonRightMargin_; }
  // Also marks the margin as fixed.
  void setFullScreenButtonRightMargin(double margin);
  // Whether the right margin has been fixed (by a caller or by the first layout).
  bool fullScreenButtonRightMarginIsSet() const { return setFullScreenButtonRightMargin_; }
  double fullScreenButtonTopMargin() const { return fullScreenButtonTopMargin_; }
  void setFullScreenButtonTopMargin(double margin) { fullScreenButtonTopMargin_ = margin; }
  bool centerFullScreenButton() const { return centerFullScreenButton_; }
  void setCenterFullScreenButton(bool center);
  bool centerTrafficLightButtons() const { return centerTrafficLightButtons_; }
  void setCenterTrafficLightButtons(bool center);
  bool verticalTrafficLightButtons() const { return verticalTrafficLightButtons_; }
  void setVerticalTrafficLightButtons(bool vertical);
  double trafficLightSeparation() const { return trafficLightSeparation_; }
  void setTrafficLightSeparation(double separation);
  ns::Ref<WindowButton> closeButton() const { return closeButton_; }
  void setCloseButton(const ns::Ref<WindowButton>& button);
  ns::Ref<WindowButton> minimizeButton() const { return minimizeButton_; }
  void setMinimizeButton(const ns::Ref<WindowButton>& button);
  ns::Ref<WindowButton> zoomButton() const { return zoomButton_; }
  void setZoomButton(const ns::Ref<WindowButton>& button);
  ns::Ref<WindowButton> fullScreenButton() const { return fullScreenButton_; }
  void setFullScreenButton(const ns::Ref<WindowButton>& button);

  // ---- colours (nil: the built-in defaults) ----
  ns::Ref<ak::Color> titleBarStartColor() const { return titleBarStartColor_; }
  void setTitleBarStartColor(const ns::Ref<ak::Color>& color) { titleBarStartColor_ = color; }
  ns::Ref<ak::Color> titleBarEndColor() const { return titleBarEndColor_; }
  void setTitleBarEndColor(const ns::Ref<ak::Color>& color) { titleBarEndColor_ = color; }
  ns::Ref<ak::Color> baselineSeparatorColor() const { return baselineSeparatorColor_; }
  void setBaselineSeparatorColor(const ns::Ref<ak::Color>& color) { baselineSeparatorColor_ = color; }
  ns::Ref<ak::Color> inactiveTitleBarStartColor() const { return inactiveTitleBarStartColor_; }
  void setInactiveTitleBarStartColor(const ns::Ref<ak::Color>& color) { inactiveTitleBarStartColor_ = color; }
  ns::Ref<ak::Color> inactiveTitleBarEndColor() const { return inactiveTitleBarEndColor_; }
  void setInactiveTitleBarEndColor(const ns::Ref<ak::Color>& color) { inactiveTitleBarEndColor_ = color; }
  ns::Ref<ak::Color> inactiveBaselineSeparatorColor() const { return inactiveBaselineSeparatorColor_; }
  void setInactiveBaselineSeparatorColor(const ns::Ref<ak::Color>& color) {
    inactiveBaselineSeparatorColor_ = color;
  }
  ns::Ref<ak::Color> titleTextColor() const { return titleTextColor_; }
  void setTitleTextColor(const ns::Ref<ak::Color>& color) { titleTextColor_ = color; }
  ns::Ref<ak::Shadow> titleTextShadow() const { return titleTextShadow_; }
  void setTitleTextShadow(const ns::Ref<ak::Shadow>& shadow) { titleTextShadow_ = shadow; }
  ns::Ref<ak::Color> inactiveTitleTextColor() const { return inactiveTitleTextColor_; }
  void setInactiveTitleTextColor(const ns::Ref<ak::Color>& color) { inactiveTitleTextColor_ = color; }
  ns::Ref<ak::Shadow> inactiveTitleTextShadow() const { return inactiveTitleTextShadow_; }
  void setInactiveTitleTextShadow(const ns::Ref<ak::Shadow>& shadow) { inactiveTitleTextShadow_ = shadow; }

  // ---- delegate ----
  ns::Ref<TitlebarWindowDelegateProxy> delegateProxy() const { return delegateProxy_; }
  // The real delegate; the platform sees the proxy.
  void setDelegate(const ns::Ref<ns::Object>& delegate) override;
  ns::Ref<ns::Object> delegate() const;

  // ---- platform overrides ----
  void becomeKeyWindow() override;
  void resignKeyWindow() override;
  void becomeMainWindow() override;
  void resignMainWindow() override;
  void setContentView(const ns::Ref<ak::View>& view) override;
  void setTitle(const std::string& title) override;
  void setStyleMask(unsigned long styleMask) override;
  void setFrame_display(const ak::Rect& frame, bool display) override;
  void setFrame_display_animate(const ak::Rect& frame, bool display, bool animate) override;
  bool preventWindowFrameChange() const { return preventWindowFrameChange_; }

  ns::Ref<ak::View> themeFrameView() const;
  // Whether the window wears its active look: main window of the active application.
  bool isActiveAppearance() const;

  // ---- notification handlers ----
  void windowWillEnterFullScreen(const ns::Ref<ns::Notification>& note);
  void windowWillExitFullScreen(const ns::Ref<ns::Notification>& note);
  void undoManagerDidCloseUndoGroupNotification(const ns::Ref<ns::Notification>& note);

  // ---- internal steps ----
  void _doInitialWindowSetup();
  void _createTitlebarView();
  void _recalculateFrameForTitleBarContainer();
  void _layoutTrafficLightsAndContent();
  void _repositionContentView();
  ns::Ref<ak::View> _windowButtonToLayout_orUserProvided(ak::WindowButton kind,
                                                         const ns::Ref<WindowButton>& userProvided);
  ns::Ref<ak::View> _closeButtonToLayout();
  ns::Ref<ak::View> _minimizeButtonToLayout();
  ns::Ref<ak::View> _zoomButtonToLayout();
  ns::Ref<ak::View> _fullScreenButtonToLayout();
  void _setupTrafficLightsTrackingArea();
  void _updateTitlebarView();
  void _hideTitleBarView(bool hidden);
  void _displayWindowAndTitlebar();
  double _minimumTitlebarHeight();
  double _defaultTrafficLightLeftMargin();
  double _defaultTrafficLightSeparation();

 private:
  void installButton(ns::Ref<WindowButton>& slot, const ns::Ref<WindowButton>& button, ak::WindowButton kind,
                     const char* action);

  ns::Ref<ak::View> titleBarView_;
  ns::Ref<TitlebarContainer> titleBarContainer_;
  double titleBarHeight_ = 0;
  double cachedTitleBarHeight_ = 0;
  bool showsBaselineSeparator_ = true;
  double trafficLightButtonsLeftMargin_ = 0;
  double fullScreenButtonRightMargin_ = 0;
  bool setFullScreenButtonRightMargin_ = false;
  bool showsTitle_ = false;
  bool centerFullScreenButton_ = false;
  bool centerTrafficLightButtons_ = true;
  bool verticalTrafficLightButtons_ = false;
  double trafficLightSeparation_ = 0;
  ns::Ref<TitlebarWindowDelegateProxy> delegateProxy_;
  ns::Ref<WindowButton> closeButton_, minimizeButton_, zoomButton_, fullScreenButton_;
  bool preventWindowFrameChange_ = false;
  double trafficLightButtonsTopMargin_ = 3.0;
  double fullScreenButtonTopMargin_ = 3.0;
  bool hideTitleBarInFullScreen_ = false;
  DrawingBlock titleBarDrawingBlock_;
  ns::Ref<ak::Color> titleBarStartColor_, titleBarEndColor_, baselineSeparatorColor_;
  ns::Ref<ak::Color> inactiveTitleBarStartColor_, inactiveTitleBarEndColor_, inactiveBaselineSeparatorColor_;
  bool showsTitleInFullscreen_ = false;
  ns::Ref<ak::Color> titleTextColor_;
  ns::Ref<ak::Shadow> titleTextShadow_;
  ns::Ref<ak::Color> inactiveTitleTextColor_;
  ns::Ref<ak::Shadow> inactiveTitleTextShadow_;
};
