#pragma once
// Regular expressions in ICU syntax over UTF-8 text. Ranges (locations and lengths) count
// UTF-16 code units, as the platform reports them, so that they can be combined with the
// string helpers that count the same way. A compiled expression is immutable and may be used
// from several threads at once.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/core/Types.h"

namespace ns {

// One match: range 0 is the whole match, range i the i-th capture group; a group that took no
// part has location NotFound and length 0.
struct TextCheckingResult {
  std::vector<Range> ranges;

  Range range() const { return ranges.empty() ? Range{NotFound, 0} : ranges[0]; }
  Range rangeAtIndex(std::size_t index) const {
    return index < ranges.size() ? ranges[index] : Range{NotFound, 0};
  }
  std::size_t numberOfRanges() const { return ranges.size(); }
};

class RegularExpression : public Object {
 public:
  enum Options : std::uint32_t {
    CaseInsensitive = 1 << 0,
    AllowCommentsAndWhitespace = 1 << 1,
    IgnoreMetacharacters = 1 << 2,
    DotMatchesLineSeparators = 1 << 3,
    AnchorsMatchLines = 1 << 4,
    UseUnixLineSeparators = 1 << 5,
    UseUnicodeWordBoundaries = 1 << 6,
  };
  enum MatchingOptions : std::uint32_t {
    MatchingAnchored = 1 << 2,
    MatchingWithTransparentBounds = 1 << 3,
    MatchingWithoutAnchoringBounds = 1 << 4,
  };
  // nullptr for an invalid pattern, with *error (when given) in NSCocoaErrorDomain, code 2048,
  // the pattern under "NSInvalidValue".
  static Ref<RegularExpression> regularExpressionWithPattern_options_error(std::string_view pattern,
                                                                           std::uint32_t options,
                                                                           Error* error);
  ~RegularExpression() override;

  const std::string& pattern() const { return pattern_; }
  std::uint32_t options() const { return options_; }
  std::size_t numberOfCaptureGroups() const;

  // The search covers range of text (UTF-16 units); a range outside the text raises
  // NSRangeException, a misuse. The overloads without a range cover the whole text.
  std::vector<TextCheckingResult> matchesInString_options_range(std::string_view text, std::uint32_t options,
                                                                Range range) const;
  std::optional<TextCheckingResult> firstMatchInString_options_range(std::string_view text,
                                                                     std::uint32_t options,
                                                                     Range range) const;
  std::size_t numberOfMatchesInString_options_range(std::string_view text, std::uint32_t options,
                                                    Range range) const;
  Range rangeOfFirstMatchInString_options_range(std::string_view text, std::uint32_t options,
                                                Range range) const;
  // Each match inside range replaced by the template: "$n" is capture group n (as many digits
  // as name an existing group), "\" takes the next character literally.
  std::string stringByReplacingMatchesInString_options_range_withTemplate(std::string_view text,
                                                                          std::uint32_t options, Range range,
                                                                          std::string_view templ) const;

  std::vector<TextCheckingResult> matchesInString(std::string_view text) const;
  std::optional<TextCheckingResult> firstMatchInString(std::string_view text) const;
  std::string stringByReplacingMatchesInString_withTemplate(std::string_view text,
                                                            std::string_view templ) const;

  // The template expanded for one match of text.
  std::string replacementStringForResult_inString_template(const TextCheckingResult& result,
                                                           std::string_view text,
                                                           std::string_view templ) const;

  static std::string escapedPatternForString(std::string_view text);
  static std::string escapedTemplateForString(std::string_view text);

 private:
  RegularExpression() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string pattern_;
  std::uint32_t options_ = 0;
};

}  // namespace ns
