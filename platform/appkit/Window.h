#pragma once
// Windows: a frame in screen coordinates (from the bottom left of the main screen), a private
// theme frame view holding the title bar, the standard buttons and the content view, and a cairo
// bitmap as backing store into which the views draw. Events reach a window through
// Application::sendEvent and leave it for its views.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/Event.h"
#include "platform/appkit/Geometry.h"
#include "platform/appkit/Responder.h"
#include "platform/appkit/WindowOrdering.h"
#include "platform/runtime/Sel.h"

namespace ak {

class View;
class Screen;
class WindowController;
class BitmapImageRep;
class GraphicsContext;
class BasicAnimation;
class WindowAnimator;
class Color;
class TextView;

enum WindowStyleMask : unsigned long {
  BorderlessWindowMask = 0,
  TitledWindowMask = 1 << 0,
  ClosableWindowMask = 1 << 1,
  MiniaturizableWindowMask = 1 << 2,
  ResizableWindowMask = 1 << 3,
  FullScreenWindowMask = 1 << 14,
  FullSizeContentViewWindowMask = 1 << 15,
};

enum class BackingStoreType : unsigned long { Retained = 0, Nonretained = 1, Buffered = 2 };

enum class WindowButton : int {
  CloseButton = 0,
  MiniaturizeButton = 1,
  ZoomButton = 2,
  ToolbarButton = 3,
  DocumentIconButton = 4,
  DocumentVersionsButton = 6,
  FullScreenButton = 7,
};

enum WindowCollectionBehavior : unsigned long {
  WindowCollectionBehaviorDefault = 0,
  WindowCollectionBehaviorCanJoinAllSpaces = 1 << 0,
  WindowCollectionBehaviorFullScreenPrimary = 1 << 7,
  WindowCollectionBehaviorFullScreenAuxiliary = 1 << 8,
};

// Window levels.
inline constexpr long NormalWindowLevel = 0;
inline constexpr long FloatingWindowLevel = 3;
inline constexpr long ModalPanelWindowLevel = 8;
inline constexpr long PopUpMenuWindowLevel = 101;
// The level of a key of CGWindowLevelForKey (13, the maximum window level: 1000).
long CGWindowLevelForKey(int key);

class Window : public Responder {
 public:
  Window();
  ~Window() override;

  // ---- initialisers ----
  virtual void initWithContentRect_styleMask_backing_defer(const Rect& contentRect, unsigned long styleMask,
                                                           BackingStoreType backing, bool defer);
  void init(const Rect& contentRect, unsigned long styleMask,
            BackingStoreType backing = BackingStoreType::Buffered, bool defer = false) {
    initWithContentRect_styleMask_backing_defer(contentRect, styleMask, backing, defer);
  }
  void init() { init(MakeRect(0, 0, 480, 360), TitledWindowMask); }

  long windowNumber() const { return windowNumber_; }

