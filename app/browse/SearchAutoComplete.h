#pragma once
// The search field's suggestion table: the data source and delegate of the table, fed by a
// SearchSuggestionFetcher. A text given with setQuery() is fetched after 0.3 s of quiet; the
// reply's texts become the table's rows and the delegate (the left pane) hears
// autoCompleteAvailable(). The highlighted row is drawn highlighted; a click on a row searches
// its text. Main thread only.
//
//   auto suggestions = SearchAutoComplete::init();
//   suggestions->setTableView(table);   // also its data source and delegate
//   suggestions->setDelegate(leftPane);
//   suggestions->setEnabled(true);
//   suggestions->setQuery("ab");        // 0.3 s later: GET <service>?q=ab
#include <string>
#include <vector>

#include "app/youtube/SearchSuggestionFetcher.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ak {
class TableView;
}

// What the suggestions tell the left pane (held weakly).
class SearchAutoCompleteDelegate {
 public:
  virtual ~SearchAutoCompleteDelegate() = default;
  // New suggestions arrived (possibly none), on the main thread.
  virtual void autoCompleteAvailable() = 0;
  // A suggestion row was clicked.
  virtual void runSearchWithQuery(const std::string& query) = 0;
};

class SearchAutoComplete : public ns::Object, public SearchSuggestionFetcherDelegate {
 public:
  SearchAutoComplete() = default;
  static ns::Ref<SearchAutoComplete> init() { return ns::make<SearchAutoComplete>(); }

  // The table the suggestions fill (held weakly); this object becomes its data source and
  // delegate and hears its clicks.
  void setTableView(const ns::Ref<ak::TableView>& tableView);
  ns::Ref<ak::TableView> tableView() const { return tableView_.lock(); }
  void setDelegate(const ns::Weak<SearchAutoCompleteDelegate>& delegate) { delegate_ = delegate; }

  // Restarts the 0.3 s wait for the text.
  void setQuery(const std::string& query);
  const std::string& query() const { return fetcher_->query(); }
  // false cancels the waiting and the request still out, so that no reply is delivered; true
  // (the state of a new object) lets the next text be asked for.
  void setEnabled(bool enabled);
  bool enabled() const { return fetcher_->enabled(); }

  // The texts of the last reply taken; empty before.
  const std::vector<std::string>& suggestArray() const { return fetcher_->suggestArray(); }
  // The highlighted row, -1 for none; the table draws it highlighted.
  long selectedRow() const { return selectedRow_; }
  void setSelectedRow(long row);

  // ---- the table's data source and delegate (called through the runtime) ----
  long numberOfRowsInTableView(const ns::Ref<ns::Object>& table);
  ns::Value tableView_objectValueForTableColumn_row(const ns::Ref<ns::Object>& table,
                                                    const ns::Ref<ns::Object>& column, long row);
  void tableView_willDisplayCell_forTableColumn_row(const ns::Ref<ns::Object>& table,
                                                    const ns::Ref<ns::Object>& cell,
                                                    const ns::Ref<ns::Object>& column, long row);
  // The table's action: a click on a row selects it and searches its text.
  void suggestionClicked(const ns::Ref<ns::Object>& sender);

  void suggestionsFetched() override;

 private:
  const ns::Ref<SearchSuggestionFetcher> fetcher_ = ns::make<SearchSuggestionFetcher>();
  ns::Weak<ak::TableView> tableView_;
  ns::Weak<SearchAutoCompleteDelegate> delegate_;
  long selectedRow_ = -1;
};
