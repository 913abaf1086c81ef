#include "platform/appkit/Dragging.h"

#include <algorithm>

#include "platform/appkit/Application.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/core/Date.h"
#include "platform/runloop/RunLoop.h"

namespace ak {

namespace {

long nextSequence() {
  static long sequence = 0;
  return ++sequence;
}

// The nearest view at `point` (or an ancestor of it) registered for one of `types`.
ns::Ref<View> destinationAt(const ns::Ref<Window>& window, Point point,
                            const std::vector<std::string>& types) {
  auto frame = window->themeFrame();
  if (!frame) return nullptr;
  for (auto view = frame->hitTest(point); view; view = view->superview()) {
    for (const auto& t : view->registeredDraggedTypes())
      if (std::find(types.begin(), types.end(), t) != types.end()) return view;
  }
  return nullptr;
}

}  // namespace

unsigned long runDragSession(const ns::Ref<View>& source, const ns::Ref<Pasteboard>& pasteboard,
                             unsigned long mask, const ns::Ref<Event>& startEvent) {
  auto window = source ? source->window() : nullptr;
  if (!window || !pasteboard) return DragOperationNone;
  auto app = Application::sharedApplication();
  auto info = std::make_shared<DraggingInfo>(pasteboard, source, mask, nextSequence());
  info->setDestinationWindow(window);
  const auto types = pasteboard->types();
  ns::Ref<View> target;
  unsigned long operation = DragOperationNone;

  auto move = [&](const ns::Ref<Event>& event) {
    Point p = event->locationInWindow();
    info->setDraggingLocation(p);
    // Option asks for a copy: the source's other operations are withheld.
    info->setSourceOperationMask((event->modifierFlags() & AlternateKeyMask) ? (mask & DragOperationCopy)
                                                                             : mask);
    auto under = destinationAt(window, p, types);
    if (under != target) {
      if (target) target->draggingExited(info);
      target = under;
      operation = target ? target->draggingEntered(info) : DragOperationNone;
    } else if (target) {
      operation = target->draggingUpdated(info);
    }
    // A destination cannot perform what the source does not offer.
    if (!(operation & info->draggingSourceOperationMask())) operation = DragOperationNone;
  };

  if (startEvent) move(startEvent);
  for (;;) {
    auto event = app->nextEventMatchingMask_untilDate_inMode_dequeue(LeftMouseDraggedMask | LeftMouseUpMask,
                                                                     ns::Date::distantFuture(),
                                                                     ns::EventTrackingRunLoopMode, true);
    if (!event) {
      if (target) target->draggingExited(info);
      return DragOperationNone;
    }
    move(event);
    if (event->type() == EventType::LeftMouseUp) break;
  }
  if (!target) return DragOperationNone;
  if (operation == DragOperationNone) {
    target->draggingExited(info);
    return DragOperationNone;
  }
  auto keep = target;
  if (!keep->prepareForDragOperation(info) || !keep->performDragOperation(info)) return DragOperationNone;
  keep->concludeDragOperation(info);
  return operation;
}

}  // namespace ak
