#include "app/browse/MyOutlineView.h"

#include <typeinfo>

#include "app/browse/BrowseNotifications.h"
#include "app/browse/MenuItem.h"
#include "common/AppUtilities.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/TextView.h"
#include "platform/appkit/Window.h"
#include "platform/core/Log.h"
#include "platform/foundation/Notification.h"
#include "platform/runtime/ClassBuilder.h"

ak::Rect MyOutlineView::frameOfCellAtColumn_row(long column, long row) const {
  ak::Rect frame = SourceList::frameOfCellAtColumn_row(column, row);
  if (row >= 0 && row < numberOfRows() && !isGroupItem(itemAtRow(row))) {
    frame.origin.x -= 8.0;
    frame.size.width += 8.0;
  }
  return frame;
}

void MyOutlineView::textDidEndEditing(const ns::Ref<ns::Notification>& notification) {
  ns::Log("%s called", "-[MyOutlineView textDidEndEditing:]");
  const long row = editedRow();
  // Only a live edit ends: a second end of the same edit posts nothing.
  if (row < 0) return;
  long movement = ak::OtherTextMovement;
  std::string text;
  if (notification) {
    auto m = notification->userInfo().objectForKey(ak::TextMovementKey);
    if (m.isNumber()) movement = m.number().integerValue();
    if (auto editor = std::dynamic_pointer_cast<ak::TextView>(notification->object()))
      text = editor->string();
  }
  auto node = std::dynamic_pointer_cast<MenuItem>(itemAtRow(row));
  SourceList::textDidEndEditing(notification);
  if (movement == ak::ReturnTextMovement) {
    if (node) node->setTitle(text);
    postNotification(kMyOutlineViewEndEditNotification);
  } else {
    postNotification(kMyOutlineViewEndCancelNotification);
  }
}

std::string MyOutlineView::selectionBarImageName() const {
  auto window = this->window();
  const bool focused =
      window && window->firstResponder().get() == this && window->isMainWindow() && window->isKeyWindow();
  return focused ? "orange_bar" : "orange_bar_out";
}

void MyOutlineView::highlightSelectionInClipRect(const ak::Rect& clipRect) {
  ns::Log("%s called", "-[MyOutlineView highlightSelectionInClipRect:]");
  auto bar = ak::Image::imageNamed(selectionBarImageName());
  if (!bar) return;
  const ak::Size size = bar->size();
  const ns::Range rows = rowsInRect(clipRect);
  for (std::size_t r = rows.location; r < rows.max() && long(r) < numberOfRows(); ++r) {
    if (!isRowSelected(long(r))) continue;
    ak::Rect rect = rectOfRow(long(r));
    rect.origin.y += 3.0;
    rect.size.height = 20.0;
    bar->drawInRect_fromRect_operation_fraction_respectFlipped_hints(
        rect, {{0, 0}, size}, ak::CompositingOperation::SourceOver, 1.0, true, nullptr);
  }
}

bool MyOutlineView::validateProposedFirstResponder_forEvent(const ns::Ref<ak::Responder>& responder,
                                                            const ns::Ref<ak::Event>& event) {
  const bool rightClick =
      event &&
      (event->type() == ak::EventType::RightMouseDown ||
       (event->type() == ak::EventType::LeftMouseDown && (event->modifierFlags() & ak::ControlKeyMask)));
  if (const ak::Responder* raw = responder.get(); raw && rightClick && typeid(*raw) == typeid(ak::Button))
    return false;
  if (auto field = std::dynamic_pointer_cast<ak::TextField>(responder)) {
    if (!field->isEditable()) return false;
    if (event && event->type() == ak::EventType::LeftMouseDown) {
      const long row = rowAtPoint(convertPoint_fromView(event->locationInWindow(), nullptr));
      if (row < 0 || numberOfSelectedRows() != 1 || selectedRow() != row) return false;
    }
  }
  return SourceList::validateProposedFirstResponder_forEvent(responder, event);
}

void MyOutlineView::mouseDown(const ns::Ref<ak::Event>& event) {
  if (event && (event->modifierFlags() & ak::ControlKeyMask)) {
    rightMouseDown(event);
    return;
  }
  SourceList::mouseDown(event);
}

PL_CLASS(MyOutlineView, SourceList) {}
