#include "platform/appkit/BitmapImageRep.h"

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cmath>
#include <cstring>
#include <stdexcept>

namespace ak {

namespace {

bool acceptableSize(std::size_t w, std::size_t h) {
  return w <= kMaxImagePixels && (h == 0 || w <= kMaxImagePixels / h);
}

cairo_surface_t* newSurface(std::size_t w, std::size_t h, bool alpha) {
  if (!acceptableSize(w, h) || w > 32767 * 8 || h > 32767 * 8) {
    throw std::invalid_argument("ak::BitmapImageRep: the bitmap is too large");
  }
  cairo_surface_t* s =
      cairo_image_surface_create(alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, int(w), int(h));
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    throw std::invalid_argument("ak::BitmapImageRep: no memory for the bitmap");
  }
  return s;
}

inline std::uint8_t premultiply(std::uint8_t c, std::uint8_t a) {
  return std::uint8_t((c * a + 127) / 255);
}
inline std::uint8_t unpremultiply(std::uint8_t c, std::uint8_t a) {
  return a == 0 ? 0 : std::uint8_t(std::min(255, (c * 255 + a / 2) / a));
}

// Copies straight RGBA (or RGB when `channels` is 3) rows into the surface.
void fill(cairo_surface_t* s, const std::uint8_t* src, std::size_t srcStride, int channels, std::size_t w,
          std::size_t h) {
  cairo_surface_flush(s);
  std::uint8_t* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (std::size_t y = 0; y < h; ++y) {
    const std::uint8_t* in = src + y * srcStride;
    auto* out = reinterpret_cast<std::uint32_t*>(data + y * stride);
    if (channels == 3) {
      for (std::size_t x = 0; x < w; ++x, in += 3) {
        out[x] = 0xff000000u | (std::uint32_t(in[0]) << 16) | (std::uint32_t(in[1]) << 8) | in[2];
      }
      continue;
    }
    for (std::size_t x = 0; x < w; ++x, in += 4) {
      const std::uint8_t a = in[3];
      out[x] = a == 255 ? 0xff000000u | (std::uint32_t(in[0]) << 16) | (std::uint32_t(in[1]) << 8) | in[2]
                        : (std::uint32_t(a) << 24) | (std::uint32_t(premultiply(in[0], a)) << 16) |
                              (std::uint32_t(premultiply(in[1], a)) << 8) | premultiply(in[2], a);
    }
  }
  cairo_surface_mark_dirty(s);
}

ns::Ref<BitmapImageRep> fromPixbuf(GdkPixbuf* pixbuf) {
  const int w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
  const int channels = gdk_pixbuf_get_n_channels(pixbuf);
  if (w <= 0 || h <= 0 || gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || (channels != 3 && channels != 4))
    return nullptr;
  if (!acceptableSize(std::size_t(w), std::size_t(h))) return nullptr;
  const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
  auto rep = ns::make<BitmapImageRep>(std::size_t(w), std::size_t(h), alpha);
  fill(static_cast<cairo_surface_t*>(rep->nativeSurface()), gdk_pixbuf_read_pixels(pixbuf),
       std::size_t(gdk_pixbuf_get_rowstride(pixbuf)), channels, std::size_t(w), std::size_t(h));
  return rep;
}

struct LoadState {
  bool tooLarge = false;
};

void sizePrepared(GdkPixbufLoader* loader, gint width, gint height, gpointer data) {
  auto* state = static_cast<LoadState*>(data);
  if (width <= 0 || height <= 0 || !acceptableSize(std::size_t(width), std::size_t(height))) {
    state->tooLarge = true;
    // A zero size makes the loader stop before it allocates the picture.
    gdk_pixbuf_loader_set_size(loader, 0, 0);
  }
}

// Whether a JPEG file runs to its end-of-image marker. The JPEG loader shows a cut-off file as a
// picture with a grey lower part and no error; such a file is no picture here.
bool jpegComplete(const std::uint8_t* p, std::size_t n) {
  std::size_t i = 2;  // after the start-of-image marker
  while (i + 1 < n) {
    if (p[i] != 0xff) return false;
    const std::uint8_t marker = p[i + 1];
    if (marker == 0xff) {  // fill byte
      ++i;
      continue;
    }
    if (marker == 0xd9) return true;
    if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) {
      i += 2;
      continue;
    }
    if (i + 3 >= n) return false;
    const std::size_t length = (std::size_t(p[i + 2]) << 8) | p[i + 3];
    if (length < 2) return false;
    i += 2 + length;
    if (marker == 0xda) {
      // Entropy-coded data runs to the next marker that is neither a stuffed byte nor a restart.
      while (i + 1 < n && !(p[i] == 0xff && p[i + 1] != 0x00 && !(p[i + 1] >= 0xd0 && p[i + 1] <= 0xd7))) ++i;
    }
  }
  return false;
}

}  // namespace

