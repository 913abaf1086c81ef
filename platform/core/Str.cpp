#include "platform/core/Str.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <limits>

namespace ns::str {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at s[i], advancing i. Malformed input (bad lead or continuation bytes,
// overlong forms, surrogates, values past U+10FFFF) yields U+FFFD and consumes one byte.
char32_t decodeUtf8(std::string_view s, std::size_t& i) {
  auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra;
  char32_t cp;
  char32_t minimum;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1F, minimum = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0F, minimum = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07, minimum = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + extra >= s.size()) {
    ++i;
    return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += extra + 1;
  return cp;
}

// Number of bytes of the (valid or not) sequence starting at i, as decodeUtf8 consumes it.
std::size_t sequenceLength(std::string_view s, std::size_t i, char32_t* cpOut) {
  std::size_t j = i;
  char32_t cp = decodeUtf8(s, j);
  if (cpOut) *cpOut = cp;
  return j - i;
}

bool isWhitespaceCp(char32_t c) {
  return c == ' ' || c == '\t' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}
bool isNewlineCp(char32_t c) {
  return c == '\n' || c == '\r' || c == 0x0B || c == 0x0C || c == 0x85 || c == 0x2028 || c == 0x2029;
}

std::size_t skipSpace(std::string_view s, std::size_t i) {
  while (i < s.size()) {
    char32_t cp;
    std::size_t n = sequenceLength(s, i, &cp);
    if (!isWhitespaceCp(cp) && !isNewlineCp(cp)) break;
    i += n;
  }
  return i;
}

bool isAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Parses [ws][sign]digits with saturation to [lo, hi].
long long parseSaturating(std::string_view s, long long lo, long long hi) {
  std::size_t i = skipSpace(s, 0);
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  // Accumulate as a negative magnitude, which reaches the minimum without overflow.
  long long value = 0;
  bool saturated = false;
  for (; i < s.size() && isDigit(s[i]); ++i) {
    if (saturated) continue;
    int d = s[i] - '0';
    if (value < (LLONG_MIN + d) / 10) {
      saturated = true;
      continue;
    }
    value = value * 10 - d;
  }
  if (negative) {
    if (saturated || value < lo) return lo;
    return value;
  }
  if (saturated || value < -hi) return hi;
  return -value;
}

}  // namespace

// ---- UTF-8 / UTF-16 ----

void appendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::u16string toUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp = decodeUtf8(s, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string toUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    appendUtf8(out, c);
  }
  return out;
}

bool isValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    std::size_t start = i;
    char32_t cp = decodeUtf8(s, i);
    // A genuine U+FFFD is three bytes; a one-byte step with U+FFFD is an error.
    if (cp == kReplacement && i - start == 1) return false;
  }
  return true;
}

std::size_t utf16Length(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size();) n += decodeUtf8(s, i) >= 0x10000 ? 2 : 1;
  return n;
}

std::size_t length(std::string_view s) {
  return utf16Length(s);
}

char16_t characterAtIndex(std::string_view s, std::size_t index) {
  std::size_t u = 0;
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp = decodeUtf8(s, i);
    if (cp >= 0x10000) {
      if (u == index) return static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      if (u + 1 == index) return static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      u += 2;
    } else {
      if (u == index) return static_cast<char16_t>(cp);
      u += 1;
    }
  }
  return 0;
}

std::size_t utf8Offset(std::string_view s, std::size_t index) {
  std::size_t u = 0;
  std::size_t i = 0;
  while (i < s.size() && u < index) {
    std::size_t start = i;
    char32_t cp = decodeUtf8(s, i);
    std::size_t units = cp >= 0x10000 ? 2 : 1;
    if (u + units > index) return start;  // inside a surrogate pair
    u += units;
  }
  return i;
}

std::size_t utf16Index(std::string_view s, std::size_t byteOffset) {
  std::size_t u = 0;
  for (std::size_t i = 0; i < s.size() && i < byteOffset;) u += decodeUtf8(s, i) >= 0x10000 ? 2 : 1;
  return u;
}

std::string substringWithRange(std::string_view s, Range range) {
  std::size_t location = range.location;
  std::size_t end = range.length > SIZE_MAX - location ? SIZE_MAX : location + range.length;
  std::size_t b0 = utf8Offset(s, location);
  std::size_t b1 = utf8Offset(s, end);
  if (b1 < b0) b1 = b0;
  return std::string(s.substr(b0, b1 - b0));
}

