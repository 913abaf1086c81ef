#include "platform/appkit/Image.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <stdexcept>

#include "platform/appkit/DrawingInternal.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileIO.h"

namespace ak {

Image::Image(std::size_t pixelsWide, std::size_t pixelsHigh, std::vector<std::uint8_t> rgba)
    : size_{double(pixelsWide), double(pixelsHigh)},
      rep_(ns::make<BitmapImageRep>(pixelsWide, pixelsHigh, rgba)) {}

Image::Image(ns::Ref<BitmapImageRep> rep) : size_(rep ? rep->size() : ZeroSize), rep_(std::move(rep)) {}

ns::Ref<Image> Image::initWithSize(Size size) {
  auto image = ns::make<Image>(nullptr);
  image->size_ = size;
  return image;
}

ns::Ref<Image> Image::initWithData(const ns::Data& data) {
  auto rep = BitmapImageRep::imageRepWithData(data);
  return rep ? ns::make<Image>(std::move(rep)) : nullptr;
}

ns::Ref<Image> Image::initWithContentsOfFile(const std::string& path) {
  auto data = ns::dataWithContentsOfFile(path);
  return data ? initWithData(*data) : nullptr;
}

ns::Ref<Image> Image::imageNamed(const std::string& name) {
  // Names are file names in the resource folder, never paths.
  if (name.empty() || name.find('/') != std::string::npos || name.find('\0') != std::string::npos ||
      name.find("..") != std::string::npos) {
    return nullptr;
  }
  struct Cache {
    std::mutex mutex;
    std::map<std::string, ns::Ref<Image>> images;
  };
  static ns::NoDestructor<Cache> cache;
  {
    std::lock_guard<std::mutex> lock(cache->mutex);
    auto found = cache->images.find(name);
    if (found != cache->images.end()) return found->second;
  }
  auto bundle = ns::Bundle::mainBundle();
  if (!bundle) return nullptr;
  std::optional<std::string> path;
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0)
    path = bundle->pathForResource_ofType(name.substr(0, dot), name.substr(dot + 1));
  for (const char* ext : {"png", "tiff", "tif", "jpg", "jpeg", "gif", "bmp", "ico"}) {
    if (path) break;
    path = bundle->pathForResource_ofType(name, ext);
  }
  if (!path) return nullptr;
  auto image = initWithContentsOfFile(*path);
  if (!image) return nullptr;
  image->name_ = name;
  std::lock_guard<std::mutex> lock(cache->mutex);
  return cache->images.emplace(name, image).first->second;
}

Size Image::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return size_;
}

void Image::setSize(Size size) {
  std::lock_guard<std::mutex> lock(mutex_);
  size_ = size;
}

std::size_t Image::pixelsWide() const {
  auto rep = bitmapImageRep();
  return rep ? rep->pixelsWide() : 0;
}

std::size_t Image::pixelsHigh() const {
  auto rep = bitmapImageRep();
  return rep ? rep->pixelsHigh() : 0;
}

bool Image::hasBitmapRepresentation() const {
  return pixelsWide() > 0 && pixelsHigh() > 0;
}

ns::Ref<BitmapImageRep> Image::bitmapImageRep() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rep_;
}

std::vector<ns::Ref<BitmapImageRep>> Image::representations() const {
  auto rep = bitmapImageRep();
  return rep ? std::vector<ns::Ref<BitmapImageRep>>{rep} : std::vector<ns::Ref<BitmapImageRep>>{};
}

void Image::addRepresentation(const ns::Ref<BitmapImageRep>& rep) {
  if (!rep) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!rep_) {
    rep_ = rep;
    if (size_ == ZeroSize) size_ = rep->size();
  }
}

RGBA Image::colorAtX_y(std::size_t x, std::size_t y) const {
  auto rep = bitmapImageRep();
  return rep ? rep->pixelAtX_y(x, y) : RGBA{};
}

std::vector<std::uint8_t> Image::rgbaBytes() const {
  auto rep = bitmapImageRep();
  return rep ? rep->rgbaBytes() : std::vector<std::uint8_t>{};
}

std::optional<ns::Data> Image::PNGRepresentation() const {
  auto rep = bitmapImageRep();
  if (!rep) return std::nullopt;
  return rep->representationUsingType_properties(BitmapImageFileType::PNG);
}

ns::Ref<Image> Image::copy() const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto image = ns::make<Image>(rep_ ? rep_->copy() : nullptr);
  image->size_ = size_;
  image->flipped_ = flipped_;
  return image;
}

