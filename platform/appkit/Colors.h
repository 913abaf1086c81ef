#pragma once
// The named and system colours, fixed constants (the light appearance), made once and shared.
#include "platform/appkit/Color.h"

namespace ak::colors {

const ns::Ref<Color>& blackColor();
const ns::Ref<Color>& darkGrayColor();
const ns::Ref<Color>& grayColor();
const ns::Ref<Color>& lightGrayColor();
const ns::Ref<Color>& whiteColor();
const ns::Ref<Color>& clearColor();
const ns::Ref<Color>& redColor();
const ns::Ref<Color>& greenColor();
const ns::Ref<Color>& blueColor();
const ns::Ref<Color>& cyanColor();
const ns::Ref<Color>& yellowColor();
const ns::Ref<Color>& magentaColor();
const ns::Ref<Color>& orangeColor();
const ns::Ref<Color>& purpleColor();
const ns::Ref<Color>& brownColor();

const ns::Ref<Color>& controlColor();
const ns::Ref<Color>& controlBackgroundColor();
const ns::Ref<Color>& controlTextColor();
const ns::Ref<Color>& disabledControlTextColor();
const ns::Ref<Color>& textColor();
const ns::Ref<Color>& textBackgroundColor();
const ns::Ref<Color>& windowBackgroundColor();
const ns::Ref<Color>& selectedTextBackgroundColor();
const ns::Ref<Color>& selectedControlColor();
const ns::Ref<Color>& alternateSelectedControlColor();
const ns::Ref<Color>& secondarySelectedControlColor();
const ns::Ref<Color>& selectedMenuItemColor();
const ns::Ref<Color>& keyboardFocusIndicatorColor();
const ns::Ref<Color>& gridColor();
const ns::Ref<Color>& headerColor();
const ns::Ref<Color>& headerTextColor();
const ns::Ref<Color>& shadowColor();
const ns::Ref<Color>& highlightColor();

}  // namespace ak::colors
