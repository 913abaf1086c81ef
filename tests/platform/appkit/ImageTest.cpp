#include <gtest/gtest.h>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include <cstddef>
#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's allocation hooks (its header is not always installed).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, std::size_t),
                                                         void (*)(const volatile void*));
#define PL_HEAP_HOOKS 1
#endif

#include "platform/appkit/BitmapImageRep.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Image.h"
#include "platform/foundation/Bundle.h"
#include "tests/platform/appkit/DrawingTestSupport.h"

using namespace appkit_test;
using ak::MakeRect;
using pltest::Canvas;
using pltest::pixelNear;

namespace {

ns::Ref<ak::Image> checkerboard() {
  // Red, green / blue, half-transparent white: every channel differs between the pixels.
  return ns::make<ak::Image>(2, 2,
                             std::vector<std::uint8_t>{255, 0, 0, 255, 0, 255, 0, 255,  //
                                                       0, 0, 255, 255, 255, 255, 255, 128});
}

// A picture whose pixels tell where they are: red rises to the right, green downwards; the
// bottom-right quarter is half transparent where the format keeps alpha.
GdkPixbuf* testPicture(int w, int h, bool alpha) {
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, alpha, 8, w, h);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf), channels = alpha ? 4 : 3;
  guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      guchar* p = pixels + y * stride + x * channels;
      p[0] = guchar(x * 255 / std::max(1, w - 1));
      p[1] = guchar(y * 255 / std::max(1, h - 1));
      p[2] = 40;
      if (alpha) p[3] = (x >= w / 2 && y >= h / 2) ? 128 : 255;
    }
  }
  return pixbuf;
}

ns::Data encode(GdkPixbuf* pixbuf, const char* type, const char* key = nullptr, const char* value = nullptr) {
  gchar* buffer = nullptr;
  gsize size = 0;
  GError* error = nullptr;
  gboolean ok = gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, type, &error, key, value, nullptr);
  EXPECT_TRUE(ok) << type << ": " << (error ? error->message : "");
  if (error) g_error_free(error);
  ns::Data data(reinterpret_cast<const std::uint8_t*>(buffer), size);
  g_free(buffer);
  return data;
}

ns::Data picture(int w, int h, bool alpha, const char* type, const char* key = nullptr,
                 const char* value = nullptr) {
  GdkPixbuf* pixbuf = testPicture(w, h, alpha);
  ns::Data data = encode(pixbuf, type, key, value);
  g_object_unref(pixbuf);
  return data;
}

// One icon file holding the pictures of several single-picture icon files.
ns::Data combinedIcon(const std::vector<ns::Data>& icons) {
  std::vector<std::uint8_t> out = {0, 0, 1, 0, std::uint8_t(icons.size()), 0};
  std::vector<std::uint8_t> bodies;
  const std::size_t dataStart = 6 + 16 * icons.size();
  for (const auto& icon : icons) {
    const std::uint8_t* b = icon.bytes();
    std::uint32_t offset, length;
    std::memcpy(&length, b + 6 + 8, 4);
    std::memcpy(&offset, b + 6 + 12, 4);
    std::uint32_t newOffset = std::uint32_t(dataStart + bodies.size());
    out.insert(out.end(), b + 6, b + 6 + 12);
    out.insert(out.end(), reinterpret_cast<std::uint8_t*>(&newOffset),
               reinterpret_cast<std::uint8_t*>(&newOffset) + 4);
    bodies.insert(bodies.end(), b + offset, b + offset + length);
  }
  out.insert(out.end(), bodies.begin(), bodies.end());
  return ns::Data(std::move(out));
}

