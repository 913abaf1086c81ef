#include "platform/text/RegularExpression.h"

#include <gtest/gtest.h>

#include "platform/core/Exception.h"
#include "platform/core/Str.h"

namespace {

using ns::NotFound;
using ns::Range;
using ns::RegularExpression;
using ns::TextCheckingResult;

ns::Ref<RegularExpression> regex(std::string_view pattern, std::uint32_t options = 0) {
  ns::Error e("", 0);
  auto r = RegularExpression::regularExpressionWithPattern_options_error(pattern, options, &e);
  EXPECT_TRUE(r) << e.description();
  return r;
}

}  // namespace

namespace {

TEST(RegularExpressionTest, RangesCountUtf16UnitsAndTemplatesUseGroups) {
  const std::string text =
      "\xC3\xA9\xF0\x9F\x98\x80"
      "abc";  // "é😀abc": é is one unit, 😀 two
  auto r = RegularExpression::regularExpressionWithPattern_options_error("(a)(x)?(b)c", 0, nullptr);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->numberOfCaptureGroups(), 3u);
  auto match = r->firstMatchInString(text);
  ASSERT_TRUE(match);
  ASSERT_EQ(match->numberOfRanges(), 4u);
  EXPECT_EQ(match->range(), (Range{3, 3}));
  EXPECT_EQ(match->rangeAtIndex(1), (Range{3, 1}));
  EXPECT_EQ(match->rangeAtIndex(2).location, NotFound);  // group that took no part
  EXPECT_EQ(match->rangeAtIndex(3), (Range{4, 1}));
  EXPECT_EQ(ns::str::substringWithRange(text, match->range()), "abc");

  // The emoji itself spans two units.
  auto emoji = RegularExpression::regularExpressionWithPattern_options_error("\xF0\x9F\x98\x80", 0, nullptr);
  EXPECT_EQ(emoji->firstMatchInString(text)->range(), (Range{1, 2}));
  EXPECT_EQ(ns::str::utf16Length(text), 6u);

  EXPECT_EQ(r->stringByReplacingMatchesInString_withTemplate(text, "[$3$1\\$1$2]"),
            "\xC3\xA9\xF0\x9F\x98\x80[ba$1]");
}

TEST(RegularExpressionTest, AllMatchesOptionsAndRanges) {
  auto words = regex("\\b(\\w)(\\w*)");
  auto all = words->matchesInString("alpha beta gamma");
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[2].range(), (Range{11, 5}));
  EXPECT_EQ(words->stringByReplacingMatchesInString_withTemplate("alpha beta", "$2$1"), "lphaa etab");

  // Only matches inside the range are replaced; text outside it is kept.
  EXPECT_EQ(words->stringByReplacingMatchesInString_options_range_withTemplate("aa bb cc", 0, {3, 2}, "X"),
            "aa X cc");
  EXPECT_EQ(words->numberOfMatchesInString_options_range("aa bb cc", 0, {2, 6}), 2u);

  auto ci = regex("^hello$", RegularExpression::CaseInsensitive | RegularExpression::AnchorsMatchLines);
  EXPECT_EQ(ci->numberOfMatchesInString_options_range("x\nHELLO\nhello", 0, {0, 13}), 2u);
  auto literal = regex("a.b", RegularExpression::IgnoreMetacharacters);
  EXPECT_FALSE(literal->firstMatchInString("axb"));
  EXPECT_TRUE(literal->firstMatchInString("a.b"));
  auto dotall = regex("a.b", RegularExpression::DotMatchesLineSeparators);
  EXPECT_TRUE(dotall->firstMatchInString("a\nb"));
  EXPECT_FALSE(regex("a.b")->firstMatchInString("a\nb"));

  // Anchored: only a match at the start of the range counts.
  auto digits = regex("\\d+");
  EXPECT_EQ(
      digits->rangeOfFirstMatchInString_options_range("ab12", RegularExpression::MatchingAnchored, {0, 4})
          .location,
      NotFound);
  EXPECT_EQ(
      digits->rangeOfFirstMatchInString_options_range("ab12", RegularExpression::MatchingAnchored, {2, 2}),
      (Range{2, 2}));
  // By default ^ matches at the start of the range.
  EXPECT_EQ(regex("^b")->numberOfMatchesInString_options_range("ab", 0, {1, 1}), 1u);
  EXPECT_EQ(regex("^b")->numberOfMatchesInString_options_range(
                "ab", RegularExpression::MatchingWithoutAnchoringBounds, {1, 1}),
            0u);

  // Empty matches advance instead of looping forever.
  EXPECT_EQ(regex("x*")->numberOfMatchesInString_options_range("ab", 0, {0, 2}), 3u);
}

TEST(RegularExpressionTest, BadPatternsAndRangesAreReported) {
  ns::Error error("", 0);
  EXPECT_FALSE(RegularExpression::regularExpressionWithPattern_options_error("(unclosed", 0, &error));
  EXPECT_EQ(error.domain(), ns::NSCocoaErrorDomain);
  EXPECT_EQ(error.code(), 2048);
  EXPECT_EQ(error.localizedDescription(), "The value \u201c(unclosed\u201d is invalid.");
  EXPECT_FALSE(RegularExpression::regularExpressionWithPattern_options_error("[z-a]", 0, nullptr));
  auto r = regex("a");
  EXPECT_THROW(r->matchesInString_options_range("abc", 0, {2, 2}), ns::Exception);
  EXPECT_THROW(r->firstMatchInString_options_range("abc", 0, {4, 0}), ns::Exception);
  // Malformed UTF-8 is matched as replacement characters, not a crash.
  EXPECT_EQ(regex(".")->numberOfMatchesInString_options_range("\xFF\xFE", 0, {0, 2}), 2u);
  // Text cut inside a character (as at the end of a network read) is searched whole.
  const std::string cut = "abc\xE2\x82";
  EXPECT_NO_THROW(EXPECT_EQ(r->matchesInString(cut).size(), 1u));
  EXPECT_NO_THROW(EXPECT_TRUE(regex("c.$")->firstMatchInString(cut)));
  EXPECT_NO_THROW(EXPECT_EQ(r->stringByReplacingMatchesInString_withTemplate(cut, "A"), "Abc\xEF\xBF\xBD"));
}

TEST(RegularExpressionTest, EscapingRoundTrips) {
  const std::string nasty = "a.b*c(d)[e]$f\\g^h|i?j+k{1}";
  auto r = regex(RegularExpression::escapedPatternForString(nasty));
  auto match = r->firstMatchInString("xx" + nasty + "yy");
  ASSERT_TRUE(match);
  EXPECT_EQ(match->range(), (Range{2, nasty.size()}));
  auto all = regex(".+");
  EXPECT_EQ(all->stringByReplacingMatchesInString_withTemplate(
                "z", RegularExpression::escapedTemplateForString("$1 \\ $0")),
            "$1 \\ $0");
}

}  // namespace