std::string substring(std::string_view s, std::size_t location, std::size_t length) {
  return substringWithRange(s, Range{location, length});
}
std::string substringFromIndex(std::string_view s, std::size_t index) {
  return std::string(s.substr(utf8Offset(s, index)));
}
std::string substringToIndex(std::string_view s, std::size_t index) {
  return std::string(s.substr(0, utf8Offset(s, index)));
}

Range rangeOfComposedCharacterSequenceAtIndex(std::string_view s, std::size_t index) {
  std::size_t u = 0;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t units = decodeUtf8(s, i) >= 0x10000 ? 2 : 1;
    if (index < u + units) return Range{u, units};
    u += units;
  }
  return Range{index, 0};
}

// ---- comparison ----

ComparisonResult compare(std::string_view a, std::string_view b) {
  return compare(a, b, 0);
}

namespace {

ComparisonResult sign(long v) {
  return v < 0 ? OrderedAscending : v > 0 ? OrderedDescending : OrderedSame;
}

ComparisonResult compareUnits(std::u16string_view a, std::u16string_view b, bool caseless) {
  if (caseless) {
    UErrorCode err = U_ZERO_ERROR;
    int r = u_strCaseCompare(reinterpret_cast<const UChar*>(a.data()), static_cast<int32_t>(a.size()),
                             reinterpret_cast<const UChar*>(b.data()), static_cast<int32_t>(b.size()),
                             U_FOLD_CASE_DEFAULT, &err);
    if (U_SUCCESS(err)) return sign(r);
  }
  int r = a.compare(b);
  return sign(r);
}

bool isDigit16(char16_t c) {
  return c >= u'0' && c <= u'9';
}

// Compares with digit runs taken as numbers; everything else by UTF-16 units (optionally
// case-folded per segment).
ComparisonResult compareNumeric(std::u16string_view a, std::u16string_view b, bool caseless) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit16(a[i]) && isDigit16(b[j])) {
      std::size_t i1 = i, j1 = j;
      while (i1 < a.size() && isDigit16(a[i1])) ++i1;
      while (j1 < b.size() && isDigit16(b[j1])) ++j1;
      std::size_t ia = i, jb = j;
      while (ia + 1 < i1 && a[ia] == u'0') ++ia;
      while (jb + 1 < j1 && b[jb] == u'0') ++jb;
      std::size_t la = i1 - ia, lb = j1 - jb;
      if (la != lb) return la < lb ? OrderedAscending : OrderedDescending;
      int r = a.substr(ia, la).compare(b.substr(jb, lb));
      if (r != 0) return sign(r);
      i = i1, j = j1;
      continue;
    }
    std::size_t i1 = i, j1 = j;
    while (i1 < a.size() && !isDigit16(a[i1])) ++i1;
    while (j1 < b.size() && !isDigit16(b[j1])) ++j1;
    auto sa = a.substr(i, i1 - i), sb = b.substr(j, j1 - j);
    // Compare the non-digit segments; when one is a prefix of the other, the shorter segment
    // ends at a digit or the end, which is decided by comparing the next unit.
    std::size_t n = std::min(sa.size(), sb.size());
    ComparisonResult r = compareUnits(sa.substr(0, n), sb.substr(0, n), caseless);
    if (r != OrderedSame) return r;
    if (sa.size() != sb.size()) {
      // The shorter one continues with a digit (or ends); digits sort before letters here as
      // they do in code-unit order.
      std::u16string_view restA = a.substr(i + n), restB = b.substr(j + n);
      return compareUnits(restA.substr(0, 1), restB.substr(0, 1), caseless);
    }
    i = i1, j = j1;
  }
  if (i < a.size()) return OrderedDescending;
  if (j < b.size()) return OrderedAscending;
  return OrderedSame;
}

}  // namespace

ComparisonResult compare(std::string_view a, std::string_view b, unsigned options) {
  bool caseless = options & CaseInsensitiveSearch;
  bool numeric = options & NumericSearch;
  if (!caseless && !numeric && isAscii(a) && isAscii(b)) return sign(a.compare(b));
  std::u16string ua = toUtf16(a), ub = toUtf16(b);
  if (numeric) return compareNumeric(ua, ub, caseless);
  return compareUnits(ua, ub, caseless);
}

ComparisonResult caseInsensitiveCompare(std::string_view a, std::string_view b) {
  return compare(a, b, CaseInsensitiveSearch);
}
ComparisonResult numericCompare(std::string_view a, std::string_view b) {
  return compare(a, b, NumericSearch);
}
ComparisonResult localizedStandardCompare(std::string_view a, std::string_view b) {
  return compare(a, b, CaseInsensitiveSearch | NumericSearch);
}
bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return caseInsensitiveCompare(a, b) == OrderedSame;
}