// A 3x1 GIF89a of two frames. The first: red, transparent (index 1 through the graphic control
// extension), blue; the second all blue. The LZW data restarts with a clear code before each
// pixel so that every code is three bits wide.
ns::Data twoFrameGif() {
  static const std::uint8_t bytes[] = {'G',  'I',  'F',  '8',  '9',  'a', 3, 0, 1,    0, 0x91, 0,
                                       0,  // screen, 4-colour table
                                       0xff, 0,    0,    0,    0,    0,   0, 0, 0xff, 0, 0,    0,  // colours
                                       0x21, 0xf9, 4,    1,    10,   0,   1, 0,  // transparent index 1, 0.1 s
                                       0x2c, 0,    0,    0,    0,    3,   0, 1, 0,    0,  // image 3x1 at 0,0
                                       2,    3,    0x04, 0x43, 0x15, 0,          // LZW: 4 0 4 1 4 2 5
                                       0x21, 0xf9, 4,    0,    10,   0,   0, 0,  // second frame
                                       0x2c, 0,    0,    0,    0,    3,   0, 1, 0,    0,  //
                                       2,    3,    0x14, 0x45, 0x15, 0,  // LZW: 4 2 4 2 4 2 5
                                       0x3b};
  return ns::Data(bytes, sizeof bytes);
}

ns::Data pngClaiming(std::uint32_t w, std::uint32_t h) {
  auto png = *checkerboard()->PNGRepresentation();
  std::vector<std::uint8_t> bytes(png.bytes(), png.bytes() + png.length());
  const std::uint8_t size[8] = {std::uint8_t(w >> 24), std::uint8_t(w >> 16), std::uint8_t(w >> 8),
                                std::uint8_t(w),       std::uint8_t(h >> 24), std::uint8_t(h >> 16),
                                std::uint8_t(h >> 8),  std::uint8_t(h)};
  std::memcpy(&bytes[16], size, 8);
  std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, &bytes[12], 17));
  const std::uint8_t crcBytes[4] = {std::uint8_t(crc >> 24), std::uint8_t(crc >> 16), std::uint8_t(crc >> 8),
                                    std::uint8_t(crc)};
  std::memcpy(&bytes[29], crcBytes, 4);
  return ns::Data(std::move(bytes));
}

#ifdef PL_HEAP_HOOKS
std::atomic<std::size_t> largestAllocation{0};
void noteAllocation(const volatile void*, std::size_t size) {
  std::size_t seen = largestAllocation.load();
  while (size > seen && !largestAllocation.compare_exchange_weak(seen, size)) {
  }
}
void noteFree(const volatile void*) {}
#endif

}  // namespace

class Images : public DrawingTest {};

TEST_F(Images, PNGRoundTripKeepsEveryPixel) {
  auto image = checkerboard();
  auto png = image->PNGRepresentation();
  ASSERT_TRUE(png);
  auto back = ak::Image::initWithData(*png);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->pixelsWide(), 2u);
  EXPECT_EQ(back->pixelsHigh(), 2u);
  EXPECT_EQ(back->size(), (ak::Size{2, 2}));
  EXPECT_EQ(back->rgbaBytes(), image->rgbaBytes());
  EXPECT_EQ(back->colorAtX_y(1, 1), (ak::RGBA{255, 255, 255, 128}));
  EXPECT_EQ(back->colorAtX_y(2, 0), ak::RGBA{});
  auto color = back->bitmapImageRep()->colorAtX_y(0, 1);
  ASSERT_TRUE(color);
  EXPECT_DOUBLE_EQ(color->blueComponent(), 1.0);
  EXPECT_FALSE(back->bitmapImageRep()->colorAtX_y(2, 0));
}

