#include "ui/ColorTitlebarAdditions.h"

ns::Ref<ak::Color> ColorTitlebarAdditions::IN_CGColorCreate(const ns::Ref<ak::Color>& color) {
  if (!color) return nullptr;
  auto rgb = color->colorUsingColorSpaceName(ak::CalibratedRGBColorSpace);
  if (!rgb) return nullptr;
  double r = 0, g = 0, b = 0, a = 0;
  rgb->getRed_green_blue_alpha(&r, &g, &b, &a);
  return ak::Color::colorWithCalibratedRed_green_blue_alpha(r, g, b, a);
}
