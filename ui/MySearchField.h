#pragma once
// The search field that announces when it becomes first responder.
#include "platform/appkit/TextField.h"

class MySearchField : public ak::SearchField {
 public:
  // Posts "sesarchFieldActivated", then answers as the search field does.
  bool becomeFirstResponder() override;
  std::string className() const override { return "MySearchField"; }
};
