#pragma once
// Comparison and case mapping of UTF-8 text. The "localized" forms follow a locale's collation
// and case rules (the current locale unless one is given); the plain case-insensitive
// comparison folds case and compares UTF-16 code units, the same in every locale.
#include <optional>
#include <string>
#include <string_view>

#include "platform/text/Locale.h"

namespace ns {

enum ComparisonResult { OrderedAscending = -1, OrderedSame = 0, OrderedDescending = 1 };

ComparisonResult caseInsensitiveCompare(std::string_view a, std::string_view b);
ComparisonResult localizedCompare(std::string_view a, std::string_view b,
                                  const std::optional<Locale>& locale = std::nullopt);
ComparisonResult localizedCaseInsensitiveCompare(std::string_view a, std::string_view b,
                                                 const std::optional<Locale>& locale = std::nullopt);
// Natural ordering of digits ("file2" before "file10"), ignoring case, as file browsers sort.
ComparisonResult localizedStandardCompare(std::string_view a, std::string_view b,
                                          const std::optional<Locale>& locale = std::nullopt);

// Case mapping without a locale (the root rules) and with one ("tr": dotted and dotless i).
std::string lowercaseString(std::string_view text);
std::string uppercaseString(std::string_view text);
std::string capitalizedString(std::string_view text);
std::string lowercaseStringWithLocale(std::string_view text, const Locale& locale);
std::string uppercaseStringWithLocale(std::string_view text, const Locale& locale);

}  // namespace ns
