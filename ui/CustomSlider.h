#pragma once
// The slider hosting the control bar's image cells: any change repaints the whole control, since
// its cells draw bar and knob together.
#include "platform/appkit/Slider.h"

class CustomSlider : public ak::Slider {
 public:
  void setNeedsDisplayInRect(const ak::Rect& rect) override;
  std::string className() const override { return "CustomSlider"; }
};
