// The resumable upload fetcher against the fake Data API's resumable endpoint over HTTPS, and
// the service's upload path.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "lib/google/ApiUploadParameters.h"
#include "lib/google/NetHTTPUploadFetcher.h"
#include "platform/foundation/FileHandle.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/testing/ErrorMatch.h"
#include "tests/lib/google/ServiceTestSupport.h"

namespace {

using pltest::FakeReply;
using servicetest::Delivery;
using testsupport::FakeDataAPI;

constexpr char kUploadURL[] = "https://www.googleapis.com/upload/rpc?uploadType=resumable&prettyPrint=false";
constexpr char kCall[] =
    R"({"jsonrpc":"2.0","id":"gtl_1","method":"youtube.thumbnails.set","params":{"videoId":"v1"}})";

std::string patterned(std::size_t size) {
  std::string out(size, '\0');
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * 131 + i / 997) & 0xff);
  return out;
}

// Everything an upload calls back.
struct Record {
  int finished = 0;
  std::optional<ns::Data> data;
  std::optional<ns::Error> error;
  std::vector<std::string> locations;  // "" for nil
  std::int64_t lastSent = 0, lastExpected = 0;

  void attach(const ns::Ref<NetHTTPUploadFetcher>& upload) {
    upload->setLocationChangeBlock(
        [this](const ns::Ref<ns::URL>& url) { locations.push_back(url ? url->absoluteString() : ""); });
    upload->setSentDataBlock([this](std::int64_t, std::int64_t total, std::int64_t expected) {
      lastSent = total;
      lastExpected = expected;
    });
  }
  NetHTTPFetcher::CompletionBlock block() {
    return [this](const std::optional<ns::Data>& d, const std::optional<ns::Error>& e) {
      ++finished;
      data = d;
      error = e;
    };
  }
};

class UploadFetcherTest : public servicetest::ServiceTest {
 protected:
  static ns::Ref<ns::URLRequest> initialRequest() {
    auto request = ns::URLRequest::requestWithURL(ns::URL::URLWithString(kUploadURL));
    request->setValue_forHTTPHeaderField("application/json", "Content-Type");
    return request;
  }
  ns::Ref<NetHTTPUploadFetcher> dataUpload(const std::string& body, std::uint64_t chunkSize,
                                           const std::string& type = "image/png",
                                           ns::Ref<ns::URLRequest> request = initialRequest()) {
    auto upload =
        NetHTTPUploadFetcher::uploadFetcherWithRequest_uploadData_uploadMIMEType_chunkSize_fetcherService(
            request, ns::Data(body), type, chunkSize, nullptr);
    upload->setPostData(ns::Data(kCall));
    return upload;
  }
  // The file at `path` as a video in chunks of a million bytes.
  static ns::Ref<NetHTTPUploadFetcher> fileUpload(const std::string& path) {
    auto upload = NetHTTPUploadFetcher::
        uploadFetcherWithRequest_uploadFileHandle_uploadMIMEType_chunkSize_fetcherService(
            initialRequest(), ns::FileHandle::fileHandleForReadingAtPath(path), "video/mp4", 1000000,
            nullptr);
    upload->setPostData(ns::Data(kCall));
    return upload;
  }
  std::vector<pltest::FakeRequest> puts() {
    std::vector<pltest::FakeRequest> out;
    for (auto& r : api_.server().requests())
      if (r.method == "PUT") out.push_back(r);
    return out;
  }
  std::vector<std::string> ranges() {
    std::vector<std::string> out;
    for (auto& r : puts()) out.push_back(r.header("Content-Range").value_or("?"));
    return out;
  }
  void finish(Record& record) {
    ASSERT_TRUE(pltest::pumpUntil([&] { return record.finished > 0; }, 30));
    servicetest::drainRunLoop();
  }
  // Begins the upload and finishes it as above.
  void run(const ns::Ref<NetHTTPUploadFetcher>& upload, Record& record) {
    ASSERT_TRUE(upload->beginFetchWithCompletionHandler(record.block()));
    finish(record);
  }
  std::string writeFile(const std::string& name, const std::string& bytes) {
    auto path = std::filesystem::path(sandbox_.home()) / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
};

TEST_F(UploadFetcherTest, BodiesGoInChunksWithTheRemainderJoiningTheLast) {
  struct Case {
    std::size_t size;
    std::vector<std::string> ranges;
  } cases[] = {
      {1002000, {"bytes 0-1001999/1002000"}},
      {2001000, {"bytes 0-999999/2001000", "bytes 1000000-2000999/2001000"}},
      {2003000, {"bytes 0-999999/2003000", "bytes 1000000-1999999/2003000", "bytes 2000000-2002999/2003000"}},
      {0, {"bytes */0"}},
  };
  for (const auto& c : cases) {
    api_.server().clearRequests();
    std::string body = patterned(c.size);
    auto upload = dataUpload(body, 1000000);
    Record record;
    record.attach(upload);
    run(upload, record);
    EXPECT_EQ(record.finished, 1);
    ASSERT_FALSE(record.error) << record.error->description();

    auto posts = api_.posts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].target, "/upload/rpc?uploadType=resumable&prettyPrint=false");
    EXPECT_EQ(posts[0].header("X-Upload-Content-Length"), std::to_string(c.size));
    EXPECT_EQ(posts[0].header("X-Upload-Content-Type"), "image/png");
    EXPECT_EQ(posts[0].body, kCall);
    EXPECT_EQ(ranges(), c.ranges) << c.size;
    for (auto& put : puts()) {
      EXPECT_EQ(put.header("Content-Type"), "image/png");
      EXPECT_EQ(put.header("Content-Length"), std::to_string(put.body.size()));
    }
    auto uploads = api_.uploads();
    ASSERT_FALSE(uploads.empty());
    EXPECT_EQ(uploads.back().received, body);
    EXPECT_TRUE(uploads.back().complete);
    ASSERT_TRUE(record.data);
    EXPECT_EQ(upload->downloadedData(), record.data);
    EXPECT_NE(record.data->toString().find("youtube#thumbnailSetResponse"), std::string::npos);
    // The location from the reply, then cleared once the upload is done.
    ASSERT_EQ(record.locations.size(), 2u);
    EXPECT_EQ(record.locations[0], std::string("https://www.googleapis.com") + uploads.back().location);
    EXPECT_EQ(record.locations[1], "");
    EXPECT_FALSE(upload->locationURL());
    if (c.size > 0) {
      EXPECT_EQ(record.lastSent, static_cast<std::int64_t>(c.size + std::strlen(kCall)));
      EXPECT_EQ(record.lastExpected, static_cast<std::int64_t>(c.size + std::strlen(kCall)));
    }
    EXPECT_EQ(upload->statusCode(), 200);
  }
}

