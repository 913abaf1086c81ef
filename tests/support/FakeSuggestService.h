#pragma once
// A fake of the search-suggestion service on 127.0.0.1 that speaks the format of
// app/youtube/PROTOCOLS.md: "GET /complete/search?q=<text>" answered with the JSON
// [text, [suggestions...]]. By default a text t gets [t, [t + "c", t + "d"]]; answer() scripts
// the reply for one text, hold() keeps the replies for one text back until release().
//
//   testsupport::FakeSuggestService suggest;
//   sandbox.set("PELORIN_SUGGEST_URL", suggest.url());
//   suggest.hold("a");                      // the reply for "a" waits
//   ... suggest.waitForQueries(2); suggest.release("a");
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/testing/FakeServer.h"

namespace testsupport {

class FakeSuggestService {
 public:
  FakeSuggestService();
  ~FakeSuggestService();
  FakeSuggestService(const FakeSuggestService&) = delete;
  FakeSuggestService& operator=(const FakeSuggestService&) = delete;

  // The service URL to configure.
  std::string url() const { return server_.baseURL() + "/complete/search"; }
  pltest::FakeServer& server() { return server_; }

  // The reply for requests of `text` from now on.
  void answer(const std::string& text, pltest::FakeReply reply);
  // [text, [suggestions...]] as JSON text.
  static std::string suggestionsJSON(const std::string& text, const std::vector<std::string>& suggestions);

  // Replies for `text` wait (without blocking other requests) until it is released.
  void hold(const std::string& text);
  void release(const std::string& text);
  // Replies that have been sent, by text, in order.
  std::vector<std::string> answered() const;

  // The "q" of every request received, in order of arrival.
  std::vector<std::string> queries() const;
  // Blocks on a condition until `count` requests arrived or the time-out passed.
  bool waitForQueries(std::size_t count) const { return server_.waitForRequests(count); }

 private:
  pltest::FakeReply reply(const pltest::FakeRequest& request);

  pltest::FakeServer server_;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  std::map<std::string, pltest::FakeReply> answers_;
  std::set<std::string> held_;
  std::vector<std::string> answered_;
  bool stopping_ = false;
};

}  // namespace testsupport
