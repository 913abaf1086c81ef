#include "lib/cache/GVCache.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <limits>
#include <thread>

#include "platform/appkit/Image.h"
#include "platform/core/Log.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/serialization/PropertyListSerialization.h"
#include "platform/testing/Pump.h"
#include "tests/lib/cache/ArchivingTestClasses.h"
#include "tests/lib/cache/CacheTestSupport.h"

using cachetest::exists;
using cachetest::readFile;
using cachetest::writeFile;
using pltest::pumpUntil;

namespace {

class GVCacheTest : public ::testing::Test {
 protected:
  pltest::Sandbox sandbox;
  std::string dir = sandbox.path("caches/GVCache");
  std::string index = dir + "/GVCache.plist";

  std::string file(const std::string& key) const { return dir + "/" + key; }
  ns::Value indexOnDisk() const {
    return ns::PropertyListSerialization::propertyListWithData(ns::Data(readFile(index)));
  }
};

std::string isoDate(double since1970) {
  std::time_t t = static_cast<std::time_t>(since1970);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&t));
  return buf;
}

std::string entryXML(const std::string& key, double created, double death) {
  return "<key>" + key + "</key><dict><key>created</key><date>" + isoDate(created) +
         "</date><key>death</key><date>" + isoDate(death) + "</date></dict>";
}

std::string indexXML(const std::string& entries) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\"><dict>" +
         entries + "</dict></plist>\n";
}

// Counts the times a file is renamed into place in a folder (how atomic writes land).
class WriteWatch {
 public:
  WriteWatch(const std::string& folder, std::string name) : name_(std::move(name)) {
    fd_ = inotify_init1(IN_NONBLOCK);
    inotify_add_watch(fd_, folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
  }
  ~WriteWatch() { ::close(fd_); }
  int count() {
    alignas(inotify_event) char buf[4096];
    for (;;) {
      ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) break;
      for (char* p = buf; p < buf + n;) {
        auto* e = reinterpret_cast<inotify_event*>(p);
        if (e->len && name_ == e->name) ++count_;
        p += sizeof(inotify_event) + e->len;
      }
    }
    return count_;
  }

 private:
  int fd_;
  std::string name_;
  int count_ = 0;
};

}  // namespace

// Opening prunes entries that died (file and entry) and keeps the living ones; an index that
// names paths outside the folder cannot make opening delete them.
TEST_F(GVCacheTest, OpeningDeletesDeadEntriesAndKeepsLiveOnes) {
  double now = ns::Date::now().timeIntervalSince1970();
  writeFile(file("dead"), "old bytes");
  writeFile(file("live"), "fresh bytes");
  writeFile(sandbox.path("caches/victim"), "must survive");
  writeFile(index,
            indexXML(entryXML("dead", now - 61, now - 1) + entryXML("live", now - 1, now + 60) +
                     entryXML("../victim", now - 61, now - 1) +
                     "<key>nodeath</key><dict><key>created</key><date>" + isoDate(now) + "</date></dict>"));
  writeFile(file("nodeath"), "x");

  auto cache = GVCache::initWithCacheDirectory(dir);
  EXPECT_FALSE(exists(file("dead")));
  EXPECT_FALSE(exists(file("nodeath")));
  EXPECT_TRUE(exists(sandbox.path("caches/victim")));
  ns::Dictionary snapshot = cache->frozenCacheInfo();
  EXPECT_EQ(snapshot.count(), 1u);
  EXPECT_TRUE(snapshot.contains("live"));
  EXPECT_FALSE(cache->hasCacheForKey("dead"));
  EXPECT_TRUE(cache->hasCacheForKey("live"));
  EXPECT_EQ(cache->stringForKey("live"), "fresh bytes");
  // The index keeps whole seconds, so the entry dates from the start of the second `now - 1` fell
  // in; its age is the time since then, however long the opening above took (a millisecond of
  // slack for the conversions between the date's forms).
  double created = std::floor(now - 1);
  double before = ns::Date::now().timeIntervalSince1970();
  double age = cache->ageForKey("live");
  double after = ns::Date::now().timeIntervalSince1970();
  EXPECT_GE(age, before - created - 1e-3);
  EXPECT_LE(age, after - created + 1e-3);
  EXPECT_EQ(cache->ageForKey("never stored"), 0);
}

