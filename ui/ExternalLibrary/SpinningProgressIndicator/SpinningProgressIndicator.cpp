#include "ui/ExternalLibrary/SpinningProgressIndicator/SpinningProgressIndicator.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>

#include "platform/appkit/BezierPath.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/core/Exception.h"
#include "platform/core/Log.h"
#include "platform/runloop/RunLoop.h"

namespace {
constexpr double kStepInterval = 0.05;
constexpr double kFullTurn = 6.282185;  // a little under 2 pi, as the fins were always spaced
}  // namespace

struct SpinningProgressIndicator::ThreadControl {
  std::mutex mutex;
  std::condition_variable wake;
  bool cancelled = false;

  void cancel() {
    {
      std::lock_guard lock(mutex);
      cancelled = true;
    }
    wake.notify_all();
  }
  // Sleeps for `micros` unless cancelled meanwhile; answers whether it was cancelled.
  bool sleep(long micros) {
    std::unique_lock lock(mutex);
    return wake.wait_for(lock, std::chrono::microseconds(micros), [this] { return cancelled; });
  }
  bool isCancelled() {
    std::lock_guard lock(mutex);
    return cancelled;
  }
};

SpinningProgressIndicator::SpinningProgressIndicator() = default;

SpinningProgressIndicator::~SpinningProgressIndicator() {
  if (animationTimer_) animationTimer_->invalidate();
  if (threadControl_) threadControl_->cancel();
  // The thread holds the view only during a step, so it is between steps now; it may be the
  // thread running this destructor, which must not wait for itself.
  if (animationThread_ && animationThread_ != ns::Thread::currentThread())
    animationThread_->waitUntilFinished(2.0);
}

void SpinningProgressIndicator::initWithFrame(const ak::Rect& frame) {
  ak::View::initWithFrame(frame);
  std::lock_guard lock(mutex_);
  position_ = 0;
  numFins_ = 12;
  finColors_.assign(numFins_, ak::colors::clearColor());
  isAnimating_ = false;
  isFadingOut_ = false;
  foreColor_ = ak::colors::blackColor();
  backgroundColor_ = ak::colors::clearColor();
  drawsBackground_ = false;
  displayedWhenStopped_ = true;
  usesThreadedAnimation_ = true;
  isIndeterminate_ = true;
  currentValue_ = 0.0;
  maxValue_ = 100.0;
}

// ---- drawing ----

void SpinningProgressIndicator::drawRect(const ak::Rect&) {
  std::vector<ns::Ref<ak::Color>> fins;
  ns::Ref<ak::Color> fore, background;
  bool animating, indeterminate, drawsBackground;
  double value, maximum;
  {
    std::lock_guard lock(mutex_);
    fins = finColors_;
    fore = foreColor_;
    background = backgroundColor_;
    animating = isAnimating_;
    indeterminate = isIndeterminate_;
    drawsBackground = drawsBackground_;
    value = currentValue_;
    maximum = maxValue_;
  }
  auto context = ak::GraphicsContext::currentContext();
  if (!context || !fore) return;
  const ak::Rect b = bounds();
  const double s = std::min(b.size.width, b.size.height);
  if (drawsBackground && background) {
    background->setFill();
    ak::RectFillUsingOperation(b, ak::CompositingOperation::SourceOver);
  }
  context->saveGState();
  context->translateCTM(b.size.width * 0.5, b.size.height * 0.5);
  if (indeterminate) {
    auto path = ak::BezierPath::bezierPath();
    path->setLineWidth(s * 0.0859375);
    path->setLineCapStyle(ak::LineCapStyle::Round);
    path->moveToPoint({0, s * 0.234375});
    path->lineToPoint({0, s * 0.421875});
    const auto resting = fore->colorWithAlphaComponent(0.15);
    for (std::size_t i = 0; i < fins.size(); ++i) {
      (animating && fins[i] ? fins[i] : resting)->setStroke();
      path->stroke();
      context->rotateCTM(kFullTurn / double(fins.size()));
    }
  } else {
    const double w = 1.0 + s * 0.01;
    const double r = (s - w) / 2.1;
    fore->setStroke();
    fore->setFill();
    auto circle = ak::BezierPath::bezierPathWithOvalInRect(ak::MakeRect(-r, -r, 2 * r, 2 * r));
    circle->setLineWidth(w);
    circle->stroke();
    const double fraction = maximum > 0 ? value / maximum : 0;
    auto pie = ak::BezierPath::bezierPath();
    pie->moveToPoint({0, 0});
    pie->appendBezierPathWithArcWithCenter_radius_startAngle_endAngle_clockwise(
        {0, 0}, r, 90.0, 90.0 - 360.0 * fraction, true);
    pie->closePath();
    pie->fill();
  }
  context->restoreGState();
}

// ---- moving between windows ----

void SpinningProgressIndicator::viewWillMoveToSuperview(const ns::Ref<ak::View>& superview) {
  // The thread draws the window's tree: it must be gone before the tree changes.
  if (!superview) endThread();
}

