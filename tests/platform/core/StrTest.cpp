#include "platform/core/Str.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

namespace str = ns::str;

TEST(StrTest, Utf16LengthAndIndexes) {
  EXPECT_EQ(str::utf16Length("é😀"), 3u);
  EXPECT_EQ(str::utf16Length(""), 0u);
  EXPECT_EQ(str::utf16Length("abc"), 3u);
  EXPECT_EQ(str::length("日本語"), 3u);
  EXPECT_EQ(str::characterAtIndex("é😀", 0), u'\u00e9');
  EXPECT_EQ(str::characterAtIndex("é😀", 1), 0xD83D);
  EXPECT_EQ(str::characterAtIndex("é😀", 2), 0xDE00);
  EXPECT_EQ(str::characterAtIndex("é😀", 3), 0);
  EXPECT_EQ(str::utf8Offset("é😀x", 1), 2u);
  EXPECT_EQ(str::utf8Offset("é😀x", 3), 6u);
  EXPECT_EQ(str::utf16Index("é😀x", 6), 3u);
  EXPECT_EQ(str::rangeOfComposedCharacterSequenceAtIndex("é😀x", 2), (ns::Range{1, 2}));
  EXPECT_EQ(str::rangeOfComposedCharacterSequenceAtIndex("é😀x", 3), (ns::Range{3, 1}));
}

TEST(StrTest, SubstringsNeverSplitSurrogatePairs) {
  const std::string s = "a😀b";  // units: a, high, low, b
  EXPECT_EQ(str::substring(s, 0, 1), "a");
  EXPECT_EQ(str::substring(s, 1, 2), "😀");
  EXPECT_EQ(str::substring(s, 0, 2), "a");   // would end inside the pair
  EXPECT_EQ(str::substring(s, 2, 2), "😀b");  // would start inside the pair
  EXPECT_EQ(str::substring(s, 3, 1), "b");
  EXPECT_EQ(str::substring(s, 2, 0), "");
  EXPECT_EQ(str::substring(s, 10, 5), "");  // out of range is clamped
  EXPECT_EQ(str::substring(s, 1, ns::NotFound), "😀b");
  for (std::size_t i = 0; i <= 5; ++i) {
    std::string head = str::substringToIndex(s, i), tail = str::substringFromIndex(s, i);
    EXPECT_EQ(head + tail, s) << i;
    EXPECT_TRUE(str::isValidUtf8(head)) << i;
    EXPECT_TRUE(str::isValidUtf8(tail)) << i;
  }
}

TEST(StrTest, Utf8Utf16RoundTripAndRepair) {
  const std::string s = "x\u00e9\u4e2d\U0001F600";
  EXPECT_EQ(str::toUtf16(s), u"x\u00e9\u4e2d\U0001F600");
  EXPECT_EQ(str::toUtf8(str::toUtf16(s)), s);
  // Invalid input is repaired with U+FFFD rather than passed through or crashing.
  EXPECT_FALSE(str::isValidUtf8("\xff"));
  EXPECT_FALSE(str::isValidUtf8("\xc3"));          // truncated
  EXPECT_FALSE(str::isValidUtf8("\xc0\xaf"));      // overlong
  EXPECT_FALSE(str::isValidUtf8("\xed\xa0\x80"));  // encoded surrogate
  EXPECT_TRUE(str::isValidUtf8("\xef\xbf\xbd"));   // a real U+FFFD
  EXPECT_EQ(str::toUtf16("a\xff"
                         "b"),
            u"a\uFFFDb");
  EXPECT_EQ(str::toUtf16("\xe4\xb8"), u"\uFFFD\uFFFD");
  EXPECT_EQ(str::toUtf8(u"\xD800x"), "\uFFFDx");    // lone surrogate
  EXPECT_EQ(str::utf16Length("\xf0\x9f\x98"), 3u);  // three stray bytes, three replacements
}

