#include <gtest/gtest.h>

#include "platform/core/Date.h"
#include "platform/core/Error.h"
#include "platform/core/Exception.h"

namespace {

double fixedClock() {
  return 1000.5;
}

TEST(DateTest, ReferenceDateAndDistantDates) {
  auto ref = ns::Date::dateWithTimeIntervalSinceReferenceDate(0);
  EXPECT_EQ(ref.timeIntervalSince1970(), 978307200.0);
  EXPECT_EQ(ref.description(), "2001-01-01 00:00:00 +0000");
  EXPECT_EQ(ns::Date::dateWithTimeIntervalSince1970(0).description(), "1970-01-01 00:00:00 +0000");
  EXPECT_EQ(ns::Date::dateWithTimeIntervalSince1970(-1.5).description(), "1969-12-31 23:59:58 +0000");
  EXPECT_EQ(ns::Date::distantFuture().description(), "4001-01-01 00:00:00 +0000");
  // The platform prints its distant past in the proleptic Gregorian calendar.
  EXPECT_EQ(ns::Date::distantPast().description(), "0000-12-30 00:00:00 +0000");
  EXPECT_LT(ns::Date::distantPast(), ref);
  EXPECT_GT(ns::Date::distantFuture(), ns::Date::now());
  auto later = ref.dateByAddingTimeInterval(90.25);
  EXPECT_EQ(later.timeIntervalSinceDate(ref), 90.25);
  EXPECT_EQ(later.compare(ref), ns::OrderedDescending);
  EXPECT_EQ(ref.earlierDate(later), ref);
}

TEST(DateTest, WallClockSourceIsReplaceable) {
  auto previous = ns::Date::setWallClockSource(fixedClock);
  EXPECT_EQ(ns::Date::now().timeIntervalSince1970(), 1000.5);
  EXPECT_EQ(ns::Date::dateWithTimeIntervalSinceNow(10).timeIntervalSince1970(), 1010.5);
  ns::Date::setWallClockSource(previous);
  EXPECT_GT(ns::Date::now().timeIntervalSince1970(), 1.6e9);
}

TEST(ErrorTest, DefaultDescriptionNamesDomainAndCode) {
  ns::Error e("com.example.Test", 42);
  EXPECT_EQ(e.localizedDescription(),
            "The operation couldn\u2019t be completed. (com.example.Test error 42.)");
  EXPECT_EQ(e.localizedFailureReason(), std::nullopt);
  EXPECT_EQ(e.localizedRecoverySuggestion(), std::nullopt);
  EXPECT_EQ(e.description(), "Error Domain=com.example.Test Code=42 \"(null)\"");
}

TEST(ErrorTest, UserInfoTexts) {
  ns::Error e(ns::NSCocoaErrorDomain, 4,
              ns::Dictionary{{ns::NSLocalizedDescriptionKey, "Not there."},
                             {ns::NSLocalizedFailureReasonErrorKey, "Gone."},
                             {ns::NSLocalizedRecoverySuggestionErrorKey, "Look elsewhere."}});
  EXPECT_EQ(e.localizedDescription(), "Not there.");
  EXPECT_EQ(e.localizedFailureReason(), "Gone.");
  EXPECT_EQ(e.localizedRecoverySuggestion(), "Look elsewhere.");
  ns::Error reasonOnly("D", 1, ns::Dictionary{{ns::NSLocalizedFailureReasonErrorKey, "Disk full."}});
  EXPECT_EQ(reasonOnly.localizedDescription(), "The operation couldn\u2019t be completed. Disk full.");
}

TEST(ErrorTest, PosixAndUnderlying) {
  auto e = ns::Error::posix(ENOENT, "/tmp/x");
  EXPECT_EQ(e.domain(), ns::NSPOSIXErrorDomain);
  EXPECT_EQ(e.code(), ENOENT);
  EXPECT_EQ(e.localizedDescription(), "The operation couldn\u2019t be completed. No such file or directory");
  EXPECT_EQ(e.userInfo()[ns::NSFilePathErrorKey].string(), "/tmp/x");
  auto outer = ns::Error(ns::NSCocoaErrorDomain, 260).withUnderlyingError(e);
  auto under = outer.underlyingError();
  ASSERT_TRUE(under.has_value());
  EXPECT_EQ(*under, e);
  EXPECT_EQ(ns::Error("D", 1).underlyingError(), std::nullopt);

  ns::Error filled;  // the out-parameter pattern
  EXPECT_EQ(filled.code(), 0);
  EXPECT_TRUE(filled.domain().empty());
  ns::Error* none = nullptr;
  ns::setError(none, e);  // a null out-parameter is allowed
  ns::Error out("", 0);
  ns::setError(&out, e);
  EXPECT_EQ(out.code(), ENOENT);
}

TEST(ExceptionTest, NameReasonAndRaise) {
  try {
    ns::Exception::raise(ns::NSInvalidArgumentException, "bad thing");
    FAIL() << "raise returned";
  } catch (const std::exception& e) {
    auto& ex = dynamic_cast<const ns::Exception&>(e);
    EXPECT_EQ(ex.name(), "NSInvalidArgumentException");
    EXPECT_EQ(ex.reason(), "bad thing");
    EXPECT_STREQ(e.what(), "NSInvalidArgumentException: bad thing");
  }
  ns::Exception ex(ns::NSInternalInconsistencyException, "r", ns::Dictionary{{"k", 1}});
  EXPECT_EQ(ex.userInfo()["k"].intValue(), 1);
  EXPECT_THROW(ex.raise(), ns::Exception);
  try {
    ns::Exception::raise_format(ns::NSRangeException, "index %lu beyond bounds [0 .. %lu]", 5UL, 2UL);
  } catch (const ns::Exception& e) {
    EXPECT_EQ(e.reason(), "index 5 beyond bounds [0 .. 2]");
  }
  EXPECT_STREQ(ns::NSRangeException, "NSRangeException");
  EXPECT_STREQ(ns::NSGenericException, "NSGenericException");
}

}  // namespace
