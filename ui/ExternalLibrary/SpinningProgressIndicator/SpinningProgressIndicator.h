#pragma once
// A ring of fins whose brightness chases around while something is busy (indeterminate), or a
// pie filling clockwise from twelve o'clock (determinate). It animates from a 0.05 s timer on
// the run loop, or from a thread of its own that steps and draws at once.
//
// The fins, the lead position and the drawing settings are kept under one lock, because the
// animation thread steps and draws them while the main thread may draw or change them. The
// thread holds the view weakly: it ends within one step of being stopped, when the view leaves
// its window, and when the view goes.
#include <memory>
#include <mutex>
#include <vector>

#include "platform/appkit/Color.h"
#include "platform/appkit/View.h"
#include "platform/runloop/Thread.h"
#include "platform/runloop/Timer.h"

class SpinningProgressIndicator : public ak::View {
 public:
  // The only style there is.
  static constexpr long kSpinningStyle = 1;

  SpinningProgressIndicator();
  ~SpinningProgressIndicator() override;

  void initWithFrame(const ak::Rect& frame) override;
  using ak::View::init;

  void drawRect(const ak::Rect& dirtyRect) override;
  void viewWillMoveToSuperview(const ns::Ref<ak::View>& superview) override;
  void viewWillMoveToWindow(const ns::Ref<ak::Window>& window) override;
  void viewDidMoveToWindow() override;
  void viewDidMoveToSuperview() override;

  // Starts only in indeterminate mode, and not while already animating without fading out.
  void startAnimation(const ns::Ref<ns::Object>& sender);
  // Fades the fins out; the animation stops by itself once they rest.
  void stopAnimation(const ns::Ref<ns::Object>& sender);
  // Anything but the spinning style raises NSInternalInconsistencyException.
  void setStyle(long style);

  ns::Ref<ak::Color> color() const;
  void setColor(const ns::Ref<ak::Color>& color);
  ns::Ref<ak::Color> backgroundColor() const;
  void setBackgroundColor(const ns::Ref<ak::Color>& color);
  bool drawsBackground() const;
  void setDrawsBackground(bool draws);
  bool isIndeterminate() const;
  void setIndeterminate(bool indeterminate);
  double doubleValue() const;
  // Switches to determinate mode first.
  void setDoubleValue(double value);
  double maxValue() const;
  void setMaxValue(double value);
  bool usesThreadedAnimation() const { return usesThreadedAnimation_; }
  void setUsesThreadedAnimation(bool uses);
  bool isDisplayedWhenStopped() const;
  void setDisplayedWhenStopped(bool displayed);

  // One animation step (the timer's action).
  void updateFrame(const ns::Ref<ns::Timer>& timer);
  // Re-colours every fin with the colour at the fin's own alpha.
  void generateFinColorsStartAtPosition(int position);

  // ---- state ----
  bool isAnimating() const;
  bool isFadingOut() const;
  int position() const;
  int numFins() const { return numFins_; }
  // The alpha of each fin's colour.
  std::vector<double> finAlphas() const;
  const ns::Ref<ns::Timer>& animationTimer() const { return animationTimer_; }
  const ns::Ref<ns::Thread>& animationThread() const { return animationThread_; }

  std::string className() const override { return "SpinningProgressIndicator"; }

 private:
  struct ThreadControl;

  void actuallyStartAnimation();
  void actuallyStopAnimation();
  void startAnimator();
  // Cancels the animation thread and waits for it to end (it never takes longer than a step).
  void endThread();
  // Moves the lead fin and fades the others; answers whether a fade-out has come to rest.
  bool step();
  double restingAlpha() const;  // with the lock held

  mutable std::mutex mutex_;
  int position_ = 0;
  int numFins_ = 12;
  std::vector<ns::Ref<ak::Color>> finColors_;
  bool isAnimating_ = false;
  bool isFadingOut_ = false;
  ns::Ref<ak::Color> foreColor_;
  ns::Ref<ak::Color> backgroundColor_;
  bool drawsBackground_ = false;
  bool displayedWhenStopped_ = true;
  bool isIndeterminate_ = true;
  double currentValue_ = 0;
  double maxValue_ = 100;

  // Main thread only.
  bool usesThreadedAnimation_ = true;
  ns::Ref<ns::Timer> animationTimer_;
  ns::Ref<ns::Thread> animationThread_;
  std::shared_ptr<ThreadControl> threadControl_;
  unsigned long threadGeneration_ = 0;
};
