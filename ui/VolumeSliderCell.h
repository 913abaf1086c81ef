#pragma once
// The control bar's volume slider: the whole track, the filled part up to the knob's middle,
// then the knob.
#include "ui/ImageSliderCell.h"

class VolumeSliderCell : public ImageSliderCell {
 public:
  void initWithCoder(ak::NibCoder& coder) override;
  std::string className() const override { return "VolumeSliderCell"; }

 protected:
  void drawTrack(const ak::Rect& bar, const ak::Rect& knob) override;
};
