#include "platform/appkit/Image.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>

#include "platform/foundation/FileIO.h"

namespace ak {

namespace {

// Larger images are refused rather than decoded: a few bytes of header must not be able to ask
// for gigabytes of memory.
constexpr std::size_t kMaxPixels = std::size_t(64) * 1024 * 1024;

bool acceptableSize(std::size_t w, std::size_t h) { return w > 0 && h > 0 && w <= kMaxPixels / h; }

bool hasPrefix(const ns::Data& data, const void* magic, std::size_t length) {
  return data.length() >= length && std::memcmp(data.bytes(), magic, length) == 0;
}

ns::Ref<Image> decodePNG(const ns::Data& data) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data.bytes(), data.length())) return nullptr;
  if (!acceptableSize(image.width, image.height)) {
    png_image_free(&image);
    return nullptr;
  }
  image.format = PNG_FORMAT_RGBA;
  std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    return nullptr;
  }
  return ns::make<Image>(image.width, image.height, std::move(pixels));
}

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

void jpegErrorExit(j_common_ptr info) {
  auto* error = reinterpret_cast<JpegError*>(info->err);
  std::longjmp(error->jump, 1);
}

void jpegSilence(j_common_ptr) {}

ns::Ref<Image> decodeJPEG(const ns::Data& data) {
  jpeg_decompress_struct info;
  JpegError error;
  info.err = jpeg_std_error(&error.mgr);
  error.mgr.error_exit = jpegErrorExit;
  error.mgr.output_message = jpegSilence;
  // Everything that must be released after a longjmp lives outside this frame's locals that
  // the jump could leave stale.
  std::vector<std::uint8_t>* volatile pixels = new std::vector<std::uint8_t>();
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&info);
    delete pixels;
    return nullptr;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data.bytes(), static_cast<unsigned long>(data.length()));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || !acceptableSize(info.image_width, info.image_height)) {
    jpeg_destroy_decompress(&info);
    delete pixels;
    return nullptr;
  }
  info.out_color_space = JCS_EXT_RGBA;
  jpeg_start_decompress(&info);
  const std::size_t width = info.output_width, height = info.output_height;
  pixels->assign(width * height * 4, 0);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = pixels->data() + std::size_t(info.output_scanline) * width * 4;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  auto result = ns::make<Image>(width, height, std::move(*pixels));
  delete pixels;
  return result;
}

struct GifSource {
  const ns::Data* data;
  std::size_t offset = 0;
};

int gifRead(GifFileType* gif, GifByteType* out, int length) {
  auto* source = static_cast<GifSource*>(gif->UserData);
  std::size_t available = source->data->length() - source->offset;
  std::size_t n = std::min<std::size_t>(available, length < 0 ? 0 : std::size_t(length));
  std::memcpy(out, source->data->bytes() + source->offset, n);
  source->offset += n;
  return static_cast<int>(n);
}

ns::Ref<Image> decodeGIF(const ns::Data& data) {
  GifSource source{&data};
  int error = 0;
  GifFileType* gif = DGifOpen(&source, gifRead, &error);
  if (!gif) return nullptr;
  struct Closer {
    GifFileType* gif;
    ~Closer() {
      int ignored = 0;
      DGifCloseFile(gif, &ignored);
    }
  } closer{gif};
  if (!acceptableSize(gif->SWidth, gif->SHeight)) return nullptr;
  if (DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1) return nullptr;
  const SavedImage& frame = gif->SavedImages[0];
  const ColorMapObject* colors = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
  if (!colors || !frame.RasterBits) return nullptr;
  int transparent = NO_TRANSPARENT_COLOR;
  GraphicsControlBlock control;
  if (DGifSavedExtensionToGCB(gif, 0, &control) == GIF_OK) transparent = control.TransparentColor;

  const std::size_t width = gif->SWidth, height = gif->SHeight;
  std::vector<std::uint8_t> pixels(width * height * 4, 0);
  const long left = frame.ImageDesc.Left, top = frame.ImageDesc.Top;
  const long frameWidth = frame.ImageDesc.Width, frameHeight = frame.ImageDesc.Height;
  for (long y = 0; y < frameHeight; ++y) {
    long cy = top + y;
    if (cy < 0 || cy >= long(height)) continue;
    for (long x = 0; x < frameWidth; ++x) {
      long cx = left + x;
      if (cx < 0 || cx >= long(width)) continue;
      int index = frame.RasterBits[y * frameWidth + x];
      if (index == transparent || index >= colors->ColorCount) continue;
      std::uint8_t* p = &pixels[(std::size_t(cy) * width + std::size_t(cx)) * 4];
      p[0] = colors->Colors[index].Red;
      p[1] = colors->Colors[index].Green;
      p[2] = colors->Colors[index].Blue;
      p[3] = 255;
    }
  }
  return ns::make<Image>(width, height, std::move(pixels));
}

}  // namespace

Image::Image(std::size_t pixelsWide, std::size_t pixelsHigh, std::vector<std::uint8_t> rgba)
    : width_(pixelsWide), height_(pixelsHigh), pixels_(std::move(rgba)) {
  if ((width_ && height_ && !acceptableSize(width_, height_)) || pixels_.size() != width_ * height_ * 4) {
    throw std::invalid_argument("ak::Image: the pixel buffer does not match the size");
  }
}

ns::Ref<Image> Image::initWithData(const ns::Data& data) {
  static const std::uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  static const std::uint8_t jpeg[] = {0xff, 0xd8, 0xff};
  if (hasPrefix(data, png, sizeof png)) return decodePNG(data);
  if (hasPrefix(data, jpeg, sizeof jpeg)) return decodeJPEG(data);
  if (hasPrefix(data, "GIF87a", 6) || hasPrefix(data, "GIF89a", 6)) return decodeGIF(data);
  return nullptr;
}

ns::Ref<Image> Image::initWithContentsOfFile(const std::string& path) {
  auto data = ns::dataWithContentsOfFile(path);
  return data ? initWithData(*data) : nullptr;
}

RGBA Image::colorAtX_y(std::size_t x, std::size_t y) const {
  if (x >= width_ || y >= height_) return {};
  const std::uint8_t* p = &pixels_[(y * width_ + x) * 4];
  return {p[0], p[1], p[2], p[3]};
}

std::optional<ns::Data> Image::PNGRepresentation() const {
  if (!hasBitmapRepresentation()) return std::nullopt;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width_);
  image.height = static_cast<png_uint_32>(height_);
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels_.data(), 0, nullptr)) return std::nullopt;
  std::vector<std::uint8_t> out(size);
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels_.data(), 0, nullptr)) return std::nullopt;
  out.resize(size);
  return ns::Data(std::move(out));
}

std::string Image::description() const {
  char buf[96];
  std::snprintf(buf, sizeof buf, "<NSImage %p Size={%zu, %zu}>", static_cast<const void*>(this), width_, height_);
  return buf;
}

}  // namespace ak
