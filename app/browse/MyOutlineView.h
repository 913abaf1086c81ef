#pragma once
// The source list's outline: ends a title edit by storing the typed text on the row's node and
// posting "MyOutlineViewEndEdit" for Return, or "MyOutlineViewEndCancel" for any other ending,
// once per edit.
#include "ui/SourceList.h"

class MyOutlineView : public SourceList {
 public:
  void textDidEndEditing(const ns::Ref<ns::Notification>& notification) override;
  std::string className() const override { return "MyOutlineView"; }
};
