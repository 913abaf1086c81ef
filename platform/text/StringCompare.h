#pragma once
// The locale-dependent string operations, beside the locale-free ones in platform/core/Str.h:
// comparison by a locale's collation and case mapping by a locale's rules. Without a locale,
// the current one is used.
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Types.h"
#include "platform/text/Locale.h"

namespace ns::str {

ComparisonResult localizedCompare(std::string_view a, std::string_view b,
                                  const std::optional<Locale>& locale = std::nullopt);
// Letters that differ only in case are equal; accents still count ("é" after "e").
ComparisonResult localizedCaseInsensitiveCompare(std::string_view a, std::string_view b,
                                                 const std::optional<Locale>& locale = std::nullopt);
// Case-insensitive with numeric runs by value, in a given locale's collation.
ComparisonResult localizedStandardCompareInLocale(std::string_view a, std::string_view b,
                                                  const Locale& locale);

// "tr" maps i to İ and I to ı; other locales as the root does.
std::string lowercaseStringWithLocale(std::string_view text, const std::optional<Locale>& locale);
std::string uppercaseStringWithLocale(std::string_view text, const std::optional<Locale>& locale);
std::string capitalizedStringWithLocale(std::string_view text, const std::optional<Locale>& locale);

}  // namespace ns::str
