// The growing-file response through the real server: real downloaders fed by a loopback origin
// that trickles or stalls, libcurl, raw socket clients and ffprobe reading a video while it
// downloads, and every way a waiting client is let go.
#include "app/cache/YoutubeResponse.h"

#include <gtest/gtest.h>

#include "app/cache/CacheServer.h"
#include "app/cache/CacheState.h"
#include "app/cache/YoutubeDownloader.h"
#include "common/Settings.h"
#include "platform/testing/RawClient.h"
#include "tests/app/cache/CacheTestKit.h"
#include "tests/app/cache/MediaServerKit.h"
#include "tests/support/FakePlayerViewController.h"
#include "tests/support/FakeStreamResolver.h"
#include "tests/support/ScopedController.h"

namespace {

using cachetest::mediaBody;
using cachetest::writeFile;
using mediatest::curlGet;
using mediatest::whilePumping;

constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::size_t kPiece = 512 * 1024;

class YoutubeResponseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setStringSetting(kPreferredVideoQualityKey, "360");
    // The caching step would take the stalled downloads here for stalls of its own.
    setIntSetting(kCachePolicyKey, 0);
    server->start();
  }
  // The resolver offers itag 18 of the video at the origin's "/<id>/18"; `hold` keeps the
  // answer back.
  void offer(const std::string& videoId, bool hold = false) {
    testsupport::FakeStreamResolver::Entry entry;
    entry.urlMap[18] = origin.URLForPath("/" + videoId + "/18");
    entry.hold = hold;
    resolver->setEntry(videoId, entry);
  }
  // Starts the video's download with the player showing it.
  ns::Ref<YoutubeDownloader> download(const std::string& videoId) {
    player->setVideoId(videoId);
    auto downloader = YoutubeDownloader::initWithId(videoId);
    EXPECT_TRUE(downloader->startDownload());
    return downloader;
  }

  cachetest::CacheSandbox home;
  pltest::FakeServer origin;
  ns::Ref<testsupport::FakeStreamResolver> resolver = ns::make<testsupport::FakeStreamResolver>();
  testsupport::ScopedStreamResolver installedResolver{resolver};
  ns::Ref<testsupport::FakePlayerViewController> player = ns::make<testsupport::FakePlayerViewController>();
  testsupport::ScopedPlayerViewController installedPlayer{player};
  ns::Ref<CacheServer> server = ns::make<CacheServer>(0);
};

TEST_F(YoutubeResponseTest, AWholeGetStartsBeforeTheDownloadEndsAndMatchesTheResource) {
  const std::string resource = mediaBody(2 * kMiB);
  // About 256 KiB/s.
  origin.canned("GET", "/grow/18",
                pltest::FakeReply::trickle(resource, 32 * 1024, std::chrono::milliseconds(125)));
  offer("grow");
  auto downloader = download("grow");
  std::atomic<bool> completeAtFirstBytes{true};
  std::atomic<std::int64_t> bytesAtFirstBytes{0};
  auto reply = whilePumping([&] {
    return curlGet(server->urlStringForVideoId("grow"), std::nullopt, [&] {
      completeAtFirstBytes = downloader->isComplete();
      bytesAtFirstBytes = downloader->downloadedBytes();
    });
  });
  EXPECT_TRUE(reply.ok) << reply.error;
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.header("content-length"), "2097152");
  EXPECT_FALSE(completeAtFirstBytes);
  EXPECT_LT(bytesAtFirstBytes, static_cast<std::int64_t>(resource.size()));
  EXPECT_TRUE(reply.body == resource);
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->isComplete(); }, 60));
}

TEST_F(YoutubeResponseTest, ARangeBeyondTheDownloadedBytesWaitsForThem) {
  const std::string resource = mediaBody(2 * kMiB, 7);
  origin.canned("GET", "/tail/18",
                pltest::FakeReply::trickle(resource, 32 * 1024, std::chrono::milliseconds(125)));
  offer("tail");
  auto downloader = download("tail");
  std::atomic<std::int64_t> bytesAtFirstBytes{0};
  auto reply = whilePumping([&] {
    return curlGet(server->urlStringForVideoId("tail"), std::string("bytes=2096152-"),
                   [&] { bytesAtFirstBytes = downloader->downloadedBytes(); });
  });
  EXPECT_TRUE(reply.ok) << reply.error;
  EXPECT_EQ(reply.status, 206);
  EXPECT_EQ(reply.header("content-range"), "bytes 2096152-2097151/2097152");
  EXPECT_TRUE(reply.body == resource.substr(2096152));
  // The bytes went out once they were appended.
  EXPECT_EQ(bytesAtFirstBytes, static_cast<std::int64_t>(resource.size()));
}

