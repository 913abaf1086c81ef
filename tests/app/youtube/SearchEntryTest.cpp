// The row model's files: real ".cell" files in a sandboxed cache folder.
#include "app/youtube/SearchEntry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/CacheUtilities.h"
#include "platform/core/Exception.h"
#include "platform/security/Random.h"
#include "platform/serialization/KeyedArchiver.h"
#include "platform/serialization/PropertyListSerialization.h"
#include "platform/serialization/PropertyListUID.h"
#include "platform/testing/Sandbox.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

ns::Ref<SearchEntry> fullRow() {
  auto row = SearchEntry::init();
  row->setVideoid("dQw4w9WgXcQ");
  row->setTitle("Ünïcödé title — 日本語 🎬");
  row->setAuthor("Some Channel");
  row->setDesc("line one\nline two");
  row->setDate("2015-03-04");
  row->setThumburl("https://i.example/vi/dQw4w9WgXcQ/default.jpg");
  row->setHqthumburl("https://i.example/vi/dQw4w9WgXcQ/hqdefault.jpg");
  row->setVideoChannelId("UCuploader");
  row->setChannelid("UCchannel");
  row->setPlaylistid("PLlist");
  row->setPlaylistItemId(std::nullopt);
  row->setDuration(213);
  row->setViewCount(2147483647);
  row->setVideoCount(-5);
  row->setSubscriberCount(9000000000LL);
  row->setRating(4.25f);
  row->setIdx(17);
  row->setIsPlaylist(true);
  row->setIsChannel(false);
  row->setIsPlaying(true);
  row->setIsInFavorites(true);
  row->setIsInOtherPlaylist(true);
  return row;
}

void expectSameRow(const SearchEntry& a, const SearchEntry& b) {
  EXPECT_EQ(a.videoid(), b.videoid());
  EXPECT_EQ(a.title(), b.title());
  EXPECT_EQ(a.author(), b.author());
  EXPECT_EQ(a.desc(), b.desc());
  EXPECT_EQ(a.date(), b.date());
  EXPECT_EQ(a.thumburl(), b.thumburl());
  EXPECT_EQ(a.hqthumburl(), b.hqthumburl());
  EXPECT_EQ(a.videoChannelId(), b.videoChannelId());
  EXPECT_EQ(a.channelid(), b.channelid());
  EXPECT_EQ(a.playlistid(), b.playlistid());
  EXPECT_EQ(a.playlistItemId(), b.playlistItemId());
  EXPECT_EQ(a.duration(), b.duration());
  EXPECT_EQ(a.viewCount(), b.viewCount());
  EXPECT_EQ(a.videoCount(), b.videoCount());
  EXPECT_EQ(a.subscriberCount(), b.subscriberCount());
  EXPECT_EQ(a.rating(), b.rating());
  EXPECT_EQ(a.idx(), b.idx());
  EXPECT_EQ(a.isPlaylist(), b.isPlaylist());
  EXPECT_EQ(a.isChannel(), b.isChannel());
  EXPECT_EQ(a.isPlaying(), b.isPlaying());
  EXPECT_EQ(a.isInFavorites(), b.isInFavorites());
  EXPECT_EQ(a.isInOtherPlaylist(), b.isInOtherPlaylist());
}

// Writes an archive whose root claims to be a row but holds a number where a title belongs.
class ForgedRow : public ns::Object, public ns::Coding {
 public:
  void encodeWithCoder(ns::Coder& coder) const override {
    coder.encodeObject_forKey(ns::Value("abc"), "videoid");
    coder.encodeObject_forKey(ns::Value(42), "title");
  }
  void initWithCoder(ns::Coder&) override {}
  std::string classNameForKeyedArchiver() const override { return "SearchEntry"; }
};

class SearchEntryTest : public ::testing::Test {
 protected:
  pltest::Sandbox sandbox;
};

TEST_F(SearchEntryTest, EveryPropertySurvivesTheRowFile) {
  auto row = fullRow();
  ASSERT_TRUE(row->saveToCache());
  std::string path = getInfoFolderPath() + "/dQw4w9WgXcQ.cell";
  ASSERT_TRUE(std::filesystem::exists(path));

  auto back = SearchEntry::initWithCache("dQw4w9WgXcQ");
  ASSERT_NE(back, nullptr);
  expectSameRow(*row, *back);
  EXPECT_FALSE(back->playlistItemId().has_value());

  // nil and "" stay distinct through the file, for both texts that may be nil.
  row->setPlaylistItemId("");
  row->setTitle("");
  ASSERT_TRUE(row->saveToCache());
  back = SearchEntry::initWithCache("dQw4w9WgXcQ");
  ASSERT_NE(back, nullptr);
  ASSERT_TRUE(back->playlistItemId().has_value());
  EXPECT_EQ(*back->playlistItemId(), "");
  EXPECT_EQ(back->title(), "");

  // A second save replaces the file and leaves no side files behind.
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(getInfoFolderPath()))
    names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"dQw4w9WgXcQ.cell"});
}

