#pragma once
// Colour conversion for the title bar's gradient.
#include "platform/appkit/Color.h"

struct ColorTitlebarAdditions {
  // The colour's calibrated RGB components as a new colour of the generic RGB space (the
  // calibrated one here); nullptr for nil.
  static ns::Ref<ak::Color> IN_CGColorCreate(const ns::Ref<ak::Color>& color);
};