bool Image::isFlipped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return flipped_;
}

void Image::setFlipped(bool flipped) {
  std::lock_guard<std::mutex> lock(mutex_);
  flipped_ = flipped;
}

void Image::lockFocus() {
  Size size = this->size();
  if (!(size.width > 0) || !(size.height > 0) || !IsSaneRect(MakeRect(0, 0, size.width, size.height))) {
    ns::Log("Image: lockFocus on an image without a usable size, ignored");
    return;
  }
  const auto w = std::size_t(std::ceil(size.width)), h = std::size_t(std::ceil(size.height));
  ns::Ref<BitmapImageRep> target;
  try {
    target = ns::make<BitmapImageRep>(w, h, true);
  } catch (const std::invalid_argument&) {
    ns::Log("Image: lockFocus on an image too large to draw into, ignored");
    return;
  }
  target->setSize(size);
  auto context = GraphicsContext::graphicsContextWithBitmapImageRep_flipped(target, isFlipped());
  // What the image showed so far is the starting point of the new bitmap.
  if (auto old = bitmapImageRep()) {
    cairo_t* cr = static_cast<cairo_t*>(context->nativeHandle());
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_scale(cr, double(w) / old->pixelsWide(), double(h) / old->pixelsHigh());
    cairo_set_source_surface(cr, static_cast<cairo_surface_t*>(old->nativeSurface()), 0, 0);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_restore(cr);
  }
  focusRep_ = target;
  focusContext_ = context;
  GraphicsContext::saveGraphicsState();
  GraphicsContext::setCurrentContext(context);
}

void Image::unlockFocus() {
  if (!focusContext_) {
    ns::Log("Image: unlockFocus without lockFocus, ignored");
    return;
  }
  focusContext_->flushGraphics();
  GraphicsContext::restoreGraphicsState();
  focusContext_ = nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  rep_ = std::move(focusRep_);
}

void Image::drawInRect_fromRect_operation_fraction(const Rect& rect, const Rect& from,
                                                   CompositingOperation op, double fraction) const {
  drawInRect_fromRect_operation_fraction_respectFlipped_hints(rect, from, op, fraction, false, nullptr);
}

void Image::drawInRect_fromRect_operation_fraction_respectFlipped_hints(const Rect& rect, const Rect& from,
                                                                        CompositingOperation op,
                                                                        double fraction, bool respectFlipped,
                                                                        const ns::Dictionary* hints) const {
  auto context = GraphicsContext::currentContext();
  if (!context) return;
  auto& n = context->native();
  GraphicsContext::Native::BitmapDraw d;
  ns::Ref<BitmapImageRep> rep;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    rep = rep_;
    d.points = size_;
    d.imageFlipped = flipped_;
  }
  if (!rep) return;
  d.rep = rep.get();
  d.destination = rect;
  d.source = from;
  d.op = cairoOperator(op);
  d.fraction = fraction;
  d.name = name_;
  const bool contextFlipped = n.userFlipped();
  const bool upright = respectFlipped || d.imageFlipped == contextFlipped;
  d.topAtMinY = upright ? contextFlipped : !contextFlipped;
  d.filter = n.filter();
  if (hints) {
    const ns::Value& hint = hints->objectForKey(ImageHintInterpolation);
    if (hint.isNumber()) {
      switch (ImageInterpolation(hint.intValue())) {
        case ImageInterpolation::None:
          d.filter = CAIRO_FILTER_NEAREST;
          break;
        case ImageInterpolation::Low:
          d.filter = CAIRO_FILTER_BILINEAR;
          break;
        case ImageInterpolation::High:
          d.filter = CAIRO_FILTER_BEST;
          break;
        default:
          break;
      }
    }
  }
  n.drawBitmap(d);
}

void Image::drawAtPoint_fromRect_operation_fraction(const Point& point, const Rect& from,
                                                    CompositingOperation op, double fraction) const {
  Size size = from == ZeroRect ? this->size() : from.size;
  drawInRect_fromRect_operation_fraction(Rect{point, size}, from, op, fraction);
}

void Image::drawInRect(const Rect& rect) const {
  drawInRect_fromRect_operation_fraction_respectFlipped_hints(
      rect, ZeroRect, CompositingOperation::SourceOver, 1, true, nullptr);
}

std::string Image::description() const {
  Size s = size();
  char buf[96];
  std::snprintf(buf, sizeof buf, "<NSImage %p Size={%g, %g}>", static_cast<const void*>(this), s.width,
                s.height);
  return buf;
}

}  // namespace ak
