#pragma once
// A rectangle of a view in which the window reports the mouse to an owner: entered/exited,
// moved and cursor updates, by the options' platform bits.
#include "platform/appkit/Geometry.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ak {

class Responder;

enum TrackingAreaOptions : unsigned long {
  TrackingMouseEnteredAndExited = 0x01,
  TrackingMouseMoved = 0x02,
  TrackingCursorUpdate = 0x04,
  TrackingActiveWhenFirstResponder = 0x10,
  TrackingActiveInKeyWindow = 0x20,
  TrackingActiveInActiveApp = 0x40,
  TrackingActiveAlways = 0x80,
  TrackingAssumeInside = 0x100,
  TrackingInVisibleRect = 0x200,
  TrackingEnabledDuringMouseDrag = 0x400,
};

class TrackingArea : public ns::Object {
 public:
  TrackingArea(Rect rect, unsigned long options, const ns::Ref<Responder>& owner,
               ns::Dictionary userInfo = {});
  static ns::Ref<TrackingArea> initWithRect_options_owner_userInfo(Rect rect, unsigned long options,
                                                                   const ns::Ref<Responder>& owner,
                                                                   ns::Dictionary userInfo = {});

  Rect rect() const { return rect_; }
  unsigned long options() const { return options_; }
  // Not retained.
  ns::Ref<Responder> owner() const { return owner_.lock(); }
  const ns::Dictionary& userInfo() const { return userInfo_; }

  // The window's record of whether the mouse was inside at the last event.
  bool mouseInside() const { return inside_; }
  void setMouseInside(bool inside) { inside_ = inside; }
  bool knowsInside() const { return knowsInside_; }
  void setKnowsInside(bool known) { knowsInside_ = known; }

 private:
  Rect rect_;
  unsigned long options_;
  ns::Weak<Responder> owner_;
  ns::Dictionary userInfo_;
  bool inside_ = false;
  bool knowsInside_ = false;
};

}  // namespace ak
