// The resumable download operation against a loopback origin: what each reply does to the
// partial file, the Range header it sends, the file step and pause/resume. Real files, the real
// network thread and the main run loop.
#include "app/cache/PelCacheOperation.h"

#include <gtest/gtest.h>

#include "platform/core/Exception.h"
#include "platform/net/URL.h"
#include "platform/testing/Pump.h"
#include "tests/app/cache/CacheTestKit.h"

namespace {

using cachetest::exists;
using cachetest::mediaBody;
using cachetest::readFile;
using cachetest::writeFile;

constexpr std::size_t kResourceSize = 5000;

struct Outcome {
  bool finished = false;
  bool failed = false;
  long status = 0;
};

ns::Ref<ns::URLRequest> requestFor(const pltest::FakeServer& server, const std::string& path) {
  return ns::URLRequest::requestWithURL(ns::URL::URLWithString(server.URLForPath(path)));
}

// Sets the operation's success and failure blocks to record how it ended.
std::shared_ptr<Outcome> recordOutcome(const ns::Ref<PelCacheOperation>& op) {
  auto outcome = std::make_shared<Outcome>();
  op->setCompletionBlockWithSuccess_failure(
      [outcome](const ns::Ref<HTTPRequestOperation>& op, const std::optional<ns::Data>&) {
        outcome->status = op->response() ? op->response()->statusCode() : 0;
        outcome->finished = true;
      },
      [outcome](const ns::Ref<HTTPRequestOperation>& op, const ns::Error&) {
        outcome->status = op->response() ? op->response()->statusCode() : 0;
        outcome->failed = true;
        outcome->finished = true;
      });
  return outcome;
}

// Starts the operation and pumps the main run loop until its success or failure block ran.
Outcome run(const ns::Ref<PelCacheOperation>& op) {
  auto outcome = recordOutcome(op);
  op->start();
  EXPECT_TRUE(pltest::pumpUntil([&] { return outcome->finished; }, 30));
  return *outcome;
}

class PelCacheOperationTest : public ::testing::Test {
 protected:
  cachetest::CacheSandbox home;
  pltest::FakeServer origin;
  std::string resource = mediaBody(kResourceSize);
  std::string tempPath = home.temp("op.mp4");
  std::string targetPath = home.cache("op.mp4");
};

// What a reply does to a partial file, row by row.
struct ReplyCase {
  const char* name;
  std::size_t partialSize;  // 0: no partial file
  std::function<pltest::FakeReply(const std::string& resource)> reply;
  const char* expectedRange;  // "" for no Range header
  enum { Equal, Untouched, Deleted } file;
  bool fails;
  std::int64_t offset;
  std::int64_t total;
};

TEST_F(PelCacheOperationTest, EachReplyLeavesThePartialFileAsItShould) {
  auto whole = [](const std::string& r) { return pltest::FakeReply::text(200, r, "video/mp4"); };
  auto ignoringRange = [](const std::string& r) {
    auto reply = pltest::FakeReply::text(200, r, "video/mp4");
    reply.honourRanges = false;
    return reply;
  };
  auto status = [](int code) {
    return [code](const std::string&) { return pltest::FakeReply::text(code, "refused: not media"); };
  };
  auto partialReply = [](const char* contentRange, std::size_t from) {
    return [contentRange, from](const std::string& r) {
      auto reply = pltest::FakeReply::text(206, r.substr(from), "video/mp4");
      reply.honourRanges = false;
      if (*contentRange) reply.header("Content-Range", contentRange);
      return reply;
    };
  };
  const ReplyCase cases[] = {
      {"no partial", 0, whole, "", ReplyCase::Equal, false, 0, 5000},
      {"one-byte partial", 1, whole, "", ReplyCase::Equal, false, 0, 5000},
      {"1000-byte partial resumed", 1000, whole, "bytes=999-", ReplyCase::Equal, false, 999, 5000},
      {"200 to the range rewrites", 1000, ignoringRange, "bytes=999-", ReplyCase::Equal, false, 0, 5000},
      {"403 leaves the partial", 1000, status(403), "bytes=999-", ReplyCase::Untouched, true, 0, 0},
      {"500 leaves the partial", 1000, status(500), "bytes=999-", ReplyCase::Untouched, true, 0, 0},
      {"416: partial longer than the resource", 6000, whole, "bytes=5999-", ReplyCase::Deleted, true, 0, 0},
      {"206 beyond the end of the file", 1000, partialReply("bytes 3000-4999/5000", 3000), "bytes=999-",
       ReplyCase::Deleted, true, 0, 0},
      {"206 without a readable Content-Range", 1000, partialReply("bytes */5000", 999), "bytes=999-",
       ReplyCase::Untouched, true, 0, 0},
      {"206 without Content-Range", 1000, partialReply("", 999), "bytes=999-", ReplyCase::Untouched, true, 0,
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(tempPath);
    std::filesystem::remove(targetPath);
    // The partial holds the resource's bytes, and past its end bytes it does not have.
    std::string partial = (resource + mediaBody(2000, 7)).substr(0, c.partialSize);
    if (c.partialSize > 0) writeFile(tempPath, partial);
    origin.clearRequests();
    auto reply = c.reply(resource);
    origin.route("GET", "/media", [reply](const pltest::FakeRequest&) { return reply; });

    auto op = PelCacheOperation::initWithRequest_targetPath_tempPath(requestFor(origin, "/media"), targetPath,
                                                                     tempPath);
    ASSERT_TRUE(op);
    Outcome outcome = run(op);
    EXPECT_EQ(outcome.failed, c.fails);
    auto ranges = cachetest::rangesOf(origin, "/media");
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0], c.expectedRange);
    switch (c.file) {
      case ReplyCase::Equal:
        EXPECT_EQ(readFile(tempPath), resource);
        EXPECT_EQ(op->offsetContentLength(), c.offset);
        EXPECT_EQ(op->totalContentLength(), c.total);
        EXPECT_TRUE(op->moveFile());
        EXPECT_EQ(readFile(targetPath), resource);
        EXPECT_FALSE(exists(tempPath));
        break;
      case ReplyCase::Untouched:
        EXPECT_EQ(readFile(tempPath), partial);
        EXPECT_TRUE(op->error().has_value());
        break;
      case ReplyCase::Deleted:
        EXPECT_FALSE(exists(tempPath));
        break;
    }
    // A failed reply never puts anything at the target.
    if (c.fails) {
      EXPECT_FALSE(exists(targetPath));
    }
  }
}