TEST_F(YoutubeResponseTest, FfprobeReadsARealVideoWhileItGrows) {
  std::string video = mediatest::makeSmallMp4(home.sandbox().temporaryFolder("media").string());
  ASSERT_GT(video.size(), 10000u);
  origin.canned("GET", "/probe/18", pltest::FakeReply::trickle(video, 4096, std::chrono::milliseconds(100)));
  offer("probe");
  auto downloader = download("probe");
  EXPECT_FALSE(downloader->isComplete());
  std::string streams =
      whilePumping([&] { return mediatest::ffprobeStreams(server->urlStringForVideoId("probe")); });
  EXPECT_NE(streams.find("codec_type=video"), std::string::npos) << streams;
  EXPECT_NE(streams.find("width=160"), std::string::npos) << streams;
  EXPECT_NE(streams.find("height=120"), std::string::npos) << streams;
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->isComplete(); }, 60));
  EXPECT_EQ(cachetest::readFile(home.cache("probe.mp4")), video);
}

TEST_F(YoutubeResponseTest, RealReadersStartOnAVideoWhoseDownloadHasOnlyItsBeginning) {
  std::string folder = home.sandbox().temporaryFolder("media").string();
  mediatest::run("/usr/bin/ffmpeg",
                 {"-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc=duration=30:size=320x240:rate=25",
                  "-an", "-c:v", "mpeg4", "-b:v", "500k", "-movflags", "+faststart", folder + "/long.mp4"});
  std::string video = cachetest::readFile(folder + "/long.mp4");
  ASSERT_GT(video.size(), 500000u);
  // The origin sends the first fifth (the index and a few seconds) and then nothing.
  origin.canned(
      "GET", "/part/18",
      pltest::FakeReply::stalled(video.substr(0, video.size() / 5), static_cast<long long>(video.size())));
  offer("part");
  auto downloader = download("part");
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->downloadedBytes() > 0; }, 30));
  const std::string url = server->urlStringForVideoId("part");
  std::string streams = whilePumping([&] { return mediatest::ffprobeStreams(url); });
  EXPECT_NE(streams.find("width=320"), std::string::npos) << streams;
  std::string frames = whilePumping([&] { return mediatest::decodeFrames(url, 10); });
  EXPECT_NE(frames.find("frame=10\n"), std::string::npos) << frames;
  EXPECT_FALSE(downloader->isComplete());
  EXPECT_LT(downloader->downloadedBytes(), static_cast<std::int64_t>(video.size()));
  origin.release();
  stopAllDownloads();
}

struct Release {
  const char* name;
  std::optional<std::string> range;
  // What lets the waiting client go, on the main thread.
  std::function<void(CacheServer&, testsupport::FakePlayerViewController&, YoutubeDownloader&)> action;
  std::vector<std::string> lines;
  bool closes;
};

