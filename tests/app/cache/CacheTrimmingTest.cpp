// Cache trimming over sparse files with set access and modification times: the least recently
// read finished files go first until the cache fits its limit, old partial downloads go unless
// they are transferring, and the notifications come after every deletion of the pass.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/cache/CacheNotifications.h"
#include "app/cache/CacheServer.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/cache/YoutubeResponse.h"
#include "common/Settings.h"
#include "platform/runloop/Clock.h"
#include "platform/testing/Pump.h"
#include "platform/testing/RawClient.h"
#include "tests/app/cache/CacheTestKit.h"
#include "tests/support/FakePlayerViewController.h"
#include "tests/support/FakeStreamResolver.h"
#include "tests/support/ScopedController.h"

namespace {

using cachetest::exists;
constexpr std::int64_t kMiB = 1024 * 1024;

struct timespec at(double secondsAgo) {
  double when = ns::Clock::wallNow() - secondsAgo;
  struct timespec time {};
  time.tv_sec = static_cast<time_t>(std::floor(when));
  return time;
}

void setTimes(const std::string& path, double readAgo, double writtenAgo) {
  struct timespec times[2] = {at(readAgo), at(writtenAgo)};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// A sparse file of `size` bytes last read `readAgo` and last written `writtenAgo` seconds ago.
void makeFile(const std::string& path, std::int64_t size, double readAgo, double writtenAgo = 7200) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::ftruncate(fd, size), 0);
  ::close(fd);
  setTimes(path, readAgo, writtenAgo);
}

class CacheTrimmingTest : public ::testing::Test {
 protected:
  CacheTrimmingTest() {
    token = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
        std::nullopt, nullptr, nullptr, [this](const ns::Ref<ns::Notification>& note) {
          if (note->name() == kVideoInfoChangedNotification || note->name() == kCacheDeletedNotification)
            posted.push_back(note->name());
          if (note->name() == kCacheDeletedNotification) ++passes;
        });
  }
  ~CacheTrimmingTest() override { ns::NotificationCenter::defaultCenter()->removeObserver(token.get()); }

  // Runs one pass and waits for its end.
  void trim() {
    int before = passes;
    manager->removeOldCache();
    ASSERT_TRUE(pltest::pumpUntil([&] { return passes > before; }, 30));
  }
  std::vector<std::string> present(const std::vector<std::string>& names) {
    std::vector<std::string> found;
    for (const auto& name : names)
      if (exists(home.cache(name))) found.push_back(name);
    return found;
  }

  cachetest::CacheSandbox home;
  ns::Ref<ns::Object> token;
  std::vector<std::string> posted;
  int passes = 0;
  ns::Ref<CacheServer> manager = ns::make<CacheServer>(0);
};

TEST_F(CacheTrimmingTest, TheLeastRecentlyReadFilesGoUntilTheCacheFits) {
  struct Case {
    long limitGiB;
    bool withRecent300;
    std::vector<std::string> kept;
    std::int64_t keptBytes;
  };
  const Case cases[] = {
      {1, false, {"b.mp4", "c.mp4"}, 900 * kMiB},
      {1, true, {"c.mp4", "d.mp4"}, 700 * kMiB},
      {0, true, {}, 0},
      {2, true, {"a.mp4", "b.mp4", "c.mp4", "d.mp4"}, 1800 * kMiB},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("limit " + std::to_string(c.limitGiB) + (c.withRecent300 ? " with d" : ""));
    // Read in the order a, b, c (a longest ago), d last of all.
    makeFile(home.cache("a.mp4"), 600 * kMiB, 3000);
    makeFile(home.cache("b.mp4"), 500 * kMiB, 2000);
    makeFile(home.cache("c.mp4"), 400 * kMiB, 1000);
    if (c.withRecent300) makeFile(home.cache("d.mp4"), 300 * kMiB, 10);
    cachetest::writeFile(home.cache("a.info"), "info");
    // Not a video: neither counted nor deleted.
    makeFile(home.cache("big.txt"), 4096 * kMiB, 9000);
    setIntSetting(kCacheSizeKey, c.limitGiB);
    posted.clear();
    pltest::LogCapture log;
    trim();
    EXPECT_EQ(present({"a.mp4", "b.mp4", "c.mp4", "d.mp4"}), c.kept);
    EXPECT_TRUE(exists(home.cache("big.txt")));
    EXPECT_EQ(exists(home.cache("a.info")), !c.kept.empty() && c.kept.front() == "a.mp4");
    EXPECT_EQ(manager->cachedBytes(), c.keptBytes);
    EXPECT_EQ(manager->cachedCount(), static_cast<std::int32_t>(c.kept.size()));
    std::size_t deletions = (c.withRecent300 ? 4 : 3) - c.kept.size();
    EXPECT_EQ(posted.size(), deletions + 2);
    ASSERT_GE(posted.size(), 2u);
    EXPECT_EQ(posted[posted.size() - 2], kVideoInfoChangedNotification);
    EXPECT_EQ(posted.back(), kCacheDeletedNotification);
    if (c.limitGiB == 1 && !c.withRecent300) {
      EXPECT_TRUE(log.contains(" a.mp4"));
      EXPECT_TRUE(log.contains("cachedBytes = 900.0 MB (2)"));
    }
    for (const char* name : {"a.mp4", "b.mp4", "c.mp4", "d.mp4", "big.txt", "a.info"})
      std::filesystem::remove(home.cache(name));
  }
}

