#pragma once
// The colour of a button's title, read from and written into its attributed title.
#include "platform/appkit/Button.h"
#include "platform/appkit/Color.h"

struct ButtonTextColor {
  // The foreground colour of the title's first character; the control text colour when the
  // title carries no attributes at all; nullptr when its attributes name no colour.
  static ns::Ref<ak::Color> textColor(const ak::Button& button);
  // Gives the whole title the colour, keeping its other attributes.
  static void setTextColor(ak::Button& button, const ns::Ref<ak::Color>& color);
};