TEST_F(Images, EveryFormatDecodesToItsSizeAndPixels) {
  struct Case {
    const char* type;
    bool alpha;
    int tolerance;  // JPEG is lossy
  } cases[] = {
      {"png", true, 0}, {"jpeg", false, 12}, {"bmp", false, 0}, {"tiff", false, 0}, {"ico", true, 0}};
  for (const auto& c : cases) {
    const int w = c.alpha && std::strcmp(c.type, "ico") == 0 ? 16 : 37,
              h = std::strcmp(c.type, "ico") == 0 ? 16 : 21;
    ns::Data data = std::strcmp(c.type, "jpeg") == 0 ? picture(w, h, false, c.type, "quality", "100")
                                                     : picture(w, h, c.alpha, c.type);
    auto image = ak::Image::initWithData(data);
    ASSERT_TRUE(image) << c.type;
    EXPECT_EQ(image->pixelsWide(), std::size_t(w)) << c.type;
    EXPECT_EQ(image->pixelsHigh(), std::size_t(h)) << c.type;
    GdkPixbuf* expected = testPicture(w, h, c.alpha);
    const int stride = gdk_pixbuf_get_rowstride(expected), channels = c.alpha ? 4 : 3;
    for (auto [x, y] : {std::pair{0, 0}, {w - 1, 0}, {0, h - 1}, {w / 3, h / 3}, {w - 1, h - 1}}) {
      const guchar* p = gdk_pixbuf_get_pixels(expected) + y * stride + x * channels;
      ak::RGBA want{p[0], p[1], p[2], c.alpha ? p[3] : std::uint8_t(255)};
      EXPECT_TRUE(pixelNear(image->bitmapImageRep(), x, y, want, c.tolerance)) << c.type;
    }
    g_object_unref(expected);
  }

  // GIF: the first frame only, with its transparent pixel.
  auto gif = ak::Image::initWithData(twoFrameGif());
  ASSERT_TRUE(gif);
  EXPECT_EQ(gif->pixelsWide(), 3u);
  EXPECT_EQ(gif->colorAtX_y(0, 0), kRed);
  EXPECT_EQ(gif->colorAtX_y(1, 0).a, 0);
  EXPECT_EQ(gif->colorAtX_y(2, 0), (ak::RGBA{0, 0, 255, 255}));

  // ICO: the largest of the pictures in the file.
  auto icon = ak::Image::initWithData(combinedIcon(
      {picture(16, 16, true, "ico"), picture(48, 48, true, "ico"), picture(32, 32, true, "ico")}));
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->pixelsWide(), 48u);

  // Written by the bitmap itself, read back.
  auto rep = checkerboard()->bitmapImageRep();
  for (auto type : {ak::BitmapImageFileType::PNG, ak::BitmapImageFileType::TIFF, ak::BitmapImageFileType::BMP,
                    ak::BitmapImageFileType::JPEG}) {
    auto data = rep->representationUsingType_properties(type);
    ASSERT_TRUE(data) << int(type);
    auto back = ak::BitmapImageRep::imageRepWithData(*data);
    ASSERT_TRUE(back) << int(type);
    EXPECT_EQ(back->pixelsWide(), 2u);
  }
  EXPECT_FALSE(rep->representationUsingType_properties(ak::BitmapImageFileType::GIF));
}

TEST_F(Images, DamagedTruncatedAndHugeImagesGiveNothing) {
  auto png = *checkerboard()->PNGRepresentation();
  auto jpeg = picture(480, 360, false, "jpeg");
  EXPECT_FALSE(ak::Image::initWithData(ns::Data()));
  EXPECT_FALSE(ak::Image::initWithData(ns::Data("hello, not an image")));
  EXPECT_FALSE(ak::Image::initWithData(png.subdata(0, png.length() / 2)));
  EXPECT_FALSE(ak::Image::initWithData(jpeg.subdata(0, 200)));
  EXPECT_FALSE(ak::Image::initWithData(jpeg.subdata(0, jpeg.length() / 2)));
  EXPECT_FALSE(ak::Image::initWithData(twoFrameGif().subdata(0, 14)));
  EXPECT_TRUE(ak::Image::initWithData(jpeg));
  // Pixel stores without width or height copy as empty stores.
  for (auto [w, h] : {std::pair<std::size_t, std::size_t>{0, 10}, {10, 0}, {0, 0}}) {
    auto empty = ns::make<ak::BitmapImageRep>(w, h, true)->copy();
    EXPECT_EQ(empty->pixelsWide() * empty->pixelsHigh(), 0u);
  }

  // Headers that claim enormous canvases are refused before any pixel memory is taken. Each
  // side stays under libpng's own limit (1,000,000).
#ifdef PL_HEAP_HOOKS
  __sanitizer_install_malloc_and_free_hooks(noteAllocation, noteFree);
  largestAllocation = 0;
#endif
  EXPECT_FALSE(ak::Image::initWithData(pngClaiming(100000, 100000)));
  EXPECT_FALSE(ak::Image::initWithData(pngClaiming(20000, 20000)));
#ifdef PL_HEAP_HOOKS
  EXPECT_LT(largestAllocation.load(), std::size_t(4) << 20);
#endif

  EXPECT_THROW(ak::Image(2, 2, std::vector<std::uint8_t>(3)), std::invalid_argument);
  ak::Image empty(0, 0, {});
  EXPECT_FALSE(empty.hasBitmapRepresentation());
  EXPECT_FALSE(empty.PNGRepresentation());
}

