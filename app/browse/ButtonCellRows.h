#pragma once
// The button rows of the navigation's drop-down lists (the menu page and the video pop-up).
// Main thread only.
#include <memory>
#include <string>

#include "ui/ButtonCell.h"

namespace ak {
class TableView;
}

inline constexpr double kButtonCellRowHeight = 83.0;

// The row's cell: one the table keeps under "ButtonCell", or a new one as wide as the table;
// titled, numbered with the row, telling `delegate` of clicks, selected or not.
ns::Ref<ButtonCell> buttonCellForRow(const ns::Ref<ak::TableView>& table, const std::string& title, long row,
                                     const std::shared_ptr<ButtonCellDelegate>& delegate, bool selected);

// Logs the table's new selection and answers whether it has none left, when the list forgets
// its selected row and redraws.
bool buttonCellTableLostSelection(const ns::Ref<ak::TableView>& table);