void SpinningProgressIndicator::viewWillMoveToWindow(const ns::Ref<ak::Window>& window) {
  if (window != this->window()) endThread();
}

void SpinningProgressIndicator::viewDidMoveToWindow() {
  ak::View::viewDidMoveToWindow();
  if (!window()) {
    actuallyStopAnimation();
  } else if (isAnimating()) {
    actuallyStartAnimation();
  }
}

void SpinningProgressIndicator::viewDidMoveToSuperview() {
  ak::View::viewDidMoveToSuperview();
  // Moved within the same window: the thread ended above starts again.
  if (window() && isAnimating() && usesThreadedAnimation_ && !animationThread_) startAnimator();
}

// ---- animation ----

void SpinningProgressIndicator::startAnimation(const ns::Ref<ns::Object>&) {
  {
    std::lock_guard lock(mutex_);
    if (!isIndeterminate_) return;
    if (isAnimating_ && !isFadingOut_) return;
  }
  actuallyStartAnimation();
}

void SpinningProgressIndicator::stopAnimation(const ns::Ref<ns::Object>&) {
  std::lock_guard lock(mutex_);
  isFadingOut_ = true;
}

void SpinningProgressIndicator::actuallyStartAnimation() {
  actuallyStopAnimation();
  bool displayedWhenStopped;
  {
    std::lock_guard lock(mutex_);
    isAnimating_ = true;
    isFadingOut_ = false;
    position_ = 1;
    displayedWhenStopped = displayedWhenStopped_;
  }
  if (!displayedWhenStopped) setHidden(false);
  if (window()) startAnimator();
}

void SpinningProgressIndicator::startAnimator() {
  ns::Weak<SpinningProgressIndicator> weak = weakSelf<SpinningProgressIndicator>();
  if (usesThreadedAnimation_) {
    auto control = std::make_shared<ThreadControl>();
    const unsigned long generation = ++threadGeneration_;
    const long pause = 600000 / numFins_;
    auto thread = ns::make<ns::Thread>([weak, control, generation, pause] {
      while (!control->isCancelled()) {
        bool rested;
        {
          auto self = weak.lock();
          if (!self) return;
          rested = self->step();
          if (!rested) self->display();
        }
        if (rested) {
          // The stop belongs to the main thread, which owns the view's place on screen.
          ns::Thread::performOnMainThread(
              {nullptr, "", nullptr,
               [weak, generation] {
                 auto self = weak.lock();
                 if (self && self->threadGeneration_ == generation && self->animationThread_)
                   self->actuallyStopAnimation();
               }},
              false, {ns::RunLoopCommonModes});
          return;
        }
        if (control->sleep(pause)) return;
      }
    });
    threadControl_ = control;
    animationThread_ = thread;
    thread->start();
  } else {
    animationTimer_ = ns::Timer::timerWithTimeInterval_repeats_block(kStepInterval, true,
                                                                     [weak](const ns::Ref<ns::Timer>& timer) {
                                                                       if (auto self = weak.lock())
                                                                         self->updateFrame(timer);
                                                                     });
    auto loop = ns::RunLoop::currentRunLoop();
    loop->addTimer_forMode(animationTimer_, ns::RunLoopCommonModes);
    loop->addTimer_forMode(animationTimer_, ns::DefaultRunLoopMode);
    loop->addTimer_forMode(animationTimer_, ns::EventTrackingRunLoopMode);
  }
}

void SpinningProgressIndicator::actuallyStopAnimation() {
  bool displayedWhenStopped;
  {
    std::lock_guard lock(mutex_);
    isAnimating_ = false;
    isFadingOut_ = false;
    displayedWhenStopped = displayedWhenStopped_;
  }
  if (!displayedWhenStopped) setHidden(true);
  if (animationThread_) {
    endThread();
  } else if (animationTimer_) {
    animationTimer_->invalidate();
    animationTimer_ = nullptr;
  }
  setNeedsDisplay(true);
}

void SpinningProgressIndicator::endThread() {
  if (!animationThread_) return;
  auto thread = std::move(animationThread_);
  animationThread_ = nullptr;
  if (threadControl_) threadControl_->cancel();
  threadControl_ = nullptr;
  ++threadGeneration_;
  if (thread != ns::Thread::currentThread() && !thread->waitUntilFinished(2.0))
    ns::LogWarning("SpinningProgressIndicator: the animation thread did not end in time");
}

double SpinningProgressIndicator::restingAlpha() const {
  return displayedWhenStopped_ ? 0.15 : 0.01;
}

bool SpinningProgressIndicator::step() {
  std::lock_guard lock(mutex_);
  position_ = position_ < 1 ? numFins_ - 1 : position_ - 1;
  const double m = restingAlpha();
  for (auto& fin : finColors_) {
    const double alpha = fin ? fin->alphaComponent() : 0;
    fin = foreColor_->colorWithAlphaComponent(std::max(m, 0.85 * alpha));
  }
  if (isFadingOut_) {
    return std::all_of(finColors_.begin(), finColors_.end(), [m](const ns::Ref<ak::Color>& fin) {
      return std::fabs(fin->alphaComponent() - m) <= 0.01;
    });
  }
  if (position_ >= 0 && position_ < int(finColors_.size())) finColors_[position_] = foreColor_;
  return false;
}