// Files put into the cache folder by hand carry names no video id has: counted, they must go
// when their turn comes, or the cache stays over its limit while the totals say it fits.
TEST_F(CacheTrimmingTest, AFileNamedByNoVideoIdGoesInItsTurn) {
  const std::string foreign[] = {"my clip.mp4", "a.b.mp4", "\xc3\xa9t\xc3\xa9.mp4"};
  for (const auto& name : foreign) {
    SCOPED_TRACE(name);
    makeFile(home.cache(name), 600 * kMiB, 3000);
    makeFile(home.cache("b.mp4"), 500 * kMiB, 2000);
    makeFile(home.cache("c.mp4"), 400 * kMiB, 1000);
    cachetest::writeFile(home.base() + "/my clip.mp4", "outside");
    setIntSetting(kCacheSizeKey, 1);
    trim();
    EXPECT_FALSE(exists(home.cache(name)));
    EXPECT_EQ(present({"b.mp4", "c.mp4"}), (std::vector<std::string>{"b.mp4", "c.mp4"}));
    EXPECT_EQ(manager->cachedBytes(), 900 * kMiB);
    EXPECT_FALSE(hasVideoCacheState(name.substr(0, name.size() - 4)));
    EXPECT_EQ(cachetest::readFile(home.base() + "/my clip.mp4"), "outside");
    for (const char* kept : {"b.mp4", "c.mp4"}) std::filesystem::remove(home.cache(kept));
  }
}

TEST_F(CacheTrimmingTest, NoLimitTrimsNothingAndPostsNothing) {
  makeFile(home.cache("a.mp4"), 600 * kMiB, 3000);
  makeFile(home.temp("old.mp4"), 10, 7200);
  setIntSetting(kCacheSizeKey, -1);
  pltest::LogCapture log;
  manager->removeOldCache();
  EXPECT_TRUE(log.contains("unlimited cache size"));
  // Another pass queued behind it still finds both files.
  setIntSetting(kCacheSizeKey, 100);
  trim();
  EXPECT_EQ(passes, 1);
  EXPECT_TRUE(exists(home.cache("a.mp4")));
}

TEST_F(CacheTrimmingTest, ALimitOutsideTheSettingsRangeDeletesNothing) {
  // A hand-edited or damaged setting: far beyond any disk, or negative but not "no limit".
  for (long limit : {-2L, 17179869184L, std::numeric_limits<long>::max(), std::numeric_limits<long>::min()}) {
    SCOPED_TRACE(limit);
    makeFile(home.cache("a.mp4"), 600 * kMiB, 3000);
    setIntSetting(kCacheSizeKey, limit);
    int before = passes;
    pltest::LogCapture log;
    manager->removeOldCache();
    if (limit < 0) {
      // No limit: no pass runs at all.
      EXPECT_TRUE(log.contains("unlimited cache size"));
    } else {
      ASSERT_TRUE(pltest::pumpUntil([&] { return passes == before + 1; }, 30));
    }
    EXPECT_TRUE(exists(home.cache("a.mp4")));
  }
}