TEST_F(Images, FractionsAndCopyOnWhite) {
  struct Case {
    ak::RGBA source;
    ak::CompositingOperation op;
    double fraction;
    ak::RGBA expected;
  } cases[] = {
      {kRed, ak::CompositingOperation::SourceOver, 0.5, {255, 128, 128, 255}},
      {kRed, ak::CompositingOperation::SourceOver, 1, kRed},
      {{255, 0, 0, 128}, ak::CompositingOperation::Copy, 1, {255, 0, 0, 128}},
      {{255, 0, 0, 128}, ak::CompositingOperation::SourceOver, 1, {255, 127, 127, 255}},
  };
  for (const auto& c : cases) {
    Canvas canvas(10, 10);
    canvas.clear(kWhite);
    solidImage(4, 4, c.source)
        ->drawInRect_fromRect_operation_fraction(MakeRect(2, 2, 6, 6), ak::ZeroRect, c.op, c.fraction);
    EXPECT_TRUE(pixelNear(canvas.rep(), 5, 5, c.expected, 2)) << int(c.op) << " " << c.fraction;
    EXPECT_EQ(canvas.at(1, 1), kWhite) << "outside the destination";
  }
}

TEST_F(Images, SourceRectanglesSampleOnlyTheirPixels) {
  // Columns 10-14 green, the rest red.
  std::vector<std::uint8_t> pixels;
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 401; ++x) {
      bool inside = x >= 10 && x < 15;
      pixels.insert(pixels.end(), {std::uint8_t(inside ? 0 : 255), std::uint8_t(inside ? 255 : 0), 0, 255});
    }
  }
  auto strip = ns::make<ak::Image>(401, 9, pixels);
  for (auto interpolation : {ak::ImageInterpolation::Default, ak::ImageInterpolation::High}) {
    Canvas canvas(50, 8);
    canvas.context()->setImageInterpolation(interpolation);
    strip->drawInRect_fromRect_operation_fraction(MakeRect(0, 0, 50, 8), MakeRect(10, 0, 5, 9),
                                                  ak::CompositingOperation::SourceOver, 1);
    for (std::size_t y = 0; y < 8; ++y) {
      for (std::size_t x = 0; x < 50; ++x) {
        ASSERT_TRUE(pixelNear(canvas.rep(), x, y, {0, 255, 0, 255}, 0)) << int(interpolation);
      }
    }
  }

  // A source reaching beyond the image: only its inside part, at the same scale.
  struct Beyond {
    bool flipped;
    ak::Rect from;
    ak::Rect painted;  // device pixels
  } beyond[] = {{false, MakeRect(0, 0, 8, 4), MakeRect(0, 0, 40, 40)},
                {false, MakeRect(0, -4, 4, 8), MakeRect(0, 0, 80, 20)},
                {true, MakeRect(0, -4, 4, 8), MakeRect(0, 20, 80, 20)}};
  for (const auto& b : beyond) {
    Canvas canvas(80, 40, b.flipped);
    auto red = solidImage(4, 4, kRed);
    red->setFlipped(b.flipped);
    red->drawInRect_fromRect_operation_fraction(MakeRect(0, 0, 80, 40), b.from,
                                                ak::CompositingOperation::SourceOver, 1);
    for (std::size_t y = 0; y < 40; y += 3) {
      for (std::size_t x = 0; x < 80; x += 3) {
        const bool inside = ak::PointInRect({x + 0.5, y + 0.5}, b.painted);
        ASSERT_EQ(canvas.at(x, y), inside ? kRed : kClear) << x << "," << y << " flipped " << b.flipped;
      }
    }
  }

  // Nearest-neighbour keeps edges hard; the default filter blends across them.
  auto pair = ns::make<ak::Image>(2, 1, std::vector<std::uint8_t>{255, 0, 0, 255, 0, 0, 255, 255});
  Canvas hard(20, 1), soft(20, 1);
  hard.context()->setImageInterpolation(ak::ImageInterpolation::None);
  ak::GraphicsContext::setCurrentContext(hard.context());
  pair->drawInRect(MakeRect(0, 0, 20, 1));
  ak::GraphicsContext::setCurrentContext(soft.context());
  pair->drawInRect(MakeRect(0, 0, 20, 1));
  EXPECT_EQ(hard.at(9, 0), kRed);
  EXPECT_EQ(hard.at(10, 0), (ak::RGBA{0, 0, 255, 255}));
  EXPECT_GT(soft.at(9, 0).b, 0);
  EXPECT_GT(soft.at(10, 0).r, 0);
}

