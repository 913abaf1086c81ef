// ETags and the reply cache, and downloads into files.
#include "platform/testing/ErrorMatch.h"
#include "tests/lib/google/FetcherTestSupport.h"

#include <sys/stat.h>

#include "lib/google/NetHTTPFetcherService.h"
#include "lib/google/NetURLCache.h"
#include "platform/foundation/FileHandle.h"

using namespace fetchertest;
using pltest::FakeReply;

namespace {

class FetcherETag : public FetcherTest {
 protected:
  FetcherETag() {
    server_.route("GET", "/e", [](const pltest::FakeRequest& r) {
      if (r.header("If-None-Match") == "\"v1\"") return FakeReply::text(304, "");
      return FakeReply::text(200, "payload").header("ETag", "\"v1\"");
    });
  }
};

TEST_F(FetcherETag, ANotModifiedReplyIsServedFromTheCache) {
  auto service = ns::make<NetHTTPFetcherService>();
  service->setShouldCacheETaggedData(true);
  EXPECT_TRUE(service->shouldRememberETags());
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    Outcome outcome;
    auto fetcher = service->fetcherWithURLString(url("/e"));
    ASSERT_TRUE(fetchToEnd(fetcher, outcome));
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(outcome.body(), "payload");
    EXPECT_EQ(fetcher->statusCode(), round == 0 ? 200 : 304);
  }
  auto requests = requestsTo("/e");
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].header("If-None-Match"), std::nullopt);
  EXPECT_EQ(requests[1].header("If-None-Match"), "\"v1\"");
}

TEST_F(FetcherETag, DefaultSettingsNeverSendAnETag) {
  auto service = ns::make<NetHTTPFetcherService>();
  for (int round = 0; round < 2; ++round) {
    Outcome outcome;
    ASSERT_TRUE(service->fetcherWithURLString(url("/e"))->beginFetchWithCompletionHandler(outcome.block()));
    ASSERT_TRUE(pltest::pumpUntil([&] { return outcome.finished == 1; }));
  }
  for (const auto& r : requestsTo("/e")) EXPECT_EQ(r.header("If-None-Match"), std::nullopt);
  EXPECT_TRUE(service->fetchHistory()->etaggedDataCache()->responses().empty());
}

ns::Ref<NetCachedURLResponse> entry(std::size_t length) {
  auto response = ns::make<ns::HTTPURLResponse>(ns::URL::URLWithString("https://h.test/"), 200, "HTTP/1.1",
                                                ns::HTTPHeaderFields{{"ETag", "x"}});
  return ns::make<NetCachedURLResponse>(response, ns::Data(std::string(length, 'b')));
}

ns::Ref<ns::URLRequest> requestFor(const std::string& name) {
  return ns::URLRequest::requestWithURL(ns::URL::URLWithString("https://h.test/" + name));
}

TEST(NetURLCacheLimits, ABodyOfExactlyTheCapacityIsNotCached) {
  pltest::Sandbox sandbox;
  auto cache = NetURLCache::initWithMemoryCapacity(10);
  cache->storeCachedResponse_forRequest(entry(10), requestFor("full"));
  EXPECT_FALSE(cache->cachedResponseForRequest(requestFor("full")));
  cache->storeCachedResponse_forRequest(entry(9), requestFor("fits"));
  EXPECT_TRUE(cache->cachedResponseForRequest(requestFor("fits")));
  EXPECT_EQ(cache->totalDataSize(), 9u);
  cache->setMemoryCapacity(5);
  EXPECT_EQ(cache->totalDataSize(), 0u) << "lowering the capacity prunes";
}

TEST(NetURLCacheLimits, AReservedEntrySurvivesPruningForAMinute) {
  pltest::Sandbox sandbox;
  pltest::VirtualClock clock;
  auto cache = NetURLCache::initWithMemoryCapacity(10);
  auto oldest = entry(4);
  cache->storeCachedResponse_forRequest(oldest, requestFor("a"));
  clock.advance(1);
  cache->storeCachedResponse_forRequest(entry(4), requestFor("b"));
  oldest->setReservationDate(ns::Date::now());
  clock.advance(1);
  cache->storeCachedResponse_forRequest(entry(4), requestFor("c"));
  auto kept = cache->responses();
  EXPECT_TRUE(kept.count("https://h.test/a")) << "reserved, though the oldest";
  EXPECT_FALSE(kept.count("https://h.test/b"));
  EXPECT_TRUE(kept.count("https://h.test/c"));

  clock.advance(61);
  cache->storeCachedResponse_forRequest(entry(4), requestFor("d"));
  kept = cache->responses();
  EXPECT_FALSE(kept.count("https://h.test/a")) << "the reservation has lapsed";
  EXPECT_EQ(cache->totalDataSize(), 8u);
}