TEST_F(GVCacheTest, DamagedIndexFilesGiveAnEmptyIndex) {
  // The last is a binary dictionary whose key holds a NUL, which libplist would abort on.
  std::string nulKey = std::string("bplist00\xD1\x01\x02\x62\0a\0\0\x09\x08\x0B\x10", 20) +
                       std::string(6, '\0') + "\x01\x01" + std::string(7, '\0') + "\x03" +
                       std::string(15, '\0') + "\x11";
  for (std::string bytes : {std::string("not a plist at all"), indexXML("").substr(0, 60),
                            std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>"),
                            nulKey, indexXML(std::string("<key>a\0b</key><dict/>", 22))}) {
    writeFile(index, bytes);
    auto cache = GVCache::initWithCacheDirectory(dir);
    EXPECT_EQ(cache->frozenCacheInfo().count(), 0u);
    cache->setString_forKey_withTimeoutInterval("works", "k", 60);
    cache->synchronize();
    EXPECT_EQ(cache->stringForKey("k"), "works");
  }
}

// Ten stores within 0.2 s reach the disk as one index write, half a second after the first
// store; the entries' dates are the lifetime apart.
TEST_F(GVCacheTest, StoresInABurstGiveOneIndexWrite) {
  pltest::VirtualClock clock;
  auto cache = GVCache::initWithCacheDirectory(dir);
  WriteWatch watch(dir, "GVCache.plist");
  for (int i = 0; i < 10; ++i) {
    cache->setString_forKey_withTimeoutInterval("v", "key" + std::to_string(i), 60);
    clock.advance(0.02);
  }
  clock.advance(0.28);  // 0.48 s after the first store
  EXPECT_FALSE(pumpUntil([&] { return watch.count() >= 1; }, 0.05));
  clock.advance(0.04);
  ASSERT_TRUE(pumpUntil([&] { return watch.count() >= 1; }));

  ns::Value written = indexOnDisk();
  ASSERT_TRUE(written.isDictionary());
  EXPECT_EQ(written.count(), 10u);
  const ns::Value& entry = written["key3"];
  ASSERT_TRUE(entry["created"].isDate());
  EXPECT_EQ(entry["death"].date().timeIntervalSinceDate(entry["created"].date()), 60);

  // The next change is saved by a write of its own; nothing else was written in between.
  cache->setString_forKey_withTimeoutInterval("v", "key10", 60);
  clock.advance(0.51);
  ASSERT_TRUE(pumpUntil([&] { return watch.count() >= 2; }));
  EXPECT_EQ(indexOnDisk().count(), 11u);
  cache->synchronize();
  EXPECT_EQ(watch.count(), 2);
}

// A lifetime that reaches past what a property list date can hold, or is no finite number, is
// clamped to the distant future: every later save of the index still lands and a restart keeps
// every key.
TEST_F(GVCacheTest, LifetimesPastTheLastStorableDateAreClamped) {
  const double lifetimes[] = {std::numeric_limits<double>::infinity(),
                              std::numeric_limits<double>::quiet_NaN(), 1e12,
                              std::numeric_limits<double>::max()};
  {
    auto cache = GVCache::initWithCacheDirectory(dir);
    for (std::size_t i = 0; i < std::size(lifetimes); ++i) {
      cache->setString_forKey_withTimeoutInterval("long-lived", "forever" + std::to_string(i), lifetimes[i]);
    }
    cache->setString_forKey_withTimeoutInterval("ordinary", "plain", 60);
    cache->synchronize();
    for (std::size_t i = 0; i < std::size(lifetimes); ++i) {
      EXPECT_EQ(cache->frozenCacheInfo()["forever" + std::to_string(i)]["death"].date(),
                ns::Date::distantFuture())
          << i;
    }
  }
  ASSERT_EQ(indexOnDisk().count(), 5u);
  auto reopened = GVCache::initWithCacheDirectory(dir);
  EXPECT_EQ(reopened->stringForKey("plain"), "ordinary");
  for (std::size_t i = 0; i < std::size(lifetimes); ++i) {
    EXPECT_EQ(reopened->stringForKey("forever" + std::to_string(i)), "long-lived") << i;
  }
}