BitmapImageRep::BitmapImageRep(std::size_t pixelsWide, std::size_t pixelsHigh, bool hasAlpha)
    : width_(pixelsWide),
      height_(pixelsHigh),
      alpha_(hasAlpha),
      size_{double(pixelsWide), double(pixelsHigh)} {
  surface_ = newSurface(width_, height_, alpha_);
}

BitmapImageRep::BitmapImageRep(std::size_t pixelsWide, std::size_t pixelsHigh,
                               const std::vector<std::uint8_t>& rgba, bool hasAlpha)
    : width_(pixelsWide),
      height_(pixelsHigh),
      alpha_(hasAlpha),
      size_{double(pixelsWide), double(pixelsHigh)} {
  if (!acceptableSize(width_, height_) || rgba.size() != width_ * height_ * 4) {
    throw std::invalid_argument("ak::BitmapImageRep: the pixel buffer does not match the size");
  }
  surface_ = newSurface(width_, height_, alpha_);
  if (alpha_) {
    fill(static_cast<cairo_surface_t*>(surface_), rgba.data(), width_ * 4, 4, width_, height_);
  } else {
    std::vector<std::uint8_t> opaque(rgba);
    for (std::size_t i = 3; i < opaque.size(); i += 4) opaque[i] = 255;
    fill(static_cast<cairo_surface_t*>(surface_), opaque.data(), width_ * 4, 4, width_, height_);
  }
}

