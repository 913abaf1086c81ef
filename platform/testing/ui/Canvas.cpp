#include "platform/testing/ui/Canvas.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace pltest {

Canvas::Canvas(std::size_t width, std::size_t height, bool flipped)
    : rep_(ns::make<ak::BitmapImageRep>(width, height, true)),
      context_(ak::GraphicsContext::graphicsContextWithBitmapImageRep_flipped(rep_, flipped)),
      previous_(ak::GraphicsContext::currentContext()) {
  ak::GraphicsContext::setCurrentContext(context_);
}

Canvas::~Canvas() {
  ak::GraphicsContext::setCurrentContext(previous_);
}

void Canvas::clear(ak::RGBA color) {
  ns::Ref<ak::Color> c = ak::Color::colorWithDeviceRed_green_blue_alpha(color.r / 255.0, color.g / 255.0,
                                                                        color.b / 255.0, color.a / 255.0);
  context_->saveGState();
  context_->setCTM(ak::AffineTransform());
  c->setFill();
  ak::RectFill(ak::MakeRect(0, 0, rep_->size().width, rep_->size().height));
  context_->restoreGState();
}

std::string snapshotFolder() {
  // Beside the build, never in the (sandboxed) home: the build folder from the environment, else
  // the one this kit was built in, else the test executable's own folder.
  const char* build = std::getenv("PELORIN_TEST_BINARY_DIR");
#ifdef PELORIN_BUILD_DIR
  if (!build || !*build) build = PELORIN_BUILD_DIR;
#endif
  std::error_code ignored;
  std::filesystem::path base = build && *build
                                   ? std::filesystem::path(build)
                                   : std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path();
  if (base.empty()) base = std::filesystem::current_path(ignored);
  std::filesystem::path folder = base / "ui-snapshots";
  std::filesystem::create_directories(folder, ignored);
  return folder.string();
}

std::string Canvas::save(const std::string& name) const {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string file = info ? std::string(info->test_suite_name()) + "." + info->name() + "-" + name : name;
  for (char& c : file) {
    if (c == '/' || c == '\\') c = '_';
  }
  const std::string path = snapshotFolder() + "/" + file + ".png";
  auto png = rep_->representationUsingType_properties(ak::BitmapImageFileType::PNG);
  if (png) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(png->bytes()), std::streamsize(png->length()));
  }
  return path;
}

std::string describe(ak::RGBA c) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "(%d, %d, %d, %d)", c.r, c.g, c.b, c.a);
  return buf;
}

testing::AssertionResult pixelNear(const ns::Ref<ak::BitmapImageRep>& rep, std::size_t x, std::size_t y,
                                   ak::RGBA expected, int tolerance) {
  if (!rep || x >= rep->pixelsWide() || y >= rep->pixelsHigh()) {
    return testing::AssertionFailure() << "pixel (" << x << ", " << y << ") lies outside the bitmap";
  }
  ak::RGBA got = rep->pixelAtX_y(x, y);
  auto near = [&](int a, int b) { return std::abs(a - b) <= tolerance; };
  if (near(got.r, expected.r) && near(got.g, expected.g) && near(got.b, expected.b) &&
      near(got.a, expected.a)) {
    return testing::AssertionSuccess();
  }
  return testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << describe(got)
                                     << ", expected " << describe(expected) << " +-" << tolerance;
}

}  // namespace pltest