TEST_F(Images, FlippedImagesAndContexts) {
  // Top row red, bottom row blue.
  const ak::RGBA blue{0, 0, 255, 255};
  auto make = [&](bool flipped) {
    auto image = ns::make<ak::Image>(1, 2, std::vector<std::uint8_t>{255, 0, 0, 255, 0, 0, 255, 255});
    image->setFlipped(flipped);
    return image;
  };
  struct Case {
    bool imageFlipped, contextFlipped, respectFlipped;
    ak::RGBA top;  // device row 0
  } cases[] = {
      {false, false, false, kRed}, {true, true, false, kRed}, {false, true, false, blue},
      {true, false, false, blue},  {false, true, true, kRed}, {true, false, true, kRed},
  };
  for (const auto& c : cases) {
    Canvas canvas(4, 8, c.contextFlipped);
    make(c.imageFlipped)
        ->drawInRect_fromRect_operation_fraction_respectFlipped_hints(MakeRect(0, 0, 4, 8), ak::ZeroRect,
                                                                      ak::CompositingOperation::SourceOver, 1,
                                                                      c.respectFlipped, nullptr);
    EXPECT_EQ(canvas.at(2, 0), c.top) << c.imageFlipped << c.contextFlipped << c.respectFlipped;
    EXPECT_EQ(canvas.at(2, 7), c.top == kRed ? blue : kRed);
  }

  // Source rectangles of a flipped image count from the top, of an unflipped one from the bottom.
  for (bool flipped : {false, true}) {
    Canvas canvas(2, 2, flipped);
    make(flipped)->drawAtPoint_fromRect_operation_fraction({0, 0}, MakeRect(0, 0, 1, 1),
                                                           ak::CompositingOperation::SourceOver, 1);
    EXPECT_EQ(canvas.at(0, flipped ? 0 : 1), flipped ? kRed : blue);
  }
}

TEST_F(Images, TiledImagesRepeatAtTheirSize) {
  std::vector<std::uint8_t> pixels;
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      std::uint8_t v = std::uint8_t(x * 60 + y * 10);
      pixels.insert(pixels.end(), {v, std::uint8_t(255 - v), std::uint8_t((x + y) % 2 ? 255 : 0), 255});
    }
  }
  auto checker = ns::make<ak::Image>(4, 4, pixels);
  Canvas canvas(20, 20, true);
  canvas.context()->drawTiledImage(MakeRect(0, 0, 4, 4), *checker);
  canvas.save("tiles");
  for (std::size_t y = 0; y < 16; ++y) {
    for (std::size_t x = 0; x < 16; ++x) {
      ASSERT_EQ(canvas.at(x, y), canvas.at(x + 4, y)) << x << "," << y;
      ASSERT_EQ(canvas.at(x, y), canvas.at(x, y + 4)) << x << "," << y;
    }
  }
  EXPECT_NE(canvas.at(0, 0), canvas.at(1, 0));
  EXPECT_EQ(canvas.at(0, 0).a, 255);

  // The noise texture: grey bytes without alpha, one byte per pixel.
  std::vector<std::uint8_t> grey(124 * 124);
  for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = std::uint8_t(i * 7919 % 251);
  auto rep = ak::BitmapImageRep::initWithGrayPixels(grey.data(), grey.size(), 124, 124, 124);
  ASSERT_TRUE(rep);
  EXPECT_FALSE(rep->hasAlpha());
  EXPECT_EQ(rep->pixelAtX_y(5, 3), (ak::RGBA{grey[3 * 124 + 5], grey[3 * 124 + 5], grey[3 * 124 + 5], 255}));
  EXPECT_FALSE(ak::BitmapImageRep::initWithGrayPixels(grey.data(), grey.size() - 1, 124, 124, 124));
}