void SpinningProgressIndicator::updateFrame(const ns::Ref<ns::Timer>&) {
  if (step()) {
    actuallyStopAnimation();
    return;
  }
  if (animationThread_ && ns::Thread::currentThread() == animationThread_) {
    display();
  } else {
    setNeedsDisplay(true);
  }
}

void SpinningProgressIndicator::generateFinColorsStartAtPosition(int) {
  std::lock_guard lock(mutex_);
  for (auto& fin : finColors_) fin = foreColor_->colorWithAlphaComponent(fin ? fin->alphaComponent() : 0);
}

// ---- properties ----

void SpinningProgressIndicator::setStyle(long style) {
  if (style != kSpinningStyle)
    ns::Exception::raise(ns::NSInternalInconsistencyException, "Non-spinning styles not available.");
}

ns::Ref<ak::Color> SpinningProgressIndicator::color() const {
  std::lock_guard lock(mutex_);
  return foreColor_;
}

void SpinningProgressIndicator::setColor(const ns::Ref<ak::Color>& color) {
  if (!color) return;
  {
    std::lock_guard lock(mutex_);
    if (foreColor_ && foreColor_->isEqual(color.get())) return;
    foreColor_ = color;
    for (auto& fin : finColors_) fin = color->colorWithAlphaComponent(fin ? fin->alphaComponent() : 0);
  }
  setNeedsDisplay(true);
}

ns::Ref<ak::Color> SpinningProgressIndicator::backgroundColor() const {
  std::lock_guard lock(mutex_);
  return backgroundColor_;
}

void SpinningProgressIndicator::setBackgroundColor(const ns::Ref<ak::Color>& color) {
  {
    std::lock_guard lock(mutex_);
    if (backgroundColor_ == color || (backgroundColor_ && color && backgroundColor_->isEqual(color.get())))
      return;
    backgroundColor_ = color;
  }
  setNeedsDisplay(true);
}

bool SpinningProgressIndicator::drawsBackground() const {
  std::lock_guard lock(mutex_);
  return drawsBackground_;
}

void SpinningProgressIndicator::setDrawsBackground(bool draws) {
  {
    std::lock_guard lock(mutex_);
    drawsBackground_ = draws;
  }
  setNeedsDisplay(true);
}

bool SpinningProgressIndicator::isIndeterminate() const {
  std::lock_guard lock(mutex_);
  return isIndeterminate_;
}

void SpinningProgressIndicator::setIndeterminate(bool indeterminate) {
  bool animating;
  {
    std::lock_guard lock(mutex_);
    isIndeterminate_ = indeterminate;
    animating = isAnimating_;
  }
  if (!indeterminate && animating) stopAnimation(nullptr);
  setNeedsDisplay(true);
}

double SpinningProgressIndicator::doubleValue() const {
  std::lock_guard lock(mutex_);
  return currentValue_;
}

void SpinningProgressIndicator::setDoubleValue(double value) {
  if (isIndeterminate()) setIndeterminate(false);
  {
    std::lock_guard lock(mutex_);
    currentValue_ = value;
  }
  setNeedsDisplay(true);
}

double SpinningProgressIndicator::maxValue() const {
  std::lock_guard lock(mutex_);
  return maxValue_;
}

void SpinningProgressIndicator::setMaxValue(double value) {
  {
    std::lock_guard lock(mutex_);
    maxValue_ = value;
  }
  setNeedsDisplay(true);
}

void SpinningProgressIndicator::setUsesThreadedAnimation(bool uses) {
  if (usesThreadedAnimation_ == uses) return;
  usesThreadedAnimation_ = uses;
  if (isAnimating()) {
    stopAnimation(nullptr);
    startAnimation(nullptr);
  }
}

bool SpinningProgressIndicator::isDisplayedWhenStopped() const {
  std::lock_guard lock(mutex_);
  return displayedWhenStopped_;
}

void SpinningProgressIndicator::setDisplayedWhenStopped(bool displayed) {
  {
    std::lock_guard lock(mutex_);
    displayedWhenStopped_ = displayed;
  }
  if (isAnimating()) return;
  if (displayed && isHidden()) {
    setHidden(false);
  } else if (!displayed && !isHidden()) {
    setHidden(true);
  }
}

bool SpinningProgressIndicator::isAnimating() const {
  std::lock_guard lock(mutex_);
  return isAnimating_;
}

bool SpinningProgressIndicator::isFadingOut() const {
  std::lock_guard lock(mutex_);
  return isFadingOut_;
}

int SpinningProgressIndicator::position() const {
  std::lock_guard lock(mutex_);
  return position_;
}

std::vector<double> SpinningProgressIndicator::finAlphas() const {
  std::lock_guard lock(mutex_);
  std::vector<double> alphas;
  for (const auto& fin : finColors_) alphas.push_back(fin ? fin->alphaComponent() : 0);
  return alphas;
}
