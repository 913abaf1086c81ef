#include "lib/foundation/Base64.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kSkip = 65;

constexpr std::array<std::uint8_t, 256> makeDecodingTable() {
  std::array<std::uint8_t, 256> table{};
  for (auto& e : table) e = kSkip;
  for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<std::uint8_t>(kAlphabet[i])] = i;
  return table;
}
constexpr auto kDecoding = makeDecodingTable();

// Three bytes from a group of four symbols; `count` of them (1, 2 or 3) are kept.
void writeGroup(const std::uint8_t s[4], std::uint8_t* out, std::size_t count) {
  std::uint8_t bytes[3] = {static_cast<std::uint8_t>(s[0] << 2 | s[1] >> 4),
                           static_cast<std::uint8_t>((s[1] << 4 | s[2] >> 2) & 0xff),
                           static_cast<std::uint8_t>((s[2] << 6 | s[3]) & 0xff)};
  std::memcpy(out, bytes, count);
}

}  // namespace

void* Base64DecodeBytes(const void* text, std::size_t length, std::size_t* outLength) {
  const auto* in = static_cast<const std::uint8_t*>(text);
  if (length == static_cast<std::size_t>(-1)) length = in ? std::strlen(static_cast<const char*>(text)) : 0;
  if (!in) length = 0;
  // Every character counts towards the size, skipped ones included, so it is never too small.
  std::size_t capacity = length / 4 * 3 + (length % 4 ? 3 : 0);
  auto* out = static_cast<std::uint8_t*>(std::malloc(capacity ? capacity : 1));
  if (!out) {
    if (outLength) *outLength = 0;
    return nullptr;
  }
  std::size_t written = 0;
  std::uint8_t group[4] = {0, 0, 0, 0};
  std::size_t filled = 0;
  for (std::size_t i = 0; i < length; ++i) {
    std::uint8_t v = kDecoding[in[i]];
    if (v == kSkip) continue;
    group[filled++] = v;
    if (filled == 4) {
      writeGroup(group, out + written, 3);
      written += 3;
      filled = 0;
    }
  }
  if (filled >= 2) {
    for (std::size_t k = filled; k < 4; ++k) group[k] = 0;
    writeGroup(group, out + written, filled - 1);
    written += filled - 1;
  }
  if (outLength) *outLength = written;
  return out;
}

char* Base64EncodeBytes(const void* bytes, std::size_t length, bool separateLines, std::size_t* outLength) {
  const auto* in = static_cast<const std::uint8_t*>(bytes);
  if (!in) length = 0;
  if (length > (static_cast<std::size_t>(-1) - 8) / 4 * 3 / 2) return nullptr;  // the size would overflow
  std::size_t symbols = (length + 2) / 3 * 4;
  std::size_t size = symbols + (separateLines ? 2 * (symbols / 64) : 0) + 1;
  auto* out = static_cast<char*>(std::malloc(size));
  if (!out) return nullptr;
  std::size_t o = 0, pos = 0;
  for (;;) {
    std::size_t lineEnd = separateLines ? std::min(pos + 48, length) : length;
    for (; pos + 3 <= lineEnd; pos += 3) {
      std::uint8_t b0 = in[pos], b1 = in[pos + 1], b2 = in[pos + 2];
      out[o++] = kAlphabet[b0 >> 2];
      out[o++] = kAlphabet[(b0 & 0x03) << 4 | b1 >> 4];
      out[o++] = kAlphabet[(b1 & 0x0f) << 2 | b2 >> 6];
      out[o++] = kAlphabet[b2 & 0x3f];
    }
    if (lineEnd == length) break;
    out[o++] = '\r';
    out[o++] = '\n';
  }
  std::size_t left = length - pos;
  if (left == 2) {
    std::uint8_t b0 = in[pos], b1 = in[pos + 1];
    out[o++] = kAlphabet[b0 >> 2];
    out[o++] = kAlphabet[(b0 & 0x03) << 4 | b1 >> 4];
    out[o++] = kAlphabet[(b1 & 0x0f) << 2];
    out[o++] = '=';
  } else if (left == 1) {
    std::uint8_t b0 = in[pos];
    out[o++] = kAlphabet[b0 >> 2];
    out[o++] = kAlphabet[(b0 & 0x03) << 4];
    out[o++] = '=';
    out[o++] = '=';
  }
  out[o] = '\0';
  if (outLength) *outLength = o;
  return out;
}

ns::Data DataBase64::dataFromBase64String(const std::optional<std::string>& text) {
  if (!text) return ns::Data();
  for (unsigned char c : *text)
    if (c >= 0x80) return ns::Data();  // not ASCII: the conversion gives no data
  std::size_t n = 0;
  void* decoded = Base64DecodeBytes(text->data(), text->size(), &n);
  if (!decoded) return ns::Data();
  ns::Data data(decoded, n);
  std::free(decoded);
  return data;
}

std::string DataBase64::base64EncodedString(const ns::Data& data) {
  return base64EncodedStringWithSeparateLines(data, true);
}

std::string DataBase64::base64EncodedStringWithSeparateLines(const ns::Data& data, bool separateLines) {
  std::size_t n = 0;
  char* encoded = Base64EncodeBytes(data.bytes(), data.length(), separateLines, &n);
  if (!encoded) return std::string();
  std::string text(encoded, n);
  std::free(encoded);
  return text;
}
