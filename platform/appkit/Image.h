#pragma once
// Images as the cache and the views hand them around: one bitmap representation of 8-bit RGBA
// pixels (not premultiplied), rows top to bottom. Images are immutable once made and may be
// shared between threads. PNG, JPEG and GIF (its first frame) are read; PNG is written.
// The drawing layer extends this class with drawing and scaling; the size in points equals the
// pixel size here.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Object.h"

namespace ak {

struct Size {
  double width = 0;
  double height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct RGBA {
  std::uint8_t r = 0, g = 0, b = 0, a = 0;
  friend bool operator==(const RGBA&, const RGBA&) = default;
};

class Image : public ns::Object {
 public:
  // Refuses (throws std::invalid_argument) a pixel buffer whose length is not width*height*4.
  Image(std::size_t pixelsWide, std::size_t pixelsHigh, std::vector<std::uint8_t> rgba);

  // The image encoded in `data` (PNG, JPEG or GIF), or nullptr when the bytes are no image
  // of those kinds or are damaged.
  static ns::Ref<Image> initWithData(const ns::Data& data);
  // The image in the file, or nullptr.
  static ns::Ref<Image> initWithContentsOfFile(const std::string& path);

  std::size_t pixelsWide() const { return width_; }
  std::size_t pixelsHigh() const { return height_; }
  Size size() const { return {double(width_), double(height_)}; }
  // Whether the image has a bitmap representation (one with at least one pixel).
  bool hasBitmapRepresentation() const { return width_ > 0 && height_ > 0; }

  // The pixel at column x, row y (from the top); transparent black outside the image.
  RGBA colorAtX_y(std::size_t x, std::size_t y) const;
  const std::vector<std::uint8_t>& rgbaBytes() const { return pixels_; }

  // The bitmap as a PNG file (8-bit RGBA), nullopt for an image without pixels.
  std::optional<ns::Data> PNGRepresentation() const;

  std::string className() const override { return "NSImage"; }
  std::string description() const override;

 private:
  std::size_t width_;
  std::size_t height_;
  std::vector<std::uint8_t> pixels_;
};

}  // namespace ak
