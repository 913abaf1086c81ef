#pragma once
// Shared pieces of the custom view tests: the application's images from the source tree, and
// pixel checks against the shipped files' own pixels.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/appkit/Image.h"
#include "platform/foundation/Bundle.h"
#include "platform/testing/ui/Canvas.h"
#include "platform/testing/ui/HeadlessApp.h"

namespace uiviews_test {

// A headless application whose main bundle is the source tree's resources folder.
struct AppWithResources {
  explicit AppWithResources(bool virtualClock = true) : app(virtualClock) {
    ns::Bundle::setMainBundlePathForTesting(std::string(PELORIN_SOURCE_DIR) + "/resources");
  }
  ~AppWithResources() { ns::Bundle::setMainBundlePathForTesting(std::nullopt); }
  pltest::HeadlessApp app;
};

// The shipped image's pixel at column x, row y from the top.
inline ak::RGBA imagePixel(const std::string& name, std::size_t x, std::size_t y) {
  auto image = ak::Image::imageNamed(name);
  EXPECT_TRUE(image) << "no image " << name;
  return image ? image->colorAtX_y(x, y) : ak::RGBA{};
}

inline testing::AssertionResult colorNear(ak::RGBA actual, ak::RGBA expected, int tolerance) {
  auto off = [&](int a, int b) { return a - b > tolerance || b - a > tolerance; };
  if (off(actual.r, expected.r) || off(actual.g, expected.g) || off(actual.b, expected.b) ||
      off(actual.a, expected.a))
    return testing::AssertionFailure()
           << pltest::describe(actual) << " is not " << pltest::describe(expected);
  return testing::AssertionSuccess();
}

}  // namespace uiviews_test
