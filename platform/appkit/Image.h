#pragma once
// Images as the cache, the views and the cells hand them around: a size in points and one
// bitmap representation. An image shared with another thread never changes under it: drawing
// into an image (lockFocus) makes a new bitmap and swaps it in at unlockFocus, and readers keep
// the bitmap they took. Decoding goes through gdk-pixbuf (PNG, JPEG, GIF, BMP, TIFF, ICO).
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/BitmapImageRep.h"
#include "platform/appkit/Geometry.h"
#include "platform/appkit/GraphicsTypes.h"
#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ak {

class GraphicsContext;

class Image : public ns::Object {
 public:
  // Refuses (throws std::invalid_argument) a pixel buffer whose length is not width*height*4.
  Image(std::size_t pixelsWide, std::size_t pixelsHigh, std::vector<std::uint8_t> rgba);
  // An image of the bitmap, as large in points as the bitmap says.
  explicit Image(ns::Ref<BitmapImageRep> rep);
  // An empty image of that size; lockFocus gives it pixels.
  static ns::Ref<Image> initWithSize(Size size);

  // The image encoded in `data`, or nullptr when the bytes are no image or are damaged.
  static ns::Ref<Image> initWithData(const ns::Data& data);
  // The image in the file, or nullptr.
  static ns::Ref<Image> initWithContentsOfFile(const std::string& path);
  // The image resource `name` (with or without extension) of the main bundle, made once and
  // then shared; nullptr when there is none. Names with "/" or ".." find nothing.
  static ns::Ref<Image> imageNamed(const std::string& name);

  Size size() const;
  void setSize(Size size);
  std::size_t pixelsWide() const;
  std::size_t pixelsHigh() const;
  // Whether the image has a bitmap representation (one with at least one pixel).
  bool hasBitmapRepresentation() const;
  ns::Ref<BitmapImageRep> bitmapImageRep() const;
  std::vector<ns::Ref<BitmapImageRep>> representations() const;
  void addRepresentation(const ns::Ref<BitmapImageRep>& rep);

  // The pixel at column x, row y (from the top); transparent black outside the image.
  RGBA colorAtX_y(std::size_t x, std::size_t y) const;
  std::vector<std::uint8_t> rgbaBytes() const;
  // The bitmap as a PNG file, nullopt for an image without pixels.
  std::optional<ns::Data> PNGRepresentation() const;

  ns::Ref<Image> copy() const;
  const std::string& name() const { return name_; }
  bool isFlipped() const;
  // A flipped image is drawn upright in a flipped context, and its source rectangles count from
  // the top.
  void setFlipped(bool flipped);

  // Makes a context drawing into (a new bitmap of) the image the current context.
  void lockFocus();
  void unlockFocus();

  // Draws `from` (image points; the zero rectangle is the whole image) into `rect` of the
  // current context. A zero-size image or source rectangle draws nothing.
  void drawInRect_fromRect_operation_fraction(const Rect& rect, const Rect& from, CompositingOperation op,
                                              double fraction) const;
  // With respectFlipped the image is upright whatever the context's flip. Hints may carry
  // "NSImageHintInterpolation" (an ImageInterpolation number).
  void drawInRect_fromRect_operation_fraction_respectFlipped_hints(const Rect& rect, const Rect& from,
                                                                   CompositingOperation op, double fraction,
                                                                   bool respectFlipped,
                                                                   const ns::Dictionary* hints) const;
  void drawAtPoint_fromRect_operation_fraction(const Point& point, const Rect& from, CompositingOperation op,
                                               double fraction) const;
  // Source-over, full opacity, upright.
  void drawInRect(const Rect& rect) const;

  std::string className() const override { return "NSImage"; }
  std::string description() const override;

 private:
  mutable std::mutex mutex_;
  Size size_;
  ns::Ref<BitmapImageRep> rep_;
  bool flipped_ = false;
  std::string name_;
  ns::Ref<BitmapImageRep> focusRep_;
  ns::Ref<GraphicsContext> focusContext_;
};

inline constexpr char ImageHintInterpolation[] = "NSImageHintInterpolation";

}  // namespace ak
