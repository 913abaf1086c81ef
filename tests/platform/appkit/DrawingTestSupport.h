#pragma once
// Shared set-up of the drawing tests: every test runs in a sandboxed home (fontconfig may write
// its cache there), and small helpers make images of one colour.
#include <gtest/gtest.h>

#include <vector>

#include "platform/appkit/Color.h"
#include "platform/appkit/Image.h"
#include "platform/testing/Sandbox.h"
#include "platform/testing/ui/Canvas.h"
#include "tests/platform/appkit/AppKitTestSupport.h"

namespace appkit_test {

class DrawingTest : public testing::Test {
 protected:
  pltest::Sandbox sandbox_;
};

inline ns::Ref<ak::Image> solidImage(std::size_t w, std::size_t h, ak::RGBA c) {
  std::vector<std::uint8_t> pixels;
  for (std::size_t i = 0; i < w * h; ++i) pixels.insert(pixels.end(), {c.r, c.g, c.b, c.a});
  return ns::make<ak::Image>(w, h, std::move(pixels));
}

inline ns::Ref<ak::Color> rgb(double r, double g, double b, double a = 1) {
  return ak::Color::colorWithDeviceRed_green_blue_alpha(r, g, b, a);
}

inline constexpr ak::RGBA kBlack{0, 0, 0, 255};
inline constexpr ak::RGBA kClear{0, 0, 0, 0};

}  // namespace appkit_test