TEST(StrTest, Comparison) {
  EXPECT_EQ(str::compare("a", "b"), ns::OrderedAscending);
  EXPECT_EQ(str::compare("b", "a"), ns::OrderedDescending);
  EXPECT_EQ(str::compare("abc", "abc"), ns::OrderedSame);
  EXPECT_EQ(str::compare("ab", "abc"), ns::OrderedAscending);
  // UTF-16 order: U+FF5E (one unit, 0xFF5E) sorts after U+1F600 (surrogates 0xD83D...),
  // the opposite of code-point order.
  EXPECT_EQ(str::compare("\U0001F600", "\uFF5E"), ns::OrderedAscending);
  EXPECT_EQ(str::caseInsensitiveCompare("HeLLo", "hello"), ns::OrderedSame);
  EXPECT_EQ(str::caseInsensitiveCompare("Straße", "STRASSE"), ns::OrderedSame);
  EXPECT_EQ(str::caseInsensitiveCompare("apple", "Banana"), ns::OrderedAscending);
  EXPECT_TRUE(str::equalsIgnoringCase("ÉCOLE", "école"));
  EXPECT_EQ(str::numericCompare("file2", "file10"), ns::OrderedAscending);
  EXPECT_EQ(str::compare("file2", "file10"), ns::OrderedDescending);
  EXPECT_EQ(str::numericCompare("v1.10", "v1.9"), ns::OrderedDescending);
  EXPECT_EQ(str::numericCompare("007", "7"), ns::OrderedSame);
  EXPECT_EQ(str::numericCompare("a", "a1"), ns::OrderedAscending);
  EXPECT_EQ(str::numericCompare("x99999999999999999999999", "x100000000000000000000000"),
            ns::OrderedAscending);
  EXPECT_EQ(str::localizedStandardCompare("Track 2", "track 10"), ns::OrderedAscending);
}

TEST(StrTest, SearchingAndAffixes) {
  EXPECT_TRUE(str::hasPrefix("https://x", "https://"));
  EXPECT_FALSE(str::hasPrefix("http", "https"));
  EXPECT_TRUE(str::hasSuffix("video.mp4", ".mp4"));
  EXPECT_TRUE(str::hasPrefix("x", ""));
  EXPECT_TRUE(str::contains("abc", "b"));
  EXPECT_TRUE(str::containsIgnoringCase("Hello World", "WORLD"));
  EXPECT_EQ(str::rangeOfString("é😀abcabc", "abc"), (ns::Range{3, 3}));
  EXPECT_EQ(str::rangeOfString("é😀abcabc", "abc", str::BackwardsSearch), (ns::Range{6, 3}));
  EXPECT_EQ(str::rangeOfString("abc", "ABC", str::CaseInsensitiveSearch), (ns::Range{0, 3}));
  EXPECT_EQ(str::rangeOfString("xabc", "abc", str::AnchoredSearch).location, ns::NotFound);
  EXPECT_EQ(str::rangeOfString("abc", "").location, ns::NotFound);
  EXPECT_FALSE(str::rangeOfString("abc", "d").found());
}

