// Image replies: decoded to their pixel sizes; refused types and undecodable bodies fail.
#include <gtest/gtest.h>

#include <optional>

#include "lib/net/ImageRequestOperation.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/ImageSamples.h"
#include "tests/lib/net/OperationTestSupport.h"

using pltest::FakeReply;
using pltest::FakeServer;

TEST(ImageRequestOperation, DecodesImagesAndFailsOnAnythingElse) {
  auto png = ns::make<ak::Image>(4, 3, std::vector<std::uint8_t>(4 * 3 * 4, 200))->PNGRepresentation();
  ASSERT_TRUE(png);
  FakeServer server;
  server.canned("GET", "/a.png", FakeReply::text(200, png->toString(), "image/png"));
  server.canned("GET", "/b.jpg", FakeReply::text(200, pltest::jpegOf(5, 7, 90).toString(), "image/jpeg"));
  server.canned("GET", "/c.gif", FakeReply::text(200, pltest::gifOf().toString(), "image/gif"));
  server.canned("GET", "/d.txt", FakeReply::text(200, png->toString(), "text/plain"));
  server.canned("GET", "/e.png", FakeReply::text(200, "these are not the bytes of a picture", "image/png"));
  server.canned("GET", "/f.png", FakeReply::text(200, "", "image/png"));
  server.canned("GET", "/g.png", FakeReply::text(404, "missing", "text/html"));
  struct Case {
    const char* path;
    std::size_t width, height;  // 0: a failure is expected
    std::optional<long> code;
  } cases[] = {
      {"/a.png", 4, 3, std::nullopt},
      {"/b.jpg", 5, 7, std::nullopt},
      {"/c.gif", 3, 1, std::nullopt},
      {"/d.txt", 0, 0, ns::URLErrorCannotDecodeContentData},
      {"/e.png", 0, 0, ns::URLErrorCannotDecodeContentData},
      {"/f.png", 0, 0, ns::URLErrorCannotDecodeContentData},
      {"/g.png", 0, 0, ns::URLErrorBadServerResponse},
  };
  // The image views run these operations in a queue and set no callback queues.
  auto queue = ns::make<ns::OperationQueue>();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto op = ImageRequestOperation::initWithRequest(nettest::requestFor(server.URLForPath(c.path)));
    int successes = 0, failures = 0;
    bool onMain = true;
    ns::Ref<ak::Image> image;
    std::optional<ns::Error> error;
    op->setCompletionBlockWithSuccess_failure(
        [&](const ns::Ref<ImageRequestOperation>&, const ns::Ref<ak::Image>& received) {
          ++successes;
          onMain = onMain && ns::Thread::isMainThread();
          image = received;
        },
        [&](const ns::Ref<ImageRequestOperation>&, const ns::Error& received) {
          ++failures;
          onMain = onMain && ns::Thread::isMainThread();
          error = received;
        });
    queue->addOperation(op);
    ASSERT_TRUE(nettest::pumpUntilSettled(op));
    EXPECT_TRUE(onMain);
    if (c.width) {
      EXPECT_EQ(successes, 1);
      EXPECT_EQ(failures, 0);
      ASSERT_TRUE(image);
      EXPECT_EQ(image->size(), (ak::Size{double(c.width), double(c.height)}));
      EXPECT_EQ(op->responseImage(), image) << "made once and kept";
    } else {
      EXPECT_EQ(successes, 0);
      ASSERT_EQ(failures, 1);
      ASSERT_TRUE(error);
      EXPECT_EQ(error->domain(), ns::NSURLErrorDomain);
      EXPECT_EQ(error->code(), *c.code);
      EXPECT_FALSE(op->responseImage());
    }
  }
}