TEST_F(UploadFetcherTest, A308WithoutRangeRestartsAndANewLocationSwitchesTarget) {
  std::string body = patterned(2001000);
  {
    api_.scriptUploadFault(FakeDataAPI::UploadFault::NoRange308);
    auto upload = dataUpload(body, 1000000);
    Record record;
    run(upload, record);
    ASSERT_FALSE(record.error);
    EXPECT_EQ(ranges(), (std::vector<std::string>{"bytes 0-999999/2001000", "bytes 0-999999/2001000",
                                                  "bytes 1000000-2000999/2001000"}));
    EXPECT_EQ(api_.uploads().back().received, body);
  }
  api_.server().clearRequests();
  {
    api_.scriptUploadFault(FakeDataAPI::UploadFault::NewLocation);
    auto upload = dataUpload(body, 1000000);
    Record record;
    record.attach(upload);
    run(upload, record);
    ASSERT_FALSE(record.error);
    auto sent = puts();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_NE(sent[0].path, sent[1].path);
    EXPECT_EQ(api_.uploads().back().location, sent[1].path);
    EXPECT_EQ(api_.uploads().back().received, body);
    ASSERT_EQ(record.locations.size(), 3u);
    EXPECT_EQ(record.locations[1], "https://www.googleapis.com" + sent[1].path);
    EXPECT_EQ(record.locations[2], "");
  }
}

