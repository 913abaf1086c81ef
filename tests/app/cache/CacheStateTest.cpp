// The cache-state map, the error table, the moves between the cache and the download folder,
// the names of saved videos and the partial-download listing: real folders (one of them on
// another file system), a real library file.
#include "app/cache/CacheState.h"

#include <gtest/gtest.h>

#include "app/cache/CacheFiles.h"
#include "app/cache/CacheNotifications.h"
#include "app/cache/YoutubeDownloader.h"
#include "common/Settings.h"
#include "platform/core/Log.h"
#include "platform/foundation/SearchPaths.h"
#include "platform/net/URL.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "tests/app/cache/CacheTestKit.h"

namespace {

using cachetest::exists;
using cachetest::readFile;
using cachetest::writeFile;

std::string moviesFolder() {
  return ns::SearchPathForDirectoriesInDomains(ns::MoviesDirectory, ns::UserDomainMask, true).front();
}

class CacheStateTest : public ::testing::Test {
 protected:
  cachetest::CacheSandbox home;
};

TEST_F(CacheStateTest, TheScanTakesCachedFilesAndTheLibrarysDownloads) {
  writeFile(home.cache("a.mp4"), "a");
  writeFile(home.cache("a.info"), "info");
  writeFile(home.cache("c.mp4"), "c");
  std::filesystem::create_directories(home.cache("b.mp4"));
  std::string saved = home.sandbox().path("saved/a.mp4");
  writeFile(saved, "saved");
  saveDownloadedVideoPath("a", saved);

  auto states = scanVideoCacheStates();
  EXPECT_EQ(states, (std::map<std::string, int>{{"a", 2}, {"c", 1}}));
  EXPECT_TRUE(isVideoDownloaded("a"));
  EXPECT_TRUE(isVideoCached("c"));
  EXPECT_FALSE(hasVideoCacheState("b"));
  EXPECT_EQ(getCachedVideoIdArray(), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(getVideoFileSize("a"), 5);
  EXPECT_EQ(getVideoFileSize("c"), 1);
  EXPECT_EQ(getVideoFileSize("b"), 0);
}

TEST_F(CacheStateTest, EachChangePostsOnceAndForgettingGoesThroughTheShell) {
  cachetest::NotificationCounter changed(kVideoInfoChangedNotification);
  setVideoCacheState("v", true);
  EXPECT_TRUE(isVideoCached("v"));
  EXPECT_EQ(changed.count(), 1);
  setVideoCacheState("v", false);
  EXPECT_TRUE(isVideoDownloaded("v"));
  EXPECT_EQ(changed.count(), 2);
  removeVideoCacheState("v");
  EXPECT_FALSE(hasVideoCacheState("v"));
  EXPECT_EQ(changed.count(), 3);
  EXPECT_EQ(home.removedFromQueues(), (std::vector<std::string>{"v", "v", "v"}));
  // A failed move posts nothing.
  EXPECT_FALSE(moveCachedVideoToDownloadFolder("v", "title", std::nullopt));
  EXPECT_FALSE(moveDownloadedVideoToCache("v"));
  EXPECT_EQ(changed.count(), 3);
}

struct FolderCase {
  const char* name;
  std::string downloadPath;  // "" for none; "{root}" stands for the sandbox root
  bool appendPlaylist;
  std::optional<std::string> playlist;
  std::string expected;  // "{movies}" and "{root}" stand for those folders
};

std::string expand(std::string text, const std::string& root, const std::string& movies) {
  for (auto [key, value] : {std::pair<std::string, std::string>{"{root}", root}, {"{movies}", movies}}) {
    for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
  }
  return text;
}

TEST_F(CacheStateTest, TheDownloadFolderComesFromTheSettingAndTheSafePlaylistTitle) {
  const FolderCase cases[] = {
      {"nothing stored", "", true, "Mix", "{movies}/Mix/"},
      {"no title", "", true, std::nullopt, "{movies}/"},
      {"titles not appended", "", false, "Mix", "{movies}/"},
      {"escaped folder", "file://localhost{root}/Videos%20Saved/", true, std::nullopt,
       "{root}/Videos Saved/"},
      {"plain file URL", "file://{root}/dl/", true, "x/y", "{root}/dl/x\u2571y/"},
      {"escapes in the title stay text", "file://{root}/dl/", true, "..%2F..%2Fetc",
       "{root}/dl/..%2F..%2Fetc/"},
      {"a title of dots", "file://{root}/dl/", true, "..", "{root}/dl/_/"},
      {"no file URL", "http://example.com/dl/", true, "Mix", "{movies}/Mix/"},
  };
  std::string root = home.sandbox().root();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    setStringSetting(kDownloadPathKey, expand(c.downloadPath, root, moviesFolder()));
    setBoolSetting(kAppendPlaylistNameToDownloadPathKey, c.appendPlaylist);
    EXPECT_EQ(getDownloadFolderPath(c.playlist), expand(c.expected, root, moviesFolder()));
  }
}

TEST_F(CacheStateTest, SavedNamesAreSingleNamesThatTakeNothingExisting) {
  std::string folder = home.sandbox().path("dl");
  setDownloadFolderURL(ns::URL::fileURLWithPath_isDirectory(folder, true));
  std::string first = folder + "/x\u2571y/a\u2571b.mp4";
  EXPECT_EQ(getUniqueDownloadFilePath("a/b", std::string("x/y")), first);
  writeFile(first, "taken");
  EXPECT_EQ(getUniqueDownloadFilePath("a/b", std::string("x/y")), folder + "/x\u2571y/a\u2571b (1).mp4");
  writeFile(folder + "/x\u2571y/a\u2571b (1).mp4", "taken");
  EXPECT_EQ(getUniqueDownloadFilePath("a/b", std::string("x/y")), folder + "/x\u2571y/a\u2571b (2).mp4");

  // A long title is cut at a character boundary, leaving room for the number.
  std::string longTitle;
  for (int i = 0; i < 300; ++i) longTitle += "\u00e9";
  std::string name =
      std::filesystem::path(getUniqueDownloadFilePath(longTitle, std::nullopt)).filename().string();
  std::string stem = name.substr(0, name.size() - 4);
  EXPECT_LE(stem.size() + std::string(" (123456789).mp4").size(), 255u);
  EXPECT_EQ(stem.size() % 2, 0u);
  EXPECT_EQ(name.substr(name.size() - 4), ".mp4");
  for (const char* title : {"", ".", ".."}) EXPECT_EQ(sanitizedFileName(title), "_");
}

TEST_F(CacheStateTest, AVideoMovesToADownloadFolderOnAnotherFileSystemAndBack) {
  pltest::TemporaryFolder elsewhere("/dev/shm");
  setDownloadFolderURL(ns::URL::fileURLWithPath_isDirectory(elsewhere.path().string(), true));
  writeFile(home.cache("m.mp4"), "movie bytes");
  setVideoCacheState("m", true);
  cachetest::NotificationCounter changed(kVideoInfoChangedNotification);

  ASSERT_TRUE(moveCachedVideoToDownloadFolder("m", "My film", std::string("List")));
  std::string saved = elsewhere.path().string() + "/List/My film.mp4";
  EXPECT_EQ(readFile(saved), "movie bytes");
  EXPECT_FALSE(exists(home.cache("m.mp4")));
  EXPECT_TRUE(isVideoDownloaded("m"));
  EXPECT_EQ(getDownloadedVideoPath("m"), saved);
  EXPECT_EQ(getVideoFileSize("m"), 11);
  EXPECT_EQ(changed.count(), 1);

  ASSERT_TRUE(moveDownloadedVideoToCache("m"));
  EXPECT_EQ(readFile(home.cache("m.mp4")), "movie bytes");
  EXPECT_TRUE(isVideoCached("m"));
  EXPECT_EQ(getDownloadedVideoPath("m"), std::nullopt);
  EXPECT_EQ(changed.count(), 2);
}

// The library store records where a saved video went; whatever stands there now that is no
// file (a folder the user made under that name, or a damaged row) is not the video.
TEST_F(CacheStateTest, ASavedVideoPathThatNamesAFolderIsNeitherDeletedNorMoved) {
  pltest::TemporaryFolder elsewhere("/dev/shm");
  const std::string folder = elsewhere.path().string() + "/Holiday.mp4";
  writeFile(folder + "/photo.jpg", "user data");
  saveDownloadedVideoPath("s", folder);
  setVideoCacheState("s", false);
  ASSERT_TRUE(isVideoDownloaded("s"));

  EXPECT_FALSE(moveDownloadedVideoToCache("s"));
  EXPECT_FALSE(exists(home.cache("s.mp4")));
  EXPECT_EQ(readFile(folder + "/photo.jpg"), "user data");
  EXPECT_TRUE(isVideoDownloaded("s"));
  deleteDownloadedVideo("s");
  EXPECT_EQ(readFile(folder + "/photo.jpg"), "user data");
  EXPECT_FALSE(isVideoDownloaded("s"));
}

TEST_F(CacheStateTest, DeletionsRemoveTheirFilesAndNothingOutsideTheFolders) {
  writeFile(home.cache("d.mp4"), "x");
  writeFile(home.cache("d.info"), "x");
  writeFile(getInfoFolderPath() + "/d.cell", "x");
  setVideoCacheState("d", true);
  deleteCachedVideo("d");
  EXPECT_FALSE(exists(home.cache("d.mp4")) || exists(home.cache("d.info")) ||
               exists(getInfoFolderPath() + "/d.cell"));
  EXPECT_FALSE(hasVideoCacheState("d"));

  // Only cached: the file stays, the state goes.
  writeFile(home.cache("k.mp4"), "x");
  setVideoCacheState("k", true);
  deleteDownloadedVideo("k");
  EXPECT_TRUE(exists(home.cache("k.mp4")));
  EXPECT_FALSE(hasVideoCacheState("k"));

  // Without a downloader the partial video, its info and the row go; the audio stays.
  for (const char* name : {"p.mp4", "p.info", "p_Audio.mp4"}) writeFile(home.temp(name), "x");
  writeFile(getInfoFolderPath() + "/p.cell", "x");
  stopAndDeleteDownload("p");
  EXPECT_FALSE(exists(home.temp("p.mp4")) || exists(home.temp("p.info")) ||
               exists(getInfoFolderPath() + "/p.cell"));
  EXPECT_TRUE(exists(home.temp("p_Audio.mp4")));

  // Ids that climb name no file.
  writeFile(home.base() + "/outside.mp4", "keep");
  writeFile(home.base() + "/outside.info", "keep");
  for (const char* id : {"../outside", "../.tmp/../outside", "/etc/passwd"}) {
    deleteCachedVideo(id);
    stopAndDeleteDownload(id);
  }
  EXPECT_EQ(readFile(home.base() + "/outside.mp4"), "keep");
  EXPECT_EQ(readFile(home.base() + "/outside.info"), "keep");
}

TEST_F(CacheStateTest, TheErrorTableStoresAndForgetsOnTheMainQueue) {
  recordDownloadError("e", std::string("HTTP 403"));
  EXPECT_FALSE(hasDownloadError("e"));
  ASSERT_TRUE(pltest::pumpUntil([] { return hasDownloadError("e"); }));
  EXPECT_EQ(getDownloadError("e"), "HTTP 403");
  recordDownloadError("e", std::nullopt);
  ASSERT_TRUE(pltest::pumpUntil([] { return !hasDownloadError("e"); }));
  EXPECT_EQ(getDownloadError("e"), std::nullopt);
}

TEST_F(CacheStateTest, PartialIdsAndInfoFilesAreReadSafely) {
  for (const char* name : {"v1.mp4", "v1_Audio.mp4", "v1.info", "notes.txt"}) writeFile(home.temp(name), "x");
  std::filesystem::create_directories(home.temp("folder.mp4"));
  EXPECT_EQ(getTempVideoIdArray(), (std::vector<std::string>{"v1", "v1_Audio"}));

  // A damaged info file reads as none.
  writeFile(home.cache("bad.info"), "<plist><dict><key>videotype");
  EXPECT_EQ(getCachedVideoHeight("bad"), 360);
  EXPECT_EQ(getAvailableVideoFormats("bad"), std::nullopt);
  EXPECT_EQ(getCachedVideoHeight("../bad"), 360);
  EXPECT_EQ(getCachedVideoHeight("missing"), 360);
}

// The cache base made unusable: one warning for one cause, however many folders it stops and
// however often the launch's check and the scans look again; what is in the way is left as it is.
TEST_F(CacheStateTest, FoldersThatCannotBeMadeForOneReasonAreNamedInOneWarning) {
  auto warnings = [](const ns::LogCapture& log) {
    std::vector<std::string> said;
    for (const auto& line : log.lines())
      if (line.level == ns::LogLevel::Warning) said.push_back(line.message);
    return said;
  };
  const std::string base = home.base();
  std::filesystem::remove_all(base);
  writeFile(base, "in the way");
  {
    ns::LogCapture log(true);
    makeCacheFolders();
    makeCacheFolders();
    EXPECT_TRUE(scanVideoCacheStates().empty());
    EXPECT_EQ(warnings(log),
              (std::vector<std::string>{"CacheState: cannot create the cache folders Cache, .tmp "
                                        "and .info in " +
                                        base + ": Not a directory"}));
    EXPECT_EQ(readFile(base), "in the way");
  }
  // One folder stopped for a reason of its own is named alone.
  std::filesystem::remove(base);
  std::filesystem::create_directories(home.cache(""));
  writeFile(getTempFolderPath(), "a file");
  ns::LogCapture log(true);
  makeCacheFolders();
  makeCacheFolders();
  EXPECT_EQ(warnings(log), (std::vector<std::string>{"CacheState: cannot create the cache folder .tmp in " +
                                                     base + ": Not a directory"}));
  EXPECT_TRUE(std::filesystem::is_directory(getInfoFolderPath()));
  EXPECT_EQ(readFile(getTempFolderPath()), "a file");
}

}  // namespace
