#pragma once
// Helpers of the fetcher tests: an HTTPS fake trusted by URL loading inside a sandbox, a record
// of everything a fetch calls back, and notification counting.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lib/google/NetHTTPFetcher.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/Files.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "tests/lib/google/NotificationLog.h"

namespace fetchertest {

// What a fetch delivered, in order of the calls ("selector", "block").
struct Outcome {
  std::mutex mutex;
  std::vector<std::string> calls;
  std::optional<ns::Data> data;
  std::optional<ns::Error> error;
  std::atomic<int> finished{0};
  std::atomic<bool> onMainThread{false};
  std::thread::id thread;

  NetHTTPFetcher::CompletionBlock block() {
    return [this](const std::optional<ns::Data>& d, const std::optional<ns::Error>& e) {
      std::lock_guard lock(mutex);
      calls.push_back("block");
      data = d;
      error = e;
      thread = std::this_thread::get_id();
      onMainThread = ns::Thread::isMainThread();
      ++finished;
    };
  }
  std::string body() {
    std::lock_guard lock(mutex);
    return data ? data->toString() : std::string("<nil>");
  }
};

// Begins the fetch and pumps until its completion block has run once.
inline bool fetchToEnd(const ns::Ref<NetHTTPFetcher>& fetcher, Outcome& outcome) {
  return fetcher->beginFetchWithCompletionHandler(outcome.block()) &&
         pltest::pumpUntil([&] { return outcome.finished == 1; });
}

// A delegate with a finished selector that records into an Outcome.
class RecordingDelegate : public ns::Object {
 public:
  explicit RecordingDelegate(Outcome& outcome) : outcome_(outcome) {}
  void fetcher_finishedWithData_error(const ns::Ref<NetHTTPFetcher>&, const std::optional<ns::Data>& data,
                                      const std::optional<ns::Error>& error) {
    std::lock_guard lock(outcome_.mutex);
    outcome_.calls.push_back("selector");
  }
  static NetHTTPFetcher::FinishedSelector selector() {
    return NetHTTPFetcher::FinishedSelector::of("fetcher:finishedWithData:error:",
                                                &RecordingDelegate::fetcher_finishedWithData_error);
  }

 private:
  Outcome& outcome_;
};

// Counts the four fetcher notifications of one fetcher (or of all, for a null object).
class NotificationCounter : public googletest::NotificationLog {
 public:
  explicit NotificationCounter(const ns::Ref<ns::Object>& object = nullptr)
      : NotificationLog(
            {kNetHTTPFetcherStartedNotification, kNetHTTPFetcherStoppedNotification,
             kNetHTTPFetcherRetryDelayStartedNotification, kNetHTTPFetcherRetryDelayStoppedNotification},
            object) {}
  int operator[](const std::string& name) const { return static_cast<int>(count(name)); }
  int started() const { return (*this)[kNetHTTPFetcherStartedNotification]; }
  int stopped() const { return (*this)[kNetHTTPFetcherStoppedNotification]; }
  int retryStarted() const { return (*this)[kNetHTTPFetcherRetryDelayStartedNotification]; }
  int retryStopped() const { return (*this)[kNetHTTPFetcherRetryDelayStoppedNotification]; }
};

// Runs the current run loop until a block queued now in the default mode has run.
inline void drainRunLoop() {
  ASSERT_TRUE(pltest::drainMode());
}

using pltest::readFile;

// Files anywhere below `root` whose name starts with `prefix`.
inline std::vector<std::string> filesNamed(const std::filesystem::path& root, const std::string& prefix) {
  std::vector<std::string> found;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    if (it->path().filename().string().rfind(prefix, 0) == 0) found.push_back(it->path().string());
  return found;
}

// A sandbox and an HTTPS fake whose CA URL loading trusts while the fixture lives.
class FetcherTest : public testing::Test {
 protected:
  explicit FetcherTest(std::vector<std::string> hostNames = {"localhost", "127.0.0.1"})
      : server_({.https = true, .hostNames = std::move(hostNames)}) {
    server_.trustInURLLoading();
  }
  ~FetcherTest() override { pltest::FakeServer::untrustInURLLoading(); }

  std::string url(const std::string& path) const { return server_.URLForPath(path); }
  ns::Ref<NetHTTPFetcher> fetcherFor(const std::string& path) const {
    return NetHTTPFetcher::fetcherWithURLString(url(path));
  }
  std::vector<pltest::FakeRequest> requestsTo(const std::string& path) const {
    std::vector<pltest::FakeRequest> found;
    for (auto& r : server_.requests())
      if (r.path == path) found.push_back(r);
    return found;
  }

  pltest::Sandbox sandbox_;
  pltest::FakeServer server_;
};

}  // namespace fetchertest
