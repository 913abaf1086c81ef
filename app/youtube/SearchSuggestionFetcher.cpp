#include "app/youtube/SearchSuggestionFetcher.h"

#include <mutex>

#include "app/youtube/SuggestServiceConfig.h"
#include "lib/net/JSONRequestOperation.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/Stream.h"
#include "platform/net/URL.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/net/URLRequest.h"
#include "platform/runloop/Thread.h"
#include "platform/runloop/Timer.h"

namespace {

// Keeps the body in memory up to a cap; a longer body fails the write, which ends the transfer
// there instead of holding (and parsing) whatever a broken service sends.
class CappedMemoryOutputStream : public ns::OutputStream {
 public:
  explicit CappedMemoryOutputStream(std::size_t cap) : cap_(cap) {}

  long write_maxLength(const std::uint8_t* buffer, std::size_t length) override {
    if (streamStatus() != ns::StreamStatusOpen) return -1;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (bytes_.length() + length > cap_) {
        tooLong_ = true;
      } else {
        bytes_.appendBytes_length(buffer, length);
      }
    }
    if (tooLong_) {
      failWith(ns::Error::withDescription(ns::NSURLErrorDomain, ns::URLErrorDataLengthExceedsMaximum,
                                          "The suggestion reply is too long"));
      return -1;
    }
    didTransfer();
    return static_cast<long>(length);
  }
  bool hasSpaceAvailable() override { return streamStatus() == ns::StreamStatusOpen; }
  ns::Value propertyForKey(const std::string& key) override {
    if (key == ns::NSStreamDataWrittenToMemoryStreamKey) {
      std::lock_guard<std::mutex> lock(mutex_);
      return ns::Value(bytes_.copy());
    }
    return ns::OutputStream::propertyForKey(key);
  }

 protected:
  ns::StreamEvent readinessEvent() const override { return ns::StreamEventHasSpaceAvailable; }

 private:
  const std::size_t cap_;
  ns::MutableData bytes_;
  bool tooLong_ = false;
};

}  // namespace

SearchSuggestionFetcher::~SearchSuggestionFetcher() {
  if (timer_) timer_->invalidate();
  if (request_) request_->cancel();
}

void SearchSuggestionFetcher::setQuery(const std::string& query) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  query_ = query;
  if (timer_) timer_->invalidate();
  std::weak_ptr<SearchSuggestionFetcher> weak = self<SearchSuggestionFetcher>();
  timer_ = ns::Timer::scheduledTimerWithTimeInterval_repeats_block(kSuggestDelay, false,
                                                                   [weak](const ns::Ref<ns::Timer>&) {
                                                                     if (auto self = weak.lock())
                                                                       self->timerFired();
                                                                   });
}

void SearchSuggestionFetcher::setEnabled(bool enabled) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  enabled_ = enabled;
  if (enabled) return;
  if (timer_) timer_->invalidate();
  timer_ = nullptr;
  cancelRequest();
}

void SearchSuggestionFetcher::timerFired() {
  timer_ = nullptr;
  if (!enabled_) return;
  sendRequest(query_);
}

void SearchSuggestionFetcher::cancelRequest() {
  ++generation_;
  if (request_) request_->cancel();
  request_ = nullptr;
}

void SearchSuggestionFetcher::sendRequest(const std::string& text) {
  // The reply of an older text must not replace the suggestions of this one.
  cancelRequest();
  auto url = ns::URL::URLWithString(suggestRequestURL(text));
  if (!url) {
    ns::Log("SearchAutoComplete: no valid suggestion URL for %@", text);
    return;
  }
  auto request = ns::URLRequest::requestWithURL_cachePolicy_timeoutInterval(
      url, ns::URLRequestReloadIgnoringLocalCacheData, kSuggestRequestTimeout);
  const std::uint64_t generation = generation_;
  std::weak_ptr<SearchSuggestionFetcher> weak = self<SearchSuggestionFetcher>();
  request_ = JSONRequestOperation::JSONRequestOperationWithRequest_success_failure(
      request,
      [weak, generation](const ns::Ref<ns::URLRequest>&, const ns::Ref<ns::HTTPURLResponse>&,
                         const ns::Value& json) {
        auto self = weak.lock();
        if (!self || generation != self->generation_) return;
        auto suggestions = suggestionsFromJSON(json);
        if (!suggestions) {
          ns::Log("SearchAutoComplete: the suggestion reply is not a list of texts");
          suggestions.emplace();  // as a failed request: no suggestions
        }
        self->takeReply(generation, *suggestions);
      },
      [weak, generation](const ns::Ref<ns::URLRequest>&, const ns::Ref<ns::HTTPURLResponse>&,
                         const ns::Error& error, const ns::Value&) {
        auto self = weak.lock();
        if (!self || generation != self->generation_) return;
        // The suggestions on show belong to an older text: none is better than those.
        ns::Log("SearchAutoComplete: suggestions failed: %@", error.localizedDescription());
        self->takeReply(generation, {});
      });
  request_->setOutputStream(ns::make<CappedMemoryOutputStream>(kSuggestMaxReplyBytes));
  request_->start();
}

void SearchSuggestionFetcher::takeReply(std::uint64_t generation,
                                        const std::vector<std::string>& suggestions) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  if (generation != generation_) return;
  request_ = nullptr;
  if (!enabled_) return;
  suggestArray_ = suggestions;
  if (auto delegate = delegate_.lock()) delegate->suggestionsFetched();
}

std::optional<std::vector<std::string>> SearchSuggestionFetcher::suggestionsFromJSON(const ns::Value& json) {
  if (!json.isArray() || json.count() < 2) return std::nullopt;
  const ns::Array& reply = json.array();
  if (!reply[0].isString() || !reply[1].isArray()) return std::nullopt;
  std::vector<std::string> texts;
  for (const ns::Value& entry : reply[1].array())
    if (entry.isString()) texts.push_back(entry.string());
  return texts;
}