class FetcherDownload : public FetcherTest {};

TEST_F(FetcherDownload, ABodyLandsAtTheDownloadPathReplacingTheFileThere) {
  std::string body(1 << 20, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 31 + i / 997) & 0xff);
  server_.canned("GET", "/big", FakeReply::text(200, body, "application/octet-stream"));
  auto folder = sandbox_.temporaryFolder("downloads");
  auto target = folder / "video.bin";
  std::ofstream(target) << "old contents";

  auto fetcher = fetcherFor("/big");
  fetcher->setDownloadPath(target.string());
  std::uint64_t lastLength = 0;
  bool sawNilData = true;
  fetcher->setReceivedDataBlock([&](const std::optional<ns::Data>& soFar) {
    sawNilData = sawNilData && !soFar;
    lastLength = fetcher->downloadedLength();
  });
  Outcome outcome;
  ASSERT_TRUE(fetcher->beginFetchWithCompletionHandler(outcome.block()));
  auto temporary = fetcher->temporaryDownloadPath();
  ASSERT_TRUE(temporary);
  struct stat st {};
  ASSERT_EQ(::stat(temporary->c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_TRUE(pltest::pumpUntil([&] { return outcome.finished == 1; }));
  EXPECT_FALSE(outcome.error) << outcome.error->description();
  EXPECT_FALSE(outcome.data) << "the body went into the file";
  EXPECT_TRUE(sawNilData);
  EXPECT_EQ(lastLength, body.size());
  EXPECT_TRUE(readFile(target) == body);
  EXPECT_TRUE(filesNamed(sandbox_.root(), "nethttpfetcher_").empty());
  EXPECT_TRUE(filesNamed(sandbox_.root(), ".TemporaryItems").empty());
  EXPECT_FALSE(fetcher->temporaryDownloadPath());
}

TEST_F(FetcherDownload, AnUnwritableHandleEndsWithTheWriteErrorAndNoTemporaryFile) {
  server_.canned("GET", "/full", FakeReply::text(200, std::string(64 * 1024, 'z')));
  auto fetcher = fetcherFor("/full");
  auto handle = ns::FileHandle::fileHandleForWritingAtPath("/dev/full");
  ASSERT_TRUE(handle);
  fetcher->setDownloadFileHandle(handle);
  Outcome outcome;
  ASSERT_TRUE(fetchToEnd(fetcher, outcome));
  ASSERT_TRUE(pltest::isError(outcome.error, NetHTTPStatusErrorDomain, -4));
  EXPECT_FALSE(outcome.error->localizedDescription().empty());
  EXPECT_FALSE(outcome.data);
  EXPECT_TRUE(filesNamed(sandbox_.root(), "nethttpfetcher_").empty());
}

TEST_F(FetcherDownload, AFailedMoveLeavesWhatWasAtTheDownloadPath) {
  server_.canned("GET", "/f", FakeReply::text(200, "new"));
  auto folder = sandbox_.temporaryFolder("occupied");
  // A folder at the download path cannot be replaced by a file.
  auto target = folder / "target";
  std::filesystem::create_directories(target);
  std::ofstream(target / "keep.txt") << "keep";
  auto fetcher = fetcherFor("/f");
  fetcher->setDownloadPath(target.string());
  Outcome outcome;
  ASSERT_TRUE(fetchToEnd(fetcher, outcome));
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->domain(), ns::NSPOSIXErrorDomain);
  EXPECT_EQ(readFile(target / "keep.txt"), "keep");
  EXPECT_TRUE(filesNamed(sandbox_.root(), "nethttpfetcher_").empty());
}

TEST_F(FetcherDownload, AFailedStatusDeletesTheTemporaryFileAndKeepsTheOldOne) {
  server_.canned("GET", "/missing", FakeReply::text(404, "not here"));
  auto target = sandbox_.temporaryFolder("dl") / "file";
  std::ofstream(target) << "old";
  auto fetcher = fetcherFor("/missing");
  fetcher->setDownloadPath(target.string());
  Outcome outcome;
  ASSERT_TRUE(fetchToEnd(fetcher, outcome));
  EXPECT_EQ(outcome.error->code(), 404);
  EXPECT_EQ(readFile(target), "old");
  EXPECT_TRUE(filesNamed(sandbox_.root(), "nethttpfetcher_").empty());
}

}  // namespace