TEST_F(YoutubeResponseTest, AClientWaitingForBytesIsLetGoByARestartThePlayerOrAFailedDownload) {
  const Release releases[] = {
      {"restart", std::nullopt, [](CacheServer& s, auto&, auto&) { s.restart(); }, {"2 ### ABORT ###"}, true},
      {"player switch",
       std::nullopt,
       [](auto&, auto& p, auto&) { p.setVideoId(std::string("other")); },
       {"1 ### ABORT ###"},
       false},
      {"player switch during a seek",
       std::string("bytes=1500000-"),
       [](auto&, auto& p, auto&) { p.setVideoId(std::string("other")); },
       {"0 ### ABORT ###", "1 ### ABORT ###"},
       false},
      {"download error",
       std::nullopt,
       [](auto&, auto&, YoutubeDownloader& d) { d.markAsError(); },
       {"3 ### ABORT ###"},
       false},
      // The transfer starts again and the origin answers with an error: nothing comes before the
      // retry delay has passed.
      {"a retry waiting after an error reply",
       std::nullopt,
       [this](auto&, auto&, YoutubeDownloader& d) {
         origin.canned("GET", "/" + d.videoid() + "/18",
                       pltest::FakeReply::text(500, "Internal Server Error"));
         d.stopDownload();
         d.startDownloadAlways();
       },
       {"3 ### ABORT ###"},
       false},
      // Two steps without progress: the stall handler marks the download stalled and restarts
      // the server, whichever the response sees first.
      {"stall",
       std::nullopt,
       [](auto&, auto&, YoutubeDownloader& d) {
         d.checkIfStalled();
         d.checkIfStalled();
       },
       {"### ABORT ###"},
       true},
  };
  writeFile(home.cache("done.mp4"), "finished");
  int n = 0;
  for (const auto& release : releases) {
    SCOPED_TRACE(release.name);
    std::string videoId = "wait" + std::to_string(n++);
    const std::string resource = mediaBody(2 * kMiB, n);
    origin.canned("GET", "/" + videoId + "/18",
                  pltest::FakeReply::stalled(resource.substr(0, 600 * 1024), 2 * kMiB));
    offer(videoId);
    auto downloader = download(videoId);
    ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->downloadedBytes() >= 600 * 1024; }, 30))
        << downloader->downloadedBytes() << " bytes";
    const int port = server->serverPort();

    pltest::LogCapture log;
    pltest::RawClient client;
    ASSERT_TRUE(client.connectTo(static_cast<std::uint16_t>(port)));
    std::string request =
        "GET /youtube/" + videoId + "/18/" + videoId + ".mp4 HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (release.range) request += "Range: " + *release.range + "\r\n";
    ASSERT_TRUE(client.sendAll(request + "\r\n"));
    if (!release.range) {
      // The first piece is there: the next read waits for bytes that do not come.
      bool first = whilePumping([&] {
        auto head = client.readUntil("\r\n\r\n");
        return head && head->find("Content-Length: 2097152") != std::string::npos &&
               client.readExactly(kPiece) == resource.substr(0, kPiece);
      });
      ASSERT_TRUE(first);
    }
    // Each release acts on a response that has sent all it has and waits for more: a restart, for
    // one, closes the connection of a response still writing its last bytes before it looks again.
    ASSERT_TRUE(pltest::pumpUntil([&] { return YoutubeResponse::waitingResponseCount() == 1; }, 30))
        << YoutubeResponse::waitingResponseCount() << " waiting";
    release.action(*server, *player, *downloader);
    // A line that never comes is shown with every line that came instead.
    for (const auto& line : release.lines)
      EXPECT_TRUE(pltest::pumpUntil([&] { return log.contains(line); }, 30))
          << line << " not among: " << ::testing::PrintToString(log.messages());
    if (release.closes) {
      EXPECT_TRUE(whilePumping([&] { return client.readToEnd().has_value(); }));
    }

    // The server answers again, on the same port.
    EXPECT_EQ(server->serverPort(), port);
    auto reply =
        whilePumping([&] { return curlGet("http://127.0.0.1:" + std::to_string(port) + "/done.mp4"); });
    EXPECT_EQ(reply.body, "finished");
    if (!release.closes) {
      // The restart closes what waits.
      server->restart();
      EXPECT_TRUE(whilePumping([&] { return client.readToEnd().has_value(); }));
    }
    stopAllDownloads();
  }
}