TEST_F(Images, LockFocusSwapsInANewBitmapAndCopiesAreIndependent) {
  auto image = solidImage(8, 8, kRed);
  auto before = image->bitmapImageRep();
  std::atomic<bool> stop{false};
  std::atomic<int> changed{0};
  std::thread reader([&] {
    // A reader keeps the bitmap it took: it never sees the image's new drawing.
    while (!stop) {
      if (before->pixelAtX_y(3, 3) != kRed) ++changed;
    }
  });
  for (int i = 0; i < 20; ++i) {
    image->lockFocus();
    ak::Color::colorWithDeviceRed_green_blue_alpha(0, 0, i / 20.0, 1)->set();
    ak::RectFill(MakeRect(2, 2, 4, 4));
    image->unlockFocus();
  }
  stop = true;
  reader.join();
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(image->colorAtX_y(0, 0), kRed);
  EXPECT_TRUE(pixelNear(image->bitmapImageRep(), 3, 3, {0, 0, 242, 255}, 1));
  EXPECT_NE(image->bitmapImageRep(), before);
  EXPECT_EQ(ak::GraphicsContext::currentContext(), nullptr);

  auto copy = image->copy();
  copy->lockFocus();
  ak::colors::greenColor()->set();
  ak::RectFill(MakeRect(0, 0, 8, 8));
  copy->unlockFocus();
  EXPECT_EQ(image->colorAtX_y(0, 0), kRed);
  EXPECT_EQ(copy->colorAtX_y(0, 0), (ak::RGBA{0, 255, 0, 255}));

  // An image made by size gets pixels when drawn into.
  auto drawn = ak::Image::initWithSize({3, 2});
  EXPECT_FALSE(drawn->hasBitmapRepresentation());
  drawn->lockFocus();
  ak::colors::blueColor()->set();
  ak::RectFill(MakeRect(0, 0, 3, 1));  // the lower row: unflipped
  drawn->unlockFocus();
  EXPECT_EQ(drawn->colorAtX_y(0, 1), (ak::RGBA{0, 0, 255, 255}));
  EXPECT_EQ(drawn->colorAtX_y(0, 0).a, 0);
}

TEST_F(Images, NamedImagesComeFromTheResourceFolderOnly) {
  namespace fs = std::filesystem;
  fs::path bundle = sandbox_.root() / "bundle";
  fs::create_directories(bundle);
  fs::create_directories(sandbox_.root() / "secret");
  auto writePNG = [](const fs::path& path, ak::RGBA color) {
    auto png = *solidImage(3, 3, color)->PNGRepresentation();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(png.bytes()), std::streamsize(png.length()));
  };
  writePNG(bundle / "red_dot.png", kRed);
  writePNG(sandbox_.root() / "secret" / "outside.png", kBlack);
  ns::Bundle::setMainBundlePathForTesting(bundle.string());

  auto dot = ak::Image::imageNamed("red_dot");
  ASSERT_TRUE(dot);
  EXPECT_EQ(dot->name(), "red_dot");
  EXPECT_EQ(dot->colorAtX_y(1, 1), kRed);
  EXPECT_EQ(ak::Image::imageNamed("red_dot"), dot) << "made once, then shared";
  EXPECT_TRUE(ak::Image::imageNamed("red_dot.png"));
  for (const char* name :
       {"../secret/outside", "../secret/outside.png", "/etc/passwd", "..", "", "missing"}) {
    EXPECT_FALSE(ak::Image::imageNamed(name)) << name;
  }
  ns::Bundle::setMainBundlePathForTesting(std::nullopt);
}
