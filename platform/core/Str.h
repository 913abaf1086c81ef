#pragma once
// String helpers over UTF-8 std::string that count and compare as the platform does: lengths,
// indexes and ranges are in UTF-16 code units, comparison is by UTF-16 code units, and number
// parsing follows the platform's forgiving rules.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Types.h"

namespace ns::str {

// ---- UTF-8 / UTF-16 ----
// Invalid UTF-8 sequences and lone surrogates become U+FFFD.
std::u16string toUtf16(std::string_view utf8);
std::string toUtf8(std::u16string_view utf16);
bool isValidUtf8(std::string_view s);
// Appends the UTF-8 encoding of a code point (U+FFFD for invalid ones).
void appendUtf8(std::string& out, char32_t codePoint);

// Number of UTF-16 code units: "é😀" is 3.
std::size_t utf16Length(std::string_view s);
std::size_t length(std::string_view s);
// The UTF-16 code unit at `index` (0 when out of range).
char16_t characterAtIndex(std::string_view s, std::size_t index);
// Byte offset in `s` of UTF-16 index `index` (clamped to the length). An index inside a
// surrogate pair maps to the start of the pair.
std::size_t utf8Offset(std::string_view s, std::size_t utf16Index);
// UTF-16 index of byte offset `offset` (clamped).
std::size_t utf16Index(std::string_view s, std::size_t byteOffset);

// Substrings by UTF-16 units. Out-of-range bounds are clamped; a bound that falls inside a
// surrogate pair moves to the start of the pair, so a pair is never split and
// substringToIndex(s, i) + substringFromIndex(s, i) == s for every i.
std::string substringWithRange(std::string_view s, Range range);
std::string substring(std::string_view s, std::size_t location, std::size_t length);
std::string substringFromIndex(std::string_view s, std::size_t index);
std::string substringToIndex(std::string_view s, std::size_t index);
// The range of the whole character (surrogate pair) at `index`.
Range rangeOfComposedCharacterSequenceAtIndex(std::string_view s, std::size_t index);

// ---- comparison and searching ----
enum CompareOptions : unsigned {
  CaseInsensitiveSearch = 1,
  LiteralSearch = 2,
  BackwardsSearch = 4,
  AnchoredSearch = 8,
  NumericSearch = 64,
};

// Literal comparison by UTF-16 code units.
ComparisonResult compare(std::string_view a, std::string_view b);
// With CaseInsensitiveSearch (full case folding) and/or NumericSearch (digit runs compare by
// value: "file2" < "file10").
ComparisonResult compare(std::string_view a, std::string_view b, unsigned options);
ComparisonResult caseInsensitiveCompare(std::string_view a, std::string_view b);
ComparisonResult numericCompare(std::string_view a, std::string_view b);
// Case-insensitive and numeric, as file names sort in the user's view.
ComparisonResult localizedStandardCompare(std::string_view a, std::string_view b);
bool equalsIgnoringCase(std::string_view a, std::string_view b);

bool hasPrefix(std::string_view s, std::string_view prefix);
bool hasSuffix(std::string_view s, std::string_view suffix);
bool contains(std::string_view s, std::string_view needle);
bool containsIgnoringCase(std::string_view s, std::string_view needle);
// UTF-16 range of the first (or with BackwardsSearch, last) occurrence; {NotFound, 0} when
// absent or when `needle` is empty. Supports CaseInsensitiveSearch and AnchoredSearch.
Range rangeOfString(std::string_view s, std::string_view needle, unsigned options = 0);

// ---- transforming ----
// Whitespace is space, tab and the Unicode space separators; newlines are \n, \r, \v, \f,
// U+0085, U+2028 and U+2029.
std::string trimWhitespace(std::string_view s);
std::string trimWhitespaceAndNewlines(std::string_view s);
std::string stringByTrimmingWhitespaceAndNewlines(std::string_view s);

// "a,,b" by "," gives "a", "", "b"; an empty string gives one empty component; an empty
// separator gives the whole string.
std::vector<std::string> componentsSeparatedByString(std::string_view s, std::string_view separator);
std::vector<std::string> split(std::string_view s, std::string_view separator);
std::string componentsJoinedByString(const std::vector<std::string>& parts, std::string_view separator);
std::string join(const std::vector<std::string>& parts, std::string_view separator);

std::string replaceOccurrences(std::string_view s, std::string_view target, std::string_view replacement);
std::string stringByReplacingOccurrencesOfString_withString(std::string_view s, std::string_view target,
                                                            std::string_view replacement);

// Full Unicode case mapping in the root locale ("ß" uppercases to "SS"); ASCII-only text
// takes a fast path.
std::string lowercase(std::string_view s);
std::string uppercase(std::string_view s);
std::string lowercaseString(std::string_view s);
std::string uppercaseString(std::string_view s);
// First letter of each word uppercased, the rest lowercased.
std::string capitalizedString(std::string_view s);

// ---- the platform's number parsing ----
// Leading whitespace and newlines are skipped, then an optional sign and digits; parsing stops
// at the first other character. No digits gives 0. Out-of-range values saturate.
int intValue(std::string_view s);
long integerValue(std::string_view s);
long long longLongValue(std::string_view s);
// Decimal only (no hex, inf or nan), independent of the C locale; 0.0 when no number begins
// the string; overflow gives ±HUGE_VAL.
double doubleValue(std::string_view s);
float floatValue(std::string_view s);
// True when, after whitespace, an optional sign and leading zeros, the first character is
// Y, y, T, t or a digit 1-9: "Y", "yes", "1", "true", "007" are true; "no", "0", "" are false.
bool boolValue(std::string_view s);

}  // namespace ns::str
