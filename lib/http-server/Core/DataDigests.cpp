#include "lib/http-server/Core/DataDigests.h"

#include <cstdint>
#include <vector>

#include "platform/security/Digest.h"

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int decodeChar(std::uint8_t c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}
}  // namespace

ns::Data DataDigests::md5Digest(const ns::Data& data) {
  return ns::Data(sec::md5(data.view()));
}

ns::Data DataDigests::sha1Digest(const ns::Data& data) {
  return ns::Data(sec::sha1(data.view()));
}

std::string DataDigests::hexStringValue(const ns::Data& data) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(data.length() * 2);
  for (std::uint8_t b : data) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0f];
  }
  return out;
}

std::string DataDigests::base64Encoded(const ns::Data& data) {
  std::string out;
  out.reserve((data.length() + 2) / 3 * 4);
  const std::uint8_t* p = data.bytes();
  std::size_t n = data.length();
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    std::uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (n - i == 1) {
    std::uint32_t v = p[i] << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (n - i == 2) {
    std::uint32_t v = (p[i] << 16) | (p[i + 1] << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

ns::Data DataDigests::base64Decoded(const ns::Data& data) {
  std::vector<std::uint8_t> out;
  out.reserve(data.length() * 3 / 4);
  int group[4];
  int count = 0;
  for (std::uint8_t c : data) {
    if (c == '=') break;
    int v = decodeChar(c);
    if (v < 0) continue;
    group[count++] = v;
    if (count == 4) {
      out.push_back(static_cast<std::uint8_t>((group[0] << 2) | (group[1] >> 4)));
      out.push_back(static_cast<std::uint8_t>(((group[1] & 15) << 4) | (group[2] >> 2)));
      out.push_back(static_cast<std::uint8_t>(((group[2] & 3) << 6) | group[3]));
      count = 0;
    }
  }
  // A partial group: one or two characters give one byte, three give two.
  if (count == 1) {
    out.push_back(static_cast<std::uint8_t>(group[0] << 2));
  } else if (count == 2) {
    out.push_back(static_cast<std::uint8_t>((group[0] << 2) | (group[1] >> 4)));
  } else if (count == 3) {
    out.push_back(static_cast<std::uint8_t>((group[0] << 2) | (group[1] >> 4)));
    out.push_back(static_cast<std::uint8_t>(((group[1] & 15) << 4) | (group[2] >> 2)));
  }
  return ns::Data(std::move(out));
}
