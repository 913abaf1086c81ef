#pragma once
// What the control bar's slider cells share: four images drawn in place of the platform's bar and
// knob. The bar hook and the knob hook each store their rectangle; once both are known the whole
// slider is drawn in one go and the rectangles are forgotten for the next pass.
#include "platform/appkit/Image.h"
#include "platform/appkit/Slider.h"

class ImageSliderCell : public ak::SliderCell {
 public:
  void drawBarInside_flipped(const ak::Rect& rect, bool flipped) override;
  void drawKnob_(const ak::Rect& knobRect) override;
  // Draws bar and knob when both rectangles are known, then clears their widths.
  void drawAll();

  const ns::Ref<ak::Image>& knob() const { return knob_; }
  const ns::Ref<ak::Image>& knobPressed() const { return knob_pressed_; }
  const ns::Ref<ak::Image>& volBarLeft() const { return volBarLeft_; }
  const ns::Ref<ak::Image>& volBarRight() const { return volBarRight_; }
  ak::Rect barRect() const { return barRect_; }
  ak::Rect knobRect() const { return knobRect_; }

 protected:
  // The images under their names, marked flipped (initWithCoder of the subclasses).
  void loadImages(const char* knob, const char* knobPressed, const char* barLeft, const char* barRight);
  // Whether the system is 10.9 or later: the application delegate's answer, else the shell's.
  static bool isNewSystem();
  // The bar, from `barRect_` and `knobRect_`; then the knob (see drawKnobImageAt).
  virtual void drawTrack(const ak::Rect& bar, const ak::Rect& knob) = 0;
  // The knob image (pressed while the mouse is down) at `point`, with the view's focus locked.
  void drawKnobImageAt(const ak::Point& point);
  static void drawSlice(const ns::Ref<ak::Image>& image, const ak::Rect& into, const ak::Rect& from);

  ns::Ref<ak::Image> knob_, knob_pressed_, volBarLeft_, volBarRight_;
  ak::Rect barRect_, knobRect_;
};
