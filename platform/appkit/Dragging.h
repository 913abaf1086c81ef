#pragma once
// Drag and drop inside our windows: a session started by a drag source runs in the
// event-tracking mode and tells the view under the mouse that registered for one of the
// pasteboard's types that the drag entered, moved, left or was dropped on it.
#include <string>
#include <vector>

#include "platform/appkit/Event.h"
#include "platform/appkit/Geometry.h"
#include "platform/appkit/Pasteboard.h"

namespace ak {

class View;
class Window;

enum DragOperation : unsigned long {
  DragOperationNone = 0,
  DragOperationCopy = 1,
  DragOperationLink = 2,
  DragOperationGeneric = 4,
  DragOperationPrivate = 8,
  DragOperationMove = 16,
  DragOperationDelete = 32,
  DragOperationEvery = ~0UL,
};

class DraggingInfo : public ns::Object {
 public:
  DraggingInfo(ns::Ref<Pasteboard> pasteboard, ns::Ref<ns::Object> source, unsigned long mask, long sequence)
      : pasteboard_(std::move(pasteboard)), source_(std::move(source)), mask_(mask), sequence_(sequence) {}
  ns::Ref<Pasteboard> draggingPasteboard() const { return pasteboard_; }
  ns::Ref<ns::Object> draggingSource() const { return source_; }
  unsigned long draggingSourceOperationMask() const { return mask_; }
  // In the destination window's base coordinates.
  Point draggingLocation() const { return location_; }
  ns::Ref<Window> draggingDestinationWindow() const { return window_.lock(); }
  long draggingSequenceNumber() const { return sequence_; }

  // Set by the session as the mouse moves.
  void setDraggingLocation(Point location) { location_ = location; }
  void setSourceOperationMask(unsigned long mask) { mask_ = mask; }
  void setDestinationWindow(const ns::Ref<Window>& window) { window_ = window; }

 private:
  ns::Ref<Pasteboard> pasteboard_;
  ns::Ref<ns::Object> source_;
  unsigned long mask_;
  long sequence_;
  Point location_;
  ns::Weak<Window> window_;
};

// Runs a drag from `source` (a view in a window) started by `mouseDown`, with what is already
// on `pasteboard`; answers the operation the destination performed (None when dropped nowhere
// or refused). `mask` is what the source allows; holding Option limits it to copying.
unsigned long runDragSession(const ns::Ref<View>& source, const ns::Ref<Pasteboard>& pasteboard,
                             unsigned long mask, const ns::Ref<Event>& mouseDown);

// The distance a mouse-down must move before a drag begins.
inline constexpr double DragThreshold = 3;

}  // namespace ak