TEST(StrTest, TrimSplitJoinReplace) {
  EXPECT_EQ(str::trimWhitespaceAndNewlines(" \t\n hi there \r\n"), "hi there");
  EXPECT_EQ(str::trimWhitespace("\n hi \n"), "\n hi \n");
  EXPECT_EQ(str::trimWhitespace("  hi  "), "hi");
  EXPECT_EQ(str::trimWhitespaceAndNewlines("\u00a0\u3000x\u2028"), "x");
  EXPECT_EQ(str::trimWhitespaceAndNewlines("   "), "");
  EXPECT_EQ(str::split("a,,b", ","), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(str::split("", ","), (std::vector<std::string>{""}));
  EXPECT_EQ(str::split(",a,", ","), (std::vector<std::string>{"", "a", ""}));
  EXPECT_EQ(str::split("a::b", "::"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(str::split("abc", ""), (std::vector<std::string>{"abc"}));
  EXPECT_EQ(str::join({"a", "b", "c"}, ", "), "a, b, c");
  EXPECT_EQ(str::join({}, ", "), "");
  EXPECT_EQ(str::replaceOccurrences("a.b.c", ".", "::"), "a::b::c");
  EXPECT_EQ(str::replaceOccurrences("aaa", "aa", "b"), "ba");
  EXPECT_EQ(str::replaceOccurrences("abc", "", "x"), "abc");
}

TEST(StrTest, CaseMapping) {
  EXPECT_EQ(str::lowercase("Hello WORLD 42"), "hello world 42");
  EXPECT_EQ(str::uppercase("hello"), "HELLO");
  EXPECT_EQ(str::uppercase("straße"), "STRASSE");
  EXPECT_EQ(str::lowercase("ÀÉÎ"), "àéî");
  EXPECT_EQ(str::uppercase("ǆ"), "Ǆ");
  EXPECT_EQ(str::capitalizedString("hello wORLD"), "Hello World");
}

TEST(StrTest, IntegerParsingFollowsThePlatform) {
  EXPECT_EQ(str::intValue(" 12abc"), 12);
  EXPECT_EQ(str::intValue("\n\t-34"), -34);
  EXPECT_EQ(str::intValue("+5"), 5);
  EXPECT_EQ(str::intValue("abc"), 0);
  EXPECT_EQ(str::intValue(""), 0);
  EXPECT_EQ(str::intValue("- 5"), 0);
  EXPECT_EQ(str::intValue("3.9"), 3);
  EXPECT_EQ(str::intValue("99999999999"), 2147483647);
  EXPECT_EQ(str::intValue("-99999999999"), -2147483647 - 1);
  EXPECT_EQ(str::intValue("2147483647"), 2147483647);
  EXPECT_EQ(str::intValue("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(str::longLongValue("99999999999"), 99999999999LL);
  EXPECT_EQ(str::longLongValue("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(str::longLongValue("9223372036854775808"), INT64_MAX);
  EXPECT_EQ(str::longLongValue("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(str::longLongValue("-99999999999999999999999"), INT64_MIN);
  EXPECT_EQ(str::integerValue("123456789012"), 123456789012L);
}

TEST(StrTest, DoubleParsingFollowsThePlatform) {
  EXPECT_EQ(str::doubleValue("3.25"), 3.25);
  EXPECT_EQ(str::doubleValue("  -1.5e3xyz"), -1500.0);
  EXPECT_EQ(str::doubleValue(".5"), 0.5);
  EXPECT_EQ(str::doubleValue("5."), 5.0);
  EXPECT_EQ(str::doubleValue("1e"), 1.0);  // an incomplete exponent is not part of the number
  EXPECT_EQ(str::doubleValue("abc"), 0.0);
  EXPECT_EQ(str::doubleValue("."), 0.0);
  EXPECT_EQ(str::doubleValue("0x10"), 0.0);  // decimal only
  EXPECT_EQ(str::doubleValue("inf"), 0.0);
  EXPECT_EQ(str::doubleValue("1e999"), HUGE_VAL);
  EXPECT_EQ(str::doubleValue("-1e999"), -HUGE_VAL);
  EXPECT_EQ(str::doubleValue("1e-999"), 0.0);
  EXPECT_EQ(str::floatValue("1e300"), HUGE_VALF);
  EXPECT_FLOAT_EQ(str::floatValue("0.1"), 0.1f);
}

TEST(StrTest, BoolParsingFollowsThePlatform) {
  for (const char* yes : {"Y", "y", "yes", "YES", "T", "true", "1", "9", " 7", "007", "-1", "+3", "Yellow"})
    EXPECT_TRUE(str::boolValue(yes)) << yes;
  for (const char* no : {"", "N", "no", "false", "0", "000", "x", " ", "-", "0.5"})
    EXPECT_FALSE(str::boolValue(no)) << no;
}

}  // namespace
