// HTTP operations: pause and resume into a file, acceptable statuses, output-stream failures and
// the completion block's single run.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <tuple>
#include <vector>

#include "lib/net/HTTPRequestOperation.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/Sandbox.h"
#include "tests/lib/net/OperationTestSupport.h"

namespace fs = std::filesystem;
using pltest::FakeReply;
using pltest::FakeRequest;
using pltest::FakeServer;

namespace {

// Resumes from what its file holds, as a resumable download does.
class FileResumingOperation : public HTTPRequestOperation {
 public:
  FileResumingOperation(ns::Ref<ns::URLRequest> request, fs::path path)
      : HTTPRequestOperation(std::move(request)), path_(std::move(path)) {}

  void resumeFromFile() {
    auto request = this->request()->mutableCopy();
    request->setValue_forHTTPHeaderField("bytes=" + std::to_string(fs::file_size(path_)) + "-", "Range");
    setRequest(request);
    setOutputStream(ns::OutputStream::outputStreamToFileAtPath_append(path_.string(), true));
    resume();
  }

 private:
  fs::path path_;
};

// Takes 416 (a range past the end of a complete file) as success too.
class RangeTolerantOperation : public HTTPRequestOperation {
 public:
  using HTTPRequestOperation::HTTPRequestOperation;
  std::set<long> acceptableStatusCodes() const override {
    auto codes = HTTPRequestOperation::acceptableStatusCodes();
    codes.insert(416);
    return codes;
  }
};

struct Progress {
  long bytes;
  long long total;
  long long expected;
};

struct Calls {
  int successes = 0;
  int failures = 0;
  std::optional<ns::Data> data;
  std::optional<ns::Error> error;
};

void recordCalls(const ns::Ref<HTTPRequestOperation>& op, Calls& calls) {
  op->setCompletionBlockWithSuccess_failure(
      [&calls](const ns::Ref<HTTPRequestOperation>&, const std::optional<ns::Data>& data) {
        ++calls.successes;
        calls.data = data;
      },
      [&calls](const ns::Ref<HTTPRequestOperation>&, const ns::Error& error) {
        ++calls.failures;
        calls.error = error;
      });
}

}  // namespace

TEST(HTTPRequestOperation, PausedTransferWritesNothingMoreAndResumesByteForByte) {
  pltest::Sandbox sandbox;
  const std::size_t kSize = 1 << 20, kPart = 16 << 10;
  const std::string resource = nettest::patterned(kSize);
  FakeServer server;
  server.route("GET", "/video", [&](const FakeRequest& request) {
    // A range request gets the whole resource's range (206); the first request a slow reply.
    if (request.header("Range")) return FakeReply::text(200, resource, "video/mp4");
    std::vector<std::string> parts;
    for (std::size_t at = 0; at < kSize; at += kPart) parts.push_back(resource.substr(at, kPart));
    return FakeReply::slow(parts, std::chrono::milliseconds(5));
  });
  const fs::path path = sandbox.temporaryFolder("downloads") / "video.mp4";

  auto op = ns::make<FileResumingOperation>(nettest::requestFor(server.URLForPath("/video")), path);
  op->setOutputStream(ns::OutputStream::outputStreamToFileAtPath_append(path.string(), false));
  std::vector<Progress> progress;
  op->setDownloadProgressBlock([&](long bytes, long long total, long long expected) {
    EXPECT_TRUE(ns::Thread::isMainThread());
    progress.push_back({bytes, total, expected});
  });
  Calls calls;
  recordCalls(op, calls);
  op->start();
  ASSERT_TRUE(pltest::pumpUntil([&] { return !progress.empty() && progress.back().total >= (64 << 10); }));

  op->pause();
  EXPECT_TRUE(op->isPaused());
  EXPECT_FALSE(op->isExecuting());
  const auto pausedSize = fs::file_size(path);
  ASSERT_LT(pausedSize, kSize);
  // Anything the network thread or the main queue still had is done now; the server's slow reply
  // was still going when the connection went.
  nettest::networkBarrier();
  nettest::drainMainQueue();
  EXPECT_EQ(fs::file_size(path), pausedSize);
  EXPECT_FALSE(op->isFinished());
  EXPECT_EQ(calls.successes + calls.failures, 0);
  // Every chunk written was reported, and nothing else.
  long long reported = 0;
  for (const auto& p : progress) {
    reported += p.bytes;
    EXPECT_EQ(p.total, reported);
    EXPECT_EQ(p.expected, -1) << "the slow reply is chunked";
  }
  EXPECT_EQ(reported, static_cast<long long>(pausedSize));

  const std::size_t firstOfSecond = progress.size();
  op->resumeFromFile();
  ASSERT_TRUE(nettest::pumpUntilSettled(op));
  EXPECT_EQ(calls.successes, 1);
  EXPECT_EQ(calls.failures, 0);
  EXPECT_FALSE(calls.data) << "the body went to the file";
  EXPECT_TRUE(nettest::readFile(path) == resource) << "the resumed file differs from the resource";

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].header("Range").value_or(""), "bytes=" + std::to_string(pausedSize) + "-");
  ASSERT_TRUE(op->response());
  EXPECT_EQ(op->response()->statusCode(), 206);
  // The second response's totals run from its first chunk to its Content-Length.
  const long long remaining = static_cast<long long>(kSize - pausedSize);
  ASSERT_GT(progress.size(), firstOfSecond);
  EXPECT_EQ(progress[firstOfSecond].total, progress[firstOfSecond].bytes);
  EXPECT_EQ(progress.back().total, remaining);
  for (std::size_t i = firstOfSecond; i < progress.size(); ++i) EXPECT_EQ(progress[i].expected, remaining);
}