bool hasPrefix(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}
bool hasSuffix(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}
bool contains(std::string_view s, std::string_view needle) {
  return s.find(needle) != std::string_view::npos;
}
bool containsIgnoringCase(std::string_view s, std::string_view needle) {
  return rangeOfString(s, needle, CaseInsensitiveSearch).found();
}

Range rangeOfString(std::string_view s, std::string_view needle, unsigned options) {
  const Range none{NotFound, 0};
  if (needle.empty()) return none;
  bool caseless = options & CaseInsensitiveSearch;
  bool backwards = options & BackwardsSearch;
  bool anchored = options & AnchoredSearch;
  if (!caseless) {
    std::size_t pos;
    if (anchored) {
      pos = backwards ? (hasSuffix(s, needle) ? s.size() - needle.size() : std::string_view::npos)
                      : (hasPrefix(s, needle) ? 0 : std::string_view::npos);
    } else {
      pos = backwards ? s.rfind(needle) : s.find(needle);
    }
    if (pos == std::string_view::npos) return none;
    return Range{utf16Index(s, pos), utf16Length(needle)};
  }
  // Case-insensitive: fold both sides and search candidate windows of the folded needle's
  // length in folded units. Folding can change lengths (ß -> ss), so compare window by window on
  // the original units instead.
  std::u16string us = toUtf16(s), un = toUtf16(needle);
  auto matchesAt = [&](std::size_t start, std::size_t len) {
    if (start + len > us.size()) return false;
    return compareUnits(std::u16string_view(us).substr(start, len), un, true) == OrderedSame;
  };
  std::size_t len = un.size();
  if (len > us.size()) return none;
  if (anchored) {
    std::size_t start = backwards ? us.size() - len : 0;
    return matchesAt(start, len) ? Range{start, len} : none;
  }
  if (backwards) {
    for (std::size_t start = us.size() - len + 1; start-- > 0;)
      if (matchesAt(start, len)) return Range{start, len};
  } else {
    for (std::size_t start = 0; start + len <= us.size(); ++start)
      if (matchesAt(start, len)) return Range{start, len};
  }
  return none;
}

// ---- transforming ----

namespace {
template <class Pred>
std::string trimIf(std::string_view s, Pred pred) {
  std::size_t begin = 0;
  while (begin < s.size()) {
    char32_t cp;
    std::size_t n = sequenceLength(s, begin, &cp);
    if (!pred(cp)) break;
    begin += n;
  }
  // Walk forward remembering the end of the last non-trimmed character.
  std::size_t end = begin;
  for (std::size_t i = begin; i < s.size();) {
    char32_t cp;
    std::size_t n = sequenceLength(s, i, &cp);
    i += n;
    if (!pred(cp)) end = i;
  }
  return std::string(s.substr(begin, end - begin));
}
}  // namespace

std::string trimWhitespace(std::string_view s) {
  return trimIf(s, isWhitespaceCp);
}
std::string trimWhitespaceAndNewlines(std::string_view s) {
  return trimIf(s, [](char32_t c) { return isWhitespaceCp(c) || isNewlineCp(c); });
}
std::string stringByTrimmingWhitespaceAndNewlines(std::string_view s) {
  return trimWhitespaceAndNewlines(s);
}

std::vector<std::string> componentsSeparatedByString(std::string_view s, std::string_view separator) {
  std::vector<std::string> parts;
  if (separator.empty()) {
    parts.emplace_back(s);
    return parts;
  }
  std::size_t start = 0;
  while (true) {
    std::size_t pos = s.find(separator, start);
    if (pos == std::string_view::npos) {
      parts.emplace_back(s.substr(start));
      return parts;
    }
    parts.emplace_back(s.substr(start, pos - start));
    start = pos + separator.size();
  }
}
std::vector<std::string> split(std::string_view s, std::string_view separator) {
  return componentsSeparatedByString(s, separator);
}

std::string componentsJoinedByString(const std::vector<std::string>& parts, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += separator;
    out += parts[i];
  }
  return out;
}
std::string join(const std::vector<std::string>& parts, std::string_view separator) {
  return componentsJoinedByString(parts, separator);
}

