#include <gtest/gtest.h>

#include <unordered_map>

#include "platform/core/Date.h"
#include "platform/core/Object.h"
#include "platform/core/Str.h"
#include "platform/text/Calendar.h"
#include "platform/text/DateFormatter.h"
#include "platform/text/Locale.h"
#include "platform/text/NumberFormatter.h"
#include "platform/text/StringCompare.h"
#include "platform/text/TimeZone.h"

namespace {

using namespace ns;

// Pins the process's current locale and default zone for one test and restores them.
class FormattersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Locale::setCurrentLocale(Locale("en_US"));
    TimeZone::setDefaultTimeZone(TimeZone::timeZoneWithName("Europe/Paris"));
  }
  void TearDown() override {
    Locale::setCurrentLocale(std::nullopt);
    TimeZone::setDefaultTimeZone(std::nullopt);
  }
};

TEST_F(FormattersTest, FixedFormatInPosixLocaleAndGmt) {
  auto f = make<DateFormatter>();
  f->setLocale(Locale("en_US_POSIX"));
  f->setTimeZone(*TimeZone::timeZoneWithName("GMT"));
  f->setDateFormat("yyyy-MM-dd HH:mm:ss");
  EXPECT_EQ(f->stringFromDate(Date::dateWithTimeIntervalSince1970(1000)), "1970-01-01 00:16:40");
  EXPECT_EQ(f->dateFromString("1970-01-01 00:16:40"), Date::dateWithTimeIntervalSince1970(1000.0));
  // Text that does not fill the format, or has more after it, is not a date.
  EXPECT_FALSE(f->dateFromString("1970-01-01"));
  EXPECT_FALSE(f->dateFromString("1970-01-01 00:16:40 trailing"));
  EXPECT_FALSE(f->dateFromString("yesterday"));
  EXPECT_FALSE(f->dateFromString(""));
  EXPECT_FALSE(f->dateFromString("1970-13-45 99:99:99"));
}

TEST_F(FormattersTest, Rfc1123RoundTripWithEnglishNamesWhateverTheCurrentLocale) {
  Locale::setCurrentLocale(Locale("fr_FR"));
  auto f = make<DateFormatter>();
  f->setLocale(Locale("en_US"));
  f->setTimeZone(*TimeZone::timeZoneWithName("GMT"));
  f->setDateFormat("EEE, dd MMM yyyy HH:mm:ss 'GMT'");
  EXPECT_EQ(f->stringFromDate(Date::dateWithTimeIntervalSince1970(1796489570)),
            "Sat, 05 Dec 2026 16:52:50 GMT");
  EXPECT_EQ(f->dateFromString("Sat, 05 Dec 2026 16:52:50 GMT"),
            Date::dateWithTimeIntervalSince1970(1796489570.0));
  f->setDateFormat("EEE', 'd' 'MMM' 'yyyy' 'HH:mm:ss' GMT'");
  EXPECT_EQ(f->stringFromDate(Date::dateWithTimeIntervalSince1970(1796489570)),
            "Sat, 5 Dec 2026 16:52:50 GMT");
  // A new formatter follows the current locale.
  auto french = make<DateFormatter>();
  french->setTimeZone(TimeZone::GMT());
  french->setDateFormat("MMMM");
  EXPECT_EQ(french->stringFromDate(Date::dateWithTimeIntervalSince1970(1796489570)),
            "d\xC3\xA9"
            "cembre");
}

TEST_F(FormattersTest, LocalAndFixedZonesAndMilliseconds) {
  auto f = make<DateFormatter>();  // default zone: Europe/Paris, summer time in May
  f->setDateFormat("yyyy-MM-dd HH:mm:ss:SSS");
  EXPECT_EQ(f->stringFromDate(Date::dateWithTimeIntervalSince1970(1398951907.123)),
            "2014-05-01 15:45:07:123");
  f->setTimeZone(*TimeZone::timeZoneForSecondsFromGMT(-5 * 3600 - 1800));
  EXPECT_EQ(f->stringFromDate(Date::dateWithTimeIntervalSince1970(1398951907.123)),
            "2014-05-01 08:15:07:123");
  f->setDateFormat("yyyy'-'MM'-'dd' 'HH'-'mm'");
  f->setTimeZone(TimeZone::GMT());
  EXPECT_EQ(f->stringFromDate(Date::dateWithTimeIntervalSince1970(1398951907)), "2014-05-01 13-45");
  EXPECT_EQ(f->dateFromString("2014-05-01 13-45"), Date::dateWithTimeIntervalSince1970(1398951900.0));
}

