#pragma once
// An RGB colour for the console logger, components 0 to 1.
#include <cstdint>

struct TTYColor {
  double red = 0, green = 0, blue = 0;

  static constexpr TTYColor colorWithRed_green_blue(double red, double green, double blue) {
    return TTYColor{red, green, blue};
  }
  // From components 0 to 255.
  static constexpr TTYColor colorWithBytes(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return TTYColor{red / 255.0, green / 255.0, blue / 255.0};
  }
};
