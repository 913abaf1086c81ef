// The shell's notification helpers, version answers, digests and formatting.
#include "common/AppUtilities.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Notification.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/PropertyListFile.h"
#include "platform/testing/ChildTest.h"
#include "platform/testing/Sandbox.h"

namespace {

TEST(AppUtilitiesTest, PostNotificationRunsEveryObserverBeforeItReturns) {
  auto center = ns::NotificationCenter::defaultCenter();
  int calls = 0;
  bool hadObject = true;
  std::thread::id thread;
  auto token = center->addObserverForName_object_queue_usingBlock("shellTestNote", nullptr, nullptr,
                                                                  [&](const ns::Ref<ns::Notification>& note) {
                                                                    calls++;
                                                                    hadObject = note->object() != nullptr;
                                                                    thread = std::this_thread::get_id();
                                                                  });
  std::thread poster([] { postNotification("shellTestNote"); });
  poster.join();
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(hadObject);
  EXPECT_NE(thread, std::this_thread::get_id());  // on the posting thread
  postNotification("otherNote");
  EXPECT_EQ(calls, 1);
  center->removeObserver(token.get());
}

struct Watcher : ns::Object {
  int withNote = 0;
  int bare = 0;
  void noteArrived(const ns::Ref<ns::Notification>& note) {
    withNote += note->name() == "shellWatchA" ? 1 : 100;
  }
  void arrived() { bare++; }
};

TEST(AppUtilitiesTest, ObserversAreMemberFunctionsRemovedByName) {
  auto watcher = ns::make<Watcher>();
  addNotificationObserver(watcher, "shellWatchA", &Watcher::noteArrived);
  addNotificationObserver(watcher.get(), "shellWatchB", &Watcher::arrived);
  postNotification("shellWatchA");
  postNotification("shellWatchB");
  postNotification("shellWatchC");
  EXPECT_EQ(watcher->withNote, 1);
  EXPECT_EQ(watcher->bare, 1);

  removeNotificationObserver(watcher.get(), "shellWatchA");
  postNotification("shellWatchA");
  postNotification("shellWatchB");
  EXPECT_EQ(watcher->withNote, 1);
  EXPECT_EQ(watcher->bare, 2);
  removeNotificationObserver(watcher.get(), "shellWatchB");
  postNotification("shellWatchB");
  EXPECT_EQ(watcher->bare, 2);
}

TEST(AppUtilitiesTest, Md5HexStringDigestsTheBytesUpToTheFirstNul) {
  struct Case {
    std::string text;
    const char* digest;
  };
  for (const auto& c : std::vector<Case>{
           {"", "d41d8cd98f00b204e9800998ecf8427e"},
           {"a@example.com", "b418773a2c51fb9777a1648346fa7394"},
           {std::string("a\0b", 3), "0cc175b9c0f1b6a831c399e269772661"},
           {std::string("\0b", 2), "d41d8cd98f00b204e9800998ecf8427e"},
           {"The quick brown fox jumps over the lazy dog", "9e107d9d372bb6826bd81d3542a419d6"},
           {"\xc3\xa9", "66ddcd97cfdeabb2f6fb8a999b4bc76f"},  // "é" in UTF-8
       }) {
    EXPECT_EQ(md5HexString(c.text), c.digest) << c.text;
  }
}

TEST(AppUtilitiesTest, ByteSizesAreCutToOneDecimal) {
  struct Case {
    std::int64_t bytes;
    const char* text;
  };
  for (const auto& c : std::vector<Case>{
           {0, "0 B"},
           {1023, "1023 B"},
           {1024, "1 KB"},
           {1127, "1.1 KB"},
           {1535, "1.4 KB"},
           {1048575, "1023.9 KB"},
           {1048576, "1.0 MB"},
           {1572863, "1.4 MB"},
           {1073741823, "1023.9 MB"},
           {1073741824, "1 GB"},
           {1610612736, "1.5 GB"},
           {-5, "-5 B"},
           {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808 B"},
           {std::numeric_limits<std::int64_t>::max(), "8.58993e+09 GB"},
       }) {
    EXPECT_EQ(formatByteSize(c.bytes), c.text) << c.bytes;
  }
}

TEST(AppUtilitiesTest, TimeStringsSwitchToHoursAt3660Seconds) {
  struct Case {
    long long seconds;
    bool negative;
    const char* text;
  };
  for (const auto& c : std::vector<Case>{
           {0, false, "0:00"},
           {59, false, "0:59"},
           {60, false, "1:00"},
           {3599, false, "59:59"},
           {3659, false, "60:59"},
           {3660, false, "1:01:00"},
           {36000, false, "10:00:00"},
           {75, true, "-1:15"},
           {3723, true, "-1:02:03"},
           {-75, false, "-1:15"},
           {std::numeric_limits<int>::min(), false, "-596523:14:08"},
           // Past an int: a player's position in a forged file.
           {3000000001LL, false, "833333:20:01"},
           {std::numeric_limits<long long>::min(), false, "-2562047788015215:30:08"},
       }) {
    EXPECT_EQ(timeStringFromSeconds(c.seconds, c.negative), c.text) << c.seconds;
  }
}

TEST(AppUtilitiesTest, IsoDurationsCountWeeksDaysHoursMinutesAndSeconds) {
  struct Case {
    const char* text;
    long seconds;
  };
  for (const auto& c : std::vector<Case>{
           {"PT1H2M3S", 3723},
           {"P1DT2H", 93600},
           {"P2W", 1209600},
           {"PT15M", 900},
           {"PT45S", 45},
           {"PT1M30.75S", 90},
           {"P0D", 0},
           {"P1M", 0},  // a month has no fixed length
           {"P1Y2M3DT4S", 259204},
           {"x", 0},
           {"", 0},
           {"P", 0},
           {"PT", 0},
           {"1H", 0},
           {"PT1H2", 0},
           {"PT1X", 0},
           {"P1H", 0},   // hours belong after T
           {"PT1D", 0},  // days belong before it
           {"PTT1H", 0},
           {"PT1.5H", 0},
           {"PT-1S", 0},
           {"PT99999999999999999999S", 0},
           {"P99999999999999W", 0},  // more seconds than a long holds
       }) {
    EXPECT_EQ(secondsFromISODuration(c.text), c.seconds) << c.text;
  }
}

TEST(AppUtilitiesTest, VersionsComeFromTheBundleAndTheEmulatedSystem) {
  EXPECT_EQ(getOSVersionString(), "10.10.5");
  EXPECT_TRUE(isSystemMavericksOrLater());

  struct Case {
    const char* version;
    const char* text;
    bool mavericks;
  };
  for (const auto& c : std::vector<Case>{{"10.7", "10.7.0", false},
                                         {"10.8.5", "10.8.5", false},
                                         {"10.9", "10.9.0", true},
                                         {"10.11.6", "10.11.6", true},
                                         {"11.0", "11.0.0", true}}) {
    ns::ProcessInfo::setEmulatedOperatingSystemVersion(std::string(c.version));
    EXPECT_EQ(getOSVersionString(), c.text);
    EXPECT_EQ(isSystemMavericksOrLater(), c.mavericks) << c.version;
  }
  ns::ProcessInfo::setEmulatedOperatingSystemVersion(std::nullopt);

  pltest::Sandbox sandbox;
  ns::Bundle::setMainBundlePathForTesting(std::string(PELORIN_RESOURCES_DIR));
  EXPECT_EQ(getAppShortVersion(), "0.1.0");

  auto bare = sandbox.temporaryFolder("bare.app");
  ASSERT_TRUE(
      ns::writePropertyListToFile_atomically(ns::Dictionary{{"CFBundleIdentifier", "com.ordel42.zeravozezi"}},
                                             (bare / "Info.plist").string(), true));
  ns::Bundle::setMainBundlePathForTesting(bare.string());
  EXPECT_EQ(getAppShortVersion(), std::nullopt);
  ns::Bundle::setMainBundlePathForTesting(std::nullopt);
}

// Runs in the child started by the next test, with the parent's environment.
TEST(AppUtilitiesChild, DISABLED_ReadsTheSystemVersionFromTheEnvironment) {
  EXPECT_EQ(getOSVersionString(), "10.9.0");
  EXPECT_TRUE(isSystemMavericksOrLater());
}

TEST(AppUtilitiesTest, AProcessStartedWithAnotherSystemVersionReadsIt) {
  pltest::Sandbox sandbox;
  sandbox.set("PELORIN_MACOS_VERSION", std::string("10.9"));
  int status = pltest::runChildTest("AppUtilitiesChild.DISABLED_ReadsTheSystemVersionFromTheEnvironment");
  ASSERT_TRUE(status != -1 && WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child read another version";
}

}  // namespace
