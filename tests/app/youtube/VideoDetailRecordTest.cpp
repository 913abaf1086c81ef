// Video detail records and channel titles in the real shared keyed disk cache of a sandbox.
#include "app/youtube/VideoDetailRecord.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>

#include "app/youtube/SearchEntry.h"
#include "lib/cache/GVCache.h"
#include "tests/app/youtube/SharedCacheSandbox.h"

namespace {

// The shared cache lives in the program's shared sandbox.
class VideoDetailRecordTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sharedCacheSandbox(); }
  static void settle() { getSharedGVCache()->synchronize(); }
};

TEST_F(VideoDetailRecordTest, AStoredRecordAppliedToARowSaturatesTheViewCount) {
  VideoDetailRecord record{"UCx", "PT1M5S", "2015-03-04", "", 3000000000LL, 3.75};
  storeVideoDetailRecord("vidA", record);
  settle();

  auto stored = cachedVideoDetailRecord("vidA");
  ASSERT_TRUE(stored.has_value());
  // The record itself keeps the 64-bit count.
  EXPECT_EQ(stored->viewCount, 3000000000LL);
  EXPECT_EQ(getSharedGVCache()->objectForKey("vi_vidA"),
            ns::Value(ns::Array{ns::Value("UCx"), ns::Value("PT1M5S"), ns::Value("2015-03-04"), ns::Value(""),
                                ns::Value(3000000000LL), ns::Value(3.75)}));

  auto row = SearchEntry::init();
  row->setAuthor("before");
  row->applyVideoDetailRecord(*stored);
  EXPECT_EQ(row->videoChannelId(), "UCx");
  EXPECT_EQ(row->duration(), 65);
  EXPECT_EQ(row->date(), "2015-03-04");
  EXPECT_EQ(row->author(), "");
  EXPECT_EQ(row->viewCount(), 2147483647);
  EXPECT_FLOAT_EQ(row->rating(), 3.75f);

  // The record lives three days.
  double age = getSharedGVCache()->ageForKey("vi_vidA");
  EXPECT_LT(age, 60);
  auto info = getSharedGVCache()->frozenCacheInfo()[ns::Value("vi_vidA")];
  double lifetime = info["death"].date().timeIntervalSinceDate(info["created"].date());
  EXPECT_NEAR(lifetime, 259200, 1);
}

TEST_F(VideoDetailRecordTest, RecordsOfAnotherShapeAreAbsent) {
  struct Case {
    const char* id;
    ns::Value stored;
  };
  const ns::Value s("x");
  const Case cases[] = {
      {"fiveValues", ns::Value(ns::Array{s, s, s, s, ns::Value(1)})},
      {"sevenValues", ns::Value(ns::Array{s, s, s, s, ns::Value(1), ns::Value(2.0), s})},
      {"stringCount", ns::Value(ns::Array{s, s, s, s, ns::Value("12"), ns::Value(2.0)})},
      {"numberChannel", ns::Value(ns::Array{ns::Value(7), s, s, s, ns::Value(1), ns::Value(2.0)})},
      {"boolRating", ns::Value(ns::Array{s, s, s, s, ns::Value(1), ns::Value(true)})},
      {"notAnArray", ns::Value(ns::Dictionary{{s, s}})},
      {"aString", s},
  };
  for (const auto& c : cases)
    getSharedGVCache()->setObject_forKey_withTimeoutInterval(c.stored, std::string("vi_") + c.id, 600);
  getSharedGVCache()->setString_forKey_withTimeoutInterval("not an archive", "vi_rawText", 600);
  settle();
  for (const auto& c : cases) EXPECT_FALSE(cachedVideoDetailRecord(c.id).has_value()) << c.id;
  EXPECT_FALSE(cachedVideoDetailRecord("rawText").has_value());
  EXPECT_FALSE(cachedVideoDetailRecord("neverStored").has_value());

  // A record that has died is absent too.
  storeVideoDetailRecord("shortLived", VideoDetailRecord{"UCy", "PT1S", "2020-01-01", "T", 1, 1});
  getSharedGVCache()->setCacheTimeoutInterval_forKey(-1, "vi_shortLived");
  settle();
  EXPECT_FALSE(cachedVideoDetailRecord("shortLived").has_value());
}

TEST_F(VideoDetailRecordTest, OnlyNonEmptyChannelTitlesAreStored) {
  storeChannelTitle("UCnamed", "Named — チャンネル");
  storeChannelTitle("UCempty", "");
  settle();
  EXPECT_EQ(cachedChannelTitle("UCnamed"), "Named — チャンネル");
  EXPECT_FALSE(cachedChannelTitle("UCempty").has_value());
  EXPECT_FALSE(getSharedGVCache()->hasCacheForKey("ca_UCempty"));
  auto info = getSharedGVCache()->frozenCacheInfo()[ns::Value("ca_UCnamed")];
  EXPECT_NEAR(info["death"].date().timeIntervalSinceDate(info["created"].date()), 259200, 1);
}

TEST_F(VideoDetailRecordTest, DurationsAndCountsAtTheirLimits) {
  struct Case {
    const char* duration;
    std::int64_t views;
    int expectedDuration;
    int expectedViews;
  };
  const Case cases[] = {
      {"PT1H2M3S", 0, 3723, 0},
      {"not a duration", -1, 0, -1},
      {"", 2147483647LL, 0, 2147483647},
      {"PT0S", 2147483648LL, 0, 2147483647},
      {"P400000D", std::numeric_limits<std::int64_t>::max(), 2147483647, 2147483647},
      {"PT5S", -3000000000LL, 5, std::numeric_limits<std::int32_t>::min()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.duration);
    auto row = SearchEntry::init();
    row->applyVideoDetailRecord(VideoDetailRecord{"UC", c.duration, "", "", c.views, 0});
    EXPECT_EQ(row->duration(), c.expectedDuration);
    EXPECT_EQ(row->viewCount(), c.expectedViews);
  }
}

}  // namespace
