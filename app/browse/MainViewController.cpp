#include "app/browse/MainViewController.h"

#include "app/browse/ButtonCellRows.h"
#include "common/AppUtilities.h"
#include "common/IMainWindowController.h"
#include "common/ShellNotifications.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/TableView.h"
#include "platform/core/Log.h"
#include "platform/foundation/IndexSet.h"
#include "platform/runtime/ClassBuilder.h"

PL_CLASS(MainViewController, PelViewController) {
  cls.method<&MainViewController::numberOfRowsInTableView>("numberOfRowsInTableView:");
  cls.method<&MainViewController::tableView_viewForTableColumn_row>("tableView:viewForTableColumn:row:");
  cls.method<&MainViewController::tableViewSelectionDidChange>("tableViewSelectionDidChange:");
}

MainViewController::~MainViewController() {
  removeNotificationObserver(this, kLoginStateChangedNotification);
}

void MainViewController::viewDidLoadOnce() {
  if (auto table = tableView())
    table->setBackgroundColor(
        ak::Color::colorWithCalibratedRed_green_blue_alpha(50 / 255.0, 50 / 255.0, 50 / 255.0, 1.0));
  ak::ViewController::setTitle("");
  reloadTable();
  addNotificationObserver(this, kLoginStateChangedNotification, &MainViewController::loginChanged);
}

void MainViewController::loginChanged() {
  reloadTable();
}

void MainViewController::reloadTable() {
  cellArray_.clear();
  if (auto table = tableView()) table->reloadData();
}

long MainViewController::numberOfRowsInTableView(const ns::Ref<ns::Object>&) {
  return static_cast<long>(cellArray_.size());
}

ns::Ref<ns::Object> MainViewController::tableView_viewForTableColumn_row(
    const ns::Ref<ns::Object>& tableObject, const ns::Ref<ns::Object>&, long row) {
  auto table = std::dynamic_pointer_cast<ak::TableView>(tableObject);
  if (!table || row < 0 || row >= static_cast<long>(cellArray_.size())) return nullptr;
  return buttonCellForRow(table, cellArray_[static_cast<std::size_t>(row)].first, row,
                          std::shared_ptr<ButtonCellDelegate>(self<MainViewController>(), this),
                          selectedRow_ == row);
}

void MainViewController::buttonCellClicked(std::int64_t idx) {
  ns::Log("buttonCellClicked %ld", static_cast<long>(idx));
  selectedRow_ = static_cast<long>(idx);
  auto table = tableView();
  if (table) {
    table->reloadData();
    table->selectRowIndexes_byExtendingSelection(
        *ns::IndexSet::indexSetWithIndex(static_cast<std::size_t>(idx)), false);
  }
  if (idx < 0 || idx >= static_cast<std::int64_t>(cellArray_.size())) return;
  const std::string& action = cellArray_[static_cast<std::size_t>(idx)].second;
  if (action == "login" || action == "logout") {
    if (auto main = mainWindowController()) main->signInClicked(nullptr);
  }
}

void MainViewController::tableViewSelectionDidChange(const ns::Ref<ns::Object>&) {
  auto table = tableView();
  if (buttonCellTableLostSelection(table)) {
    selectedRow_ = -1;
    if (table) table->reloadData();
  }
}
