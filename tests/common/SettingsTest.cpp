// The typed settings over the real defaults file of a sandboxed home folder.
#include "common/Settings.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <limits>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/PropertyListFile.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/testing/ChildTest.h"
#include "platform/testing/Sandbox.h"

namespace {

ns::Ref<ns::UserDefaults> defaults() {
  return ns::UserDefaults::standardUserDefaults();
}

class SettingsTest : public ::testing::Test {
 protected:
  // What the defaults file itself holds under `key`.
  ns::Value storedInFile(const std::string& key) const {
    return ns::dictionaryWithContentsOfFile(
        (sandbox.configHome() / "com.ordel42.zeravozezi.plist").string())[key];
  }
  pltest::Sandbox sandbox;
};

TEST_F(SettingsTest, AFreshHomeReadsTheDefaults) {
  struct StringCase {
    const char* key;
    const char* expected;
  };
  for (const auto& c : std::vector<StringCase>{{"preferredVideoQuality", "720"},
                                               {"downloadPath", ""},
                                               {"feedRegion", ""},
                                               {"search_history", ""},
                                               {"neverHeardOf", ""}}) {
    EXPECT_EQ(getStringSetting(c.key), c.expected) << c.key;
  }
  struct BoolCase {
    const char* key;
    bool expected;
  };
  for (const auto& c : std::vector<BoolCase>{{"appendPlaylistNameToDownloadPath", true},
                                             {"UseSearchHistory", true},
                                             {"privatePlaylist", true},
                                             {"askquality", false},
                                             {"SearchOnlyHD", false},
                                             {"SafeSearch", false},
                                             {"v2nv", false},
                                             {"white_buttons", false},
                                             {"neverHeardOf", false}}) {
    EXPECT_EQ(getBoolSetting(c.key), c.expected) << c.key;
  }
  struct IntCase {
    const char* key;
    long expected;
  };
  for (const auto& c : std::vector<IntCase>{
           {"cachePolicy", 1}, {"cacheSize", 10}, {"leftSplitViewPosition", 0}, {"neverHeardOf", 0}}) {
    EXPECT_EQ(getIntSetting(c.key), c.expected) << c.key;
  }
  EXPECT_EQ(getSearchOrder(), "relevance");
  EXPECT_EQ(getPreferredVideoQuality(), "720");

  // Stored empty texts fall back where the accessor says so.
  setStringSetting("preferredVideoQuality", "");
  EXPECT_EQ(getStringSetting("preferredVideoQuality"), "");
  EXPECT_EQ(getPreferredVideoQuality(), "360");
  setSearchOrder("");
  EXPECT_EQ(getSearchOrder(), "relevance");
  setSearchOrder("viewCount");
  EXPECT_EQ(getSearchOrder(), "viewCount");
  EXPECT_EQ(storedInFile("searchOrder"), ns::Value("viewCount"));
}

// Runs in the child started by the next test, with the parent's home folder.
TEST(SettingsChild, DISABLED_ReadsWhatTheParentStored) {
  EXPECT_TRUE(getBoolSetting("SafeSearch"));
  EXPECT_FALSE(getBoolSetting("UseSearchHistory"));
  EXPECT_EQ(getIntSetting("cacheSize"), -1);
  EXPECT_EQ(getStringSetting("feedRegion"), "JP");
}

TEST_F(SettingsTest, SettersWriteTheDefaultsFileAtOnceForAnotherProcess) {
  setBoolSetting("SafeSearch", true);
  setBoolSetting("UseSearchHistory", false);
  setIntSetting("cacheSize", -1);
  setStringSetting("feedRegion", "JP");
  EXPECT_EQ(storedInFile("SafeSearch"), ns::Value("Y"));
  EXPECT_EQ(storedInFile("UseSearchHistory"), ns::Value("N"));
  EXPECT_EQ(storedInFile("cacheSize").integerValue(), -1);
  EXPECT_EQ(storedInFile("feedRegion"), ns::Value("JP"));

  int status = pltest::runChildTest("SettingsChild.DISABLED_ReadsWhatTheParentStored");
  ASSERT_TRUE(status != -1 && WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child read other settings";
}

TEST_F(SettingsTest, AValueOfAnotherTypeReadsAsAbsent) {
  struct BoolCase {
    const char* key;
    ns::Value stored;
    bool expected;
  };
  for (const auto& c : std::vector<BoolCase>{{"SafeSearch", ns::Value(1), false},
                                             {"SafeSearch", ns::Value(true), false},
                                             {"SafeSearch", ns::Value("yes"), false},
                                             {"SafeSearch", ns::Value("YES"), false},
                                             {"SafeSearch", ns::Value("Y"), true},
                                             {"UseSearchHistory", ns::Value(0), true},
                                             {"UseSearchHistory", ns::Value("no"), true},
                                             {"UseSearchHistory", ns::Value("N"), false}}) {
    defaults()->setObject_forKey(c.stored, c.key);
    EXPECT_EQ(getBoolSetting(c.key), c.expected) << c.key << " holding " << c.stored.description();
  }

  struct StringCase {
    const char* key;
    ns::Value stored;
    const char* expected;
  };
  for (const auto& c : std::vector<StringCase>{{"search_history", ns::Value(ns::Array{}), ""},
                                               {"search_history", ns::Value(ns::Array{"cats", "dogs"}), ""},
                                               {"preferredVideoQuality", ns::Value(ns::Array{"1080"}), "720"},
                                               {"preferredVideoQuality", ns::Value(1080), "720"},
                                               {"preferredVideoQuality", ns::Value("1080"), "1080"}}) {
    defaults()->setObject_forKey(c.stored, c.key);
    EXPECT_EQ(getStringSetting(c.key), c.expected) << c.key << " holding " << c.stored.description();
  }

  struct IntCase {
    const char* key;
    ns::Value stored;
    long expected;
  };
  for (const auto& c : std::vector<IntCase>{{"cacheSize", ns::Value("7"), 10},
                                            {"cacheSize", ns::Value(ns::Array{}), 10},
                                            {"cacheSize", ns::Value(25), 25},
                                            {"cacheSize", ns::Value(2.9), 2},
                                            {"cacheSize", ns::Value(1e300), std::numeric_limits<long>::max()},
                                            {"cachePolicy", ns::Value(0), 0}}) {
    defaults()->setObject_forKey(c.stored, c.key);
    EXPECT_EQ(getIntSetting(c.key), c.expected) << c.key << " holding " << c.stored.description();
  }
}

TEST_F(SettingsTest, SettersOnManyThreadsLoseNothing) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 25; ++i) {
        std::string key = "threaded" + std::to_string(t) + "_" + std::to_string(i);
        setBoolSetting(key + "b", i % 2 == 0);
        setIntSetting(key + "i", i * 100 + t);
        setStringSetting(key + "s", key);
        // Readers on the same thread see their own writes at once.
        if (getIntSetting(key + "i") != i * 100 + t) ADD_FAILURE() << key;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 25; ++i) {
      std::string key = "threaded" + std::to_string(t) + "_" + std::to_string(i);
      EXPECT_EQ(getBoolSetting(key + "b"), i % 2 == 0) << key;
      EXPECT_EQ(storedInFile(key + "b"), ns::Value(i % 2 == 0 ? "Y" : "N")) << key;
      EXPECT_EQ(storedInFile(key + "i").integerValue(), i * 100 + t) << key;
      EXPECT_EQ(storedInFile(key + "s"), ns::Value(key)) << key;
    }
  }
}