TEST_F(PelCacheOperationTest, MissingRequestOrTargetIsAMisuse) {
  auto request = requestFor(origin, "/media");
  struct Misuse {
    const char* name;
    std::function<void()> call;
    const char* reason;
  };
  const Misuse misuses[] = {
      {"no target",
       [&] { PelCacheOperation::initWithRequest_targetPath_tempPath(request, std::nullopt, tempPath); },
       "Invalid parameter not satisfying: targetPath != nil && urlRequest != nil"},
      {"no request",
       [&] { PelCacheOperation::initWithRequest_targetPath_tempPath(nullptr, targetPath, tempPath); },
       "Invalid parameter not satisfying: targetPath != nil && urlRequest != nil"},
      {"no request, no target form", [&] { PelCacheOperation::initWithRequest_tempPath(nullptr, tempPath); },
       "Invalid parameter not satisfying: urlRequest != nil"},
  };
  for (const auto& m : misuses) {
    SCOPED_TRACE(m.name);
    try {
      m.call();
      ADD_FAILURE() << "no exception";
    } catch (const ns::Exception& e) {
      EXPECT_EQ(e.reason(), m.reason);
    }
  }
}

TEST_F(PelCacheOperationTest, TheFileStepFollowsTheTarget) {
  origin.canned("GET", "/media", pltest::FakeReply::text(200, resource, "video/mp4"));
  // Without a target the file stays where it is.
  auto stays = PelCacheOperation::initWithRequest_tempPath(requestFor(origin, "/media"), tempPath);
  ASSERT_FALSE(run(stays).failed);
  EXPECT_TRUE(stays->dontMoveFile());
  EXPECT_TRUE(stays->moveFile());
  EXPECT_EQ(readFile(tempPath), resource);
  EXPECT_EQ(stays->responseObject(), tempPath);

  // With one, responseObject moves it once, replacing nothing else.
  std::filesystem::remove(tempPath);
  auto moves = PelCacheOperation::initWithRequest_targetPath_tempPath(requestFor(origin, "/media"),
                                                                      targetPath, tempPath);
  ASSERT_FALSE(run(moves).failed);
  EXPECT_EQ(moves->responseObject(), targetPath);
  EXPECT_EQ(moves->responseObject(), targetPath);
  EXPECT_EQ(readFile(targetPath), resource);
  // Nothing left to move: moveFile says so.
  EXPECT_FALSE(moves->moveFile());
  EXPECT_TRUE(moves->deleteTempFileWithError(nullptr));

  // A cancelled operation asked to clean up deletes its partial file and has no result.
  origin.canned("GET", "/stalled", pltest::FakeReply::stalled(resource.substr(0, 1000), 5000));
  auto cancelled = PelCacheOperation::initWithRequest_tempPath(requestFor(origin, "/stalled"), tempPath);
  cancelled->setDeleteTempFileOnCancel(true);
  cancelled->start();
  ASSERT_TRUE(pltest::pumpUntil([&] { return PelCacheOperation::fileSizeForPath(tempPath) == 1000; }));
  cancelled->cancel();
  ASSERT_TRUE(pltest::pumpUntil([&] { return cancelled->isFinished(); }));
  EXPECT_EQ(cancelled->responseObject(), std::nullopt);
  EXPECT_FALSE(exists(tempPath));
  origin.release();
}

