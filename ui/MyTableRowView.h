#pragma once
// The row view of the lists: a light rounded selection inset from the row's edges.
#include "platform/appkit/TableView.h"

class MyTableRowView : public ak::TableRowView {
 public:
  void drawSelectionInRect(const ak::Rect& dirtyRect) override;
  std::string className() const override { return "MyTableRowView"; }
};
