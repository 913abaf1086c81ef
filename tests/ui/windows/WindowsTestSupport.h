#pragma once
// Shared set-up of the window tests: the shipped images as the main bundle's resources, and the
// few measurements several tests make on rendered pixels.
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/appkit/BitmapImageRep.h"
#include "platform/appkit/Geometry.h"
#include "platform/foundation/Bundle.h"

namespace windows_test {

// Makes the source tree's resources/ the main bundle for the scope.
class ShippedResources {
 public:
  ShippedResources() {
    const char* source = std::getenv("PELORIN_TEST_SOURCE_DIR");
    ns::Bundle::setMainBundlePathForTesting(std::string(source ? source : PELORIN_SOURCE_DIR) + "/resources");
  }
  ~ShippedResources() { ns::Bundle::setMainBundlePathForTesting(std::nullopt); }
};

// Red channel statistics of row `y` (from the top) between columns `x0` and `x1`.
struct RowStats {
  double mean = 0;
  double variance = 0;
};

inline RowStats rowStats(const ns::Ref<ak::BitmapImageRep>& rep, std::size_t y, std::size_t x0,
                         std::size_t x1) {
  std::vector<double> values;
  for (std::size_t x = x0; x < x1; ++x) values.push_back(rep->pixelAtX_y(x, y).r);
  RowStats s;
  for (double v : values) s.mean += v;
  s.mean /= static_cast<double>(values.size());
  for (double v : values) s.variance += (v - s.mean) * (v - s.mean);
  s.variance /= static_cast<double>(values.size());
  return s;
}

// How many pixels in the area (rows from the top) are dark: the title's glyphs.
inline int darkPixels(const ns::Ref<ak::BitmapImageRep>& rep, std::size_t x0, std::size_t x1, std::size_t y0,
                      std::size_t y1) {
  int count = 0;
  for (std::size_t y = y0; y < y1; ++y)
    for (std::size_t x = x0; x < x1; ++x)
      if (rep->pixelAtX_y(x, y).r < 150 && rep->pixelAtX_y(x, y).a > 0) ++count;
  return count;
}

}  // namespace windows_test
