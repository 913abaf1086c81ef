#include "ui/MySearchField.h"

#include "common/AppUtilities.h"
#include "platform/runtime/ClassBuilder.h"
#include "ui/UINotifications.h"

bool MySearchField::becomeFirstResponder() {
  postNotification(kSearchFieldActivatedNotification);
  return ak::SearchField::becomeFirstResponder();
}

PL_CLASS(MySearchField, ak::SearchField) {}
