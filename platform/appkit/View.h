#pragma once
// Views: frames in the superview's coordinates, bounds in their own, flipped or not; a tree owned
// from the top (superviews own subviews, windows their views); drawing back to front into the
// window's backing store, each view clipped to itself with its graphics state saved around it.
//
// Construction mirrors alloc/init: the constructor sets defaults only, and ak::make<T>(frame)
// runs the virtual initWithFrame right after make_shared (see Make.h).
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/Geometry.h"
#include "platform/appkit/Responder.h"
#include "platform/appkit/TrackingArea.h"
#include "platform/appkit/WindowOrdering.h"

namespace ak {

class Window;
class ViewController;
class NibCoder;
class Layer;
class Cursor;
class BasicAnimation;
class ViewAnimator;
class DraggingInfo;

enum AutoresizingMask : unsigned {
  ViewNotSizable = 0,
  ViewMinXMargin = 1,
  ViewWidthSizable = 2,
  ViewMaxXMargin = 4,
  ViewMinYMargin = 8,
  ViewHeightSizable = 16,
  ViewMaxYMargin = 32,
};

class View : public Responder {
 public:
  View();
  ~View() override;

  // ---- initialisers (run by ak::make / the nib loader) ----
  virtual void initWithFrame(const Rect& frame);
  // Frame, autoresizing, identifier and hidden from the coder; the coder's subviews are added.
  virtual void initWithCoder(NibCoder& coder);
  void init(const Rect& frame) { initWithFrame(frame); }
  void init() { initWithFrame(ZeroRect); }
  void init(NibCoder& coder) { initWithCoder(coder); }

  // ---- geometry ----
  Rect frame() const { return frame_; }
  // Non-finite numbers are refused and negative sizes clamped to zero.
  virtual void setFrame(const Rect& frame);
  virtual void setFrameOrigin(const Point& origin);
  virtual void setFrameSize(const Size& size);
  Rect bounds() const { return bounds_; }
  virtual void setBounds(const Rect& bounds);
  virtual void setBoundsOrigin(const Point& origin);
  virtual void setBoundsSize(const Size& size);
  virtual bool isFlipped() const { return false; }
  // The part of the bounds not clipped away by the ancestors.
  Rect visibleRect() const;
  // What the view paints, in the window's base coordinates: its bounds and its layer's shadow.
  Rect paintedRectInWindow() const;

  bool postsFrameChangedNotifications() const { return postsFrameChanged_; }
  void setPostsFrameChangedNotifications(bool posts) { postsFrameChanged_ = posts; }
  bool postsBoundsChangedNotifications() const { return postsBoundsChanged_; }
  void setPostsBoundsChangedNotifications(bool posts) { postsBoundsChanged_ = posts; }

  unsigned autoresizingMask() const { return autoresizingMask_; }
  void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }
  bool autoresizesSubviews() const { return autoresizesSubviews_; }
  void setAutoresizesSubviews(bool autoresizes) { autoresizesSubviews_ = autoresizes; }
  virtual void resizeSubviewsWithOldSize(const Size& oldSize);
  virtual void resizeWithOldSuperviewSize(const Size& oldSize);

  // Conversions between this view's bounds and another view's (nullptr: the window's base
  // coordinates).
  Point convertPoint_fromView(const Point& point, const View* view) const;
  Point convertPoint_toView(const Point& point, const View* view) const;
  Rect convertRect_fromView(const Rect& rect, const View* view) const;
  Rect convertRect_toView(const Rect& rect, const View* view) const;
  Size convertSize_toView(const Size& size, const View* view) const;

