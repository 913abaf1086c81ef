#include "platform/appkit/ProgressIndicator.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/BezierPath.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runtime/ClassBuilder.h"

namespace ak {

ProgressIndicator::~ProgressIndicator() {
  if (timer_) timer_->invalidate();
}

void ProgressIndicator::setStyle(ProgressIndicatorStyle style) {
  style_ = style;
  if (style == ProgressIndicatorStyle::Spinning) displayedWhenStopped_ = false;
  setNeedsDisplay(true);
}

void ProgressIndicator::setIndeterminate(bool indeterminate) {
  indeterminate_ = indeterminate;
  setNeedsDisplay(true);
}

void ProgressIndicator::setMinValue(double value) {
  if (!std::isfinite(value)) return;
  min_ = value;
  if (max_ < min_) max_ = min_;
  setDoubleValue(value_);
}

void ProgressIndicator::setMaxValue(double value) {
  if (!std::isfinite(value)) return;
  max_ = value;
  if (min_ > max_) min_ = max_;
  setDoubleValue(value_);
}

void ProgressIndicator::setDoubleValue(double value) {
  value_ = std::isnan(value) ? min_ : std::clamp(value, min_, max_);
  setNeedsDisplay(true);
}

void ProgressIndicator::setDisplayedWhenStopped(bool displayed) {
  displayedWhenStopped_ = displayed;
  setNeedsDisplay(true);
}

void ProgressIndicator::startAnimation(const ns::Ref<ns::Object>&) {
  if (timer_) return;
  ns::Weak<ProgressIndicator> weak = self<ProgressIndicator>();
  timer_ = ns::Timer::timerWithTimeInterval_repeats_block(animationDelay(), true, [weak](const auto&) {
    if (auto self = weak.lock()) self->animate();
  });
  ns::RunLoop::currentRunLoop()->addTimer_forMode(timer_, ns::RunLoopCommonModes);
  setNeedsDisplay(true);
}

void ProgressIndicator::stopAnimation(const ns::Ref<ns::Object>&) {
  if (!timer_) return;
  timer_->invalidate();
  timer_ = nullptr;
  setNeedsDisplay(true);
}

void ProgressIndicator::viewDidMoveToWindow() {
  // A view that left every window has nothing to animate for.
  if (!window() && timer_) stopAnimation(nullptr);
}

void ProgressIndicator::animate() {
  ++step_;
  setNeedsDisplay(true);
}

void ProgressIndicator::drawRect(const Rect&) {
  const Rect b = bounds();
  if (!isAnimating() && !displayedWhenStopped_) return;
  if (style_ == ProgressIndicatorStyle::Spinning) {
    // Twelve spokes; the brightest one turns by one spoke per step.
    const double cx = b.origin.x + b.size.width / 2, cy = b.origin.y + b.size.height / 2;
    const double outer = std::min(b.size.width, b.size.height) / 2, inner = outer / 2;
    for (int i = 0; i < 12; ++i) {
      const double angle = i * M_PI / 6;
      const int age = int((i - step_ % 12 + 12) % 12);
      colors::blackColor()->colorWithAlphaComponent(1.0 - age / 13.0)->setStroke();
      auto path = BezierPath::bezierPath();
      path->setLineWidth(std::max(1.0, outer / 5));
      path->moveToPoint({cx + inner * std::cos(angle), cy + inner * std::sin(angle)});
      path->lineToPoint({cx + outer * std::cos(angle), cy + outer * std::sin(angle)});
      path->stroke();
    }
    return;
  }
  colors::lightGrayColor()->setFill();
  RectFill(b);
  if (indeterminate_) {
    // Stripes moving by one pixel per step.
    colors::alternateSelectedControlColor()->setFill();
    for (double x = b.origin.x - 16 + double(step_ % 16); x < b.origin.x + b.size.width; x += 16) {
      RectFill(IntersectionRect(MakeRect(x, b.origin.y, 8, b.size.height), b));
    }
    return;
  }
  const double fraction = max_ > min_ ? (value_ - min_) / (max_ - min_) : 0;
  colors::alternateSelectedControlColor()->setFill();
  RectFill(MakeRect(b.origin.x, b.origin.y, b.size.width * fraction, b.size.height));
}

}  // namespace ak

PL_CLASS_NAMED(ak::ProgressIndicator, "NSProgressIndicator", ak::View) {}
