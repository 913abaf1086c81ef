#pragma once
// The control bar's playback progress slider: a three-slice track (5-point end caps and a
// stretched middle cut from the track images), the played part up to the knob, then the knob.
#include "ui/ImageSliderCell.h"

class ProgressSliderCell : public ImageSliderCell {
 public:
  void initWithCoder(ak::NibCoder& coder) override;
  std::string className() const override { return "ProgressSliderCell"; }

 protected:
  void drawTrack(const ak::Rect& bar, const ak::Rect& knob) override;
};
