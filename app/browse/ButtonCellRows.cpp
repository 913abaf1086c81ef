#include "app/browse/ButtonCellRows.h"

#include "platform/appkit/Make.h"
#include "platform/appkit/TableView.h"
#include "platform/core/Log.h"

ns::Ref<ButtonCell> buttonCellForRow(const ns::Ref<ak::TableView>& table, const std::string& title, long row,
                                     const std::shared_ptr<ButtonCellDelegate>& delegate, bool selected) {
  if (!table) return nullptr;
  auto cell =
      std::dynamic_pointer_cast<ButtonCell>(table->makeViewWithIdentifier_owner("ButtonCell", nullptr));
  if (!cell) {
    cell = ak::make<ButtonCell>(ak::MakeRect(0, 0, table->frame().size.width, kButtonCellRowHeight));
    cell->setIdentifier("ButtonCell");
  }
  cell->setTitleText(title);
  cell->setIdx(row);
  cell->setButtonCellDelegate(delegate);
  cell->setSelected(selected);
  return cell;
}

bool buttonCellTableLostSelection(const ns::Ref<ak::TableView>& table) {
  const long row = table ? table->selectedRow() : -1;
  ns::Log("selection did change: %ld", row);
  return row == -1;
}
