#pragma once
// Decimal number parsing as the server reads header values: leading white space skipped, an
// optional sign, digits up to the first non-digit (the rest ignored). No digit, or a value that
// does not fit the result type, answers false. A "-" in front of an unsigned conversion wraps
// (two's complement of the negated value), as the standard unsigned conversions do: callers that
// must refuse signs (Content-Length) check for them themselves.
#include <cstdint>
#include <optional>
#include <string>

struct NumberParsing {
  // A nil string sets 0 and answers false.
  static bool parseString_intoSInt64(const std::optional<std::string>& str, std::int64_t* pNum);
  static bool parseString_intoUInt64(const std::optional<std::string>& str, std::uint64_t* pNum);
  static bool parseString_intoNSInteger(const std::optional<std::string>& str, long* pNum);
  static bool parseString_intoNSUInteger(const std::optional<std::string>& str, unsigned long* pNum);
};