TEST_F(FormattersTest, CalendarFirstWeekdayCountsForWeekFields) {
  auto f = make<DateFormatter>();
  f->setLocale(Locale("en_US_POSIX"));
  f->setTimeZone(TimeZone::GMT());
  f->setDateFormat("e");
  const Date sunday = Date::dateWithTimeIntervalSince1970(1796515200);  // 2026-12-06
  EXPECT_EQ(f->stringFromDate(sunday), "1");
  Calendar mondayFirst;
  mondayFirst.setFirstWeekday(2);
  mondayFirst.setTimeZone(*TimeZone::timeZoneWithName("Asia/Tokyo"));
  f->setCalendar(mondayFirst);
  EXPECT_EQ(f->stringFromDate(sunday), "7");
  f->setDateFormat("HH");
  EXPECT_EQ(f->stringFromDate(sunday), "00");  // still the formatter's zone
}

TEST_F(FormattersTest, TimeZones) {
  EXPECT_FALSE(TimeZone::timeZoneWithName("Not/AZone"));
  EXPECT_FALSE(TimeZone::timeZoneWithName(""));
  auto paris = *TimeZone::timeZoneWithName("Europe/Paris");
  EXPECT_EQ(paris.secondsFromGMTForDate(Date::dateWithTimeIntervalSince1970(1398951907)),
            7200);  // May: summer time
  EXPECT_EQ(paris.secondsFromGMTForDate(Date::dateWithTimeIntervalSince1970(1796489570)), 3600);  // December
  EXPECT_TRUE(paris.isDaylightSavingTimeForDate(Date::dateWithTimeIntervalSince1970(1398951907)));
  EXPECT_EQ(TimeZone::localTimeZone(), paris);
  auto fixed = *TimeZone::timeZoneForSecondsFromGMT(3600 + 1800);
  EXPECT_EQ(fixed.name(), "GMT+0130");
  EXPECT_EQ(fixed.secondsFromGMTForDate(Date::dateWithTimeIntervalSince1970(0)), 5400);
  EXPECT_FALSE(TimeZone::timeZoneForSecondsFromGMT(20 * 3600));
  EXPECT_EQ(
      TimeZone::timeZoneWithName("Universal")->secondsFromGMTForDate(Date::dateWithTimeIntervalSince1970(0)),
      0);
  EXPECT_EQ(TimeZone::timeZoneWithAbbreviation("PST")->name(), "America/Los_Angeles");
  EXPECT_FALSE(TimeZone::timeZoneWithAbbreviation("XYZ"));
  std::unordered_map<TimeZone, int> byZone{{paris, 1}, {fixed, 2}};
  EXPECT_EQ(byZone.at(*TimeZone::timeZoneWithName("Europe/Paris")), 1);
}

TEST_F(FormattersTest, CalendarComponentsBothWays) {
  Calendar cal;
  cal.setTimeZone(TimeZone::GMT());
  auto c = cal.components(CalendarUnitYear | CalendarUnitMonth | CalendarUnitDay | CalendarUnitHour |
                              CalendarUnitMinute | CalendarUnitSecond | CalendarUnitWeekday |
                              CalendarUnitNanosecond,
                          Date::dateWithTimeIntervalSince1970(1398951907.5));
  EXPECT_EQ(c.year, 2014);
  EXPECT_EQ(c.month, 5);
  EXPECT_EQ(c.day, 1);
  EXPECT_EQ(c.hour, 13);
  EXPECT_EQ(c.minute, 45);
  EXPECT_EQ(c.second, 7);
  EXPECT_EQ(c.weekday, 5);  // Thursday
  EXPECT_EQ(c.nanosecond, 500000000);
  EXPECT_EQ(c.era, DateComponentUndefined);
  EXPECT_EQ(cal.dateFromComponents(c), Date::dateWithTimeIntervalSince1970(1398951907.5));

  // The components' own zone wins; undefined fields are their lowest value.
  DateComponents day;
  day.year = 2014;
  day.month = 5;
  day.day = 1;
  day.timeZone = TimeZone::timeZoneWithName("Europe/Paris");
  EXPECT_EQ(cal.dateFromComponents(day),
            Date::dateWithTimeIntervalSince1970(1398895200.0));  // 2014-04-30 22:00 GMT
  // Out-of-range fields roll over rather than fail.
  day.month = 13;
  day.timeZone.reset();
  auto rolled = cal.components(CalendarUnitYear | CalendarUnitMonth, *cal.dateFromComponents(day));
  EXPECT_EQ(rolled.year, 2015);
  EXPECT_EQ(rolled.month, 1);
}