// With the virtual clock at rest no poll runs and no retry delay passes: an answer comes at once or
// not at all.
TEST_F(YoutubeResponseTest,
       AVideoWaitingToRetryAfterAnErrorReplyIsAnsweredEmptyAtOnceAndServedAfterTheRetry) {
  pltest::VirtualClock clock;
  const double start = clock.now();
  const std::string resource = mediaBody(kMiB, 47);
  auto asked = std::make_shared<std::atomic<int>>(0);
  origin.route("GET", "/retry/18", [resource, asked](const pltest::FakeRequest&) {
    int n = (*asked)++;
    if (n == 0) return pltest::FakeReply::text(500, "Internal Server Error");
    if (n == 1) return pltest::FakeReply::text(404, "Not Found");
    return pltest::FakeReply::trickle(resource, 64 * 1024, std::chrono::milliseconds(10));
  });
  offer("retry");
  auto downloader = download("retry");
  const std::string request = "GET /youtube/retry/18/retry.mp4 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  {
    pltest::LogCapture log;
    int failures = 0;
    for (const char* error : {"HTTP 500", "HTTP 404"}) {
      SCOPED_TRACE(error);
      ++failures;
      ASSERT_TRUE(pltest::pumpUntil(
          [&] { return downloader->errorCount() == failures && downloader->isWaitingToRetry(); }, 30));
      EXPECT_EQ(getDownloadError("retry"), error);
      EXPECT_FALSE(cachetest::exists(home.temp("retry.mp4")));
      pltest::RawClient client;
      ASSERT_TRUE(client.connectTo(static_cast<std::uint16_t>(server->serverPort())));
      ASSERT_TRUE(client.sendAll(request));
      auto response = whilePumping([&] { return client.readResponse(); });
      ASSERT_TRUE(response);
      EXPECT_EQ(response->status, 200);
      EXPECT_EQ(response->header("Content-Length"), "0");
      EXPECT_EQ(YoutubeResponse::waitingResponseCount(), 0u);
      // The retry brought forward, as the player does when it loads the video.
      downloader->setValidAfterToZero();
      EXPECT_TRUE(downloader->startDownloadAlways());
    }
    EXPECT_TRUE(log.contains("YoutubeResponse: the download of retry failed"));
    EXPECT_FALSE(log.contains("waiting for fileAttributes"));
    EXPECT_FALSE(log.contains("waiting for contentLength"));
  }
  // The origin has recovered: the third request brings the video, served as it grows.
  auto reply = whilePumping([&] { return curlGet(server->urlStringForVideoId("retry")); });
  EXPECT_TRUE(reply.ok) << reply.error;
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.header("content-length"), "1048576");
  EXPECT_TRUE(reply.body == resource);
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->isComplete(); }, 60));
  EXPECT_EQ(*asked, 3);
  EXPECT_EQ(cachetest::readFile(home.cache("retry.mp4")), resource);
  EXPECT_EQ(clock.now(), start);
}

// A download that has not begun (its stream is still being resolved) is not waited for once the
// player has moved on to another video.
TEST_F(YoutubeResponseTest, ARequestWhoseDownloadHasNotBegunEndsWhenThePlayerMovesOn) {
  pltest::VirtualClock clock;
  offer("slow", true);
  auto downloader = download("slow");
  pltest::LogCapture log;
  pltest::RawClient client;
  ASSERT_TRUE(client.connectTo(static_cast<std::uint16_t>(server->serverPort())));
  ASSERT_TRUE(client.sendAll("GET /youtube/slow/18/slow.mp4 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return log.contains("waiting for fileAttributes"); }, 30));
  player->setVideoId(std::string("other"));
  clock.advance(YoutubeResponse::kPollSeconds);
  auto response = whilePumping([&] { return client.readResponse(); });
  ASSERT_TRUE(response);
  EXPECT_EQ(response->header("Content-Length"), "0");
  EXPECT_TRUE(log.contains("YoutubeResponse: the player left slow before its download began"));
  EXPECT_EQ(YoutubeResponse::waitingResponseCount(), 0u);
  resolver->release();
  stopAllDownloads();
}

TEST_F(YoutubeResponseTest, AClientWaitingOnADownloadThatIsDeletedOrReplacedIsClosedAndTheServerAnswers) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> action;
  };
  const Case cases[] = {
      // The quality sheet's new choice and trimming both drop the partial and its downloader.
      {"deleted", [](const std::string& id) { stopAndDeleteDownload(id); }},
      {"replaced", [](const std::string& id) { YoutubeDownloader::initWithId(id); }},
  };
  writeFile(home.cache("done.mp4"), "finished");
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string videoId = "gone" + std::to_string(n++);
    const std::string resource = mediaBody(2 * kMiB, 20 + n);
    origin.canned("GET", "/" + videoId + "/18",
                  pltest::FakeReply::stalled(resource.substr(0, 600 * 1024), 2 * kMiB));
    offer(videoId);
    auto downloader = download(videoId);
    ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->downloadedBytes() >= 600 * 1024; }, 30))
        << downloader->downloadedBytes() << " bytes";
    const int port = server->serverPort();
    pltest::RawClient client;
    ASSERT_TRUE(client.connectTo(static_cast<std::uint16_t>(port)));
    ASSERT_TRUE(client.sendAll("GET /youtube/" + videoId + "/18/" + videoId +
                               ".mp4 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    bool first = whilePumping([&] {
      auto head = client.readUntil("\r\n\r\n");
      return head && client.readExactly(kPiece) == resource.substr(0, kPiece);
    });
    ASSERT_TRUE(first);
    // The player stays on the video: only the download's going can end the wait.
    c.action(videoId);
    EXPECT_TRUE(whilePumping([&] { return client.readToEnd().has_value(); }));
    auto reply = whilePumping([&] {
      return curlGet("http://127.0.0.1:" + std::to_string(port) + "/done.mp4", std::nullopt, {}, 30);
    });
    EXPECT_EQ(reply.body, "finished");
    // Lets a response that still waits go before the next case.
    server->restart();
    stopAllDownloads();
  }
}