ns::Ref<BitmapImageRep> BitmapImageRep::withSurface(void* surface) {
  auto* s = static_cast<cairo_surface_t*>(surface);
  if (!s) return nullptr;
  const cairo_format_t format =
      cairo_surface_status(s) == CAIRO_STATUS_SUCCESS && cairo_surface_get_type(s) == CAIRO_SURFACE_TYPE_IMAGE
          ? cairo_image_surface_get_format(s)
          : CAIRO_FORMAT_INVALID;
  if (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  ns::Ref<BitmapImageRep> rep(new BitmapImageRep());
  rep->surface_ = s;
  rep->width_ = static_cast<std::size_t>(cairo_image_surface_get_width(s));
  rep->height_ = static_cast<std::size_t>(cairo_image_surface_get_height(s));
  rep->alpha_ = format == CAIRO_FORMAT_ARGB32;
  rep->size_ = {double(rep->width_), double(rep->height_)};
  return rep;
}

BitmapImageRep::~BitmapImageRep() {
  cairo_surface_destroy(static_cast<cairo_surface_t*>(surface_));
}

ns::Ref<BitmapImageRep> BitmapImageRep::initWithGrayPixels(const std::uint8_t* bytes, std::size_t length,
                                                           std::size_t pixelsWide, std::size_t pixelsHigh,
                                                           std::size_t bytesPerRow) {
  if (!bytes || pixelsWide == 0 || pixelsHigh == 0 || bytesPerRow < pixelsWide ||
      !acceptableSize(pixelsWide, pixelsHigh) || (pixelsHigh - 1) * bytesPerRow + pixelsWide > length) {
    return nullptr;
  }
  auto rep = ns::make<BitmapImageRep>(pixelsWide, pixelsHigh, false);
  auto* s = static_cast<cairo_surface_t*>(rep->nativeSurface());
  cairo_surface_flush(s);
  std::uint8_t* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (std::size_t y = 0; y < pixelsHigh; ++y) {
    auto* out = reinterpret_cast<std::uint32_t*>(data + y * stride);
    for (std::size_t x = 0; x < pixelsWide; ++x) {
      std::uint32_t g = bytes[y * bytesPerRow + x];
      out[x] = 0xff000000u | (g << 16) | (g << 8) | g;
    }
  }
  cairo_surface_mark_dirty(s);
  return rep;
}

ns::Ref<BitmapImageRep> BitmapImageRep::imageRepWithData(const ns::Data& data) {
  if (data.length() == 0) return nullptr;
  if (data.length() >= 3 && data.bytes()[0] == 0xff && data.bytes()[1] == 0xd8 && data.bytes()[2] == 0xff &&
      !jpegComplete(data.bytes(), data.length())) {
    return nullptr;
  }
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  LoadState state;
  g_signal_connect(loader, "size-prepared", G_CALLBACK(sizePrepared), &state);
  GError* error = nullptr;
  bool ok = gdk_pixbuf_loader_write(loader, data.bytes(), data.length(), &error);
  if (error) {
    g_error_free(error);
    error = nullptr;
  }
  // A loader that ends with an error may still hold part of a picture: it counts as no picture.
  bool closed = gdk_pixbuf_loader_close(loader, &error);
  if (error) g_error_free(error);
  ns::Ref<BitmapImageRep> rep;
  if (ok && closed && !state.tooLarge) {
    if (GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader)) rep = fromPixbuf(pixbuf);
  }
  g_object_unref(loader);
  return rep;
}

RGBA BitmapImageRep::pixelAtX_y(std::size_t x, std::size_t y) const {
  if (x >= width_ || y >= height_) return {};
  // Image surfaces draw at once; readers never flush, as other threads may be reading too.
  auto* s = static_cast<cairo_surface_t*>(surface_);
  const std::uint8_t* data = cairo_image_surface_get_data(s);
  std::uint32_t p = reinterpret_cast<const std::uint32_t*>(data + y * cairo_image_surface_get_stride(s))[x];
  std::uint8_t a = alpha_ ? std::uint8_t(p >> 24) : 255;
  return {unpremultiply(std::uint8_t(p >> 16), a), unpremultiply(std::uint8_t(p >> 8), a),
          unpremultiply(std::uint8_t(p), a), a};
}

ns::Ref<Color> BitmapImageRep::colorAtX_y(long x, long y) const {
  if (x < 0 || y < 0 || std::size_t(x) >= width_ || std::size_t(y) >= height_) return nullptr;
  RGBA p = pixelAtX_y(std::size_t(x), std::size_t(y));
  return Color::colorWithDeviceRed_green_blue_alpha(p.r / 255.0, p.g / 255.0, p.b / 255.0, p.a / 255.0);
}

std::vector<std::uint8_t> BitmapImageRep::rgbaBytes() const {
  std::vector<std::uint8_t> out(width_ * height_ * 4);
  if (out.empty()) return out;
  // Row by row (an application icon is converted at every start): opaque pixels need no division.
  auto* s = static_cast<cairo_surface_t*>(surface_);
  const std::uint8_t* data = cairo_image_surface_get_data(s);
  const std::size_t stride = static_cast<std::size_t>(cairo_image_surface_get_stride(s));
  std::uint8_t* o = out.data();
  for (std::size_t y = 0; y < height_; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
    for (std::size_t x = 0; x < width_; ++x, o += 4) {
      const std::uint32_t p = row[x];
      const std::uint8_t a = alpha_ ? std::uint8_t(p >> 24) : 255;
      if (a == 255) {
        o[0] = std::uint8_t(p >> 16), o[1] = std::uint8_t(p >> 8), o[2] = std::uint8_t(p);
      } else {
        o[0] = unpremultiply(std::uint8_t(p >> 16), a), o[1] = unpremultiply(std::uint8_t(p >> 8), a);
        o[2] = unpremultiply(std::uint8_t(p), a);
      }
      o[3] = a;
    }
  }
  return out;
}

