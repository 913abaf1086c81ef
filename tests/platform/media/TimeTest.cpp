#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/media/Time.h"

namespace {

using namespace cm;

TEST(MediaTime, MakeAndSeconds) {
  EXPECT_DOUBLE_EQ(TimeGetSeconds(TimeMake(3, 2)), 1.5);
  EXPECT_FALSE(TimeMake(1, 0).isValid());
  EXPECT_FALSE(TimeMake(1, -5).isValid());

  Time t = TimeMakeWithSeconds(1.0 / 3.0, 600);
  EXPECT_EQ(t.value, 200);
  EXPECT_EQ(t.timescale, 600);
  EXPECT_TRUE(t.hasBeenRounded());
  EXPECT_FALSE(TimeMakeWithSeconds(2.5, 600).hasBeenRounded());
  EXPECT_EQ(TimeMakeWithSeconds(-0.75, 2).value, -2);  // half away from zero

  EXPECT_FALSE(TimeMakeWithSeconds(NAN, 600).isValid());
  EXPECT_TRUE(TimeMakeWithSeconds(INFINITY, 600).isPositiveInfinity());
  EXPECT_TRUE(TimeMakeWithSeconds(-INFINITY, 600).isNegativeInfinity());
  EXPECT_TRUE(TimeMakeWithSeconds(1e300, 600).isPositiveInfinity());  // too large for the value

  EXPECT_TRUE(std::isnan(TimeGetSeconds(kTimeInvalid)));
  EXPECT_TRUE(std::isnan(TimeGetSeconds(kTimeIndefinite)));
  EXPECT_EQ(TimeGetSeconds(kTimePositiveInfinity), std::numeric_limits<double>::infinity());
  EXPECT_EQ(TimeGetSeconds(kTimeZero), 0.0);
  EXPECT_TRUE(kTimeZero.isNumeric());
  EXPECT_FALSE(kTimeIndefinite.isNumeric());
}

TEST(MediaTime, CompareOrdersSpecialTimes) {
  // Ascending: every earlier entry compares below every later one.
  const Time order[] = {kTimeNegativeInfinity, TimeMake(-1, 1),       kTimeZero,       TimeMake(1, 3),
                        TimeMake(1, 2),        kTimePositiveInfinity, kTimeIndefinite, kTimeInvalid};
  constexpr std::size_t n = sizeof order / sizeof order[0];
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) {
      int expected = i < j ? -1 : (i > j ? 1 : 0);
      EXPECT_EQ(TimeCompare(order[i], order[j]), expected) << i << " vs " << j;
    }
  }
  EXPECT_EQ(TimeCompare(TimeMake(1, 2), TimeMake(300, 600)), 0);  // equal across timescales
  EXPECT_TRUE(TimeMake(1, 2) == TimeMake(300, 600));
}

TEST(MediaTime, AddAndSubtract) {
  struct Case {
    Time a, b;
    bool subtract;
    Time expected;
  };
  const Case cases[] = {
      {TimeMake(1, 2), TimeMake(1, 3), false, TimeMake(5, 6)},
      {TimeMake(3, 600), TimeMake(1, 600), true, TimeMake(2, 600)},
      {TimeMake(1, 1), kTimePositiveInfinity, false, kTimePositiveInfinity},
      {kTimePositiveInfinity, kTimePositiveInfinity, true, kTimeInvalid},
      {kTimeNegativeInfinity, kTimePositiveInfinity, false, kTimeInvalid},
      {kTimeIndefinite, TimeMake(1, 1), false, kTimeIndefinite},
      {kTimeInvalid, TimeMake(1, 1), false, kTimeInvalid},
      {TimeMake(1, 1), kTimeNegativeInfinity, true, kTimePositiveInfinity},
  };
  for (const auto& c : cases) {
    Time r = c.subtract ? TimeSubtract(c.a, c.b) : TimeAdd(c.a, c.b);
    EXPECT_EQ(TimeCompare(r, c.expected), 0) << TimeCopyDescription(c.a) << (c.subtract ? " - " : " + ")
                                             << TimeCopyDescription(c.b) << " = " << TimeCopyDescription(r);
  }
  // Different timescales meet in their least common one; when that does not fit, in the finer
  // one, rounded and marked.
  Time mixed = TimeAdd(TimeMake(1, 3), TimeMake(1, 600));
  EXPECT_EQ(mixed.timescale, 600);
  EXPECT_EQ(mixed.value, 201);
  EXPECT_FALSE(mixed.hasBeenRounded());
  Time rounded = TimeAdd(TimeMake(1, 2), TimeMake(1, kMaxTimescale));
  EXPECT_EQ(rounded.timescale, kMaxTimescale);
  EXPECT_TRUE(rounded.hasBeenRounded());
  EXPECT_NEAR(TimeGetSeconds(rounded), 0.5, 1e-9);
  // Overflow becomes infinity instead of wrapping.
  Time big = TimeMake(std::numeric_limits<std::int64_t>::max() - 1, 1);
  EXPECT_TRUE(TimeAdd(big, TimeMake(5, 1)).isPositiveInfinity());
  EXPECT_TRUE(TimeSubtract(TimeMake(std::numeric_limits<std::int64_t>::min() + 1, 1), TimeMake(5, 1))
                  .isNegativeInfinity());
}

TEST(MediaTime, ConvertMinMaxAbsolute) {
  EXPECT_EQ(TimeConvertScale(TimeMake(1, 3), 600).value, 200);
  EXPECT_EQ(TimeConvertScale(TimeMake(1, 3), 10).value, 3);
  EXPECT_TRUE(TimeConvertScale(TimeMake(1, 3), 10).hasBeenRounded());
  EXPECT_EQ(TimeMinimum(TimeMake(1, 1), kTimeIndefinite), TimeMake(1, 1));
  EXPECT_EQ(TimeMaximum(TimeMake(1, 1), TimeMake(3, 2)), TimeMake(3, 2));
  EXPECT_EQ(TimeAbsoluteValue(TimeMake(-3, 2)), TimeMake(3, 2));
  EXPECT_TRUE(TimeAbsoluteValue(kTimeNegativeInfinity).isPositiveInfinity());
}

TEST(MediaTime, Ranges) {
  TimeRange r = TimeRangeMake(TimeMake(1, 1), TimeMake(2, 1));
  EXPECT_TRUE(TimeRangeIsValid(r));
  EXPECT_EQ(TimeRangeGetEnd(r), TimeMake(3, 1));
  EXPECT_TRUE(TimeRangeContainsTime(r, TimeMake(1, 1)));
  EXPECT_TRUE(TimeRangeContainsTime(r, TimeMakeWithSeconds(2.99, 600)));
  EXPECT_FALSE(TimeRangeContainsTime(r, TimeMake(3, 1)));  // the end is outside
  EXPECT_FALSE(TimeRangeContainsTime(r, kTimeIndefinite));
  EXPECT_TRUE(TimeRangeEqual(TimeRangeFromTimeToTime(TimeMake(1, 1), TimeMake(3, 1)), r));
  EXPECT_FALSE(TimeRangeIsValid(TimeRangeMake(TimeMake(1, 1), TimeMake(-1, 1))));
  EXPECT_FALSE(TimeRangeIsValid(TimeRangeMake(kTimeIndefinite, TimeMake(1, 1))));
  EXPECT_TRUE(TimeRangeIsEmpty(kTimeRangeZero));
  EXPECT_FALSE(TimeRangeIsValid(kTimeRangeInvalid));
}

}  // namespace