// A process killed while storing leaves the side files of atomic writes (".<key>.XXXXXX") and of
// copies (".<key>.copy-XXXXXX"); opening removes them, and only them, and the cache works.
TEST_F(GVCacheTest, OpeningRemovesSideFilesThatKilledWritesLeft) {
  double now = ns::Date::now().timeIntervalSince1970();
  // ".x.copy-1a2B3c" is a key in its own right here, and its file is a value.
  writeFile(index, indexXML(entryXML("kept", now - 1, ns::Date::distantFuture().timeIntervalSince1970()) +
                            entryXML(".x.copy-1a2B3c", now - 1, now + 600)));
  writeFile(file("kept"), "kept bytes");
  writeFile(file(".x.copy-1a2B3c"), "a value");
  const char* stale[] = {".kept.Ab12Cd", ".kept.copy-Xy98Zw", ".GVCache.plist.q1w2e3", ".gone.abcdef",
                         ".gone.copy-000000"};
  const char* unrelated[] = {".kept.abc", "notes.txt", ".hidden", ".kept.copy-12345!", "kept.Ab12Cd"};
  for (const char* name : stale) writeFile(file(name), "partial");
  for (const char* name : unrelated) writeFile(file(name), "other");
  std::filesystem::create_directories(file(".folder.abcdef"));

  auto cache = GVCache::initWithCacheDirectory(dir);
  for (const char* name : stale) EXPECT_FALSE(exists(file(name))) << name;
  for (const char* name : unrelated) EXPECT_TRUE(exists(file(name))) << name;
  EXPECT_TRUE(exists(file(".folder.abcdef")));
  EXPECT_EQ(cache->stringForKey("kept"), "kept bytes");
  EXPECT_EQ(cache->stringForKey(".x.copy-1a2B3c"), "a value");
  EXPECT_EQ(cache->frozenCacheInfo()["kept"]["death"].date(), ns::Date::distantFuture());

  cache->setString_forKey_withTimeoutInterval("new", "fresh", 60);
  cache->synchronize();
  EXPECT_EQ(indexOnDisk().count(), 3u);
  EXPECT_EQ(GVCache::initWithCacheDirectory(dir)->stringForKey("fresh"), "new");
}

TEST_F(GVCacheTest, RemovalAndZeroLifetimes) {
  auto cache = GVCache::initWithCacheDirectory(dir);
  cache->setString_forKey_withTimeoutInterval("hello", "greeting", 60);
  EXPECT_TRUE(cache->frozenCacheInfo().contains("greeting"));  // at once, before the write
  cache->synchronize();
  EXPECT_TRUE(cache->hasCacheForKey("greeting"));

  cache->removeCacheForKey("greeting");
  EXPECT_FALSE(cache->hasCacheForKey("greeting"));
  EXPECT_EQ(cache->dataForKey("greeting"), std::nullopt);
  cache->synchronize();
  EXPECT_FALSE(exists(file("greeting")));

  cache->setString_forKey_withTimeoutInterval("short-lived", "zero", 0);
  cache->synchronize();
  EXPECT_EQ(cache->stringForKey("zero"), "");
  EXPECT_TRUE(exists(file("zero")));
  EXPECT_FALSE(cache->frozenCacheInfo().contains("zero"));

  // A new lifetime renews the entry; a lifetime of 0 drops it again.
  cache->setString_forKey_withTimeoutInterval("a", "renew", 60);
  cache->synchronize();
  cache->setCacheTimeoutInterval_forKey(3600, "renew");
  ns::Value entry = cache->frozenCacheInfo()["renew"];
  EXPECT_EQ(entry["death"].date().timeIntervalSinceDate(entry["created"].date()), 3600);
  cache->setCacheTimeoutInterval_forKey(-1, "renew");
  EXPECT_FALSE(cache->hasCacheForKey("renew"));
  EXPECT_TRUE(exists(file("renew")));

  // Bytes that are not UTF-8 are no string.
  cache->setData_forKey_withTimeoutInterval(ns::Data("\xff\xfe", 2), "binary", 60);
  cache->synchronize();
  EXPECT_EQ(cache->stringForKey("binary"), std::nullopt);
  EXPECT_EQ(cache->dataForKey("binary")->length(), 2u);
}

