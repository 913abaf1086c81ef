#include "platform/text/RegularExpression.h"

#include <unicode/regex.h>

#include <functional>
#include "platform/core/Exception.h"

#include "platform/text/IcuSupport.h"

namespace ns {

using namespace icu_support;

struct RegularExpression::Impl {
  std::unique_ptr<icu::RegexPattern> pattern;
};

RegularExpression::~RegularExpression() = default;

Ref<RegularExpression> RegularExpression::regularExpressionWithPattern_options_error(std::string_view pattern,
                                                                                     std::uint32_t options,
                                                                                     Error* error) {
  uint32_t flags = 0;
  if (options & CaseInsensitive) flags |= UREGEX_CASE_INSENSITIVE;
  if (options & AllowCommentsAndWhitespace) flags |= UREGEX_COMMENTS;
  if (options & IgnoreMetacharacters) flags |= UREGEX_LITERAL;
  if (options & DotMatchesLineSeparators) flags |= UREGEX_DOTALL;
  if (options & AnchorsMatchLines) flags |= UREGEX_MULTILINE;
  if (options & UseUnixLineSeparators) flags |= UREGEX_UNIX_LINES;
  if (options & UseUnicodeWordBoundaries) flags |= UREGEX_UWORD;
  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError{};
  std::unique_ptr<icu::RegexPattern> compiled(
      icu::RegexPattern::compile(toUnicode(pattern), flags, parseError, status));
  if (U_FAILURE(status) || !compiled) {
    Dictionary info;
    info.set(NSLocalizedDescriptionKey,
             Value("The value \u201c" + std::string(pattern) + "\u201d is invalid."));
    info.set("NSInvalidValue", Value(std::string(pattern)));
    info.set(NSLocalizedFailureReasonErrorKey,
             Value(std::string(u_errorName(status)) + " at offset " + std::to_string(parseError.offset)));
    setError(error, Error(NSCocoaErrorDomain, 2048, std::move(info)));
    return nullptr;
  }
  Ref<RegularExpression> regex(new RegularExpression());
  regex->impl_ = std::make_unique<Impl>();
  regex->impl_->pattern = std::move(compiled);
  regex->pattern_ = std::string(pattern);
  regex->options_ = options;
  return regex;
}

std::size_t RegularExpression::numberOfCaptureGroups() const {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> matcher(impl_->pattern->matcher(status));
  return U_SUCCESS(status) ? static_cast<std::size_t>(matcher->groupCount()) : 0;
}

namespace {

// Runs fn on every match inside range until it answers false.
void enumerate(const icu::RegexPattern& pattern, const icu::UnicodeString& text, std::uint32_t options,
               Range range, const std::function<bool(const TextCheckingResult&)>& fn) {
  const auto length = static_cast<std::size_t>(text.length());
  if (range.location > length || range.length > length - range.location)
    Exception::raise(NSRangeException, "RegularExpression: range {" + std::to_string(range.location) + ", " +
                                           std::to_string(range.length) + "} out of bounds; string length " +
                                           std::to_string(length));
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> matcher(pattern.matcher(text, status));
  if (U_FAILURE(status)) return;
  const auto start = static_cast<int64_t>(range.location);
  const auto limit = static_cast<int64_t>(range.location + range.length);
  matcher->region(start, limit, status);
  matcher->useTransparentBounds(options & RegularExpression::MatchingWithTransparentBounds);
  matcher->useAnchoringBounds(!(options & RegularExpression::MatchingWithoutAnchoringBounds));
  const bool anchored = options & RegularExpression::MatchingAnchored;
  const int32_t groups = matcher->groupCount();
  int64_t expectedStart = start;
  while (U_SUCCESS(status)) {
    bool found = matcher->find(status);
    if (!found || U_FAILURE(status)) break;
    int64_t matchStart = matcher->start64(status);
    // Anchored matching only accepts matches that continue where the last one ended.
    if (anchored && matchStart != expectedStart) break;
    TextCheckingResult result;
    result.ranges.reserve(static_cast<std::size_t>(groups) + 1);
    for (int32_t g = 0; g <= groups; ++g) {
      int64_t s = matcher->start64(g, status);
      int64_t e = matcher->end64(g, status);
      if (s < 0)
        result.ranges.push_back({NotFound, 0});
      else
        result.ranges.push_back({static_cast<std::size_t>(s), static_cast<std::size_t>(e - s)});
    }
    expectedStart = matcher->end64(status);
    if (!fn(result)) break;
  }
}

}  // namespace

std::vector<TextCheckingResult> RegularExpression::matchesInString_options_range(std::string_view text,
                                                                                 std::uint32_t options,
                                                                                 Range range) const {
  std::vector<TextCheckingResult> out;
  enumerate(*impl_->pattern, toUnicode(text), options, range, [&](const TextCheckingResult& r) {
    out.push_back(r);
    return true;
  });
  return out;
}

std::optional<TextCheckingResult> RegularExpression::firstMatchInString_options_range(std::string_view text,
                                                                                      std::uint32_t options,
                                                                                      Range range) const {
  std::optional<TextCheckingResult> out;
  enumerate(*impl_->pattern, toUnicode(text), options, range, [&](const TextCheckingResult& r) {
    out = r;
    return false;
  });
  return out;
}

std::size_t RegularExpression::numberOfMatchesInString_options_range(std::string_view text,
                                                                     std::uint32_t options,
                                                                     Range range) const {
  std::size_t count = 0;
  enumerate(*impl_->pattern, toUnicode(text), options, range, [&](const TextCheckingResult&) {
    ++count;
    return true;
  });
  return count;
}

Range RegularExpression::rangeOfFirstMatchInString_options_range(std::string_view text, std::uint32_t options,
                                                                 Range range) const {
  auto first = firstMatchInString_options_range(text, options, range);
  return first ? first->range() : Range{NotFound, 0};
}

namespace {

icu::UnicodeString expand(const icu::UnicodeString& text, const TextCheckingResult& result,
                          const icu::UnicodeString& templ) {
  icu::UnicodeString out;
  const int32_t n = templ.length();
  const auto groups = static_cast<long>(result.ranges.size()) - 1;
  for (int32_t i = 0; i < n; ++i) {
    char16_t c = templ[i];
    if (c == u'\\' && i + 1 < n) {
      out.append(templ[++i]);
    } else if (c == u'$' && i + 1 < n && templ[i + 1] >= u'0' && templ[i + 1] <= u'9') {
      long group = templ[++i] - u'0';
      // Take further digits while they still name an existing group.
      while (i + 1 < n && templ[i + 1] >= u'0' && templ[i + 1] <= u'9' &&
             group * 10 + (templ[i + 1] - u'0') <= groups) {
        group = group * 10 + (templ[++i] - u'0');
      }
      if (group <= groups) {
        auto r = result.ranges[static_cast<std::size_t>(group)];
        if (r.location != NotFound)
          out.append(text, static_cast<int32_t>(r.location), static_cast<int32_t>(r.length));
      }
    } else {
      out.append(c);
    }
  }
  return out;
}

}  // namespace

std::string RegularExpression::stringByReplacingMatchesInString_options_range_withTemplate(
    std::string_view text, std::uint32_t options, Range range, std::string_view templ) const {
  icu::UnicodeString source = toUnicode(text);
  icu::UnicodeString tmpl = toUnicode(templ);
  icu::UnicodeString out;
  int32_t copied = 0;
  enumerate(*impl_->pattern, source, options, range, [&](const TextCheckingResult& r) {
    auto whole = r.range();
    out.append(source, copied, static_cast<int32_t>(whole.location) - copied);
    out.append(expand(source, r, tmpl));
    copied = static_cast<int32_t>(whole.location + whole.length);
    return true;
  });
  out.append(source, copied, source.length() - copied);
  return toUtf8(out);
}

namespace {
// The whole text in the units the matcher counts: malformed UTF-8 (a character cut at the end of
// a read) becomes one replacement character per broken sequence there, which the core string
// helpers count byte by byte.
Range wholeText(std::string_view text) {
  return {0, static_cast<std::size_t>(toUnicode(text).length())};
}
}  // namespace

std::vector<TextCheckingResult> RegularExpression::matchesInString(std::string_view text) const {
  return matchesInString_options_range(text, 0, wholeText(text));
}

std::optional<TextCheckingResult> RegularExpression::firstMatchInString(std::string_view text) const {
  return firstMatchInString_options_range(text, 0, wholeText(text));
}

std::string RegularExpression::stringByReplacingMatchesInString_withTemplate(std::string_view text,
                                                                             std::string_view templ) const {
  return stringByReplacingMatchesInString_options_range_withTemplate(text, 0, wholeText(text), templ);
}

std::string RegularExpression::replacementStringForResult_inString_template(const TextCheckingResult& result,
                                                                            std::string_view text,
                                                                            std::string_view templ) const {
  icu::UnicodeString source = toUnicode(text);
  for (const auto& r : result.ranges) {
    if (r.location != NotFound && (r.location > static_cast<std::size_t>(source.length()) ||
                                   r.length > static_cast<std::size_t>(source.length()) - r.location))
      return std::string();
  }
  return toUtf8(expand(source, result, toUnicode(templ)));
}

std::string RegularExpression::escapedPatternForString(std::string_view text) {
  static constexpr std::string_view special = "\\^$.|?*+()[]{}-/#&~ \t\n\r";
  std::string out;
  for (char c : text) {
    if (special.find(c) != std::string_view::npos) out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

std::string RegularExpression::escapedTemplateForString(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '$') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

}  // namespace ns