TEST(ChosenQualityTest, QualitiesSetFromManyThreadsAreEachReadBack) {
  const char* qualities[] = {"240", "360", "720", "1080"};
  auto idFor = [](int thread, int i) { return "chosen" + std::to_string(thread) + "-" + std::to_string(i); };
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) setChosenVideoQuality(idFor(t, i), std::string(qualities[(t + i) % 4]));
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < 8; ++t) {
    for (int i = 0; i < 200; ++i)
      EXPECT_EQ(getChosenVideoQuality(idFor(t, i)), qualities[(t + i) % 4]) << idFor(t, i);
  }

  // Nil arguments change nothing; a later choice replaces an earlier one.
  setChosenVideoQuality(std::nullopt, std::string("720"));
  setChosenVideoQuality(std::string("chosenNil"), std::nullopt);
  EXPECT_EQ(getChosenVideoQuality(std::string("chosenNil")), std::nullopt);
  EXPECT_EQ(getChosenVideoQuality(std::nullopt), std::nullopt);
  setChosenVideoQuality(idFor(0, 0), std::nullopt);
  EXPECT_EQ(getChosenVideoQuality(idFor(0, 0)), "240");
  setChosenVideoQuality(idFor(0, 0), std::string("1080"));
  EXPECT_EQ(getChosenVideoQuality(idFor(0, 0)), "1080");
  EXPECT_EQ(getChosenVideoQuality(std::string("chosenNever")), std::nullopt);
}

}  // namespace