TEST_F(PelCacheOperationTest, APausedOperationResumesFromItsFile) {
  std::string big = mediaBody(4 << 20, 3);
  origin.route("GET", "/big", [big](const pltest::FakeRequest& request) {
    if (request.header("Range")) return pltest::FakeReply::text(200, big, "video/mp4");
    return pltest::FakeReply::trickle(big, 64 << 10, std::chrono::milliseconds(20));
  });
  auto op = PelCacheOperation::initWithRequest_tempPath(requestFor(origin, "/big"), tempPath);
  auto outcome = recordOutcome(op);
  op->start();
  ASSERT_TRUE(
      pltest::pumpUntil([&] { return PelCacheOperation::fileSizeForPath(tempPath) >= (256u << 10); }, 30));
  op->pause();
  auto held = PelCacheOperation::fileSizeForPath(tempPath);
  // Nothing more reaches the file once pause returned.
  EXPECT_EQ(readFile(tempPath), big.substr(0, held));
  EXPECT_EQ(op->request()->valueForHTTPHeaderField("Range"), "bytes=" + std::to_string(held - 1) + "-");
  op->resume();
  ASSERT_TRUE(pltest::pumpUntil([&] { return outcome->finished; }, 30));
  EXPECT_FALSE(outcome->failed);
  EXPECT_EQ(op->offsetContentLength(), static_cast<std::int64_t>(held - 1));
  EXPECT_EQ(op->totalContentLength(), static_cast<std::int64_t>(big.size()));
  EXPECT_TRUE(readFile(tempPath) == big);
}

// The body is written on the thread it arrives on while pauses come from another: a pause that
// lands among the writes of a fast reply leaves the file as long as what was written, and every
// resume goes on from there to the last byte.
TEST_F(PelCacheOperationTest, PausesAmidAFastReplyWriteNothingAfterThemAndTheFileEndsWhole) {
  const std::string big = mediaBody(64 << 20, 5);
  origin.route("GET", "/fast", [big](const pltest::FakeRequest& request) {
    auto range = request.header("Range");
    if (!range) return pltest::FakeReply::text(200, big, "video/mp4");
    std::size_t from = std::stoull(range->substr(6));
    auto reply = pltest::FakeReply::text(206, big.substr(from), "video/mp4");
    reply.header("Content-Range", "bytes " + std::to_string(from) + "-" + std::to_string(big.size() - 1) +
                                      "/" + std::to_string(big.size()));
    return reply;
  });
  auto op = PelCacheOperation::initWithRequest_tempPath(requestFor(origin, "/fast"), tempPath);
  auto outcome = recordOutcome(op);
  op->start();
  int pauses = 0;
  for (std::uint64_t from = 0; pauses < 8; ++pauses) {
    ASSERT_TRUE(pltest::pumpUntil(
        [&] { return op->isFinished() || PelCacheOperation::fileSizeForPath(tempPath) >= from + (1u << 20); },
        30));
    if (op->isFinished()) break;
    op->pause();
    auto held = PelCacheOperation::fileSizeForPath(tempPath);
    EXPECT_TRUE(readFile(tempPath) == big.substr(0, held)) << "pause " << pauses;
    EXPECT_EQ(op->request()->valueForHTTPHeaderField("Range"), "bytes=" + std::to_string(held - 1) + "-");
    from = held;
    op->resume();
  }
  ASSERT_TRUE(pltest::pumpUntil([&] { return outcome->finished; }, 60));
  EXPECT_FALSE(outcome->failed);
  EXPECT_GT(pauses, 0);
  EXPECT_EQ(op->totalContentLength(), static_cast<std::int64_t>(big.size()));
  EXPECT_TRUE(readFile(tempPath) == big);
}

}  // namespace