namespace {
gboolean appendBytes(const gchar* buf, gsize count, GError**, gpointer data) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(data);
  out->insert(out->end(), reinterpret_cast<const std::uint8_t*>(buf),
              reinterpret_cast<const std::uint8_t*>(buf) + count);
  return TRUE;
}
}  // namespace

std::optional<ns::Data> BitmapImageRep::representationUsingType_properties(
    BitmapImageFileType type, const ns::Dictionary& properties) const {
  if (width_ == 0 || height_ == 0) return std::nullopt;
  const char* format = nullptr;
  switch (type) {
    case BitmapImageFileType::PNG:
      format = "png";
      break;
    case BitmapImageFileType::JPEG:
      format = "jpeg";
      break;
    case BitmapImageFileType::BMP:
      format = "bmp";
      break;
    case BitmapImageFileType::TIFF:
      format = "tiff";
      break;
    case BitmapImageFileType::GIF:
      return std::nullopt;
  }
  // JPEG and BMP carry no alpha.
  const bool alpha = alpha_ && type != BitmapImageFileType::JPEG && type != BitmapImageFileType::BMP;
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, alpha, 8, int(width_), int(height_));
  if (!pixbuf) return std::nullopt;
  std::uint8_t* pixels = gdk_pixbuf_get_pixels(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf), channels = alpha ? 4 : 3;
  for (std::size_t y = 0; y < height_; ++y) {
    for (std::size_t x = 0; x < width_; ++x) {
      RGBA p = pixelAtX_y(x, y);
      std::uint8_t* o = pixels + y * stride + x * channels;
      o[0] = p.r, o[1] = p.g, o[2] = p.b;
      if (alpha) o[3] = p.a;
    }
  }
  std::vector<std::uint8_t> out;
  GError* error = nullptr;
  gboolean ok;
  if (type == BitmapImageFileType::JPEG) {
    double factor = properties.objectForKey(ImageCompressionFactor).isNumber()
                        ? properties.objectForKey(ImageCompressionFactor).doubleValue()
                        : 0.9;
    std::string quality = std::to_string(int(std::lround(std::clamp(factor, 0.0, 1.0) * 100)));
    ok = gdk_pixbuf_save_to_callback(pixbuf, appendBytes, &out, format, &error, "quality", quality.c_str(),
                                     nullptr);
  } else {
    ok = gdk_pixbuf_save_to_callback(pixbuf, appendBytes, &out, format, &error, nullptr);
  }
  g_object_unref(pixbuf);
  if (error) g_error_free(error);
  if (!ok) return std::nullopt;
  return ns::Data(std::move(out));
}

ns::Ref<BitmapImageRep> BitmapImageRep::copy() const {
  auto rep = ns::make<BitmapImageRep>(width_, height_, alpha_);
  rep->size_ = size_;
  auto* from = static_cast<cairo_surface_t*>(surface_);
  auto* to = static_cast<cairo_surface_t*>(rep->surface_);
  const int stride = cairo_image_surface_get_stride(from);
  // An image without pixels (no width or height) has no data to copy.
  auto* source = cairo_image_surface_get_data(from);
  auto* target = cairo_image_surface_get_data(to);
  if (source && target) std::memcpy(target, source, std::size_t(stride) * height_);
  cairo_surface_mark_dirty(to);
  return rep;
}

}  // namespace ak
