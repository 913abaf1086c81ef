#include "ui/VolumeSliderCell.h"

#include <cmath>

#include "platform/runtime/ClassBuilder.h"

void VolumeSliderCell::initWithCoder(ak::NibCoder& coder) {
  ImageSliderCell::initWithCoder(coder);
  loadImages("volume_handle", "volume_handle_pressed", "filled_volume_bar", "volume_bar");
}

void VolumeSliderCell::drawTrack(const ak::Rect& bar, const ak::Rect& knob) {
  const bool newSystem = isNewSystem();
  const double trackY = bar.origin.y + (newSystem ? 0.0 : 6.0);
  drawSlice(volBarRight_, ak::MakeRect(bar.origin.x, trackY, bar.size.width, 10.0), ak::ZeroRect);
  const float p = std::round(static_cast<float>(knob.origin.x * 1.04));
  const double fill = knob.size.width * 0.5 + p;
  drawSlice(volBarLeft_, ak::MakeRect(bar.origin.x, trackY, fill, 10.0), ak::MakeRect(0, 0, fill, 10.0));
  drawKnobImageAt(ak::Point{p, knob.origin.y + (newSystem ? 3.0 : 1.0)});
}

PL_CLASS(VolumeSliderCell, ak::SliderCell) {}