// Work on one key lands in the order it was asked for, whatever the threads.
TEST_F(GVCacheTest, SameKeyWorkKeepsItsOrder) {
  auto cache = GVCache::initWithCacheDirectory(dir);
  std::atomic<int> turn{0};
  auto writer = [&](int parity) {
    for (int i = parity; i < 200; i += 2) {
      while (turn.load() != i) std::this_thread::yield();
      cache->setString_forKey_withTimeoutInterval(std::string(4096, char('a' + i % 26)), "contended", 60);
      turn.store(i + 1);
    }
  };
  std::thread a(writer, 0), b(writer, 1);
  a.join();
  b.join();
  cache->setString_forKey_withTimeoutInterval("last", "contended", 60);
  cache->synchronize();
  EXPECT_EQ(readFile(file("contended")), "last");

  for (int i = 0; i < 50; ++i) {
    std::string key = "cycle" + std::to_string(i);
    cache->setString_forKey_withTimeoutInterval(std::string(65536, 'x'), key, 60);
    cache->removeCacheForKey(key);
    cache->setString_forKey_withTimeoutInterval("kept", key, 60);
  }
  cache->synchronize();
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(cache->stringForKey("cycle" + std::to_string(i)), "kept") << i;
  }
}

// A change is in the snapshot when the call returns, also while other threads change other keys.
TEST_F(GVCacheTest, EveryChangeIsVisibleAtOnce) {
  auto cache = GVCache::initWithCacheDirectory(dir);
  std::atomic<int> misses{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 150; ++i) {
        std::string key = "t" + std::to_string(t) + "-" + std::to_string(i);
        cache->setCacheTimeoutInterval_forKey(60, key);
        if (!cache->frozenCacheInfo().contains(ns::Value(key))) ++misses;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(misses.load(), 0);
  EXPECT_EQ(cache->frozenCacheInfo().count(), 600u);
  cache->synchronize();
  EXPECT_EQ(indexOnDisk().count(), 600u);
}

// Keys that are no plain file name are refused by every mutator: nothing is written anywhere,
// the index stays as it was.
TEST_F(GVCacheTest, KeysThatAreNoFileNamesAreRefused) {
  {
    auto cache = GVCache::initWithCacheDirectory(dir);
    cache->setString_forKey_withTimeoutInterval("kept", "good", 600);
    cache->synchronize();
  }
  writeFile(sandbox.path("caches/source"), "copied bytes");
  std::string indexBefore = readFile(index);
  auto before = pltest::folderTree(sandbox.root().string());
  auto image = ns::make<ak::Image>(1, 1, std::vector<std::uint8_t>{1, 2, 3, 4});

  ns::LogCapture log(true);
  auto cache = GVCache::initWithCacheDirectory(dir);
  // A key too long for its side file (let alone its own file) can never be written.
  std::string tooLong(GVCacheMaxKeyLength + 1, 'k');
  for (std::string key : std::vector<std::string>{"a/b", "..", ".", "", "GVCache.plist", "../escape",
                                                  std::string("nul\0x", 5), tooLong, std::string(300, 'k')}) {
    cache->setData_forKey_withTimeoutInterval(ns::Data("bytes"), key, 60);
    cache->setString_forKey_withTimeoutInterval("text", key, 60);
    cache->setImage_forKey_withTimeoutInterval(image, key, 60);
    cache->setPlist_forKey_withTimeoutInterval(ns::Value(ns::Array{1, 2}), key, 60);
    cache->copyFilePath_asKey_withTimeoutInterval(sandbox.path("caches/source"), key, 60);
    cache->setCacheTimeoutInterval_forKey(60, key);
    cache->removeCacheForKey(key);
    EXPECT_FALSE(cache->hasCacheForKey(key));
  }
  cache->synchronize();
  EXPECT_EQ(pltest::folderTree(sandbox.root().string()), before);
  EXPECT_EQ(readFile(index), indexBefore);
  EXPECT_EQ(cache->frozenCacheInfo().count(), 1u);
  EXPECT_EQ(cache->stringForKey("good"), "kept");
  EXPECT_TRUE(log.contains("refused the key \"a/b\""));
  EXPECT_TRUE(log.contains("refused the key \"GVCache.plist\""));
}

// A key whose value file can be written but whose copy side file name is too long: a copy onto
// it could never land, and the older value would be served under a renewed lifetime.
TEST_F(GVCacheTest, AKeyTooLongForItsSideFileIsRefusedRatherThanLeftStale) {
  auto cache = GVCache::initWithCacheDirectory(dir);
  std::string key(245, 'k');
  writeFile(sandbox.path("source"), "new");
  ns::LogCapture log(true);
  cache->setString_forKey_withTimeoutInterval("old", key, 60);
  cache->synchronize();
  cache->copyFilePath_asKey_withTimeoutInterval(sandbox.path("source"), key, 60);
  cache->synchronize();
  EXPECT_NE(cache->stringForKey(key), "old");
  EXPECT_FALSE(cache->frozenCacheInfo().contains(ns::Value(key)));
  EXPECT_TRUE(log.contains("refused the key"));
}

// The longest key that is accepted is stored, copied over and read back like any other.
TEST_F(GVCacheTest, TheLongestAcceptedKeyWorks) {
  auto cache = GVCache::initWithCacheDirectory(dir);
  std::string key(GVCacheMaxKeyLength, 'k');
  cache->setString_forKey_withTimeoutInterval("stored", key, 60);
  cache->synchronize();
  EXPECT_EQ(cache->stringForKey(key), "stored");
  writeFile(sandbox.path("source"), "copied");
  cache->copyFilePath_asKey_withTimeoutInterval(sandbox.path("source"), key, 60);
  cache->synchronize();
  EXPECT_EQ(cache->stringForKey(key), "copied");
}

// Values of every kind survive a restart: a new instance on the same folder reads them back.
TEST_F(GVCacheTest, ValuesSurviveARestart) {
  auto image = ns::make<ak::Image>(2, 2,
                                   std::vector<std::uint8_t>{255, 0, 0, 255, 0, 255, 0, 200,  //
                                                             0, 0, 255, 100, 10, 20, 30, 0});
  ns::Value plist = ns::Dictionary{{"title", "Favourites"}, {"ids", ns::Array{"a", "b"}}, {"count", 2}};
  auto row = ns::make<cachetest::ArchItem>();
  row->setTitle("A row");
  row->setCount(5);
  {
    pltest::VirtualClock clock;
    auto cache = GVCache::initWithCacheDirectory(dir);
    WriteWatch watch(dir, "GVCache.plist");
    cache->setString_forKey_withTimeoutInterval("Grüße", "string", 600);
    cache->setPlist_forKey_withTimeoutInterval(plist, "plist", 600);
    cache->setImage_forKey_withTimeoutInterval(image, "image", 600);
    cache->setObject_forKey_withTimeoutInterval(ns::Value(row), "row", 600);
    // The index reaches the disk by itself, half a second later.
    clock.advance(0.51);
    ASSERT_TRUE(pumpUntil([&] { return watch.count() >= 1 && indexOnDisk().count() == 4; }));
  }
  auto reopened = GVCache::initWithCacheDirectory(dir);
  EXPECT_EQ(reopened->stringForKey("string"), "Grüße");
  EXPECT_EQ(reopened->plistForKey("plist"), plist);
  // The plist is stored in binary form.
  EXPECT_EQ(readFile(file("plist")).substr(0, 8), "bplist00");
  auto back = reopened->imageForKey("image");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->pixelsWide(), 2u);
  EXPECT_EQ(back->rgbaBytes(), image->rgbaBytes());
  EXPECT_EQ(reopened->imageForKey("string"), nullptr);
  auto rowBack = reopened->objectForKey("row").objectAs<cachetest::ArchItem>();
  ASSERT_TRUE(rowBack);
  EXPECT_EQ(rowBack->title(), "A row");
  EXPECT_EQ(rowBack->count(), 5);
  EXPECT_TRUE(reopened->objectForKey("plist").isNil());
  EXPECT_TRUE(reopened->objectForKey("missing").isNil());
  EXPECT_EQ(reopened->plistForKey("string"), ns::Value());
}

