#pragma once
// A popover: a borderless child window with an arrow, shown beside a rectangle of a view. It
// becomes key only when its content holds a view that takes the keyboard (a form's field): then
// it opens key with the first such view as first responder, and the keys go back to the parent
// window when it closes. A transient popover closes on a mouse-down outside it and when the
// application resigns active; a semitransient one on a mouse-down in another window than its
// parent's. An animated popover fades in and out through the current animation context.
//
// The delegate (not retained) is asked through the runtime: popoverShouldClose: and
// popoverWillShow: / popoverDidShow: / popoverWillClose: / popoverDidClose:, which observe the
// notifications of those names.
#include <functional>

#include "platform/appkit/ViewController.h"
#include "platform/appkit/Window.h"

namespace ak {

inline constexpr char PopoverWillShowNotification[] = "NSPopoverWillShowNotification";
inline constexpr char PopoverDidShowNotification[] = "NSPopoverDidShowNotification";
inline constexpr char PopoverWillCloseNotification[] = "NSPopoverWillCloseNotification";
inline constexpr char PopoverDidCloseNotification[] = "NSPopoverDidCloseNotification";

enum class PopoverBehavior : long { ApplicationDefined = 0, Transient = 1, Semitransient = 2 };
enum class RectEdge : unsigned long { MinX = 0, MinY = 1, MaxX = 2, MaxY = 3 };

class Popover : public ns::Object {
 public:
  ~Popover() override;

  ns::Ref<ViewController> contentViewController() const { return contentViewController_; }
  void setContentViewController(const ns::Ref<ViewController>& controller) {
    contentViewController_ = controller;
  }
  // The content's size; zero takes the content view's frame size.
  Size contentSize() const;
  void setContentSize(const Size& size) { contentSize_ = size; }
  PopoverBehavior behavior() const { return behavior_; }
  void setBehavior(PopoverBehavior behavior) { behavior_ = behavior; }
  bool animates() const { return animates_; }
  void setAnimates(bool animates) { animates_ = animates; }
  ns::Ref<ns::Object> delegate() const { return delegate_.lock(); }
  void setDelegate(const ns::Ref<ns::Object>& delegate) { delegate_ = delegate; }

  // `edge` is the side of `rect` the popover opens on; it flips to the opposite side when the
  // screen's visible frame has no room there.
  void showRelativeToRect_ofView_preferredEdge(const Rect& rect, const ns::Ref<View>& view, RectEdge edge);
  void close();
  // Asks the delegate's popoverShouldClose: first.
  void performClose(const ns::Ref<ns::Object>& sender);
  bool isShown() const { return shown_; }

  // The edge the popover opened on, and its window while shown.
  RectEdge shownEdge() const { return shownEdge_; }
  ns::Ref<Window> window() const { return window_; }

 private:
  void post(const char* name, const char* selector);
  void stopWatching();
  void finishClose();

  ns::Ref<ViewController> contentViewController_;
  Size contentSize_ = MakeSize(0, 0);
  PopoverBehavior behavior_ = PopoverBehavior::ApplicationDefined;
  bool animates_ = true;
  ns::Weak<ns::Object> delegate_;
  bool shown_ = false;
  bool closing_ = false;
  RectEdge shownEdge_ = RectEdge::MaxY;
  ns::Ref<Window> window_;
  ns::Weak<Window> parent_;
  ns::Ref<ns::Object> monitor_;
  ns::Ref<ns::Object> resignToken_;
};

}  // namespace ak
