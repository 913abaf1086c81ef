#pragma once
// Sliders. One display pass calls drawWithFrame_inView, drawInteriorWithFrame_inView,
// drawBarInside_flipped (with barRectFlipped), drawKnob, then drawKnob_ (with knobRectFlipped,
// placed from the minimum, maximum and value). The value always stays inside the range: NaN
// becomes the minimum and values beyond either end are clamped.
#include "platform/appkit/Control.h"

namespace ak {

class SliderCell : public ActionCell {
 public:
  void initTextCell(const std::string& string) override;

  double minValue() const { return min_; }
  void setMinValue(double value);
  double maxValue() const { return max_; }
  void setMaxValue(double value);
  ns::Value objectValue() const override { return ns::Value(value_); }
  void setObjectValue(const ns::Value& value) override { setDoubleValue(value.doubleValue()); }
  double doubleValue() const override { return value_; }
  void setDoubleValue(double value) override;
  long integerValue() const override { return long(value_); }
  void setIntegerValue(long value) override { setDoubleValue(double(value)); }
  std::string stringValue() const override;
  void setStringValue(const std::string& string) override;
  // Horizontal unless the frame is taller than wide.
  bool isVertical() const;
  double knobThickness() const { return 16; }

  // The last frame the cell drew or tracked in (the control's bounds until then).
  Rect trackRect() const;
  virtual Rect barRectFlipped(bool flipped) const;
  virtual Rect knobRectFlipped(bool flipped) const;
  virtual void drawBarInside_flipped(const Rect& rect, bool flipped);
  virtual void drawKnob();
  virtual void drawKnob_(const Rect& knobRect);
  void drawInteriorWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView) override;
  Size cellSizeForBounds(const Rect& bounds) const override;

  bool trackMouse_inRect_ofView_untilMouseUp(const ns::Ref<Event>& event, const Rect& cellFrame,
                                             const ns::Ref<View>& controlView, bool untilMouseUp) override;
  bool startTrackingAt_inView(const Point& startPoint, const ns::Ref<View>& controlView) override;
  bool continueTracking_at_inView(const Point& lastPoint, const Point& currentPoint,
                                  const ns::Ref<View>& controlView) override;
  // The value under a point of the control view.
  double valueForPoint(const Point& point) const;

  std::string className() const override { return "NSSliderCell"; }

 private:
  void moveTo(const Point& point, const ns::Ref<View>& controlView);
  double min_ = 0;
  double max_ = 1;
  double value_ = 0;
  Rect trackRect_;
  bool drawFlipped_ = true;
};

class Slider : public Control {
 public:
  static ns::Class cellClass();
  ns::Ref<SliderCell> sliderCell() const { return std::dynamic_pointer_cast<SliderCell>(cell_); }
  double minValue() const;
  void setMinValue(double value);
  double maxValue() const;
  void setMaxValue(double value);
  bool isVertical() const;
  bool acceptsFirstMouse(const ns::Ref<Event>&) override { return true; }
  // A non-continuous slider acts once, at mouse-up; a continuous one already acted per change.
  bool shouldActAfterTracking() override { return !isContinuous(); }
  std::string className() const override { return "NSSlider"; }
};

}  // namespace ak