// Copying a file in replaces an existing value; a missing source leaves no readable value.
TEST_F(GVCacheTest, CopyingAFileReplacesTheValue) {
  auto cache = GVCache::initWithCacheDirectory(dir);
  writeFile(sandbox.path("first"), "first copy");
  writeFile(sandbox.path("second"), "second copy");
  cache->copyFilePath_asKey_withTimeoutInterval(sandbox.path("first"), "copied", 60);
  cache->synchronize();
  EXPECT_EQ(cache->stringForKey("copied"), "first copy");
  cache->copyFilePath_asKey_withTimeoutInterval(sandbox.path("second"), "copied", 60);
  cache->synchronize();
  EXPECT_EQ(cache->stringForKey("copied"), "second copy");

  cache->copyFilePath_asKey_withTimeoutInterval(sandbox.path("missing"), "absent", 60);
  cache->synchronize();
  EXPECT_FALSE(cache->hasCacheForKey("absent"));
  // No side files are left behind.
  for (auto& name : pltest::folderTree(dir)) EXPECT_EQ(name.find(".copy-"), std::string::npos) << name;
}

TEST_F(GVCacheTest, ClearingDeletesIndexedFilesOnly) {
  auto cache = GVCache::initWithCacheDirectory(dir);
  cache->setString_forKey_withTimeoutInterval("1", "one", 60);
  cache->setString_forKey_withTimeoutInterval("2", "two", 60);
  cache->setString_forKey_withTimeoutInterval("unindexed", "stray", 0);
  cache->clearCache();
  EXPECT_FALSE(exists(file("one")));
  EXPECT_FALSE(exists(file("two")));
  EXPECT_EQ(cache->frozenCacheInfo().count(), 0u);
  cache->synchronize();
  EXPECT_TRUE(exists(file("stray")));
  EXPECT_EQ(indexOnDisk().count(), 0u);
}

