#include "platform/appkit/Animation.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/appkit/WindowMetrics.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"

namespace ak {

// ---- BasicAnimation ----

ns::Ref<BasicAnimation> BasicAnimation::animationWithKeyPath(const std::string& keyPath) {
  auto a = ns::make<BasicAnimation>();
  a->keyPath_ = keyPath;
  return a;
}

void BasicAnimation::setDuration(double duration) {
  duration_ = std::isfinite(duration) && duration > 0 ? duration : 0;
}

double BasicAnimation::effectiveDuration() const {
  return duration_ > 0 ? duration_ : metrics::kDefaultAnimationDuration;
}

bool BasicAnimation::isFinishedAt(double elapsed) const {
  if (std::isinf(repeatCount_)) return false;
  double cycles = repeatCount_ > 0 ? repeatCount_ : 1;
  return elapsed >= effectiveDuration() * cycles;
}

double BasicAnimation::valueAt(double elapsed, double from, double to) const {
  const double d = effectiveDuration();
  if (isFinishedAt(elapsed)) return to;
  double phase = elapsed / d;
  if (phase >= 1) phase -= std::floor(phase);  // a repeat starts again from the beginning
  if (phase < 0) phase = 0;
  return from + (to - from) * phase;
}

void BasicAnimation::notifyStop(bool finished) {
  auto d = delegate();
  static const ns::Sel stopSel("animationDidStop:finished:");
  if (d && ns::respondsToSelector(d, stopSel)) ns::send(d, stopSel, self<BasicAnimation>(), finished);
}

void BasicAnimation::notifyStart() {
  auto d = delegate();
  static const ns::Sel startSel("animationDidStart:");
  if (d && ns::respondsToSelector(d, startSel)) ns::send(d, startSel, self<BasicAnimation>());
}

// ---- contexts and groups ----

struct AnimationContext::Group {
  std::function<void()> completion;
  int pending = 0;
  bool open = true;
  bool completed = false;
  void finishOne() {
    if (pending > 0) --pending;
    maybeComplete();
  }
  void maybeComplete() {
    if (open || pending > 0 || completed) return;
    completed = true;
    auto done = std::move(completion);
    if (done) done();
  }
};

namespace {

std::vector<ns::Ref<AnimationContext>>& contextStack() {
  static thread_local std::vector<ns::Ref<AnimationContext>> stack;
  return stack;
}

}  // namespace

AnimationContext::AnimationContext()
    : duration_(metrics::kDefaultAnimationDuration), group_(std::make_shared<Group>()) {}

ns::Ref<AnimationContext> AnimationContext::currentContext() {
  auto& stack = contextStack();
  if (stack.empty()) {
    // Outside a grouping an animator still animates, with the defaults.
    auto context = ns::make<AnimationContext>();
    context->group_->open = false;
    return context;
  }
  return stack.back();
}

void AnimationContext::beginGrouping() {
  contextStack().push_back(ns::make<AnimationContext>());
}

void AnimationContext::endGrouping() {
  auto& stack = contextStack();
  if (stack.empty()) return;
  auto group = stack.back()->group_;
  stack.pop_back();
  group->open = false;
  group->maybeComplete();
}

void AnimationContext::runAnimationGroup_completionHandler(
    const std::function<void(AnimationContext&)>& changes, std::function<void()> completion) {
  beginGrouping();
  auto context = contextStack().back();
  context->setCompletionHandler(std::move(completion));
  if (changes) changes(*context);
  endGrouping();
}

void AnimationContext::setDuration(double duration) {
  duration_ = std::isfinite(duration) && duration >= 0 ? duration : metrics::kDefaultAnimationDuration;
}

void AnimationContext::setCompletionHandler(std::function<void()> handler) {
  group_->completion = std::move(handler);
}

// ---- the driver ----

namespace animation {

namespace {

struct Running {
  ns::Weak<ns::Object> target;
  const ns::Object* identity = nullptr;
  std::string key;
  Values from, to;
  double start = 0;
  double duration = 0;
  std::function<void(const Values&)> apply;
  ns::Ref<BasicAnimation> custom;
  std::shared_ptr<AnimationContext::Group> group;
  // A microsecond early, so that sums of clock steps that should meet the end do meet it.
  double end() const { return start + duration - 1e-6; }
};

struct Driver {
  std::vector<std::shared_ptr<Running>> running;
  std::vector<std::function<bool(double)>> tickers;
  ns::Ref<ns::Timer> timer;
};

Driver& driver() {
  static thread_local Driver d;
  return d;
}

Values lerp(const Values& a, const Values& b, double t) {
  Values out(b.size());
  for (std::size_t i = 0; i < b.size(); ++i) out[i] = (i < a.size() ? a[i] : b[i]) * (1 - t) + b[i] * t;
  return out;
}

void finish(const std::shared_ptr<Running>& r, bool finished) {
  if (r->custom) r->custom->notifyStop(finished);
  if (r->group) r->group->finishOne();
}

void tick(double now);

// The next frame, or an animation's end when that comes first, so that ends land exactly.
void scheduleNext(double now) {
  auto& d = driver();
  double next = now + metrics::kAnimationFrameInterval;
  for (const auto& r : d.running) next = std::min(next, std::max(now, r->end()));
  if (d.timer && d.timer->isValid()) {
    if (d.timer->fireTime() <= next) return;
    d.timer->invalidate();
  }
  d.timer = ns::Timer::initWithFireDate_interval_repeats_block(ns::Clock::dateForTime(next), 0, false,
                                                               [](const ns::Ref<ns::Timer>&) {
                                                                 driver().timer = nullptr;
                                                                 tick(ns::Clock::now());
                                                               });
  ns::RunLoop::currentRunLoop()->addTimer_forMode(d.timer, ns::RunLoopCommonModes);
}

void ensureTimer() {
  scheduleNext(ns::Clock::now());
}

void tick(double now) {
  auto& d = driver();
  auto running = d.running;  // steps may start or stop animations
  for (const auto& r : running) {
    if (std::find(d.running.begin(), d.running.end(), r) == d.running.end()) continue;
    if (r->target.expired()) {
      d.running.erase(std::find(d.running.begin(), d.running.end(), r));
      finish(r, false);
      continue;
    }
    double t = r->duration > 0 ? (now - r->start) / r->duration : 1;
    if (now >= r->end()) {
      d.running.erase(std::find(d.running.begin(), d.running.end(), r));
      r->apply(r->to);
      finish(r, true);
    } else {
      r->apply(lerp(r->from, r->to, std::max(0.0, t)));
    }
  }
  auto tickers = std::move(d.tickers);
  d.tickers.clear();
  for (auto& t : tickers) {
    if (t(now)) d.tickers.push_back(std::move(t));
  }
  if (d.running.empty() && d.tickers.empty()) {
    if (d.timer) d.timer->invalidate();
    d.timer = nullptr;
  } else {
    scheduleNext(now);
  }
}

}  // namespace

void start(const ns::Ref<ns::Object>& target, const std::string& key, Values from, Values to,
           std::function<void(const Values&)> apply, const ns::Ref<BasicAnimation>& custom) {
  stop(target.get(), key);
  auto context = AnimationContext::currentContext();
  auto r = std::make_shared<Running>();
  r->target = target;
  r->identity = target.get();
  r->key = key;
  r->from = std::move(from);
  r->to = std::move(to);
  r->start = ns::Clock::now();
  r->duration = custom && custom->duration() > 0 ? custom->duration() : context->duration();
  r->apply = std::move(apply);
  r->custom = custom;
  r->group = context->group();
  ++r->group->pending;
  if (custom) custom->notifyStart();
  if (r->duration <= 0) {
    r->apply(r->to);
    finish(r, true);
    return;
  }
  r->apply(r->from);
  driver().running.push_back(r);
  ensureTimer();
}

void stop(const ns::Object* target, const std::string& key) {
  auto& d = driver();
  for (auto it = d.running.begin(); it != d.running.end(); ++it) {
    if ((*it)->identity == target && (*it)->key == key) {
      auto r = *it;
      d.running.erase(it);
      finish(r, false);
      return;
    }
  }
}

bool isAnimating(const ns::Object* target, const std::string& key) {
  for (const auto& r : driver().running) {
    if (r->identity == target && r->key == key) return true;
  }
  return false;
}

void addTicker(std::function<bool(double)> tickFn) {
  driver().tickers.push_back(std::move(tickFn));
  ensureTimer();
}

void resetForTesting() {
  auto& d = driver();
  d.running.clear();
  d.tickers.clear();
  if (d.timer) d.timer->invalidate();
  d.timer = nullptr;
  contextStack().clear();
}

std::size_t runningCount() {
  return driver().running.size();
}

}  // namespace animation

// ---- animators ----

void ViewAnimator::setFrame(const Rect& frame) {
  auto view = view_.lock();
  if (!view) return;
  Rect f = view->frame();
  ns::Weak<View> weak = view;
  animation::start(
      view, "frame", {f.origin.x, f.origin.y, f.size.width, f.size.height},
      {frame.origin.x, frame.origin.y, frame.size.width, frame.size.height},
      [weak](const animation::Values& v) {
        if (auto v2 = weak.lock()) v2->setFrame(MakeRect(v[0], v[1], v[2], v[3]));
      },
      view->animationForKey("frame"));
}

void ViewAnimator::setFrameOrigin(const Point& origin) {
  if (auto view = view_.lock()) setFrame(Rect{origin, view->frame().size});
}

void ViewAnimator::setFrameSize(const Size& size) {
  if (auto view = view_.lock()) setFrame(Rect{view->frame().origin, size});
}

void ViewAnimator::setAlphaValue(double alpha) {
  auto view = view_.lock();
  if (!view) return;
  ns::Weak<View> weak = view;
  animation::start(
      view, "alphaValue", {view->alphaValue()}, {alpha},
      [weak](const animation::Values& v) {
        if (auto v2 = weak.lock()) v2->setAlphaValue(v[0]);
      },
      view->animationForKey("alphaValue"));
}

void WindowAnimator::setFrame_display(const Rect& frame, bool display) {
  auto window = window_.lock();
  if (!window) return;
  Rect f = window->frame();
  ns::Weak<Window> weak = window;
  animation::start(
      window, "frame", {f.origin.x, f.origin.y, f.size.width, f.size.height},
      {frame.origin.x, frame.origin.y, frame.size.width, frame.size.height},
      [weak, display](const animation::Values& v) {
        if (auto w = weak.lock()) w->setFrame_display(MakeRect(v[0], v[1], v[2], v[3]), display);
      },
      window->animationForKey("frame"));
}

void WindowAnimator::setAlphaValue(double alpha) {
  auto window = window_.lock();
  if (!window) return;
  ns::Weak<Window> weak = window;
  animation::start(
      window, "alphaValue", {window->alphaValue()}, {alpha},
      [weak](const animation::Values& v) {
        if (auto w = weak.lock()) w->setAlphaValue(v[0]);
      },
      window->animationForKey("alphaValue"));
}

}  // namespace ak

PL_CLASS_NAMED(ak::BasicAnimation, "CABasicAnimation", ns::Object) {}
PL_CLASS_NAMED(ak::AnimationContext, "NSAnimationContext", ns::Object) {}