  // ---- the tree ----
  ns::Ref<View> superview() const { return superview_.lock(); }
  const std::vector<ns::Ref<View>>& subviews() const { return subviews_; }
  ns::Ref<Window> window() const { return window_.lock(); }
  virtual void addSubview(const ns::Ref<View>& view);
  virtual void addSubview_positioned_relativeTo(const ns::Ref<View>& view, WindowOrderingMode place,
                                                const ns::Ref<View>& other);
  virtual void removeFromSuperview();
  void setSubviews(const std::vector<ns::Ref<View>>& subviews);
  void replaceSubview_with(const ns::Ref<View>& old, const ns::Ref<View>& replacement);
  bool isDescendantOf(const View* view) const;
  ns::Ref<View> ancestorSharedWithView(const View* view) const;
  ns::Ref<View> viewWithTag(long tag);
  virtual long tag() const { return tag_; }
  void setTag(long tag) { tag_ = tag; }
  const std::string& identifier() const { return identifier_; }
  void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }

  // Hooks around moves in the tree.
  virtual void viewWillMoveToSuperview(const ns::Ref<View>& superview) {}
  virtual void viewDidMoveToSuperview() {}
  virtual void viewWillMoveToWindow(const ns::Ref<Window>& window) {}
  virtual void viewDidMoveToWindow() {}
  virtual void didAddSubview(const ns::Ref<View>& subview) {}
  virtual void willRemoveSubview(const ns::Ref<View>& subview) {}
  // Live resize: the window calls these around a user resize of the window.
  virtual void viewWillStartLiveResize() {}
  virtual void viewDidEndLiveResize() {}
  bool inLiveResize() const;

  // ---- visibility ----
  bool isHidden() const { return hidden_; }
  virtual void setHidden(bool hidden);
  bool isHiddenOrHasHiddenAncestor() const;
  double alphaValue() const { return alpha_; }
  virtual void setAlphaValue(double alpha);

  // ---- events ----
  // The deepest visible view under `point` (in the superview's coordinates), or nullptr.
  virtual ns::Ref<View> hitTest(const Point& point);
  bool mouse_inRect(const Point& point, const Rect& rect) const {
    return MouseInRect(point, rect, isFlipped());
  }
  virtual bool mouseDownCanMoveWindow() const { return !isOpaque(); }
  virtual bool acceptsFirstMouse(const ns::Ref<Event>& event) { return false; }
  // Asked of every ancestor of a view about to become first responder on a mouse-down.
  virtual bool validateProposedFirstResponder_forEvent(const ns::Ref<Responder>& responder,
                                                       const ns::Ref<Event>& event) {
    return true;
  }
  bool performKeyEquivalent(const ns::Ref<Event>& event) override;
  // A view's next responder is its controller (when it has one), else its superview, else (for
  // the top of a window) the window.
  ns::Ref<Responder> nextResponder() const override;
  void rightMouseDown(const ns::Ref<Event>& event) override;
  ns::Ref<Menu> menu() const { return menu_; }
  void setMenu(const ns::Ref<Menu>& menu) { menu_ = menu; }
  ns::Ref<Menu> menuForEvent(const ns::Ref<Event>& event) override { return menu_; }
  // Presents a context menu (installed by the menus; nothing when none is).
  static void setContextMenuPresenter(
      std::function<void(const ns::Ref<Menu>&, const ns::Ref<Event>&, const ns::Ref<View>&)> presenter);

  // ---- tracking areas and cursor rects ----
  void addTrackingArea(const ns::Ref<TrackingArea>& area);
  void removeTrackingArea(const ns::Ref<TrackingArea>& area);
  const std::vector<ns::Ref<TrackingArea>>& trackingAreas() const { return trackingAreas_; }
  // Called by the window after geometry, visibility or window changes of this view.
  virtual void updateTrackingAreas() {}
  struct CursorRect {
    Rect rect;
    ns::Ref<Cursor> cursor;
  };
  virtual void resetCursorRects() {}
  void addCursorRect_cursor(const Rect& rect, const ns::Ref<Cursor>& cursor);
  void removeCursorRect_cursor(const Rect& rect, const ns::Ref<Cursor>& cursor);
  void discardCursorRects();
  const std::vector<CursorRect>& cursorRects() const { return cursorRects_; }

  // ---- drawing ----
  virtual void drawRect(const Rect& dirtyRect) {}
  virtual bool isOpaque() const { return false; }
  bool needsDisplay() const { return needsDisplay_.load(); }
  void setNeedsDisplay(bool needs);
  virtual void setNeedsDisplayInRect(const Rect& rect);
  // Draws now (under the drawing lock) / only what was marked.
  virtual void display();
  virtual void displayIfNeeded();
  void displayRect(const Rect& rect);
  // The lock held while the view draws; a thread other than the main one may display under it.
  std::recursive_mutex& drawingLock() { return drawingLock_; }
  bool lockFocusIfCanDraw();
  void unlockFocus();

  // ---- layers and appearance ----
  bool wantsLayer() const { return wantsLayer_; }
  virtual void setWantsLayer(bool wants);
  // The layer, made on demand when the view wants one.
  ns::Ref<Layer> layer();
  void setLayer(const ns::Ref<Layer>& layer);
  // Stored only: the emulated system answers setAppearance: without changing the drawing.
  ns::Ref<ns::Object> appearance() const { return appearance_; }
  void setAppearance(const ns::Ref<ns::Object>& appearance) { appearance_ = appearance; }

  // ---- animation ----
  // Animations by key ("frame", "frameOrigin", "frameSize", "alphaValue") used by the animator.
  ns::Ref<BasicAnimation> animationForKey(const std::string& key) const;
  void setAnimations(std::map<std::string, ns::Ref<BasicAnimation>> animations) {
    animations_ = std::move(animations);
  }
  // The proxy whose setters animate inside the current animation context.
  ns::Ref<ViewAnimator> animator();

  // ---- controller ----
  ns::Ref<ViewController> viewController() const { return viewController_.lock(); }
  void setViewController(const ns::Ref<ViewController>& controller) { viewController_ = controller; }

  // ---- drag destination ----
  // A view registered for pasteboard types receives drags carrying one of them.
  void registerForDraggedTypes(const std::vector<std::string>& types) { draggedTypes_ = types; }
  void unregisterDraggedTypes() { draggedTypes_.clear(); }
  const std::vector<std::string>& registeredDraggedTypes() const { return draggedTypes_; }
  // Answer the operation the drop would perform (None refuses it).
  virtual unsigned long draggingEntered(const ns::Ref<DraggingInfo>& info) { return 0; }
  virtual unsigned long draggingUpdated(const ns::Ref<DraggingInfo>& info) { return draggingEntered(info); }
  virtual void draggingExited(const ns::Ref<DraggingInfo>& info) {}
  virtual bool prepareForDragOperation(const ns::Ref<DraggingInfo>& info) { return true; }
  virtual bool performDragOperation(const ns::Ref<DraggingInfo>& info) { return false; }
  virtual void concludeDragOperation(const ns::Ref<DraggingInfo>& info) {}

  // The transform from this view's bounds coordinates to the window's base coordinates.
  struct Transform {
    double xx = 1, yy = 1, x0 = 0, y0 = 0;
    Point apply(const Point& p) const { return {xx * p.x + x0, yy * p.y + y0}; }
    Point invert(const Point& p) const { return {(p.x - x0) / xx, (p.y - y0) / yy}; }
  };
  Transform transformToWindow() const;
  // This view's bounds coordinates to the superview's (to the window's when it has none).
  Transform transformToSuperview() const;
  // The same for a superview known to be flipped or not.
  Transform transformToSuperviewFlipped(bool superFlipped) const;

  // Internal: the window sets itself on the tree it holds.
  void setWindowInternal(const ns::Ref<Window>& window);
  void markTrackingAreasNeedUpdate();
  bool trackingAreasNeedUpdate() const { return trackingNeedsUpdate_; }
  void clearTrackingAreasNeedUpdate() { trackingNeedsUpdate_ = false; }
  void clearNeedsDisplay() { needsDisplay_ = false; }

 protected:
  Rect frame_;
  Rect bounds_;
  bool boundsSizeSet_ = false;

 private:
  void postFrameChanged();
  void postBoundsChanged();
  void insertSubview(const ns::Ref<View>& view, std::size_t index);

  ns::Weak<View> superview_;
  std::vector<ns::Ref<View>> subviews_;
  ns::Weak<Window> window_;
  ns::Weak<ViewController> viewController_;
  unsigned autoresizingMask_ = ViewNotSizable;
  bool autoresizesSubviews_ = true;
  bool postsFrameChanged_ = true;
  bool postsBoundsChanged_ = true;
  bool hidden_ = false;
  double alpha_ = 1;
  std::atomic<bool> needsDisplay_{false};  // cleared by a pass that may run on a drawing thread
  bool trackingNeedsUpdate_ = false;
  long tag_ = -1;
  std::string identifier_;
  ns::Ref<Menu> menu_;
  std::vector<ns::Ref<TrackingArea>> trackingAreas_;
  std::vector<CursorRect> cursorRects_;
  bool wantsLayer_ = false;
  ns::Ref<Layer> layer_;
  ns::Ref<ns::Object> appearance_;
  std::map<std::string, ns::Ref<BasicAnimation>> animations_;
  std::recursive_mutex drawingLock_;
  std::vector<std::string> draggedTypes_;
};

}  // namespace ak