  // ---- geometry ----
  static Rect frameRectForContentRect_styleMask(const Rect& content, unsigned long style);
  static Rect contentRectForFrameRect_styleMask(const Rect& frame, unsigned long style);
  virtual Rect frameRectForContentRect(const Rect& content) const;
  virtual Rect contentRectForFrameRect(const Rect& frame) const;
  Rect frame() const { return frame_; }
  virtual void setFrame_display(const Rect& frame, bool display);
  virtual void setFrame_display_animate(const Rect& frame, bool display, bool animate);
  void setFrameOrigin(const Point& origin);
  void setFrameTopLeftPoint(const Point& point);
  void setContentSize(const Size& size);
  void center();
  // The frame moved (and, for a resizable window, shrunk: never below the minimum size) so that
  // its title bar lies on the screen's visible frame; a window that is not titled, or a null
  // screen, keeps it. Showing a titled window applies it, so that a frame from a larger screen,
  // or one placed above the screen's top, opens where the title bar and its buttons are reached.
  virtual Rect constrainFrameRect_toScreen(const Rect& frameRect, const ns::Ref<Screen>& screen) const;
  Rect convertRectToScreen(const Rect& rect) const;
  Rect convertRectFromScreen(const Rect& rect) const;
  Point convertBaseToScreen(const Point& point) const;
  Point convertScreenToBase(const Point& point) const;
  // Where the mouse was at the last mouse event this window saw (base coordinates).
  Point mouseLocationOutsideOfEventStream() const { return mouseLocation_; }
  // The screen that holds the largest part of the frame (the first of equal parts), the main
  // screen when none holds any: a window across two screens is placed on the one showing most of it.
  ns::Ref<Screen> screen() const;
  // The presenter: the screens changed. A shown window that lies on none of them, or mostly off
  // every one, moves onto the nearest and is constrained there; others stay where they are.
  void screensChangedInternal();
  // Device pixels per point of the backing store (the display's scale on screen, 1 headless).
  double backingScaleFactor() const { return backingScale_; }
  // The presenter: the window now shows at `scale`; the backing store follows, with the
  // did-change-backing-properties notification.
  void setBackingScaleFactorInternal(double scale);
  // Whether another window covers this one whole on the screen, as the presenter learns it (never
  // headless); uncovered, the window draws again, with the did-change-occlusion-state
  // notification.
  bool isOccluded() const { return occluded_; }
  void setOccludedInternal(bool occluded);
  Size minSize() const { return minSize_; }
  void setMinSize(const Size& size);

  unsigned long styleMask() const { return styleMask_; }
  virtual void setStyleMask(unsigned long styleMask);
  unsigned long collectionBehavior() const { return collectionBehavior_; }
  void setCollectionBehavior(unsigned long behavior);
  long level() const { return level_; }
  void setLevel(long level) { level_ = level; }
  bool isMovableByWindowBackground() const { return movableByBackground_; }
  void setMovableByWindowBackground(bool movable) { movableByBackground_ = movable; }
  bool isMovable() const { return movable_; }
  void setMovable(bool movable) { movable_ = movable; }
  double alphaValue() const { return alpha_; }
  virtual void setAlphaValue(double alpha);
  bool hasShadow() const { return hasShadow_; }
  void setHasShadow(bool shadow) { hasShadow_ = shadow; }
  bool isOpaque() const { return opaque_; }
  void setOpaque(bool opaque) { opaque_ = opaque; }
  ns::Ref<Color> backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(const ns::Ref<Color>& color);
  bool acceptsMouseMovedEvents() const { return acceptsMouseMoved_; }
  void setAcceptsMouseMovedEvents(bool accepts) { acceptsMouseMoved_ = accepts; }
  bool isReleasedWhenClosed() const { return releasedWhenClosed_; }
  void setReleasedWhenClosed(bool released) { releasedWhenClosed_ = released; }

  // ---- title and views ----
  const std::string& title() const { return title_; }
  virtual void setTitle(const std::string& title);
  ns::Ref<View> contentView() const { return contentView_; }
  virtual void setContentView(const ns::Ref<View>& view);
  // The standard title-bar buttons (nullptr for a kind the window lacks).
  ns::Ref<View> standardWindowButton(WindowButton kind) const;
  ns::Ref<View> themeFrame() const;

  // ---- delegate and controller ----
  // Not retained. Its window notification methods are registered as observations by
  // respondsToSelector, so a forwarding proxy works.
  ns::Ref<ns::Object> delegate() const { return delegate_.lock(); }
  virtual void setDelegate(const ns::Ref<ns::Object>& delegate);
  ns::Ref<WindowController> windowController() const { return windowController_.lock(); }
  void setWindowController(const ns::Ref<WindowController>& controller);