TEST_F(UploadFetcherTest, ADroppedChunkIsRetriedAsAStatusQueryAndResumesAtTheServersRange) {
  pltest::VirtualClock clock;
  std::string body = patterned(2001000);
  api_.scriptUploadFault(FakeDataAPI::UploadFault::DropMidChunk);
  auto upload = dataUpload(body, 1000000);
  upload->setRetryEnabled(true);
  std::vector<std::pair<bool, long>> asked;
  upload->setRetryBlock([&](bool willRetry, const ns::Error& error) {
    asked.emplace_back(willRetry, error.code());
    return willRetry;
  });
  Record record;
  ASSERT_TRUE(upload->beginFetchWithCompletionHandler(record.block()));
  // The retry waits on the virtual clock.
  for (int i = 0; i < 200 && record.finished == 0; ++i) {
    pltest::pumpUntil([&] { return record.finished > 0; }, 0.05);
    clock.advance(0.5);
  }
  finish(record);
  ASSERT_FALSE(record.error) << record.error->description();
  EXPECT_EQ(asked, (std::vector<std::pair<bool, long>>{{true, ns::URLErrorNetworkConnectionLost}}));
  EXPECT_EQ(ranges(),
            (std::vector<std::string>{"bytes 0-999999/2001000", "bytes */2001000",
                                      "bytes 500000-1499999/2001000", "bytes 1500000-2000999/2001000"}));
  EXPECT_EQ(puts()[1].body, "");
  EXPECT_EQ(puts()[1].header("Content-Length"), "0");
  EXPECT_EQ(api_.uploads().back().received, body);
}

TEST_F(UploadFetcherTest, PauseThenResumeAsksTheServerFirst) {
  std::string body = patterned(1001000);
  auto upload = dataUpload(body, 1000000);
  Record record;
  // Paused as soon as the location is known: no chunk goes out.
  upload->setLocationChangeBlock([&](const ns::Ref<ns::URL>& url) {
    record.locations.push_back(url ? url->absoluteString() : "");
    if (record.locations.size() == 1) upload->pauseFetching();
  });
  ASSERT_TRUE(upload->beginFetchWithCompletionHandler(record.block()));
  ASSERT_TRUE(pltest::pumpUntil([&] { return !record.locations.empty(); }));
  servicetest::drainRunLoop();
  EXPECT_TRUE(upload->isPaused());
  EXPECT_TRUE(puts().empty());
  EXPECT_EQ(record.finished, 0);
  upload->resumeFetching();
  EXPECT_FALSE(upload->isPaused());
  finish(record);
  ASSERT_FALSE(record.error);
  EXPECT_EQ(ranges(), (std::vector<std::string>{"bytes */1001000", "bytes 0-1000999/1001000"}));
  EXPECT_EQ(puts()[0].body, "");
  EXPECT_EQ(api_.uploads().back().received, body);
}

TEST_F(UploadFetcherTest, AFailedChunkKeepsTheLocationAndARestartedUploadContinuesFromTheRange) {
  std::string body = patterned(1200000);
  auto path = writeFile("movie.bin", body);
  api_.scriptUploadFault(FakeDataAPI::UploadFault::DropMidChunk);
  auto first = fileUpload(path);
  Record failed;
  failed.attach(first);
  run(first, failed);
  ASSERT_TRUE(pltest::isError(failed.error, NetHTTPStatusErrorDomain, ns::URLErrorNetworkConnectionLost));
  ASSERT_TRUE(first->locationURL());
  EXPECT_EQ(failed.locations.size(), 1u);  // never cleared
  EXPECT_EQ(api_.uploads().back().received.size(), 500000u);

  api_.server().clearRequests();
  auto restarted = NetHTTPUploadFetcher::
      uploadFetcherWithLocation_uploadFileHandle_uploadMIMEType_chunkSize_fetcherService(
          first->locationURL(), ns::FileHandle::fileHandleForReadingAtPath(path), "video/mp4", 1000000,
          nullptr);
  EXPECT_TRUE(restarted->isRestartedUpload());
  Record record;
  run(restarted, record);
  ASSERT_FALSE(record.error) << record.error->description();
  EXPECT_TRUE(api_.posts().empty());
  EXPECT_EQ(ranges(), (std::vector<std::string>{"bytes */1200000", "bytes 500000-1199999/1200000"}));
  EXPECT_EQ(api_.uploads().back().received, body);
}

