#include "platform/net/ContentDecoder.h"

#include <zlib.h>

#include <string_view>

#include "platform/net/HTTPText.h"

namespace ns {

struct ContentDecoder::Stream {
  z_stream z{};
};

ContentDecoder::ContentDecoder(bool gzip) : gzip_(gzip), z_(std::make_unique<Stream>()), out_(64 * 1024) {}

ContentDecoder::~ContentDecoder() {
  if (started_) inflateEnd(&z_->z);
}

std::optional<std::size_t> ContentDecoder::decode(const char* bytes, std::size_t length, const Sink& sink) {
  z_stream& z = z_->z;
  std::size_t used = 0;
  bool outputFull = true;  // the last round may have left decoded output inside
  while (used < length || (started_ && !ended_ && outputFull)) {
    if (used < length && ended_) {
      // Another gzip member may follow; a deflate stream has nothing after its end.
      if (!gzip_ || inflateReset(&z) != Z_OK) return std::nullopt;
      ended_ = false;
    }
    if (!started_) {
      // A deflate body comes with the zlib wrapping or without it: a zlib stream's first byte
      // names the deflate method (low four bits 8) and a window of at most 32 KiB.
      auto first = static_cast<unsigned char>(bytes[used]);
      int bits = gzip_ ? 15 + 32 : ((first & 0x0f) == 8 && (first >> 4) <= 7 ? 15 : -15);
      if (inflateInit2(&z, bits) != Z_OK) return std::nullopt;
      started_ = true;
    }
    z.next_in = length > 0 ? reinterpret_cast<Bytef*>(const_cast<char*>(bytes + used)) : nullptr;
    z.avail_in = static_cast<uInt>(length - used);
    z.next_out = reinterpret_cast<Bytef*>(out_.data());
    z.avail_out = static_cast<uInt>(out_.size());
    int result = inflate(&z, Z_NO_FLUSH);
    used = length - z.avail_in;
    std::size_t produced = out_.size() - z.avail_out;
    outputFull = z.avail_out == 0;
    if (result == Z_STREAM_END) {
      ended_ = true;
    } else if (result == Z_BUF_ERROR && produced == 0) {
      // Nothing more to do with what is here; bytes left that lead nowhere are not the coding.
      if (used < length) return std::nullopt;
      break;
    } else if (result != Z_OK && result != Z_BUF_ERROR) {
      return std::nullopt;
    }
    if (produced > 0 && !sink(out_.data(), produced)) break;
  }
  return used;
}

std::optional<std::shared_ptr<ContentDecoder>> decoderFor(const std::optional<std::string>& value) {
  std::shared_ptr<ContentDecoder> decoder;
  std::string_view rest = value ? std::string_view(*value) : std::string_view();
  while (!rest.empty()) {
    auto comma = rest.find(',');
    std::string coding = httptext::lower(httptext::trim(rest.substr(0, comma)));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    if (coding.empty() || coding == "identity") continue;
    if (decoder || (coding != "gzip" && coding != "x-gzip" && coding != "deflate")) return std::nullopt;
    decoder = std::make_shared<ContentDecoder>(coding != "deflate");
  }
  return decoder;
}

}  // namespace ns
