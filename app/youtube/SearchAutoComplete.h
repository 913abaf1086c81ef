#pragma once
// Search suggestions while the user types: a text given with setQuery() waits 0.3 s of quiet,
// then the suggestion service is asked for it; the reply's texts become the rows of the
// suggestion table, whose data source and delegate this object is, and the delegate (the left
// pane) hears autoCompleteAvailable(). A click on a row searches its text. Only the reply of the
// latest request counts: a new request cancels the one still out. Main thread only.
//
//   auto suggestions = ns::make<SearchAutoComplete>();
//   suggestions->setTableView(table);   // also its data source and delegate
//   suggestions->setDelegate(leftPane);
//   suggestions->setEnabled(true);
//   suggestions->setQuery("ab");        // 0.3 s later: GET <service>?q=ab
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ak {
class TableView;
}
namespace ns {
class Timer;
}
class JSONRequestOperation;

// What the suggestions tell the left pane (held weakly).
class SearchAutoCompleteDelegate {
 public:
  virtual ~SearchAutoCompleteDelegate() = default;
  // New suggestions arrived (possibly none), on the main thread.
  virtual void autoCompleteAvailable() = 0;
  // A suggestion row was clicked.
  virtual void runSearchWithQuery(const std::string& query) = 0;
};

class SearchAutoComplete : public ns::Object {
 public:
  SearchAutoComplete() = default;
  ~SearchAutoComplete() override;
  static ns::Ref<SearchAutoComplete> init() { return ns::make<SearchAutoComplete>(); }

  // The table the suggestions fill (held weakly); this object becomes its data source and
  // delegate and hears its clicks.
  void setTableView(const ns::Ref<ak::TableView>& tableView);
  ns::Ref<ak::TableView> tableView() const { return tableView_.lock(); }
  void setDelegate(const ns::Weak<SearchAutoCompleteDelegate>& delegate) { delegate_ = delegate; }

  // Restarts the 0.3 s wait for the text.
  void setQuery(const std::string& query);
  const std::string& query() const { return query_; }
  // false cancels the waiting and the request still out, so that no reply is delivered; true
  // (the state of a new object) lets the next text be asked for.
  void setEnabled(bool enabled);
  bool enabled() const { return enabled_; }

  // The texts of the last reply taken; empty before.
  const std::vector<std::string>& suggestArray() const { return suggestArray_; }
  // The highlighted row, -1 for none; the table draws it highlighted.
  long selectedRow() const { return selectedRow_; }
  void setSelectedRow(long row);

  // The suggestion texts of a reply body, nil unless it is [text, [texts...]] (entries of the
  // inner array that are not strings are skipped).
  static std::optional<std::vector<std::string>> suggestionsFromJSON(const ns::Value& json);

  // ---- the table's data source and delegate (called through the runtime) ----
  long numberOfRowsInTableView(const ns::Ref<ns::Object>& table);
  ns::Value tableView_objectValueForTableColumn_row(const ns::Ref<ns::Object>& table,
                                                    const ns::Ref<ns::Object>& column, long row);
  void tableView_willDisplayCell_forTableColumn_row(const ns::Ref<ns::Object>& table,
                                                    const ns::Ref<ns::Object>& cell,
                                                    const ns::Ref<ns::Object>& column, long row);
  // The table's action: a click on a row selects it and searches its text.
  void suggestionClicked(const ns::Ref<ns::Object>& sender);

 private:
  void timerFired();
  void sendRequest(const std::string& text);
  void cancelRequest();
  void takeReply(std::uint64_t generation, const std::vector<std::string>& suggestions);

  ns::Weak<ak::TableView> tableView_;
  ns::Weak<SearchAutoCompleteDelegate> delegate_;
  std::string query_;
  bool enabled_ = true;
  std::vector<std::string> suggestArray_;
  long selectedRow_ = -1;
  ns::Ref<ns::Timer> timer_;
  ns::Ref<JSONRequestOperation> request_;
  // Raised by every request and every cancel: a reply is taken only when it carries the
  // current number.
  std::uint64_t generation_ = 0;
};
