#pragma once
// Small text helpers for HTTP header values inside this module: ASCII case folding (header
// names and tokens are ASCII) and trimming of HTTP's optional whitespace (space and tab only).
#include <cctype>
#include <string>
#include <string_view>

namespace ns::httptext {

inline std::string lower(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

inline std::string trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return std::string(s.substr(b, e - b));
}

}  // namespace ns::httptext
