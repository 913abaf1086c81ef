#include "app/browse/MyOutlineView.h"

#include "app/browse/BrowseNotifications.h"
#include "app/browse/MenuItem.h"
#include "app/shell/AppUtilities.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/TextView.h"
#include "platform/foundation/Notification.h"
#include "platform/runtime/ClassBuilder.h"

void MyOutlineView::textDidEndEditing(const ns::Ref<ns::Notification>& notification) {
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

PL_CLASS(MyOutlineView, SourceList) {}
