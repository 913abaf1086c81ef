#pragma once
// A bitmap of 8-bit pixels: RGBA, or RGB when it has no alpha. Its size in points may differ
// from its size in pixels. The pixels are kept premultiplied, as the drawing layer wants them.
// A bitmap is changed only by a graphics context drawing into it; images hand out bitmaps that
// nothing draws into any more, so other threads may read them.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/appkit/Color.h"
#include "platform/appkit/Geometry.h"
#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ak {

struct RGBA {
  std::uint8_t r = 0, g = 0, b = 0, a = 0;
  friend bool operator==(const RGBA&, const RGBA&) = default;
};

enum class BitmapImageFileType : int { TIFF = 0, BMP = 1, GIF = 2, JPEG = 3, PNG = 4 };

// Property of JPEG output: quality from 0.0 to 1.0.
inline constexpr char ImageCompressionFactor[] = "NSImageCompressionFactor";

// The most pixels a bitmap may have; decoding refuses larger images before allocating them.
inline constexpr std::size_t kMaxImagePixels = std::size_t(64) * 1024 * 1024;

class BitmapImageRep : public ns::Object {
 public:
  // A transparent bitmap. Throws std::invalid_argument beyond kMaxImagePixels.
  BitmapImageRep(std::size_t pixelsWide, std::size_t pixelsHigh, bool hasAlpha = true);
  // From RGBA bytes, not premultiplied, rows top to bottom. Throws std::invalid_argument when
  // the buffer is not width*height*4 bytes long.
  BitmapImageRep(std::size_t pixelsWide, std::size_t pixelsHigh, const std::vector<std::uint8_t>& rgba,
                 bool hasAlpha = true);
  // Takes over a cairo image surface (cairo_surface_t*, ARGB32 or RGB24); nullptr when it is
  // not one.
  static ns::Ref<BitmapImageRep> withSurface(void* surface);
  ~BitmapImageRep() override;

  // From 8-bit grey bytes without alpha, `bytesPerRow` apart; nullptr when they do not fit.
  static ns::Ref<BitmapImageRep> initWithGrayPixels(const std::uint8_t* bytes, std::size_t length,
                                                    std::size_t pixelsWide, std::size_t pixelsHigh,
                                                    std::size_t bytesPerRow);
  // Decodes PNG, JPEG, GIF (first frame), BMP, TIFF (first page) or ICO (largest picture).
  // nullptr for other bytes, damaged or truncated files and pictures beyond kMaxImagePixels.
  static ns::Ref<BitmapImageRep> imageRepWithData(const ns::Data& data);

  std::size_t pixelsWide() const { return width_; }
  std::size_t pixelsHigh() const { return height_; }
  bool hasAlpha() const { return alpha_; }
  Size size() const { return size_; }
  void setSize(Size size) { size_ = size; }

  // The pixel at column x, row y from the top: transparent black outside / nullptr outside.
  RGBA pixelAtX_y(std::size_t x, std::size_t y) const;
  ns::Ref<Color> colorAtX_y(long x, long y) const;
  // Every pixel as RGBA bytes, not premultiplied, rows top to bottom.
  std::vector<std::uint8_t> rgbaBytes() const;

  // The bitmap as a PNG, JPEG, BMP or TIFF file; nullopt for GIF or an empty bitmap.
  std::optional<ns::Data> representationUsingType_properties(BitmapImageFileType type,
                                                             const ns::Dictionary& properties = {}) const;
  ns::Ref<BitmapImageRep> copy() const;

  // The cairo_surface_t* holding the pixels.
  void* nativeSurface() const { return surface_; }

  std::string className() const override { return "NSBitmapImageRep"; }

 private:
  BitmapImageRep() = default;
  void* surface_ = nullptr;
  std::size_t width_ = 0, height_ = 0;
  bool alpha_ = true;
  Size size_;
};

}  // namespace ak
