#include "platform/security/Hex.h"

namespace sec {

std::string hexEncode(const void* bytes, std::size_t length, bool upperCase) {
  static constexpr char lower[] = "0123456789abcdef";
  static constexpr char upper[] = "0123456789ABCDEF";
  const char* digits = upperCase ? upper : lower;
  std::string out;
  if (!bytes) return out;
  out.resize(length * 2);
  auto p = static_cast<const unsigned char*>(bytes);
  for (std::size_t i = 0; i < length; ++i) {
    out[2 * i] = digits[p[i] >> 4];
    out[2 * i + 1] = digits[p[i] & 0x0F];
  }
  return out;
}

std::string hexEncode(std::string_view bytes, bool upperCase) {
  return hexEncode(bytes.data(), bytes.size(), upperCase);
}

std::string hexEncode(const ns::Data& bytes, bool upperCase) {
  return hexEncode(bytes.bytes(), bytes.length(), upperCase);
}

static int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> hexDecode(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::string out(text.size() / 2, '\0');
  for (std::size_t i = 0; i < out.size(); ++i) {
    int hi = hexValue(text[2 * i]);
    int lo = hexValue(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out[i] = static_cast<char>((hi << 4) | lo);
  }
  return out;
}

std::optional<ns::Data> hexDecodeData(std::string_view text) {
  auto bytes = hexDecode(text);
  if (!bytes) return std::nullopt;
  return ns::Data(*bytes);
}

}  // namespace sec
