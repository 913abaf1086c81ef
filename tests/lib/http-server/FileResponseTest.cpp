// The file responses against real files, with a connection that records what they tell it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "lib/http-server/Core/Responses/HTTPAsyncFileResponse.h"
#include "lib/http-server/Core/Responses/HTTPFileResponse.h"
#include "platform/testing/Sandbox.h"
#include "tests/lib/http-server/ServerTestSupport.h"
#include "tests/lib/http-server/TestConnection.h"

namespace httptest {
namespace {

class FileResponseTest : public ::testing::Test {
 protected:
  std::string file(const std::string& name, std::size_t size) {
    auto path = (folder / name).string();
    writeFile(path, patternBytes(size));
    return path;
  }
  pltest::Sandbox sandbox;
  std::filesystem::path folder = sandbox.temporaryFolder("files");
  ns::Ref<ObservingConnection> connection = ns::make<ObservingConnection>();
};

TEST_F(FileResponseTest, SynchronousReadsOffsetsAndEmptyFiles) {
  auto response = HTTPFileResponse::initWithFilePath_forConnection(file("a.bin", 5000), connection);
  ASSERT_TRUE(response);
  EXPECT_EQ(response->contentLength(), 5000u);
  response->setOffset(1000);
  auto piece = response->readDataOfLength(4096);
  ASSERT_TRUE(piece);
  EXPECT_EQ(piece->length(), 4000u);
  EXPECT_EQ(piece->toString(), patternBytes(5000).substr(1000));
  EXPECT_TRUE(response->isDone());
  // Past the end a read is empty, not an end-of-file failure.
  auto more = response->readDataOfLength(4096);
  ASSERT_TRUE(more);
  EXPECT_TRUE(more->empty());
  EXPECT_EQ(response->readDataOfLength(0)->length(), 0u);

  auto empty = HTTPFileResponse::initWithFilePath_forConnection(file("empty.bin", 0), connection);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->contentLength(), 0u);
  EXPECT_TRUE(empty->isDone());
  EXPECT_EQ(connection->availableCount(), 0u);
}

TEST_F(FileResponseTest, SynchronousMissingLinkedAndDeletedFiles) {
  EXPECT_FALSE(HTTPFileResponse::initWithFilePath_forConnection((folder / "none").string(), connection));
  EXPECT_FALSE(HTTPFileResponse::initWithFilePath_forConnection("", connection));

  std::string target = file("target.bin", 10);
  auto link = folder / "link.bin";
  std::filesystem::create_symlink(target, link);
  auto linked = HTTPFileResponse::initWithFilePath_forConnection(link.string(), connection);
  ASSERT_TRUE(linked);
  EXPECT_EQ(linked->filePath(), std::filesystem::canonical(target).string());

  std::string doomed = file("doomed.bin", 100);
  auto response = HTTPFileResponse::initWithFilePath_forConnection(doomed, connection);
  ASSERT_TRUE(response);
  std::filesystem::remove(doomed);
  EXPECT_FALSE(response->readDataOfLength(10));
  EXPECT_TRUE(connection->waitForAbort());
  // Aborted: no further attempt to open.
  writeFile(doomed, "back again");
  EXPECT_FALSE(response->readDataOfLength(10));
}

// The bytes of a file range, read back from its descriptor.
std::string rangeBytes(const DispatchFileRange& range) {
  std::string bytes(static_cast<std::size_t>(range.length), '\0');
  ssize_t n = ::pread(range.file->fd(), bytes.data(), bytes.size(), static_cast<off_t>(range.offset));
  bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return bytes;
}

TEST_F(FileResponseTest, FileRangesOnlyForBytesTheFileHolds) {
  const std::size_t small = HTTPFileResponse::kMinFileRangeLength;
  const std::string content = patternBytes(4 * small + small / 2);
  auto response = HTTPFileResponse::initWithFilePath_forConnection(file("a.bin", content.size()), connection);
  ASSERT_TRUE(response);
  // Ranges and reads share one position.
  auto range = response->fileRangeOfLength(4 * small);
  ASSERT_TRUE(range);
  EXPECT_EQ(range->offset, 0u);
  EXPECT_EQ(range->length, 4 * small);
  EXPECT_EQ(response->offset(), 4 * small);
  // What is left is too little for a range: it is read.
  EXPECT_FALSE(response->fileRangeOfLength(4 * small));
  auto rest = response->readDataOfLength(4 * small);
  ASSERT_TRUE(rest);
  EXPECT_EQ(rest->toString(), content.substr(4 * small));
  EXPECT_TRUE(response->isDone());
  response->setOffset(1000);
  range = response->fileRangeOfLength(2 * small);
  ASSERT_TRUE(range);
  EXPECT_EQ(rangeBytes(*range), content.substr(1000, 2 * small));
  // The range keeps the file open after the response has gone.
  response.reset();
  EXPECT_EQ(rangeBytes(*range), content.substr(1000, 2 * small));

  struct Case {
    const char* name;
    std::size_t createdSize;
    std::size_t sizeAfter;
    bool expectRange;
    std::uint64_t rangeLength;
  };
  for (const Case& c : std::initializer_list<Case>{{"shrunk", 3 * small, 100, false, 0},
                                                   {"grown", 2 * small, 3 * small, true, 2 * small},
                                                   {"same", 3 * small, 3 * small, true, 3 * small},
                                                   {"small", 1000, 1000, false, 0},
                                                   {"empty", 0, 0, false, 0}}) {
    std::string path = file(std::string(c.name) + ".bin", c.createdSize);
    auto r = HTTPFileResponse::initWithFilePath_forConnection(path, connection);
    ASSERT_TRUE(r) << c.name;
    std::filesystem::resize_file(path, c.sizeAfter);
    auto got = r->fileRangeOfLength(1 << 20);
    EXPECT_EQ(got.has_value(), c.expectRange) << c.name;
    if (got) {
      EXPECT_EQ(got->length, c.rangeLength) << c.name;
    }
    if (!got && c.createdSize > c.sizeAfter) {
      // The reads serve what is there, then abort at the early end.
      auto piece = r->readDataOfLength(1 << 20);
      ASSERT_TRUE(piece) << c.name;
      EXPECT_EQ(piece->length(), c.sizeAfter) << c.name;
      EXPECT_FALSE(r->readDataOfLength(1 << 20)) << c.name;
      EXPECT_TRUE(connection->waitForAbort()) << c.name;
    }
  }
}

TEST_F(FileResponseTest, AsynchronousFirstReadIsNothingThenTheBody) {
  auto response = HTTPAsyncFileResponse::initWithFilePath_forConnection(file("a.bin", 5000), connection);
  ASSERT_TRUE(response);
  EXPECT_TRUE(response->isAsynchronous());
  EXPECT_EQ(response->contentLength(), 5000u);
  EXPECT_FALSE(response->readDataOfLength(8192));
  ASSERT_TRUE(connection->waitForAvailable(1));
  auto piece = response->readDataOfLength(8192);
  ASSERT_TRUE(piece);
  EXPECT_EQ(piece->toString(), patternBytes(5000));
  EXPECT_EQ(response->offset(), 5000u);
  EXPECT_TRUE(response->isDone());
  response->connectionDidClose();
  EXPECT_FALSE(response->readDataOfLength(10));
}

TEST_F(FileResponseTest, AsynchronousOffsetPiecesAndEmptyFile) {
  auto response = HTTPAsyncFileResponse::initWithFilePath_forConnection(file("a.bin", 5000), connection);
  ASSERT_TRUE(response);
  response->setOffset(1000);
  EXPECT_FALSE(response->readDataOfLength(4096));
  ASSERT_TRUE(connection->waitForAvailable(1));
  auto piece = response->readDataOfLength(4096);
  ASSERT_TRUE(piece);
  EXPECT_EQ(piece->length(), 4000u);
  EXPECT_EQ(piece->toString(), patternBytes(5000).substr(1000));
  EXPECT_TRUE(response->isDone());
  // Nothing is left: a further request neither reads nor fails.
  EXPECT_FALSE(response->readDataOfLength(4096));

  // Pieces never exceed what was asked for.
  auto stepwise = HTTPAsyncFileResponse::initWithFilePath_forConnection(file("b.bin", 3000), connection);
  std::string collected;
  std::size_t notices = connection->availableCount();
  while (!stepwise->isDone()) {
    ASSERT_FALSE(stepwise->readDataOfLength(1024));
    ASSERT_TRUE(connection->waitForAvailable(++notices));
    auto next = stepwise->readDataOfLength(1024);
    ASSERT_TRUE(next);
    ASSERT_LE(next->length(), 1024u);
    collected += next->toString();
  }
  EXPECT_EQ(collected, patternBytes(3000));

  auto empty = HTTPAsyncFileResponse::initWithFilePath_forConnection(file("empty.bin", 0), connection);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->contentLength(), 0u);
  EXPECT_TRUE(empty->isDone());
}

TEST_F(FileResponseTest, AsynchronousShrunkFileAborts) {
  std::string path = file("shrinks.bin", 5000);
  auto response = HTTPAsyncFileResponse::initWithFilePath_forConnection(path, connection);
  ASSERT_TRUE(response);
  std::filesystem::resize_file(path, 100);
  EXPECT_FALSE(response->readDataOfLength(8192));
  ASSERT_TRUE(connection->waitForAvailable(1));
  auto piece = response->readDataOfLength(8192);
  ASSERT_TRUE(piece);
  EXPECT_EQ(piece->length(), 100u);
  EXPECT_FALSE(response->readDataOfLength(8192));
  EXPECT_TRUE(connection->waitForAbort());
  EXPECT_FALSE(response->isDone());
}

}  // namespace
}  // namespace httptest
