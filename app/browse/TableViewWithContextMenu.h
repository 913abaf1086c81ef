#pragma once
// The table of a list pane. Its context menu is added with the video menu.
#include "platform/appkit/TableView.h"

class TableViewWithContextMenu : public ak::TableView {
 public:
  std::string className() const override { return "TableViewWithContextMenu"; }
};