  // ---- ordering, key and main ----
  virtual void makeKeyAndOrderFront(const ns::Ref<ns::Object>& sender);
  virtual void orderFront(const ns::Ref<ns::Object>& sender);
  void orderFrontRegardless() { orderFront(nullptr); }
  virtual void orderOut(const ns::Ref<ns::Object>& sender);
  virtual void close();
  // Asks windowShouldClose: of the delegate, then closes.
  virtual void performClose(const ns::Ref<ns::Object>& sender);
  virtual void miniaturize(const ns::Ref<ns::Object>& sender);
  virtual void deminiaturize(const ns::Ref<ns::Object>& sender);
  virtual void zoom(const ns::Ref<ns::Object>& sender);
  bool isVisible() const { return visible_; }
  bool isMiniaturized() const { return miniaturized_; }
  bool isClosed() const { return closed_; }
  bool isKeyWindow() const;
  bool isMainWindow() const;
  virtual bool canBecomeKeyWindow() const;
  virtual bool canBecomeMainWindow() const;
  virtual void makeKeyWindow();
  virtual void makeMainWindow();
  virtual void becomeKeyWindow();
  virtual void resignKeyWindow();
  virtual void becomeMainWindow();
  virtual void resignMainWindow();

  // ---- responders and events ----
  ns::Ref<Responder> firstResponder() const { return firstResponder_.lock(); }
  // Asks the old first responder to resign and the new one to accept; nullptr makes the window
  // itself first responder.
  virtual bool makeFirstResponder(const ns::Ref<Responder>& responder);
  ns::Ref<View> initialFirstResponder() const { return initialFirstResponder_.lock(); }
  void setInitialFirstResponder(const ns::Ref<View>& view) { initialFirstResponder_ = view; }
  virtual void sendEvent(const ns::Ref<Event>& event);
  bool performKeyEquivalent(const ns::Ref<Event>& event) override;
  // The window's one field editor (made on first request when `createFlag`).
  ns::Ref<TextView> fieldEditor_forObject(bool createFlag, const ns::Ref<ns::Object>& object);
  // Ends the editing of the field editor's field (it resigns first responder).
  void endEditingFor(const ns::Ref<ns::Object>& object);
  // Cursor rects are asked again (resetCursorRects) before the next mouse movement.
  void invalidateCursorRectsForView(const ns::Ref<View>& view);
  void resetCursorRects();

  // ---- drawing ----
  void display();
  void displayIfNeeded();
  bool viewsNeedDisplay() const;
  void setViewsNeedDisplay(bool needs);
  // Marks a rectangle in base coordinates for the next display pass.
  void invalidateRect(const Rect& rect);
  // The backing store (points = pixels headless).
  ns::Ref<BitmapImageRep> backingStore() const { return backing_; }

  // ---- full screen ----
  virtual void toggleFullScreen(const ns::Ref<ns::Object>& sender);
  bool isInFullScreen() const { return (styleMask_ & FullScreenWindowMask) != 0; }
  // The presenter: the system confirmed (or gave up waiting for) the change toggleFullScreen
  // asked for; posts the did notification, and on leaving restores the frame.
  void finishFullScreenTransition();
  bool isFullScreenTransitionPending() const { return fullScreenPending_; }

  // ---- children, sheets and parents ----
  void addChildWindow_ordered(const ns::Ref<Window>& child, WindowOrderingMode place);
  void removeChildWindow(const ns::Ref<Window>& child);
  std::vector<ns::Ref<Window>> childWindows() const;
  ns::Ref<Window> parentWindow() const { return parentWindow_.lock(); }
  ns::Ref<Window> attachedSheet() const { return attachedSheet_; }
  bool isSheet() const { return sheetParent_.lock() != nullptr; }
  ns::Ref<Window> sheetParent() const { return sheetParent_.lock(); }
  // Where a sheet's top edge hangs (base coordinates): below the title bar, or where the
  // delegate's window:willPositionSheet:usingRect: says.
  Rect sheetPositionRect(const ns::Ref<Window>& sheet) const;

  // ---- animation ----
  ns::Ref<BasicAnimation> animationForKey(const std::string& key) const;
  void setAnimations(std::map<std::string, ns::Ref<BasicAnimation>> animations) {
    animations_ = std::move(animations);
  }
  ns::Ref<WindowAnimator> animator();

