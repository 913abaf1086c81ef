#include "platform/core/Format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

namespace {

using ns::format;

struct Thing : ns::Object {
  std::string description() const override { return "<Thing>"; }
};

TEST(FormatTest, PlatformExamples) {
  EXPECT_EQ(format("%@%d:%02d", "-", 1, 5), "-1:05");
  ns::Value list(ns::Array{"a", 1, ns::Value::null()});
  EXPECT_EQ(format("%@", list), "(\n    a,\n    1,\n    \"<null>\"\n)");
}

TEST(FormatTest, IntegerConversions) {
  EXPECT_EQ(format("%d %i %u", -3, 4, 5u), "-3 4 5");
  EXPECT_EQ(format("%ld %lu", -9000000000L, 18000000000UL), "-9000000000 18000000000");
  EXPECT_EQ(format("%lld %llu", LLONG_MIN, ULLONG_MAX), "-9223372036854775808 18446744073709551615");
  EXPECT_EQ(format("%qd %zu", 7LL, sizeof(int)), "7 4");
  EXPECT_EQ(format("%x %X %#x %o", 255, 255, 255, 8), "ff FF 0xff 10");
  EXPECT_EQ(format("%5d|%-5d|%05d|%+d", 42, 42, 42, 42), "   42|42   |00042|+42");
  EXPECT_EQ(format("%*d|%-*d", 4, 7, 3, 8), "   7|8  ");
  EXPECT_EQ(format("%*d", -4, 7), "7   ");  // a negative '*' width left-justifies
  // Without a length modifier the value is an int, as the platform's varargs would read it.
  EXPECT_EQ(format("%d", 4294967297LL), "1");
  EXPECT_EQ(format("%hhd %hu", 300, 70000), "44 4464");
}

// Bare %d, %u and %x are written without snprintf: they must read exactly as snprintf writes them.
TEST(FormatTest, BareIntegersReadAsSnprintfWritesThem) {
  const long long values[] = {0,     1,       -1,      9,         10,        -10,         255,
                              65535, INT_MAX, INT_MIN, LLONG_MAX, LLONG_MIN, 4294967296LL};
  char expected[128];
  for (long long v : values) {
    std::snprintf(expected, sizeof expected, "%lld %llu %llx", v, static_cast<unsigned long long>(v),
                  static_cast<unsigned long long>(v));
    EXPECT_EQ(
        format("%lld %llu %llx", v, static_cast<unsigned long long>(v), static_cast<unsigned long long>(v)),
        expected);
    const int narrow = static_cast<int>(v);
    std::snprintf(expected, sizeof expected, "[%d][%u][%x][%hd][%hhx]", narrow, static_cast<unsigned>(narrow),
                  static_cast<unsigned>(narrow), static_cast<short>(narrow),
                  static_cast<unsigned char>(narrow));
    EXPECT_EQ(format("[%d][%u][%x][%hd][%hhx]", narrow, static_cast<unsigned>(narrow),
                     static_cast<unsigned>(narrow), narrow, narrow),
              expected)
        << v;
  }
  // Anything between the '%' and the conversion still goes the long way.
  EXPECT_EQ(format("%3d|%-3x|%.2u|%'d|%X", 5, 10, 7, 1234, 255), "  5|a  |07|1234|FF");
}

TEST(FormatTest, FloatingConversions) {
  EXPECT_EQ(format("%.1f", 2.25), "2.2");
  EXPECT_EQ(format("%.1f", 2.35), "2.4");
  EXPECT_EQ(format("%f", 1.5), "1.500000");
  EXPECT_EQ(format("%g %g", 0.0001, 1e20), "0.0001 1e+20");
  EXPECT_EQ(format("%8.3f|%-8.2e|", 3.14159, 1234.5), "   3.142|1.23e+03|");
  EXPECT_EQ(format("%.0f%%", 99.6), "100%");
  EXPECT_EQ(format("%.*f", 2, 1.0 / 3), "0.33");
}

TEST(FormatTest, StringsCharsAndObjects) {
  std::string s = "héllo";
  EXPECT_EQ(format("%s|%@|%s", "a", s, std::string_view("v")), "a|héllo|v");
  EXPECT_EQ(format("[%6@][%-6s]", "ab", "cd"), "[    ab][cd    ]");
  EXPECT_EQ(format("[%3@]", "é😀"), "[é😀]");  // three UTF-16 units already
  EXPECT_EQ(format("%.2@", "é😀x"), "é");     // precision never splits a surrogate pair
  EXPECT_EQ(format("%.2s", "éa"), "é");
  EXPECT_EQ(format("%.1s", "éa"), "");  // nor a UTF-8 sequence
  EXPECT_EQ(format("%c%c%C", 'o', 107, 0x263A), "ok\u263A");
  EXPECT_EQ(format("%lc", 0x1F600), "\U0001F600");
  EXPECT_EQ(format("%@ %@", ns::make<Thing>(), ns::Ref<Thing>()), "<Thing> (null)");
  EXPECT_EQ(format("%@", static_cast<const char*>(nullptr)), "(null)");
  EXPECT_EQ(format("%@ %@ %@", 18.0, true, ns::Number(2.5f)), "18 1 2.5");
  EXPECT_EQ(format("%@", ns::Error("D", 3)), "Error Domain=D Code=3 \"(null)\"");
  EXPECT_EQ(format("%@", ns::Data("\x01\x02", 2)), "<0102>");
  EXPECT_EQ(format("%@", ns::Date::dateWithTimeIntervalSinceReferenceDate(0)), "2001-01-01 00:00:00 +0000");
  EXPECT_EQ(format("%@", ns::Value()), "(null)");
  EXPECT_EQ(format("%@", std::optional<std::string>()), "(null)");
}

TEST(FormatTest, PointersAndPercent) {
  int x = 0;
  EXPECT_EQ(format("%p", static_cast<void*>(nullptr)), "0x0");
  std::string p = format("%p", &x);
  EXPECT_EQ(p.rfind("0x", 0), 0u);
  EXPECT_EQ(std::stoull(p.substr(2), nullptr, 16), reinterpret_cast<std::uintptr_t>(&x));
  EXPECT_EQ(format("100%% sure"), "100% sure");
  EXPECT_EQ(format("trailing %"), "trailing %");
  EXPECT_EQ(format("%k is not a conversion", 1), "%k is not a conversion");
}

TEST(FormatTest, PositionalArguments) {
  EXPECT_EQ(format("%2$@ %1$@", "world", "hello"), "hello world");
  EXPECT_EQ(format("%1$d-%1$d", 7), "7-7");
}

TEST(FormatTest, MismatchedArgumentsAreDefined) {
  // Wrong types, missing and extra arguments all give defined, readable output.
  EXPECT_EQ(format("%d", 3.99), "3");
  EXPECT_EQ(format("%d", 1e300), "-1");  // saturates to LLONG_MAX, then read as an int
  EXPECT_EQ(format("%f", 2), "2.000000");
  EXPECT_EQ(format("%d", "text"), "text");
  EXPECT_EQ(format("%s", 12), "12");
  EXPECT_EQ(format("%d", ns::Value(12)), "12");
  EXPECT_EQ(format("%.1f", ns::Value(2.25)), "2.2");
  EXPECT_EQ(format("%d and %@ and %f"), "0 and (null) and 0.000000");
  EXPECT_EQ(format("%d", 1, 2, 3), "1");
  EXPECT_EQ(format("%n%d", 5, 6), "6");  // %n never writes
  // Absurd widths are clamped rather than allocating without bound.
  EXPECT_LE(format("%999999999d", 1).size(), 70000u);
}

TEST(FormatTest, DirectivesAreReadWithoutTheirArguments) {
  using ns::detail::FormatDirective;
  struct Case {
    const char* format;
    bool complete;
    std::size_t positional;
    int width;
    bool widthFromArgument;
    std::size_t widthArgument;
    int precision;
    bool precisionFromArgument;
    const char* length;
    char conversion;
    std::size_t end;
    bool plain;
  } cases[] = {
      {"%d", true, 0, -1, false, 0, -1, false, "", 'd', 2, true},
      {"%lld!", true, 0, -1, false, 0, -1, false, "ll", 'd', 4, true},
      {"%hhu", true, 0, -1, false, 0, -1, false, "hh", 'u', 4, true},
      {"%qi", true, 0, -1, false, 0, -1, false, "q", 'i', 3, true},
      {"%2$-08.3Lf", true, 2, 8, false, 0, 3, false, "L", 'f', 10, false},
      {"%*.*s", true, 0, -1, true, 0, -1, true, "", 's', 5, false},
      {"%*3$.*1$@", true, 0, -1, true, 3, -1, true, "", '@', 9, false},
      {"%.f", true, 0, -1, false, 0, 0, false, "", 'f', 3, false},
      {"%99999999d", true, 0, 65536, false, 0, -1, false, "", 'd', 10, false},
      {"%k", true, 0, -1, false, 0, -1, false, "", 'k', 2, true},
      {"%%", true, 0, -1, false, 0, -1, false, "", '%', 2, true},
      {"%5", false, 0, 5, false, 0, -1, false, "", 0, 0, false},
      {"%ll", false, 0, -1, false, 0, -1, false, "ll", 0, 0, true},
      {"%", false, 0, -1, false, 0, -1, false, "", 0, 0, true},
  };
  for (const auto& c : cases) {
    FormatDirective d;
    EXPECT_EQ(ns::detail::parseFormatDirective(c.format, 0, d), c.complete) << c.format;
    if (!c.complete) continue;
    EXPECT_EQ(d.positional, c.positional) << c.format;
    EXPECT_EQ(d.width, c.width) << c.format;
    EXPECT_EQ(d.widthFromArgument, c.widthFromArgument) << c.format;
    EXPECT_EQ(d.widthArgument, c.widthArgument) << c.format;
    EXPECT_EQ(d.precision, c.precision) << c.format;
    EXPECT_EQ(d.precisionFromArgument, c.precisionFromArgument) << c.format;
    EXPECT_EQ(d.length, c.length) << c.format;
    EXPECT_EQ(d.conversion, c.conversion) << c.format;
    EXPECT_EQ(d.end, c.end) << c.format;
    EXPECT_EQ(d.isPlain(), c.plain) << c.format;
  }
  // The flags, and a directive read in the middle of a format.
  FormatDirective d;
  ASSERT_TRUE(ns::detail::parseFormatDirective("ab%-+ #0'xcd", 2, d));
  EXPECT_TRUE(d.minus && d.plus && d.space && d.hash && d.zero && d.quote);
  EXPECT_EQ(d.conversion, 'x');
  EXPECT_EQ(d.end, 10u);
}

TEST(FormatTest, ArgumentsForWidthAndPrecisionComeBeforeTheValue) {
  EXPECT_EQ(format("[%*d]", 5, 42), "[   42]");
  EXPECT_EQ(format("[%-*d]", 4, 7), "[7   ]");
  EXPECT_EQ(format("[%*d]", -4, 7), "[7   ]");
  EXPECT_EQ(format("[%.*f]", 2, 3.14159), "[3.14]");
  EXPECT_EQ(format("[%*.*@]", 6, 3, "abcdef"), "[   abc]");
  EXPECT_EQ(format("[%3$*1$.*2$@]", 5, 2, "xyz"), "[   xy]");
  // A directive that is not a conversion still consumed its star arguments.
  EXPECT_EQ(format("%*k %d", 9, 4), "%*k 4");
}

}  // namespace