TEST_F(CacheTrimmingTest, OldPartialsGoUnlessTheirDownloadMoves) {
  pltest::FakeServer origin;
  auto resolver = ns::make<testsupport::FakeStreamResolver>();
  testsupport::ScopedStreamResolver installed(resolver);
  for (const char* id : {"busy", "aud"}) {
    testsupport::FakeStreamResolver::Entry entry;
    entry.urlMap[18] = origin.URLForPath(std::string("/") + id);
    resolver->setEntry(id, entry);
    origin.canned("GET", std::string("/") + id, pltest::FakeReply::stalled("head", 100000));
  }
  auto busy = YoutubeDownloader::initWithId("busy");
  busy->startDownload();
  auto aud = YoutubeDownloader::initWithId("aud");
  aud->startDownload();
  ASSERT_TRUE(
      pltest::pumpUntil([&] { return busy->downloadedBytes() > 0 && aud->downloadedBytes() > 0; }, 30));

  makeFile(home.temp("busy.mp4"), 100, 7200);
  makeFile(home.temp("aud_Audio.mp4"), 100, 7200);
  makeFile(home.temp("old.mp4"), 100, 7200);
  cachetest::writeFile(home.temp("old.info"), "info");
  makeFile(home.temp("old.info"), 10, 0, 0);
  makeFile(home.temp("read.mp4"), 100, 60);
  makeFile(home.temp("written.mp4"), 100, 7200, 60);
  // The info file left behind by a finished download goes on its own; one beside a partial in
  // use stays with it.
  makeFile(home.temp("done.info"), 10, 7200);
  makeFile(home.temp("written.info"), 10, 7200);
  setIntSetting(kCacheSizeKey, 10);
  trim();
  EXPECT_FALSE(exists(home.temp("done.info")));
  EXPECT_TRUE(exists(home.temp("written.info")));
  EXPECT_TRUE(exists(home.temp("busy.mp4")));
  EXPECT_TRUE(exists(home.temp("aud_Audio.mp4")));
  EXPECT_FALSE(exists(home.temp("old.mp4")));
  // The partial's info file goes with its video.
  EXPECT_FALSE(exists(home.temp("old.info")));
  EXPECT_TRUE(exists(home.temp("read.mp4")));
  EXPECT_TRUE(exists(home.temp("written.mp4")));
  // read.mp4, written.mp4 and the real partial of "aud" (its first bytes, "head").
  EXPECT_EQ(manager->downloadingCount(), 3);
  EXPECT_EQ(manager->downloadingBytes(), 204);
  EXPECT_TRUE(busy->isDownloading());

  // Once the download stopped, its old partial goes too.
  busy->stopDownload();
  makeFile(home.temp("busy.mp4"), 100, 7200);
  trim();
  EXPECT_FALSE(exists(home.temp("busy.mp4")));
  EXPECT_FALSE(getDownloaderForVideoId("busy"));
}