TEST_F(UploadFetcherTest, AFailedInitialRequestReachesTheCallerOnce) {
  api_.server().canned("POST", "/cut", FakeReply::cutShort("{", 50));
  struct Case {
    std::string name;
    std::function<ns::Ref<ns::URLRequest>()> request;
    std::string domain;
    long code;
  } cases[] = {
      {"status", [] { return initialRequest(); }, NetHTTPStatusErrorDomain, 400},
      {"connection",
       [] {
         return ns::URLRequest::requestWithURL(ns::URL::URLWithString("https://www.googleapis.com/cut"));
       },
       ns::NSURLErrorDomain, ns::URLErrorNetworkConnectionLost},
  };
  for (const auto& c : cases) {
    api_.scriptUploadFault(FakeDataAPI::UploadFault::InitialError);
    auto upload = dataUpload("abc", 1000000, "text/plain", c.request());
    Record record;
    record.attach(upload);
    // The delegate's selector also runs once.
    struct Delegate : ns::Object {
      int calls = 0;
      void done(const ns::Ref<NetHTTPFetcher>&, const std::optional<ns::Data>&,
                const std::optional<ns::Error>&) {
        ++calls;
      }
    };
    auto delegate = ns::make<Delegate>();
    ASSERT_TRUE(upload->beginFetchWithDelegate_didFinishSelector(
        delegate, NetHTTPFetcher::FinishedSelector::of("fetcher:finishedWithData:error:", &Delegate::done)));
    ASSERT_TRUE(pltest::pumpUntil([&] { return delegate->calls > 0; }, 30)) << c.name;
    servicetest::drainRunLoop();
    servicetest::drainRunLoop();
    EXPECT_EQ(delegate->calls, 1) << c.name;
    EXPECT_TRUE(puts().empty());
    EXPECT_TRUE(record.locations.empty()) << c.name;
  }
  for (const auto& c : cases) {
    api_.scriptUploadFault(FakeDataAPI::UploadFault::InitialError);
    auto upload = dataUpload("abc", 1000000, "text/plain", c.request());
    Record record;
    run(upload, record);
    servicetest::drainRunLoop();
    EXPECT_EQ(record.finished, 1) << c.name;
    ASSERT_TRUE(pltest::isError(record.error, c.domain, c.code)) << c.name;
  }
}

TEST_F(UploadFetcherTest, AFileTruncatedDuringTheUploadEndsItWithAnErrorAndKeepsTheLocation) {
  std::string body = patterned(2001000);
  auto path = writeFile("shrinking.bin", body);
  auto upload = fileUpload(path);
  Record record;
  upload->setLocationChangeBlock([&](const ns::Ref<ns::URL>& url) {
    record.locations.push_back(url ? url->absoluteString() : "");
    std::filesystem::resize_file(path, 1500000);
  });
  run(upload, record);
  EXPECT_EQ(record.finished, 1);
  ASSERT_TRUE(
      pltest::isError(record.error, NetHTTPFetcherErrorDomain, kNetHTTPFetcherErrorChunkUploadFailed));
  EXPECT_EQ(ranges(), (std::vector<std::string>{"bytes 0-999999/2001000"}));  // nothing short went out
  EXPECT_EQ(api_.uploads().back().received.size(), 1000000u);
  EXPECT_TRUE(upload->locationURL());
  EXPECT_EQ(record.locations.size(), 1u);
}