// With the virtual clock at rest no poll can run: whatever is answered here is answered at once.
TEST_F(YoutubeResponseTest, BytesOnDiskAreAnsweredAtOnceBesideAWaitingRequestWhichTheNewerOneStales) {
  pltest::VirtualClock clock;
  const double start = clock.now();
  const std::string resource = mediaBody(2 * kMiB, 41);
  origin.canned("GET", "/busy/18", pltest::FakeReply::stalled(resource.substr(0, 600 * 1024), 2 * kMiB));
  offer("busy");
  auto downloader = download("busy");
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->downloadedBytes() >= 600 * 1024; }, 30));

  pltest::LogCapture log;
  pltest::RawClient waiting;
  ASSERT_TRUE(waiting.connectTo(static_cast<std::uint16_t>(server->serverPort())));
  ASSERT_TRUE(waiting.sendAll(
      "GET /youtube/busy/18/busy.mp4 HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: bytes=1500000-\r\n\r\n"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return YoutubeResponse::waitingResponseCount() == 1; }, 30));

  // A second connection's range of bytes on disk.
  auto reply = whilePumping([&] { return curlGet(server->urlStringForVideoId("busy"), "bytes=1000-1099"); });
  EXPECT_EQ(reply.status, 206);
  EXPECT_EQ(reply.header("content-range"), "bytes 1000-1099/2097152");
  EXPECT_TRUE(reply.body == resource.substr(1000, 100));
  // Its request made the waiting one stale, which gave up at once.
  EXPECT_TRUE(pltest::pumpUntil([&] { return log.contains("2 ### ABORT ###"); }, 30));
  EXPECT_EQ(YoutubeResponse::waitingResponseCount(), 0u);
  EXPECT_FALSE(log.contains("waiting for fileAttributes"));

  // A waiting read whose client goes stops waiting.
  auto leaving = std::make_unique<pltest::RawClient>();
  ASSERT_TRUE(leaving->connectTo(static_cast<std::uint16_t>(server->serverPort())));
  ASSERT_TRUE(leaving->sendAll(
      "GET /youtube/busy/18/busy.mp4 HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: bytes=1600000-\r\n\r\n"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return YoutubeResponse::waitingResponseCount() == 1; }, 30));
  leaving.reset();
  EXPECT_TRUE(
      pltest::pumpUntil([&] { return log.contains("YoutubeResponse: the client of busy has gone"); }, 30));
  EXPECT_EQ(YoutubeResponse::waitingResponseCount(), 0u);
  EXPECT_EQ(clock.now(), start);
  stopAllDownloads();
}

TEST_F(YoutubeResponseTest, AWaitingReadGoesOnAsTheBytesArriveWithoutAPoll) {
  pltest::VirtualClock clock;
  const double start = clock.now();
  const std::string resource = mediaBody(kMiB, 43);
  origin.canned("GET", "/flow/18",
                pltest::FakeReply::trickle(resource, 32 * 1024, std::chrono::milliseconds(40)));
  offer("flow");
  auto downloader = download("flow");
  std::atomic<std::int64_t> bytesAtFirstBytes{0};
  // Every piece after the first waits for bytes that are not there yet; only the downloader's
  // news can let it go on.
  auto whole = whilePumping([&] {
    return curlGet(server->urlStringForVideoId("flow"), std::nullopt,
                   [&] { bytesAtFirstBytes = downloader->downloadedBytes(); });
  });
  EXPECT_TRUE(whole.ok) << whole.error;
  EXPECT_TRUE(whole.body == resource);
  EXPECT_LT(bytesAtFirstBytes, static_cast<std::int64_t>(resource.size()));
  EXPECT_EQ(clock.now(), start);
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->isComplete(); }, 60));
}

