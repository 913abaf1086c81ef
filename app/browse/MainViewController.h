#pragma once
// The navigation's menu page: a table of button rows, each [title, action]. It has no rows
// today; a sign-in change reloads it.
#include <string>
#include <utility>
#include <vector>

#include "app/browse/PelViewController.h"
#include "ui/ButtonCell.h"

namespace ak {
class TableView;
}

class MainViewController : public PelViewController, public ButtonCellDelegate {
 public:
  ~MainViewController() override;

  void loginChanged();
  void reloadTable();

  // ---- the table's data source and delegate (called through the runtime) ----
  long numberOfRowsInTableView(const ns::Ref<ns::Object>& table);
  ns::Ref<ns::Object> tableView_viewForTableColumn_row(const ns::Ref<ns::Object>& table,
                                                       const ns::Ref<ns::Object>& column, long row);
  void tableViewSelectionDidChange(const ns::Ref<ns::Object>& notification);
  void buttonCellClicked(std::int64_t idx) override;

  long selectedRow() const { return selectedRow_; }
  void setSelectedRow(long row) { selectedRow_ = row; }
  ns::Ref<ak::TableView> tableView() const { return tableView_.lock(); }
  void setTableView(const ns::Ref<ak::TableView>& table) { tableView_ = table; }
  // Rows: [title, action].
  const std::vector<std::pair<std::string, std::string>>& cellArray() const { return cellArray_; }
  void setCellArray(std::vector<std::pair<std::string, std::string>> rows) { cellArray_ = std::move(rows); }

  std::string className() const override { return "MainViewController"; }

 protected:
  void viewDidLoadOnce() override;

 private:
  long selectedRow_ = -1;
  ns::Weak<ak::TableView> tableView_;
  std::vector<std::pair<std::string, std::string>> cellArray_;
};