TEST_F(CacheTrimmingTest, AFileInUseIsSparedAndTheNextOneGoes) {
  auto player = ns::make<testsupport::FakePlayerViewController>();
  testsupport::ScopedPlayerViewController installedPlayer(player);
  manager->start();
  struct Case {
    const char* name;
    // Puts "a" (the least recently read) in use; answers what keeps it so.
    std::function<std::shared_ptr<void>()> use;
  };
  const Case cases[] = {
      {"the player's video",
       [&] {
         player->setVideoId(std::string("a"));
         return std::shared_ptr<void>(nullptr, [&](void*) { player->setVideoId(std::nullopt); });
       }},
      {"a running downloader", [] { return std::shared_ptr<void>(YoutubeDownloader::initWithId("a")); }},
      {"a media-server response",
       [&]() -> std::shared_ptr<void> {
         auto client = std::make_shared<pltest::RawClient>();
         EXPECT_TRUE(client->connectTo(static_cast<std::uint16_t>(manager->serverPort())));
         EXPECT_TRUE(client->sendAll("GET /youtube/a/18/a.mp4 HTTP/1.1\r\nRange: bytes=0-99\r\n\r\n"));
         auto reply = client->readResponse();
         EXPECT_TRUE(reply && reply->status == 206);
         // Serving it marked it read: it is made the oldest again.
         setTimes(home.cache("a.mp4"), 3000, 7200);
         return client;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    makeFile(home.cache("a.mp4"), 600 * kMiB, 3000);
    makeFile(home.cache("b.mp4"), 500 * kMiB, 2000);
    makeFile(home.cache("c.mp4"), 400 * kMiB, 1000);
    setIntSetting(kCacheSizeKey, 1);
    {
      auto inUse = c.use();
      trim();
      EXPECT_EQ(present({"a.mp4", "b.mp4", "c.mp4"}), (std::vector<std::string>{"a.mp4", "c.mp4"}));
      EXPECT_EQ(manager->cachedBytes(), 1000 * kMiB);
    }
    resetCacheStateTablesForTesting();
    // Out of use, it is the first to go.
    ASSERT_TRUE(pltest::pumpUntil([] { return !isVideoFileServed("a"); }, 30));
    makeFile(home.cache("b.mp4"), 500 * kMiB, 10);
    trim();
    EXPECT_EQ(present({"a.mp4", "b.mp4", "c.mp4"}), (std::vector<std::string>{"b.mp4", "c.mp4"}));
    for (const char* name : {"a.mp4", "b.mp4", "c.mp4"}) std::filesystem::remove(home.cache(name));
  }
}

TEST_F(CacheTrimmingTest, TwoPassesAtOnceEachCountTheirOwn) {
  makeFile(home.cache("a.mp4"), 600 * kMiB, 3000);
  makeFile(home.cache("b.mp4"), 500 * kMiB, 2000);
  setIntSetting(kCacheSizeKey, 1);
  manager->removeOldCache();
  manager->removeOldCache();
  ASSERT_TRUE(pltest::pumpUntil([&] { return passes == 2; }, 30));
  EXPECT_FALSE(exists(home.cache("a.mp4")));
  EXPECT_TRUE(exists(home.cache("b.mp4")));
  EXPECT_EQ(manager->cachedBytes(), 500 * kMiB);
  EXPECT_EQ(manager->cachedCount(), 1);
}

// A cache folder nobody may list (here a link to itself, which not even root can open): the scan
// and every trimming pass fail on it, one warning names it, and it is left as it is.
TEST_F(CacheTrimmingTest, ACacheFolderThatCannotBeListedIsNamedOnceAndAgainOnlyAfterItMendsAndBreaks) {
  const std::string folder = getCacheFolderPath();
  std::filesystem::remove_all(folder);
  ASSERT_EQ(::symlink(folder.c_str(), folder.c_str()), 0);
  const std::string warning = "CacheState: the cache folder " + folder +
                              " cannot be read (Too many levels of symbolic links); the videos in it are "
                              "left as they are";
  pltest::LogCapture log(true);
  auto linesWith = [&log](const std::string& text) {
    std::vector<ns::LogLine> found;
    for (const auto& line : log.lines())
      if (line.message.find(text) != std::string::npos) found.push_back(line);
    return found;
  };
  scanVideoCacheStates();
  trim();
  trim();
  noteCacheFolderListing(folder, false);
  scanVideoCacheStates();
  auto warnings = linesWith("cannot be read");
  ASSERT_EQ(warnings.size(), 1u) << ::testing::PrintToString(log.messages());
  EXPECT_EQ(warnings[0].message, warning);
  EXPECT_EQ(warnings[0].level, ns::LogLevel::Warning);
  EXPECT_TRUE(std::filesystem::is_symlink(folder));
  EXPECT_EQ(std::filesystem::read_symlink(folder), folder);

  // Mended, the folder lists again; broken anew, it is news again.
  std::filesystem::remove(folder);
  std::filesystem::create_directories(folder);
  cachetest::writeFile(folder + "/a.mp4", "a");
  EXPECT_EQ(scanVideoCacheStates(), (std::map<std::string, int>{{"a", 1}}));
  trim();
  EXPECT_EQ(linesWith("cannot be read").size(), 1u);
  std::filesystem::remove_all(folder);
  ASSERT_EQ(::symlink(folder.c_str(), folder.c_str()), 0);
  trim();
  scanVideoCacheStates();
  EXPECT_EQ(linesWith(warning).size(), 2u) << ::testing::PrintToString(log.messages());

  // A missing folder is the folder creator's to report.
  std::filesystem::remove(folder);
  scanVideoCacheStates();
  trim();
  EXPECT_EQ(linesWith("cannot be read").size(), 2u) << ::testing::PrintToString(log.messages());
}

}  // namespace