TEST(HTTPRequestOperation, UnacceptableStatusLeavesTheCallersFileAlone) {
  pltest::Sandbox sandbox;
  FakeServer server;
  server.canned("GET", "/done", FakeReply::text(416, "range not satisfiable"));
  server.canned("GET", "/denied", FakeReply::text(403, "<html>forbidden</html>", "text/html"));
  server.canned("GET", "/fresh", FakeReply::text(200, "fresh body", "video/mp4"));
  // A whole video sent with an error status: only the start of it is kept for the error.
  const std::string huge = nettest::patterned(3 * 1024 * 1024);
  server.canned("GET", "/huge", FakeReply::text(403, huge, "video/mp4"));
  const std::string before = nettest::patterned(1000);
  struct Case {
    const char* path;
    bool success;
    std::optional<std::string> fileAfter;  // nothing: not checked
    std::string errorBody;
  } cases[] = {
      {"/done", true, std::nullopt, ""},
      {"/denied", false, before, "<html>forbidden</html>"},
      {"/fresh", true, std::string("fresh body"), ""},
      {"/huge", false, before, huge.substr(0, 64 * 1024)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const fs::path path = sandbox.temporaryFolder("status") / "partial.mp4";
    nettest::writeFile(path, before);
    auto op = ns::make<RangeTolerantOperation>(nettest::requestFor(server.URLForPath(c.path)));
    op->setOutputStream(ns::OutputStream::outputStreamToFileAtPath_append(path.string(), false));
    Calls calls;
    recordCalls(op, calls);
    op->start();
    ASSERT_TRUE(nettest::pumpUntilSettled(op));
    EXPECT_EQ(calls.successes, c.success ? 1 : 0);
    EXPECT_EQ(calls.failures, c.success ? 0 : 1);
    if (!c.success) {
      ASSERT_TRUE(calls.error);
      EXPECT_EQ(calls.error->domain(), ns::NSURLErrorDomain);
      EXPECT_EQ(calls.error->code(), ns::URLErrorBadServerResponse);
      EXPECT_EQ(calls.error->userInfo().objectForKey(kHTTPRequestOperationStatusCodeKey).integerValue(), 403);
      // The error page is kept for the error, in memory.
      EXPECT_TRUE(
          calls.error->userInfo().objectForKey(kHTTPRequestOperationResponseBodyKey).data().toString() ==
          c.errorBody);
    }
    if (c.fileAfter) {
      EXPECT_TRUE(nettest::readFile(path) == *c.fileAfter);
    }
  }
}

TEST(HTTPRequestOperation, FailedWriteFailsTheOperationWithTheStreamsError) {
  FakeServer server;
  server.canned("GET", "/body", FakeReply::text(200, nettest::patterned(256 << 10), "video/mp4"));
  auto op = HTTPRequestOperation::initWithRequest(nettest::requestFor(server.URLForPath("/body")));
  op->setOutputStream(ns::OutputStream::outputStreamToFileAtPath_append("/dev/full", false));
  int progressCalls = 0;
  op->setDownloadProgressBlock([&](long, long long, long long) { ++progressCalls; });
  Calls calls;
  recordCalls(op, calls);
  op->start();
  ASSERT_TRUE(nettest::pumpUntilSettled(op));
  EXPECT_EQ(calls.successes, 0);
  ASSERT_EQ(calls.failures, 1);
  auto streamError = op->outputStream()->streamError();
  ASSERT_TRUE(streamError);
  EXPECT_NE(streamError->domain(), ns::NSURLErrorDomain);
  EXPECT_EQ(calls.error->domain(), streamError->domain());
  EXPECT_EQ(calls.error->code(), streamError->code());
  EXPECT_EQ(progressCalls, 0) << "nothing was written";
}

TEST(HTTPRequestOperation, CompletionRunsOnceOffTheMainThreadAndCancelSilencesTheBlocks) {
  FakeServer server;
  server.canned("GET", "/ok", FakeReply::text(200, "ok"));
  server.canned("GET", "/missing", FakeReply::text(404, "missing"));
  server.canned("GET", "/stall", FakeReply::stalled("first part", 1000));
  enum class How { Run, Queue, CancelBeforeStart, CancelMidTransfer, CancelPaused };
  struct Case {
    const char* name;
    const char* path;
    How how;
    int successes;
    int failures;
  } cases[] = {
      {"finished", "/ok", How::Run, 1, 0},
      {"finished in a queue", "/ok", How::Queue, 1, 0},
      {"failed", "/missing", How::Run, 0, 1},
      {"cancelled before start", "/ok", How::CancelBeforeStart, 0, 0},
      {"cancelled mid-transfer", "/stall", How::CancelMidTransfer, 0, 0},
      {"cancelled while paused", "/stall", How::CancelPaused, 0, 0},
  };
  auto queue = ns::make<ns::OperationQueue>();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.clearRequests();
    auto op = HTTPRequestOperation::initWithRequest(nettest::requestFor(server.URLForPath(c.path)));
    Calls calls;
    recordCalls(op, calls);
    std::atomic<int> completions{0};
    std::atomic<bool> offMain{true};
    auto inner = op->completionBlock();
    op->setCompletionBlock([inner = std::move(inner), &completions, &offMain] {
      ++completions;
      if (ns::Thread::isMainThread()) offMain = false;
      inner();
    });
    switch (c.how) {
      case How::Run:
        op->start();
        break;
      case How::Queue:
        queue->addOperation(op);
        break;
      case How::CancelBeforeStart:
        op->cancel();
        op->start();
        break;
      case How::CancelMidTransfer:
      case How::CancelPaused:
        op->start();
        ASSERT_TRUE(pltest::pumpUntil([&] { return op->response() != nullptr; }));
        if (c.how == How::CancelPaused) {
          op->pause();
          ASSERT_TRUE(op->isPaused());
        }
        op->cancel();
        break;
    }
    ASSERT_TRUE(nettest::pumpUntilSettled(op));
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(offMain);
    EXPECT_EQ(calls.successes, c.successes);
    EXPECT_EQ(calls.failures, c.failures);
    if (c.how == How::CancelBeforeStart) {
      EXPECT_EQ(server.requestCount(), 0u);
    }
    if (c.how == How::CancelMidTransfer) {
      ASSERT_TRUE(op->error());
      EXPECT_EQ(op->error()->code(), ns::URLErrorCancelled);
    }
    EXPECT_TRUE(op->isCancelled() == (c.successes + c.failures == 0));
  }
  EXPECT_EQ(queue->operationCount(), 0u);
  server.release();
}

TEST(HTTPRequestOperation, RequestsThatCannotLoadFailWithAnError) {
  struct Case {
    const char* name;
    ns::Ref<ns::URLRequest> request;
    long code;
  } cases[] = {
      {"no request", nullptr, ns::URLErrorBadURL},
      {"no URL", ns::make<ns::URLRequest>(), ns::URLErrorBadURL},
      {"unsupported scheme", nettest::requestFor("gopher://127.0.0.1/x"), ns::URLErrorUnsupportedURL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto op = HTTPRequestOperation::initWithRequest(c.request);
    Calls calls;
    recordCalls(op, calls);
    op->start();
    ASSERT_TRUE(nettest::pumpUntilSettled(op));
    EXPECT_EQ(calls.successes, 0);
    ASSERT_EQ(calls.failures, 1);
    EXPECT_EQ(calls.error->domain(), ns::NSURLErrorDomain);
    EXPECT_EQ(calls.error->code(), c.code);
  }
}
