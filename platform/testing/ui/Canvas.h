#pragma once
// Drawing tests: a bitmap with its context made current for the canvas's lifetime, pixel
// checks with a tolerance, and PNGs of what was drawn for people to look at.
//
//   pltest::Canvas canvas(200, 100, /*flipped=*/true);
//   ak::RectFill(ak::MakeRect(10, 10, 50, 20));
//   EXPECT_TRUE(pltest::pixelNear(canvas.rep(), 20, 15, {0, 0, 0, 255}, 2));
//   canvas.save("fills");   // <build>/.../ui-snapshots/<suite>.<test>-fills.png
#include <string>

#include <gtest/gtest.h>

#include "platform/appkit/BitmapImageRep.h"
#include "platform/appkit/GraphicsContext.h"

namespace pltest {

class Canvas {
 public:
  Canvas(std::size_t width, std::size_t height, bool flipped = false);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  const ns::Ref<ak::BitmapImageRep>& rep() const { return rep_; }
  const ns::Ref<ak::GraphicsContext>& context() const { return context_; }
  ak::RGBA at(std::size_t x, std::size_t y) const { return rep_->pixelAtX_y(x, y); }
  // Fills the whole bitmap with one opaque colour.
  void clear(ak::RGBA color);
  // Writes the bitmap as a PNG under the build folder; answers its path.
  std::string save(const std::string& name) const;

 private:
  ns::Ref<ak::BitmapImageRep> rep_;
  ns::Ref<ak::GraphicsContext> context_;
  ns::Ref<ak::GraphicsContext> previous_;
};

// Whether every channel of the pixel is within `tolerance` of `expected`.
testing::AssertionResult pixelNear(const ns::Ref<ak::BitmapImageRep>& rep, std::size_t x, std::size_t y,
                                   ak::RGBA expected, int tolerance = 2);
// The folder for snapshots: <build>/ui-snapshots (PELORIN_TEST_BINARY_DIR, else the build folder
// of this kit), else ui-snapshots beside the test executable.
std::string snapshotFolder();
std::string describe(ak::RGBA color);

}  // namespace pltest
