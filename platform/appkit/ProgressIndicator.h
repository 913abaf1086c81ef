#pragma once
// Progress indicators: a bar (determinate or not) or a spinning wheel. Animation steps on a
// timer in the common modes, so it keeps turning during menus and drags.
#include "platform/appkit/GraphicsTypes.h"
#include "platform/appkit/View.h"
#include "platform/runloop/Timer.h"

namespace ak {

enum class ProgressIndicatorStyle : int { Bar = 0, Spinning = 1 };

class ProgressIndicator : public View {
 public:
  ~ProgressIndicator() override;
  ProgressIndicatorStyle style() const { return style_; }
  void setStyle(ProgressIndicatorStyle style);
  bool isIndeterminate() const { return indeterminate_; }
  void setIndeterminate(bool indeterminate);
  double minValue() const { return min_; }
  void setMinValue(double value);
  double maxValue() const { return max_; }
  void setMaxValue(double value);
  // Kept inside the range; NaN becomes the minimum.
  double doubleValue() const { return value_; }
  void setDoubleValue(double value);
  void incrementBy(double delta) { setDoubleValue(value_ + delta); }
  bool isDisplayedWhenStopped() const { return displayedWhenStopped_; }
  void setDisplayedWhenStopped(bool displayed);
  bool usesThreadedAnimation() const { return threaded_; }
  void setUsesThreadedAnimation(bool threaded) { threaded_ = threaded; }
  ControlSize controlSize() const { return controlSize_; }
  void setControlSize(ControlSize size) { controlSize_ = size; }
  // Seconds between animation steps.
  double animationDelay() const { return 1.0 / 12; }

  void startAnimation(const ns::Ref<ns::Object>& sender);
  void stopAnimation(const ns::Ref<ns::Object>& sender);
  bool isAnimating() const { return timer_ != nullptr; }
  // The animation's step counter (the spinner's phase, the indeterminate bar's offset).
  long animationStep() const { return step_; }

  void viewDidMoveToWindow() override;
  void drawRect(const Rect& dirtyRect) override;
  std::string className() const override { return "NSProgressIndicator"; }

 private:
  void animate();
  ProgressIndicatorStyle style_ = ProgressIndicatorStyle::Bar;
  bool indeterminate_ = true;
  double min_ = 0, max_ = 100, value_ = 0;
  bool displayedWhenStopped_ = true;
  bool threaded_ = true;
  ControlSize controlSize_ = ControlSize::Regular;
  ns::Ref<ns::Timer> timer_;
  long step_ = 0;
};

}  // namespace ak
