#pragma once
// Cursors: the standard shapes, the current cursor, a counted hide that never goes below zero,
// and hiding until the mouse moves. The on-screen presenter follows through the observer.
#include <functional>
#include <string>

#include "platform/appkit/Geometry.h"
#include "platform/core/Object.h"

namespace ak {

class Cursor : public ns::Object {
 public:
  Cursor(std::string name, Point hotSpot) : name_(std::move(name)), hotSpot_(hotSpot) {}

  static ns::Ref<Cursor> arrowCursor();
  static ns::Ref<Cursor> IBeamCursor();
  static ns::Ref<Cursor> pointingHandCursor();
  static ns::Ref<Cursor> openHandCursor();
  static ns::Ref<Cursor> closedHandCursor();
  static ns::Ref<Cursor> crosshairCursor();
  static ns::Ref<Cursor> resizeLeftRightCursor();
  static ns::Ref<Cursor> resizeUpDownCursor();
  static ns::Ref<Cursor> operationNotAllowedCursor();
  static ns::Ref<Cursor> currentCursor();

  const std::string& name() const { return name_; }
  Point hotSpot() const { return hotSpot_; }
  void set();
  void push();
  static void pop();

  // Counted: each hide needs an unhide; an unhide without a hide changes nothing.
  static void hide();
  static void unhide();
  static void setHiddenUntilMouseMoves(bool flag);
  // Called by the application for each mouse movement.
  static void mouseMoved();
  static bool isVisible();
  static int hideCount();
  // Tests: back to the arrow, shown, no stack.
  static void resetForTesting();
  // Told whenever the cursor or its visibility changes.
  static void setObserver(std::function<void()> observer);

 private:
  std::string name_;
  Point hotSpot_;
};

}  // namespace ak
