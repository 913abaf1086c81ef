#pragma once
// Undoes a gzip or deflate content coding as a body arrives. Done by the URL loading engine
// rather than by the transfer library, which reports a coded stream cut short as a whole body,
// and which keeps in memory everything it decodes from one read while the transfer is held back
// for its delegate. Internal to the loading engine (and its tests); zlib stays in the .cpp.
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ns {

class ContentDecoder {
 public:
  explicit ContentDecoder(bool gzip);
  ~ContentDecoder();
  ContentDecoder(const ContentDecoder&) = delete;
  ContentDecoder& operator=(const ContentDecoder&) = delete;

  // Takes each decoded piece; answers whether to go on.
  using Sink = std::function<bool(const char* bytes, std::size_t length)>;

  // Decodes `length` bytes, handing each decoded piece to `sink`. Answers how many of the bytes
  // were used (fewer than all only when `sink` stopped), or nothing when the bytes are not of the
  // coding. Output decoded but not yet handed over stays inside and comes first next time (a call
  // with no bytes just hands it over).
  std::optional<std::size_t> decode(const char* bytes, std::size_t length, const Sink& sink);

  // Whether what came is whole: no coded bytes at all (an empty body), or a stream to its end.
  bool complete() const { return !started_ || ended_; }

 private:
  struct Stream;

  bool gzip_;
  bool started_ = false;
  bool ended_ = false;
  std::unique_ptr<Stream> z_;
  std::vector<char> out_;
};

// The decoder a Content-Encoding value asks for: none for no coding, nothing at all for a coding
// that cannot be undone here (only gzip and deflate are asked for).
std::optional<std::shared_ptr<ContentDecoder>> decoderFor(const std::optional<std::string>& value);

}  // namespace ns
