#include "platform/net/PercentEncoding.h"

#include "platform/core/Str.h"

namespace ns {

namespace {

constexpr char kUnreserved[] = "-._~";
constexpr char kSubDelims[] = "!$&'()*+,;=";

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void appendEscape(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 15];
}

}  // namespace

URLCharacterSet URLCharacterSet::unreservedCharacterSet() {
  URLCharacterSet set;
  for (int c = 0; c < 128; ++c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) set.bits_.set(c);
  }
  return set.add(kUnreserved);
}

URLCharacterSet URLCharacterSet::URLUserAllowedCharacterSet() {
  return unreservedCharacterSet().add(kSubDelims);
}
URLCharacterSet URLCharacterSet::URLPasswordAllowedCharacterSet() {
  return unreservedCharacterSet().add(kSubDelims);
}
URLCharacterSet URLCharacterSet::URLHostAllowedCharacterSet() {
  return unreservedCharacterSet().add(kSubDelims).add(":[]");
}
URLCharacterSet URLCharacterSet::URLPathAllowedCharacterSet() {
  return unreservedCharacterSet().add("!$&'()*+,=").add(":@/");
}
URLCharacterSet URLCharacterSet::URLQueryAllowedCharacterSet() {
  return unreservedCharacterSet().add(kSubDelims).add(":@/?");
}
URLCharacterSet URLCharacterSet::URLFragmentAllowedCharacterSet() {
  return URLQueryAllowedCharacterSet();
}

URLCharacterSet& URLCharacterSet::add(std::string_view characters) {
  for (unsigned char c : characters)
    if (c < 128) bits_.set(c);
  return *this;
}

URLCharacterSet& URLCharacterSet::remove(std::string_view characters) {
  for (unsigned char c : characters)
    if (c < 128) bits_.reset(c);
  return *this;
}

std::string stringByAddingPercentEncodingWithAllowedCharacters(std::string_view text,
                                                               const URLCharacterSet& allowed) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (allowed.contains(c))
      out += static_cast<char>(c);
    else
      appendEscape(out, c);
  }
  return out;
}

std::optional<std::string> percentDecodeBytes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    int hi = hexValue(text[i + 1]);
    int lo = hexValue(text[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

std::optional<std::string> stringByRemovingPercentEncoding(std::string_view text) {
  auto bytes = percentDecodeBytes(text);
  if (!bytes || !str::isValidUtf8(*bytes)) return std::nullopt;
  return bytes;
}

std::string stringByAddingPercentEscapesUsingEncoding(std::string_view text, std::string_view alsoEscape,
                                                      std::string_view leaveUnescaped) {
  static const URLCharacterSet legal = URLCharacterSet::unreservedCharacterSet().add("!$&'()*+,/:;=?@#");
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    bool keep = legal.contains(c);
    if (c < 128 && leaveUnescaped.find(static_cast<char>(c)) != std::string_view::npos) keep = true;
    if (c < 128 && alsoEscape.find(static_cast<char>(c)) != std::string_view::npos) keep = false;
    if (keep)
      out += static_cast<char>(c);
    else
      appendEscape(out, c);
  }
  return out;
}

}  // namespace ns