TEST_F(GVCacheTest, DefaultLifetimesAndTheSharedInstances) {
  auto cache = GVCache::initWithCacheDirectory(dir);
  EXPECT_EQ(cache->defaultTimeoutInterval(), 0);
  cache->setString_forKey("never readable", "default");
  cache->setDefaultTimeoutInterval(60);
  cache->setString_forKey("readable", "default2");
  cache->synchronize();
  EXPECT_FALSE(cache->hasCacheForKey("default"));
  EXPECT_TRUE(cache->hasCacheForKey("default2"));

  // init() removes the stale folder named after the process before opening the bundle's one.
  std::string caches = sandbox.home().string() + "/.cache";
  std::string stale = caches + "/" + ns::ProcessInfo::processInfo()->processName() + "/GVCache";
  writeFile(stale + "/old", "stale");
  auto opened = GVCache::init();
  EXPECT_FALSE(exists(stale));
  EXPECT_EQ(opened->directory(), caches + "/com.ordel42.zeravozezi/GVCache");
  EXPECT_TRUE(exists(opened->directory()));
}

TEST(GVCacheShared, OneInstanceMadeOnceAcrossThreads) {
  pltest::Sandbox sandbox;
  std::vector<ns::Ref<GVCache>> seen(8);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&, i] { seen[i] = getSharedGVCache(); });
  for (auto& t : threads) t.join();
  for (auto& s : seen) EXPECT_EQ(s, seen[0]);
  EXPECT_EQ(seen[0]->defaultTimeoutInterval(), 0);
  EXPECT_EQ(seen[0]->directory(), sandbox.home().string() + "/.cache/com.ordel42.zeravozezi/GVCache");
}
