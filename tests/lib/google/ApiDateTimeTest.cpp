#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "lib/google/ApiDateTime.h"
#include "platform/text/TimeZone.h"

namespace {

constexpr long long U = ApiDateTime::kUndefined;

struct ParseCase {
  const char* text;
  const char* written;
  long long offset;
  bool universal;
  long long ms;
  bool hasTime;
  bool zoneIsNil;
};

TEST(ApiDateTime, RFC3339TextReadAndWrittenBack) {
  const std::vector<ParseCase> cases = {
      {"2013-05-04T10:20:30.5Z", "2013-05-04T10:20:30.500Z", 0, true, 500, true, false},
      {"2013-05-04t10:20:30z", "2013-05-04T10:20:30Z", 0, true, 0, true, false},
      {"2013-05-04", "2013-05-04", U, false, 0, false, true},
      {"2013-05-04T10:20:30-07:30", "2013-05-04T10:20:30-07:30", -27000, false, 0, true, false},
      {"2013-05-04T10:20:30-00:00", "2013-05-04T10:20:30-00:00", U, false, 0, true, true},
      {"2013-05-04T10:20:30", "2013-05-04T10:20:30-00:00", U, false, 0, true, true},
      {"2013-05-04 10:20:30+01", "2013-05-04T10:20:30+01:00", 3600, false, 0, true, false},
      {"2013-05-04T10:20:30+00:00", "2013-05-04T10:20:30+00:00", 0, false, 0, true, false},
      {"2013-05-04T10:20:30.9996Z", "2013-05-04T10:20:30.999Z", 0, true, 999, true, false},
      // Real replies: 5 and 6 fraction digits, "+00:00".
      {"2020-04-20T14:30:19.12345Z", "2020-04-20T14:30:19.123Z", 0, true, 123, true, false},
      {"2021-01-02T03:04:05.000006Z", "2021-01-02T03:04:05Z", 0, true, 0, true, false},
      {"2025-02-22T05:37:03+00:00", "2025-02-22T05:37:03+00:00", 0, false, 0, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto v = ApiDateTime::dateTimeWithRFC3339String(std::string(c.text));
    ASSERT_TRUE(v);
    EXPECT_EQ(v->RFC3339String(), c.written);
    EXPECT_EQ(v->stringValue(), c.written);
    EXPECT_EQ(v->offsetSeconds(), c.offset);
    EXPECT_EQ(v->isUniversalTime(), c.universal);
    EXPECT_EQ(v->milliseconds(), c.ms);
    EXPECT_EQ(v->hasTime(), c.hasTime);
    EXPECT_EQ(!v->timeZone().has_value(), c.zoneIsNil);
    // What is written reads back as an equal value.
    EXPECT_TRUE(ApiDateTime::dateTimeWithRFC3339String(v->RFC3339String())->isEqual(v.get()));
  }
  EXPECT_FALSE(ApiDateTime::dateTimeWithRFC3339String(std::nullopt));
}

TEST(ApiDateTime, DatesAreTheRightInstants) {
  // 2013-05-04T10:20:30Z is 1367662830 seconds after 1970.
  struct Case {
    const char* text;
    double since1970;
  };
  const std::vector<Case> cases = {
      {"2013-05-04T10:20:30.5Z", 1367662830.5},
      {"2013-05-04T10:20:30-07:30", 1367662830.0 + 27000},
      {"2013-05-04 10:20:30+01", 1367662830.0 - 3600},
      {"2013-05-04", 1367668800.0},  // noon UTC
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_DOUBLE_EQ(
        ApiDateTime::dateTimeWithRFC3339String(std::string(c.text))->date().timeIntervalSince1970(),
        c.since1970);
  }
}

// Puts the process's default zone back however the test ends.
struct DefaultZoneGuard {
  ~DefaultZoneGuard() { ns::TimeZone::setDefaultTimeZone(std::nullopt); }
};

TEST(ApiDateTime, AllDayValuesEqualTheParsedDayInEveryLocalZone) {
  DefaultZoneGuard guard;
  for (const char* zoneName : {"Pacific/Kiritimati", "America/Los_Angeles", "Europe/Paris", "UTC"}) {
    SCOPED_TRACE(zoneName);
    ns::TimeZone::setDefaultTimeZone(ns::TimeZone::timeZoneWithName(zoneName));
    // Local noon of 4 May 2013 in that zone.
    ns::DateComponents noon;
    noon.year = 2013;
    noon.month = 5;
    noon.day = 4;
    noon.hour = 12;
    auto localDay = ns::Calendar().dateFromComponents(noon);
    ASSERT_TRUE(localDay);
    auto allDay = ApiDateTime::dateTimeForAllDayWithDate(*localDay);
    auto parsed = ApiDateTime::dateTimeWithRFC3339String(std::string("2013-05-04"));
    EXPECT_TRUE(allDay->isEqual(parsed.get()));
    EXPECT_EQ(allDay->RFC3339String(), "2013-05-04");
    EXPECT_DOUBLE_EQ(allDay->date().timeIntervalSince1970(), 1367668800.0);
  }
}

TEST(ApiDateTime, FromDatesZonesAndTime) {
  ns::Date instant = ns::Date::dateWithTimeIntervalSince1970(1367662830.25);
  auto utc = ApiDateTime::dateTimeWithDate_timeZone(instant, ns::TimeZone::timeZoneWithName("Universal"));
  EXPECT_EQ(utc->RFC3339String(), "2013-05-04T10:20:30.250Z");
  EXPECT_TRUE(utc->isUniversalTime());
  auto paris =
      ApiDateTime::dateTimeWithDate_timeZone(instant, ns::TimeZone::timeZoneWithName("Europe/Paris"));
  EXPECT_EQ(paris->RFC3339String(), "2013-05-04T12:20:30.250+02:00");
  EXPECT_FALSE(paris->isUniversalTime());
  EXPECT_DOUBLE_EQ(paris->date().timeIntervalSince1970(), 1367662830.25);
  EXPECT_FALSE(utc->isEqual(paris.get()));
  EXPECT_FALSE(ApiDateTime::dateTimeWithDate_timeZone(std::nullopt, std::nullopt));

  // A zone set later takes its offset at the value's date.
  auto v = ApiDateTime::dateTimeWithRFC3339String(std::string("2013-01-10T08:00:00Z"));
  v->setUniversalTime(false);
  v->setTimeZone(ns::TimeZone::timeZoneWithName("Europe/Paris"));
  EXPECT_EQ(v->offsetSeconds(), 3600);
  v->setTimeZone(std::nullopt);
  EXPECT_EQ(v->offsetSeconds(), U);

  // Dropping the time clears zone, offset and milliseconds; adding it gives midnight.
  auto t = ApiDateTime::dateTimeWithRFC3339String(std::string("2013-05-04T10:20:30.5+02:00"));
  t->setHasTime(false);
  EXPECT_EQ(t->RFC3339String(), "2013-05-04");
  EXPECT_FALSE(t->timeZone());
  t->setHasTime(true);
  EXPECT_EQ(t->RFC3339String(), "2013-05-04T00:00:00-00:00");

  auto components = ns::DateComponents();
  components.year = 2013;
  components.month = 5;
  components.day = 4;
  components.hour = 10;
  components.minute = 20;
  components.second = 30;
  components.timeZone = ns::TimeZone::timeZoneWithName("UTC");
  EXPECT_EQ(ApiDateTime::dateTimeWithDateComponents(components)->date().timeIntervalSince1970(),
            1367662830.0);
}

TEST(ApiDateTime, CopiesAreIndependentAndEqualityComparesStoredFields) {
  auto a = ApiDateTime::dateTimeWithRFC3339String(std::string("2013-05-04T10:20:30.5Z"));
  auto b = a->copy();
  EXPECT_NE(a, b);
  EXPECT_TRUE(a->isEqual(b.get()));
  EXPECT_EQ(a->hash(), b->hash());
  b->setMilliseconds(0);
  EXPECT_EQ(a->milliseconds(), 500);
  EXPECT_FALSE(a->isEqual(b.get()));

  // Differences in each stored field count; undefined equals undefined.
  const std::vector<std::pair<const char*, const char*>> different = {
      {"2013-05-04T10:20:30Z", "2013-05-04T10:20:31Z"},
      {"2013-05-04T10:20:30Z", "2013-05-04T10:20:30+00:00"},
      {"2013-05-04T10:20:30+01:00", "2013-05-04T10:20:30+02:00"},
      {"2013-05-04T10:20:30-00:00", "2013-05-04T10:20:30+00:00"},
      {"2013-05-04", "2013-05-05"},
  };
  for (const auto& [x, y] : different) {
    SCOPED_TRACE(std::string(x) + " vs " + y);
    EXPECT_FALSE(ApiDateTime::dateTimeWithRFC3339String(std::string(x))
                     ->isEqual(ApiDateTime::dateTimeWithRFC3339String(std::string(y)).get()));
  }
  EXPECT_TRUE(
      ApiDateTime::dateTimeWithRFC3339String(std::string("2013-05-04T10:20:30"))
          ->isEqual(ApiDateTime::dateTimeWithRFC3339String(std::string("2013-05-04T10:20:30-00:00")).get()));
  EXPECT_NE(a->description().find("ApiDateTime 0x"), std::string::npos);
  EXPECT_NE(a->description().find(": {2013-05-04T10:20:30.500Z}"), std::string::npos);
}

TEST(ApiDateTime, UnparsableTextLeavesFieldsUndefined) {
  struct Case {
    const char* text;
    long year, month, day, hour;
  };
  const long N = ns::DateComponentUndefined;
  const std::vector<Case> cases = {
      {"", N, N, N, N},
      {"garbage", N, N, N, N},
      {"2013", 2013, N, N, N},
      {"2013-05", 2013, 5, N, N},
      {"2013-05-04T", 2013, 5, 4, N},
      {"2013-05-04T10:2", 2013, 5, 4, 10},
      // A year beyond the range saturates; the rest still reads.
      {"99999999999999999999999-01-01", N, 1, 1, N},
      {"2013-05-04T10:20:30+99999999999999:99999999999", 2013, 5, 4, 10},
      // Years no calendar represents.
      {"9223372036854775806-05-04T10:20:30Z", 9223372036854775806, 5, 4, 10},
      {"-9223372036854775808-05-04", -9223372036854775807 - 1, 5, 4, N},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto v = ApiDateTime::dateTimeWithRFC3339String(std::string(c.text));
    ASSERT_TRUE(v);
    EXPECT_EQ(v->dateComponents().year, c.year);
    EXPECT_EQ(v->dateComponents().month, c.month);
    EXPECT_EQ(v->dateComponents().day, c.day);
    EXPECT_EQ(v->dateComponents().hour, c.hour);
    // Neither writing nor the date may fail.
    EXPECT_FALSE(v->RFC3339String().empty());
    (void)v->date();
    (void)v->timeZone();
  }
}

}  // namespace