TEST_F(SearchEntryTest, TheFileIsAKeyedArchiveOfTheRowUnderItsPropertyNames) {
  ASSERT_TRUE(fullRow()->saveToCache());
  std::string bytes = readFile(getInfoFolderPath() + "/dQw4w9WgXcQ.cell");
  ns::Value plist = ns::PropertyListSerialization::propertyListWithData(ns::Data(bytes));
  ASSERT_TRUE(plist.isDictionary());
  EXPECT_EQ(plist["$archiver"].stringValue(), "NSKeyedArchiver");
  const ns::Array& objects = plist["$objects"].array();
  auto* rootUid = ns::PropertyListUID::from(plist["$top"]["root"]);
  ASSERT_NE(rootUid, nullptr);
  ASSERT_LT(rootUid->value(), objects.size());
  const ns::Value& root = objects[rootUid->value()];
  auto* classUid = ns::PropertyListUID::from(root["$class"]);
  ASSERT_NE(classUid, nullptr);
  EXPECT_EQ(objects[classUid->value()]["$classname"].stringValue(), "SearchEntry");

  std::vector<std::string> keys;
  for (const auto& [key, value] : root.dictionary()) {
    if (key.string() != "$class") keys.push_back(key.string());
  }
  std::sort(keys.begin(), keys.end());
  // Every property but the nil playlistItemId, each under its own name.
  std::vector<std::string> expected{
      "author",     "channelid",  "date",           "desc",          "duration",
      "hqthumburl", "idx",        "isChannel",      "isInFavorites", "isInOtherPlaylist",
      "isPlaying",  "isPlaylist", "playlistid",     "rating",        "subscriberCount",
      "thumburl",   "title",      "videoChannelId", "videoCount",    "videoid",
      "viewCount"};
  EXPECT_EQ(keys, expected);
  // The title is stored as text, the counts as numbers (objects of the archive, or inline).
  auto member = [&](const char* key) {
    const ns::Value& v = root[ns::Value(key)];
    auto* uid = ns::PropertyListUID::from(v);
    return uid ? objects[uid->value()] : v;
  };
  EXPECT_EQ(member("title"), ns::Value("Ünïcödé title — 日本語 🎬"));
  EXPECT_TRUE(member("subscriberCount").isNumber());
  EXPECT_EQ(member("subscriberCount").longLongValue(), 9000000000LL);
  EXPECT_TRUE(member("isPlaylist").boolValue());
}

TEST_F(SearchEntryTest, UnreadableRowFilesReadAsMissing) {
  ASSERT_TRUE(fullRow()->saveToCache());
  std::string good = readFile(getInfoFolderPath() + "/dQw4w9WgXcQ.cell");
  ASSERT_GT(good.size(), 100u);

  ns::Data otherClass = ns::KeyedArchiver::archivedDataWithRootObject(
      ns::Value(ns::Dictionary{{ns::Value("videoid"), ns::Value("abc")}}));
  ns::Data wrongType = ns::KeyedArchiver::archivedDataWithRootObject(ns::Value(ns::make<ForgedRow>()));
  ns::Data random = sec::randomData(4096);

  struct Case {
    const char* name;
    std::optional<std::string> bytes;  // nil: no file at all
  };
  const Case cases[] = {
      {"missing", std::nullopt},
      {"cut to half", good.substr(0, good.size() / 2)},
      {"random bytes", random.toString()},
      {"empty", std::string()},
      {"archive of another class", otherClass.toString()},
      {"property of the wrong type", wrongType.toString()},
      {"plain property list", std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict/></plist>")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = getInfoFolderPath() + "/brokenRow.cell";
    std::filesystem::remove(path);
    if (c.bytes) writeFile(path, *c.bytes);
    ns::Ref<SearchEntry> row;
    EXPECT_NO_THROW(row = SearchEntry::initWithCache("brokenRow"));
    EXPECT_EQ(row, nullptr);
  }
}

TEST_F(SearchEntryTest, IdsThatCannotNameAFileAreNeverReadOrWritten) {
  // A row file planted beside the info folder must not be reachable through a hostile id.
  writeFile(getCacheBasePath() + "/planted.cell", readFile("/dev/null"));
  ASSERT_TRUE(fullRow()->saveToCache());
  std::filesystem::copy_file(getInfoFolderPath() + "/dQw4w9WgXcQ.cell", getCacheBasePath() + "/planted.cell",
                             std::filesystem::copy_options::overwrite_existing);

  for (std::string id : {"../planted", "", "a/b", "a b", "ab\xc3\xa9", "..", "x.cell"}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(SearchEntry::initWithCache(id), nullptr);
    EXPECT_EQ(SearchEntry::cachePathForVideoId(id), std::nullopt);
    auto row = fullRow();
    row->setVideoid(id);
    EXPECT_FALSE(row->saveToCache());
  }
  auto noId = fullRow();
  noId->setVideoid(std::nullopt);
  EXPECT_FALSE(noId->saveToCache());

  std::vector<std::string> names;
  for (auto& e : std::filesystem::recursive_directory_iterator(getCacheBasePath())) {
    names.push_back(std::filesystem::relative(e.path(), getCacheBasePath()).string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".info", ".info/dQw4w9WgXcQ.cell", "planted.cell"}));
}

TEST_F(SearchEntryTest, TheHighResolutionThumbnailFallsBackToTheThumbnail) {
  auto row = SearchEntry::init();
  row->setThumburl("https://i.example/default.jpg");
  EXPECT_EQ(row->getHighResolutionThumbnailURL(), "https://i.example/default.jpg");
  row->setHqthumburl("https://i.example/hq.jpg");
  EXPECT_EQ(row->getHighResolutionThumbnailURL(), "https://i.example/hq.jpg");
}

}  // namespace
