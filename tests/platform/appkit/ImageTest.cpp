#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <zlib.h>

#include "platform/appkit/Image.h"
#include "platform/testing/ImageSamples.h"

using pltest::gifOf;
using pltest::jpegOf;

namespace {

ns::Ref<ak::Image> checkerboard() {
  // Red, green / blue, half-transparent white: every channel differs between the pixels.
  return ns::make<ak::Image>(2, 2, std::vector<std::uint8_t>{255, 0, 0, 255, 0, 255, 0, 255,  //
                                                              0, 0, 255, 255, 255, 255, 255, 128});
}

}  // namespace

TEST(Image, PNGRoundTripKeepsEveryPixel) {
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
}

TEST(Image, ReadsJPEGAndTheFirstGIFFrame) {
  auto jpeg = ak::Image::initWithData(jpegOf(5, 3, 200));
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(jpeg->pixelsWide(), 5u);
  EXPECT_EQ(jpeg->pixelsHigh(), 3u);
  auto c = jpeg->colorAtX_y(4, 2);
  EXPECT_NEAR(c.r, 200, 2);
  EXPECT_EQ(c.a, 255);

  auto gif = ak::Image::initWithData(gifOf());
  ASSERT_TRUE(gif);
  EXPECT_EQ(gif->pixelsWide(), 3u);
  EXPECT_EQ(gif->colorAtX_y(0, 0), (ak::RGBA{255, 0, 0, 255}));
  EXPECT_EQ(gif->colorAtX_y(1, 0), (ak::RGBA{0, 0, 0, 0}));
  EXPECT_EQ(gif->colorAtX_y(2, 0), (ak::RGBA{0, 0, 255, 255}));
}

TEST(Image, DamagedOrForeignBytesGiveNoImage) {
  auto png = *checkerboard()->PNGRepresentation();
  EXPECT_FALSE(ak::Image::initWithData(ns::Data()));
  EXPECT_FALSE(ak::Image::initWithData(ns::Data("hello, not an image")));
  EXPECT_FALSE(ak::Image::initWithData(png.subdata(0, png.length() / 2)));
  auto jpeg = jpegOf(8, 8, 10);
  EXPECT_FALSE(ak::Image::initWithData(jpeg.subdata(0, 20)));
  auto gif = gifOf();
  EXPECT_FALSE(ak::Image::initWithData(gif.subdata(0, 14)));

  // A PNG header that claims an enormous canvas is refused before any pixel memory is taken.
  // Each side stays under libpng's own limit (1,000,000), so only our check can refuse it.
  std::vector<std::uint8_t> huge(png.begin(), png.end());
  const std::uint8_t big[8] = {0x00, 0x01, 0x86, 0xA0, 0x00, 0x01, 0x86, 0xA0};  // 100000 x 100000
  std::memcpy(&huge[16], big, 8);
  std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, &huge[12], 17));
  const std::uint8_t crcBytes[4] = {std::uint8_t(crc >> 24), std::uint8_t(crc >> 16), std::uint8_t(crc >> 8),
                                    std::uint8_t(crc)};
  std::memcpy(&huge[29], crcBytes, 4);
  EXPECT_FALSE(ak::Image::initWithData(ns::Data(std::move(huge))));

  EXPECT_THROW(ak::Image(2, 2, std::vector<std::uint8_t>(3)), std::invalid_argument);
  ak::Image empty(0, 0, {});
  EXPECT_FALSE(empty.hasBitmapRepresentation());
  EXPECT_FALSE(empty.PNGRepresentation());
}
