#include "app/browse/SearchAutoComplete.h"

#include "platform/appkit/Colors.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/TextField.h"
#include "platform/dispatch/Queue.h"
#include "platform/runtime/ClassBuilder.h"

PL_CLASS(SearchAutoComplete, ns::Object) {
  cls.method<&SearchAutoComplete::numberOfRowsInTableView>("numberOfRowsInTableView:");
  cls.method<&SearchAutoComplete::tableView_objectValueForTableColumn_row>(
      "tableView:objectValueForTableColumn:row:");
  cls.method<&SearchAutoComplete::tableView_willDisplayCell_forTableColumn_row>(
      "tableView:willDisplayCell:forTableColumn:row:");
  cls.method<&SearchAutoComplete::suggestionClicked>("suggestionClicked:");
}

void SearchAutoComplete::setTableView(const ns::Ref<ak::TableView>& tableView) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  tableView_ = tableView;
  if (!tableView) return;
  auto self = this->self<SearchAutoComplete>();
  tableView->setDataSource(self);
  tableView->setDelegate(self);
  tableView->setTarget(self);
  tableView->setAction(ns::Sel("suggestionClicked:"));
}

void SearchAutoComplete::setQuery(const std::string& query) {
  // Only a query brings a reply, so the fetcher learns here whom to tell (a constructor has no
  // shared reference to give it).
  fetcher_->setDelegate(self<SearchAutoComplete>());
  fetcher_->setQuery(query);
}

void SearchAutoComplete::setEnabled(bool enabled) {
  fetcher_->setEnabled(enabled);
}

void SearchAutoComplete::setSelectedRow(long row) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  selectedRow_ = row;
  if (auto table = tableView_.lock()) table->setNeedsDisplay(true);
}

void SearchAutoComplete::suggestionsFetched() {
  // A highlighted index into the old list means nothing in the new one.
  selectedRow_ = -1;
  if (auto table = tableView_.lock()) table->reloadData();
  if (auto delegate = delegate_.lock()) delegate->autoCompleteAvailable();
}

// ---- the table ----

long SearchAutoComplete::numberOfRowsInTableView(const ns::Ref<ns::Object>&) {
  return static_cast<long>(suggestArray().size());
}

ns::Value SearchAutoComplete::tableView_objectValueForTableColumn_row(const ns::Ref<ns::Object>&,
                                                                      const ns::Ref<ns::Object>&, long row) {
  const auto& suggestions = suggestArray();
  if (row < 0 || row >= static_cast<long>(suggestions.size())) return {};
  return ns::Value(suggestions[static_cast<std::size_t>(row)]);
}

void SearchAutoComplete::tableView_willDisplayCell_forTableColumn_row(const ns::Ref<ns::Object>&,
                                                                      const ns::Ref<ns::Object>& cell,
                                                                      const ns::Ref<ns::Object>&, long row) {
  auto textCell = std::dynamic_pointer_cast<ak::TextFieldCell>(cell);
  if (!textCell) return;
  // The column's one cell draws every row: set or clear the highlight each time.
  const bool highlighted = row == selectedRow_;
  textCell->setDrawsBackground(highlighted);
  if (highlighted) {
    textCell->setBackgroundColor(ak::colors::alternateSelectedControlColor());
    textCell->setHighlighted(true);
    textCell->setBackgroundStyle(ak::BackgroundStyle::Dark);
  }
}

void SearchAutoComplete::suggestionClicked(const ns::Ref<ns::Object>& sender) {
  auto table = std::dynamic_pointer_cast<ak::TableView>(sender);
  if (!table) table = tableView_.lock();
  if (!table) return;
  long row = table->clickedRow();
  const auto& suggestions = suggestArray();
  if (row < 0 || row >= static_cast<long>(suggestions.size())) return;
  setSelectedRow(row);
  std::string text = suggestions[static_cast<std::size_t>(row)];
  if (auto delegate = delegate_.lock()) delegate->runSearchWithQuery(text);
}
