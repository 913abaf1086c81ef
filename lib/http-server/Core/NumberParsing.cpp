#include "lib/http-server/Core/NumberParsing.h"

#include <cctype>
#include <limits>

namespace {

struct Parsed {
  bool negative = false;
  bool ok = false;
  bool overflow = false;  // magnitude beyond 64 bits
  std::uint64_t magnitude = 0;
};

Parsed parseDecimal(const std::string& text) {
  Parsed result;
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    result.negative = text[i] == '-';
    ++i;
  }
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    result.ok = true;
    auto digit = static_cast<std::uint64_t>(text[i] - '0');
    if (result.magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) result.overflow = true;
    if (!result.overflow) result.magnitude = result.magnitude * 10 + digit;
  }
  return result;
}

template <class T>
bool parseSigned(const std::optional<std::string>& str, T* pNum) {
  std::int64_t value = 0;
  bool ok = false;
  if (str) {
    Parsed p = parseDecimal(*str);
    auto limit = static_cast<std::uint64_t>(std::numeric_limits<T>::max());
    if (p.ok && !p.overflow) {
      if (!p.negative && p.magnitude <= limit) {
        value = static_cast<std::int64_t>(p.magnitude);
        ok = true;
      } else if (p.negative && p.magnitude <= limit + 1) {
        value = static_cast<std::int64_t>(0 - p.magnitude);
        ok = true;
      }
    }
  }
  if (pNum) *pNum = ok ? static_cast<T>(value) : 0;
  return ok;
}

template <class T>
bool parseUnsigned(const std::optional<std::string>& str, T* pNum) {
  std::uint64_t value = 0;
  bool ok = false;
  if (str) {
    Parsed p = parseDecimal(*str);
    if (p.ok && !p.overflow && p.magnitude <= std::numeric_limits<T>::max()) {
      value = p.negative ? static_cast<T>(0 - p.magnitude) : p.magnitude;
      ok = true;
    }
  }
  if (pNum) *pNum = ok ? static_cast<T>(value) : 0;
  return ok;
}

}  // namespace

bool NumberParsing::parseString_intoSInt64(const std::optional<std::string>& str, std::int64_t* pNum) {
  return parseSigned(str, pNum);
}

bool NumberParsing::parseString_intoUInt64(const std::optional<std::string>& str, std::uint64_t* pNum) {
  return parseUnsigned(str, pNum);
}

bool NumberParsing::parseString_intoNSInteger(const std::optional<std::string>& str, long* pNum) {
  return parseSigned(str, pNum);
}

bool NumberParsing::parseString_intoNSUInteger(const std::optional<std::string>& str, unsigned long* pNum) {
  return parseUnsigned(str, pNum);
}