  // ---- internals used by the application and views ----
  void attachSheetInternal(const ns::Ref<Window>& sheet);
  void detachSheetInternal();
  void viewRemovedInternal(const View* view);
  void setFrameInternal(const Rect& frame, bool display, bool fromParent);
  void contentLayoutChanged();
  void viewHiddenInternal(const View* view);
  void setTrackingAreasNeedUpdate() { trackingAreasDirty_ = true; }
  // Draws the view and its subviews in `rect` (the view's coordinates) now.
  void displayView_inRect(const ns::Ref<View>& view, const Rect& rect);

  // ---- live resize ----
  // Around a user resize (the presenter, tests): the views hear the live-resize hooks.
  void beginLiveResize();
  void endLiveResize();
  bool inLiveResize() const { return inLiveResize_; }

 protected:
  Rect frame_;

 private:
  void relayoutThemeFrame();
  void postNotification(const char* name);
  void registerDelegateObservers();
  void removeDelegateObservers();
  void ensureBacking();
  void drawDirty();
  struct Affine;
  bool findOccluder(const ns::Ref<View>& view, const Rect& dirty, const Affine& parent, bool parentFlipped,
                    const Rect& clip);
  void drawTree(const ns::Ref<View>& view, const Rect& dirtyInWindow, const Affine& parent,
                bool parentFlipped);
  void updateTrackingAreas();
  void processTrackingAreas(const ns::Ref<Event>& event, bool dragging, std::optional<Point> lastMouse);
  void updateCursor(const Point& location);
  void dragWindow(const ns::Ref<Event>& mouseDown);
  static bool mouseDownCanMoveWindow(const ns::Ref<View>& hit);
  void orderIn();

  long windowNumber_ = 0;
  unsigned long styleMask_ = TitledWindowMask;
  unsigned long collectionBehavior_ = 0;
  long level_ = NormalWindowLevel;
  Size minSize_;
  std::string title_;
  ns::Ref<View> themeFrame_;
  ns::Ref<View> contentView_;
  std::map<int, ns::Ref<View>> buttons_;
  ns::Weak<ns::Object> delegate_;
  std::vector<ns::Ref<ns::Object>> delegateTokens_;
  ns::Weak<WindowController> windowController_;
  ns::Weak<Responder> firstResponder_;
  ns::Weak<View> initialFirstResponder_;
  ns::Ref<View> mouseDownView_;
  ns::Ref<View> rightMouseDownView_;
  Point mouseLocation_;
  bool mouseLocationKnown_ = false;
  bool visible_ = false;
  // Also read by a drawing thread's pass (displayView_inRect), while the main thread closes.
  std::atomic<bool> closed_{false};
  bool miniaturized_ = false;
  // The frame before the window zoomed itself to its screen's visible frame, to go back to.
  std::optional<Rect> unzoomedFrame_;
  bool occluded_ = false;
  bool movableByBackground_ = false;
  bool movable_ = true;
  bool hasShadow_ = true;
  bool opaque_ = true;
  bool acceptsMouseMoved_ = false;
  bool inLiveResize_ = false;
  bool trackingAreasDirty_ = true;
  bool releasedWhenClosed_ = true;
  bool fullScreenPending_ = false;
  double alpha_ = 1;
  double backingScale_ = 1;
  ns::Ref<Color> backgroundColor_;
  Rect dirty_;
  // During a pass: the opaque view that covers the dirty area whole and its ancestors, outermost
  // first; nothing drawn before it there is drawn.
  std::vector<const View*> occluderPath_;
  bool cursorRectsValid_ = false;
  mutable std::recursive_mutex drawMutex_;
  ns::Ref<BitmapImageRep> backing_;
  bool backingShown_ = false;  // made by the presenter
  ns::Ref<GraphicsContext> context_;
  std::vector<ns::Weak<Window>> children_;
  ns::Weak<Window> parentWindow_;
  ns::Ref<Window> attachedSheet_;
  ns::Weak<Window> sheetParent_;
  Rect frameBeforeFullScreen_;
  unsigned long styleBeforeFullScreen_ = 0;
  std::map<std::string, ns::Ref<BasicAnimation>> animations_;
  ns::Ref<TextView> fieldEditor_;
};

}  // namespace ak
