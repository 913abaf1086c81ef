#include "platform/appkit/Slider.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/BezierPath.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Control.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/runtime/ClassBuilder.h"

namespace ak {

namespace {
constexpr double kBarThickness = 4;
}

void SliderCell::initTextCell(const std::string&) {
  ActionCell::initTextCell("");
  continuous_ = true;
}

void SliderCell::setMinValue(double value) {
  if (!std::isfinite(value)) return;
  min_ = value;
  if (max_ < min_) max_ = min_;
  setDoubleValue(value_);
}

void SliderCell::setMaxValue(double value) {
  if (!std::isfinite(value)) return;
  max_ = value;
  if (min_ > max_) min_ = max_;
  setDoubleValue(value_);
}

void SliderCell::setDoubleValue(double value) {
  double next = std::isnan(value) ? min_ : std::clamp(value, min_, max_);
  if (next == value_) return;
  value_ = next;
  updateControlView();
}

std::string SliderCell::stringValue() const {
  return ns::Value(value_).stringValue();
}

void SliderCell::setStringValue(const std::string& string) {
  setDoubleValue(ns::Value(string).doubleValue());
}

Rect SliderCell::trackRect() const {
  if (!IsEmptyRect(trackRect_)) return trackRect_;
  if (auto view = controlView()) return view->bounds();
  return ZeroRect;
}

bool SliderCell::isVertical() const {
  Rect r = trackRect();
  return r.size.height > r.size.width;
}

Rect SliderCell::barRectFlipped(bool) const {
  Rect r = trackRect();
  const double half = knobThickness() / 2;
  if (isVertical()) {
    return MakeRect(r.origin.x + (r.size.width - kBarThickness) / 2, r.origin.y + half, kBarThickness,
                    std::max(0.0, r.size.height - 2 * half));
  }
  return MakeRect(r.origin.x + half, r.origin.y + (r.size.height - kBarThickness) / 2,
                  std::max(0.0, r.size.width - 2 * half), kBarThickness);
}

Rect SliderCell::knobRectFlipped(bool flipped) const {
  Rect r = trackRect();
  Rect bar = barRectFlipped(flipped);
  const double fraction = max_ > min_ ? (value_ - min_) / (max_ - min_) : 0;
  const double k = knobThickness();
  if (isVertical()) {
    // The minimum is at the bottom: the larger y of a flipped view.
    const double centre =
        flipped ? bar.origin.y + bar.size.height * (1 - fraction) : bar.origin.y + bar.size.height * fraction;
    return MakeRect(r.origin.x, centre - k / 2, r.size.width, k);
  }
  const double centre = bar.origin.x + bar.size.width * fraction;
  return MakeRect(centre - k / 2, r.origin.y, k, r.size.height);
}

void SliderCell::drawBarInside_flipped(const Rect& rect, bool) {
  colors::lightGrayColor()->setFill();
  RectFill(rect);
}

void SliderCell::drawKnob() {
  drawKnob_(knobRectFlipped(drawFlipped_));
}

void SliderCell::drawKnob_(const Rect& knobRect) {
  auto path = BezierPath::bezierPathWithOvalInRect(
      InsetRect(knobRect, 1, std::max(1.0, (knobRect.size.height - knobThickness()) / 2 + 1)));
  (highlighted_ ? colors::selectedControlColor() : colors::whiteColor())->setFill();
  path->fill();
  colors::darkGrayColor()->setStroke();
  path->stroke();
}

void SliderCell::drawInteriorWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView) {
  trackRect_ = cellFrame;
  drawFlipped_ = controlView ? controlView->isFlipped() : true;
  drawBarInside_flipped(barRectFlipped(drawFlipped_), drawFlipped_);
  drawKnob();
}

Size SliderCell::cellSizeForBounds(const Rect& bounds) const {
  return isVertical() ? Size{21, bounds.size.height} : Size{bounds.size.width, 21};
}

double SliderCell::valueForPoint(const Point& point) const {
  const bool flipped = controlView() ? controlView()->isFlipped() : true;
  Rect bar = barRectFlipped(flipped);
  double fraction;
  if (isVertical()) {
    fraction = bar.size.height > 0 ? (point.y - bar.origin.y) / bar.size.height : 0;
    if (flipped) fraction = 1 - fraction;
  } else {
    fraction = bar.size.width > 0 ? (point.x - bar.origin.x) / bar.size.width : 0;
  }
  fraction = std::clamp(std::isnan(fraction) ? 0.0 : fraction, 0.0, 1.0);
  return min_ + fraction * (max_ - min_);
}

bool SliderCell::trackMouse_inRect_ofView_untilMouseUp(const ns::Ref<Event>& event, const Rect& cellFrame,
                                                       const ns::Ref<View>& controlView, bool) {
  trackRect_ = cellFrame;
  setHighlighted(true);
  // A slider follows the mouse wherever it goes until it is released.
  bool up = ActionCell::trackMouse_inRect_ofView_untilMouseUp(event, cellFrame, controlView, true);
  setHighlighted(false);
  return up;
}

void SliderCell::moveTo(const Point& point, const ns::Ref<View>& controlView) {
  const double before = value_;
  setDoubleValue(valueForPoint(point));
  if (value_ == before || !continuous_) return;
  if (auto control = std::dynamic_pointer_cast<Control>(controlView))
    control->sendAction_to(action(), target());
}

bool SliderCell::startTrackingAt_inView(const Point& startPoint, const ns::Ref<View>& controlView) {
  moveTo(startPoint, controlView);
  return true;
}

bool SliderCell::continueTracking_at_inView(const Point&, const Point& currentPoint,
                                            const ns::Ref<View>& controlView) {
  moveTo(currentPoint, controlView);
  return true;
}

// ---- Slider ----

ns::Class Slider::cellClass() {
  return ns::objc_getClass("NSSliderCell");
}

double Slider::minValue() const {
  auto c = sliderCell();
  return c ? c->minValue() : 0;
}

void Slider::setMinValue(double value) {
  if (auto c = sliderCell()) c->setMinValue(value);
}

double Slider::maxValue() const {
  auto c = sliderCell();
  return c ? c->maxValue() : 0;
}

void Slider::setMaxValue(double value) {
  if (auto c = sliderCell()) c->setMaxValue(value);
}

bool Slider::isVertical() const {
  auto c = sliderCell();
  return c && c->isVertical();
}

}  // namespace ak

PL_CLASS_NAMED(ak::SliderCell, "NSSliderCell", ak::ActionCell) {}
PL_CLASS_NAMED(ak::Slider, "NSSlider", ak::Control) {
  cls.classMethod<&ak::Slider::cellClass>("cellClass");
}
