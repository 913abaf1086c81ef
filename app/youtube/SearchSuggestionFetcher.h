#pragma once
// Search suggestions while the user types: a text given with setQuery() waits 0.3 s of quiet,
// then the suggestion service is asked for it; the reply's texts become suggestArray() and the
// delegate hears suggestionsFetched(). Only the reply of the latest request counts: a new
// request cancels the one still out. Main thread only. The suggestion table of the search
// field (SearchAutoComplete, in app/browse) shows what it fetches.
//
//   auto fetcher = ns::make<SearchSuggestionFetcher>();
//   fetcher->setDelegate(listener);
//   fetcher->setQuery("ab");        // 0.3 s later: GET <service>?q=ab
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ns {
class Timer;
}
class JSONRequestOperation;

// Who hears of new suggestions (held weakly).
class SearchSuggestionFetcherDelegate {
 public:
  virtual ~SearchSuggestionFetcherDelegate() = default;
  // New suggestions were taken (possibly none), on the main thread.
  virtual void suggestionsFetched() = 0;
};

class SearchSuggestionFetcher : public ns::Object {
 public:
  SearchSuggestionFetcher() = default;
  ~SearchSuggestionFetcher() override;

  void setDelegate(const ns::Weak<SearchSuggestionFetcherDelegate>& delegate) { delegate_ = delegate; }

  // Restarts the 0.3 s wait for the text.
  void setQuery(const std::string& query);
  const std::string& query() const { return query_; }
  // false cancels the waiting and the request still out, so that no reply is delivered; true
  // (the state of a new object) lets the next text be asked for.
  void setEnabled(bool enabled);
  bool enabled() const { return enabled_; }

  // The texts of the last reply taken; empty before.
  const std::vector<std::string>& suggestArray() const { return suggestArray_; }

  // The suggestion texts of a reply body, nil unless it is [text, [texts...]] (entries of the
  // inner array that are not strings are skipped).
  static std::optional<std::vector<std::string>> suggestionsFromJSON(const ns::Value& json);

 private:
  void timerFired();
  void sendRequest(const std::string& text);
  void cancelRequest();
  void takeReply(std::uint64_t generation, const std::vector<std::string>& suggestions);

  ns::Weak<SearchSuggestionFetcherDelegate> delegate_;
  std::string query_;
  bool enabled_ = true;
  std::vector<std::string> suggestArray_;
  ns::Ref<ns::Timer> timer_;
  ns::Ref<JSONRequestOperation> request_;
  // Raised by every request and every cancel: a reply is taken only when it carries the
  // current number.
  std::uint64_t generation_ = 0;
};