TEST_F(FormattersTest, DecimalNumbersFollowTheLocale) {
  auto f = make<NumberFormatter>();
  f->setNumberStyle(NumberFormatter::DecimalStyle);
  EXPECT_EQ(f->stringFromNumber(std::int64_t{1234567}), "1,234,567");
  EXPECT_EQ(f->stringFromNumber(1234.5678), "1,234.568");
  EXPECT_EQ(f->numberFromString("1,234.5"), 1234.5);
  EXPECT_FALSE(f->numberFromString("12abc"));
  EXPECT_FALSE(f->numberFromString(""));
  f->setLocale(Locale("de_DE"));
  EXPECT_EQ(f->stringFromNumber(std::int64_t{1234567}), "1.234.567");
  EXPECT_EQ(f->groupingSeparator(), ".");
  EXPECT_EQ(f->decimalSeparator(), ",");
  f->setUsesGroupingSeparator(false);
  EXPECT_EQ(f->stringFromNumber(std::int64_t{1234567}), "1234567");
  auto plain = make<NumberFormatter>();
  EXPECT_EQ(plain->stringFromNumber(2.5), "2");
  EXPECT_EQ(plain->stringFromNumber(1234.0), "1234");
  auto percent = make<NumberFormatter>();
  percent->setNumberStyle(NumberFormatter::PercentStyle);
  EXPECT_EQ(percent->stringFromNumber(0.25), "25%");
}

TEST_F(FormattersTest, ComparisonAndCaseMapping) {
  EXPECT_EQ(str::localizedCaseInsensitiveCompare("apple", "Banana"), OrderedAscending);
  EXPECT_EQ(str::localizedCaseInsensitiveCompare("\xC3\xA9"
                                                 "clair",
                                                 "Eclair"),
            OrderedDescending);  // accent counts
  EXPECT_EQ(str::localizedCaseInsensitiveCompare("Zebra", "zebra"), OrderedSame);
  EXPECT_EQ(str::localizedCompare("a", "B"), OrderedAscending);  // not code-unit order
  EXPECT_EQ(str::localizedStandardCompareInLocale("file2", "File10", Locale("en_US")), OrderedAscending);
  // Swedish sorts å after z.
  EXPECT_EQ(str::localizedCompare("\xC3\xA5", "z", Locale("sv_SE")), OrderedDescending);
  EXPECT_EQ(str::localizedCompare("\xC3\xA5", "z", Locale("en_US")), OrderedAscending);

  EXPECT_EQ(str::uppercaseStringWithLocale("i", Locale("tr_TR")), "\xC4\xB0");
  EXPECT_EQ(str::uppercaseStringWithLocale("i", std::nullopt), "I");  // current locale: en_US
  EXPECT_EQ(str::lowercaseStringWithLocale("I", Locale("tr_TR")), "\xC4\xB1");
  EXPECT_EQ(str::uppercaseStringWithLocale("stra\xC3\x9F"
                                           "e",
                                           Locale("de_DE")),
            "STRASSE");
  EXPECT_EQ(str::capitalizedStringWithLocale("hello wORLD", std::nullopt), "Hello World");
}

TEST_F(FormattersTest, LocaleIdentifiers) {
  EXPECT_EQ(Locale::currentLocale().localeIdentifier(), "en_US");
  EXPECT_EQ(Locale("de_DE").languageCode(), "de");
  EXPECT_EQ(Locale("de_DE").countryCode(), "DE");
  Locale::setCurrentLocale(std::nullopt);
  EXPECT_FALSE(Locale::currentLocale().localeIdentifier().empty());
}

}  // namespace
