#pragma once
// Bodies with a content coding, made by zlib itself, for the tests of their decoding.
#include <zlib.h>

#include <string>

namespace nettest {

// `text` compressed by deflate: gzip-wrapped (window bits 31), zlib-wrapped (15) or raw (-15).
inline std::string deflated(const std::string& text, int windowBits) {
  z_stream z{};
  deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  std::string out(text.size() + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

inline std::string gzip(const std::string& text) {
  return deflated(text, 31);
}

}  // namespace nettest