// Bad replies from a server that does not follow the protocol.
TEST_F(UploadFetcherTest, BadRepliesEndTheUploadWithoutSendingWrongBytes) {
  struct Case {
    std::string name;
    FakeReply initial;
    std::vector<FakeReply> chunks;  // answers to the PUTs, in order (the last repeats)
    std::string domain;
    long code;
    std::vector<std::string> ranges;
  } cases[] = {
      {"initial body",
       FakeReply::text(200, "{\"surprise\":1}").header("Location", "/s/1"),
       {},
       NetHTTPStatusErrorDomain,
       501,
       {}},
      {"no location", FakeReply::text(200, ""), {}, NetHTTPStatusErrorDomain, 501, {}},
      {"bad location",
       FakeReply::text(200, "").header("Location", "http://[::1"),
       {},
       NetHTTPStatusErrorDomain,
       501,
       {}},
      {"308 after the last byte",
       FakeReply::text(200, "").header("Location", "/s/1"),
       {FakeReply::text(308, "").header("Range", "bytes=0-59999")},
       NetHTTPStatusErrorDomain,
       308,
       {"bytes 0-59999/60000"}},
      {"malformed range restarts",
       FakeReply::text(200, "").header("Location", "/s/1"),
       {FakeReply::text(308, "").header("Range", "bytes=0-x"), FakeReply::text(500, "no")},
       NetHTTPStatusErrorDomain,
       500,
       {"bytes 0-59999/60000", "bytes 0-59999/60000"}},
      {"bad new location",
       FakeReply::text(200, "").header("Location", "/s/1"),
       {FakeReply::text(308, "").header("Range", "bytes=0-9").header("Location", "http://[::1")},
       NetHTTPStatusErrorDomain,
       501,
       {"bytes 0-59999/60000"}},
  };
  int n = 0;
  for (auto& c : cases) {
    // Each case on paths of its own: "/open<n>" and "/s/<n>".
    std::string id = std::to_string(++n);
    auto& server = api_.server();
    server.clearRequests();
    if (auto location = c.initial.headers.get("Location"); location && *location == "/s/1")
      c.initial.header("Location", "/s/" + id);
    server.canned("POST", "/open" + id, c.initial);
    auto count = std::make_shared<std::size_t>(0);
    auto chunks = c.chunks;
    server.route("PUT", "/s/" + id, [count, chunks](const pltest::FakeRequest&) {
      if (chunks.empty()) return FakeReply::text(500, "unexpected");
      return chunks[std::min((*count)++, chunks.size() - 1)];
    });
    auto upload = dataUpload(
        patterned(60000), 1000000, "video/mp4",
        ns::URLRequest::requestWithURL(ns::URL::URLWithString("https://www.googleapis.com/open" + id)));
    Record record;
    run(upload, record);
    EXPECT_EQ(record.finished, 1) << c.name;
    ASSERT_TRUE(pltest::isError(record.error, c.domain, c.code)) << c.name;
    std::vector<std::string> sent;
    for (auto& r : server.requests())
      if (r.method == "PUT") sent.push_back(r.header("Content-Range").value_or("?"));
    EXPECT_EQ(sent, c.ranges) << c.name;
    if (c.name == "initial body") {
      EXPECT_EQ(record.error->userInfo()
                    .objectForKey(ns::Value(std::string(kNetHTTPStatusDataKey)))
                    .data()
                    .toString(),
                "{\"surprise\":1}");
    }
  }
}

TEST_F(UploadFetcherTest, ThumbnailUploadsGoThroughTheServiceFromDataOrAFileLocation) {
  NetHTTPUploadFetcher::registerWithService();
  service_->setServiceUploadChunkSize(1000);
  std::string image = patterned(120000);
  auto file = writeFile("thumb.png", image);
  struct Case {
    std::string name;
    ns::Ref<ApiUploadParameters> params;
  } cases[] = {
      {"data", ApiUploadParameters::uploadParametersWithData_MIMEType(ns::Data(image), "image/png")},
      {"file url", ApiUploadParameters::uploadParametersWithFileURL_MIMEType(ns::URL::fileURLWithPath(file),
                                                                             "image/png")},
  };
  cases[0].params->setSlug("thumb.png");
  for (const auto& c : cases) {
    api_.server().clearRequests();
    auto query = ApiQueryYouTube::queryForThumbnailsSetWithVideoId_uploadParameters("v1", c.params);
    Delivery delivery;
    auto ticket = service_->executeQuery_completionHandler(query, delivery.handler());
    ASSERT_TRUE(ticket) << c.name;
    auto upload = std::dynamic_pointer_cast<NetHTTPUploadFetcher>(ticket->objectFetcher());
    ASSERT_TRUE(upload) << c.name;
    EXPECT_EQ(upload->chunkSize(), 50000u);
    waitFor(delivery);
    ASSERT_FALSE(delivery.error) << c.name << ": " << delivery.error->description();
    EXPECT_EQ(delivery.object->JSONValueForKey("kind").stringValue(), "youtube#thumbnailSetResponse");
    auto posts = api_.posts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].target, "/upload/rpc?uploadType=resumable&prettyPrint=false");
    EXPECT_EQ(posts[0].header("Slug"),
              c.name == "data" ? std::optional<std::string>("thumb.png") : std::nullopt);
    EXPECT_EQ(api_.uploads().back().received, image) << c.name;
    EXPECT_EQ(api_.uploads().back().method, "youtube.thumbnails.set");
    // 50,000, 50,000, then the 20,000 that remain.
    EXPECT_EQ(puts().size(), 3u) << c.name;
  }
  ApiService::setUploadFetcherFactory(nullptr);
}

}  // namespace