struct Ending {
  const char* name;
  // What ends the wait of a request for a video nobody downloads.
  std::function<void(std::unique_ptr<pltest::RawClient>&, CacheServer&,
                     testsupport::FakePlayerViewController&, pltest::VirtualClock&)>
      action;
  // The client then reads a response of length 0 (else its connection simply closes).
  bool answered;
  std::string line;
};

TEST_F(YoutubeResponseTest, AVideoWithoutADownloaderIsWaitedForUntilItsClientGoesAMinuteOrTheNextVideo) {
  pltest::VirtualClock clock;
  writeFile(home.cache("done.mp4"), "finished");
  player->setVideoId(std::string("ghost"));
  const Ending endings[] = {
      {"client gone", [](auto& client, auto&, auto&, auto&) { client.reset(); }, false,
       "YoutubeResponse: the client of ghost has gone"},
      {"a minute", [](auto&, auto&, auto&, auto& c) { c.advance(YoutubeResponse::kDownloaderWaitSeconds); },
       true, "YoutubeResponse: no download of ghost began"},
      {"the player's next video",
       [](auto&, auto&, auto& p, auto& c) {
         p.setVideoId(std::string("other"));
         c.advance(YoutubeResponse::kPollSeconds);
       },
       true, "YoutubeResponse: no download of ghost began"},
      {"restart", [](auto&, auto& s, auto&, auto&) { s.restart(); }, false, ""},
  };
  for (const auto& ending : endings) {
    SCOPED_TRACE(ending.name);
    player->setVideoId(std::string("ghost"));
    pltest::LogCapture log;
    auto client = std::make_unique<pltest::RawClient>();
    ASSERT_TRUE(client->connectTo(static_cast<std::uint16_t>(server->serverPort())));
    ASSERT_TRUE(client->sendAll("GET /youtube/ghost/18/ghost.mp4 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    ASSERT_TRUE(pltest::pumpUntil([&] { return YoutubeResponse::waitingResponseCount() == 1; }, 30));
    // The response counts as waiting just before its queue logs why.
    EXPECT_TRUE(pltest::pumpUntil([&] { return log.contains("waiting for downloader"); }, 30));
    // Other requests are served meanwhile.
    auto other = whilePumping(
        [&] { return curlGet("http://127.0.0.1:" + std::to_string(server->serverPort()) + "/done.mp4"); });
    EXPECT_EQ(other.body, "finished");
    EXPECT_EQ(YoutubeResponse::waitingResponseCount(), 1u);

    ending.action(client, *server, *player, clock);
    if (ending.answered) {
      auto response = whilePumping([&] { return client->readResponse(); });
      ASSERT_TRUE(response);
      EXPECT_EQ(response->status, 200);
      EXPECT_EQ(response->header("Content-Length"), "0");
    } else if (client) {
      EXPECT_TRUE(whilePumping([&] { return client->readToEnd().has_value(); }));
    }
    EXPECT_TRUE(pltest::pumpUntil([&] { return YoutubeResponse::waitingResponseCount() == 0; }, 30));
    if (!ending.line.empty()) {
      EXPECT_TRUE(pltest::pumpUntil([&] { return log.contains(ending.line); }, 30));
    }
  }
}

TEST_F(YoutubeResponseTest, ADownloadThatEndsWhileTheResponseIsMadeIsServedAsTheFinishedFile) {
  // The stream is never resolved: the downloader runs, but no partial file appears.
  offer("joined", true);
  auto downloader = download("joined");
  pltest::LogCapture log;
  auto pending =
      std::async(std::launch::async, [url = server->urlStringForVideoId("joined")] { return curlGet(url); });
  ASSERT_TRUE(pltest::pumpUntil([&] { return log.contains("waiting for fileAttributes"); }, 30));
  // The finished file (a joined pair, say) is not as long as any stream the downloader knew.
  const std::string joined = mediaBody(7000, 3);
  writeFile(home.cache("joined.mp4"), joined);
  downloader->setComplete();
  auto reply = whilePumping([&] { return pending.get(); });
  EXPECT_TRUE(log.contains("download Complete!"));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.header("content-length"), "7000");
  EXPECT_TRUE(reply.body == joined);
  resolver->release();
}

}  // namespace