std::string replaceOccurrences(std::string_view s, std::string_view target, std::string_view replacement) {
  if (target.empty()) return std::string(s);
  std::string out;
  out.reserve(s.size());
  std::size_t start = 0;
  while (true) {
    std::size_t pos = s.find(target, start);
    if (pos == std::string_view::npos) break;
    out.append(s.substr(start, pos - start));
    out.append(replacement);
    start = pos + target.size();
  }
  out.append(s.substr(start));
  return out;
}
std::string stringByReplacingOccurrencesOfString_withString(std::string_view s, std::string_view target,
                                                            std::string_view replacement) {
  return replaceOccurrences(s, target, replacement);
}

namespace {
enum class CaseMap { Lower, Upper, Title };

std::string mapCase(std::string_view s, CaseMap mode) {
  if (mode != CaseMap::Title && isAscii(s)) {
    std::string out(s);
    for (char& c : out) {
      if (mode == CaseMap::Lower && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (mode == CaseMap::Upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
  }
  std::u16string in = toUtf16(s);
  std::u16string out(in.size() + 16, u'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode err = U_ZERO_ERROR;
    auto src = reinterpret_cast<const UChar*>(in.data());
    auto dst = reinterpret_cast<UChar*>(out.data());
    auto srcLen = static_cast<int32_t>(in.size());
    auto cap = static_cast<int32_t>(out.size());
    int32_t n;
    if (mode == CaseMap::Lower) {
      n = u_strToLower(dst, cap, src, srcLen, "", &err);
    } else if (mode == CaseMap::Upper) {
      n = u_strToUpper(dst, cap, src, srcLen, "", &err);
    } else {
      n = u_strToTitle(dst, cap, src, srcLen, nullptr, "", &err);
    }
    if (err == U_BUFFER_OVERFLOW_ERROR) {
      out.assign(static_cast<std::size_t>(n), u'\0');
      continue;
    }
    if (U_FAILURE(err)) return std::string(s);
    out.resize(static_cast<std::size_t>(n));
    return toUtf8(out);
  }
  return std::string(s);
}
}  // namespace

std::string lowercase(std::string_view s) {
  return mapCase(s, CaseMap::Lower);
}
std::string uppercase(std::string_view s) {
  return mapCase(s, CaseMap::Upper);
}
std::string lowercaseString(std::string_view s) {
  return lowercase(s);
}
std::string uppercaseString(std::string_view s) {
  return uppercase(s);
}
std::string capitalizedString(std::string_view s) {
  return mapCase(s, CaseMap::Title);
}

// ---- number parsing ----

int intValue(std::string_view s) {
  return static_cast<int>(parseSaturating(s, INT_MIN, INT_MAX));
}
long integerValue(std::string_view s) {
  return static_cast<long>(parseSaturating(s, LONG_MIN, LONG_MAX));
}
long long longLongValue(std::string_view s) {
  return parseSaturating(s, LLONG_MIN, LLONG_MAX);
}

double doubleValue(std::string_view s) {
  std::size_t i = skipSpace(s, 0);
  std::size_t start = i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < s.size() && isDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && isDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t e = i + 1;
    if (e < s.size() && (s[e] == '+' || s[e] == '-')) ++e;
    if (e < s.size() && isDigit(s[e])) {
      while (e < s.size() && isDigit(s[e])) ++e;
      i = e;
    }
  }
  std::string_view text = s.substr(start, i - start);
  bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
  double value = 0.0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Tell overflow from underflow by the decimal exponent's rough size.
    std::size_t intDigits = 0;
    std::size_t k = 0;
    while (k < text.size() && text[k] == '0') ++k;
    while (k < text.size() && isDigit(text[k])) ++k, ++intDigits;
    auto epos = text.find_first_of("eE");
    long exponent = epos == std::string_view::npos
                        ? 0
                        : std::clamp(longLongValue(text.substr(epos + 1)), -100000LL, 100000LL);
    value = (static_cast<long>(intDigits) + exponent > 0) ? HUGE_VAL : 0.0;
  }
  return negative ? -value : value;
}

float floatValue(std::string_view s) {
  double d = doubleValue(s);
  if (std::isinf(d) || std::fabs(d) > std::numeric_limits<float>::max())
    return d < 0 ? -HUGE_VALF : HUGE_VALF;
  return static_cast<float>(d);
}

bool boolValue(std::string_view s) {
  std::size_t i = skipSpace(s, 0);
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  while (i < s.size() && s[i] == '0') ++i;
  if (i >= s.size()) return false;
  char c = s[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

}  // namespace ns::str
