#pragma once
// Animation: contexts grouping changes made through animators, basic animations of a key path,
// and the driver that steps everything at 60 Hz on a common-mode timer of the main run loop,
// reading ns::Clock (so the virtual clock drives animations in tests).
//
//   ak::AnimationContext::runAnimationGroup_completionHandler(
//       [&](ak::AnimationContext& context) {
//         context.setDuration(0.2);
//         view->animator()->setFrame(target);
//       },
//       [] { /* once, when every animation of the group has ended */ });
//
// A new animation of a key stops the running one where it stands; a basic animation's delegate
// then hears animationDidStop:finished: with NO (YES when it ran to its end).
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/Geometry.h"
#include "platform/core/Object.h"

namespace ak {

class View;
class Window;

class BasicAnimation : public ns::Object {
 public:
  static ns::Ref<BasicAnimation> animationWithKeyPath(const std::string& keyPath);
  static ns::Ref<BasicAnimation> animation() { return animationWithKeyPath(""); }

  const std::string& keyPath() const { return keyPath_; }
  void setKeyPath(std::string keyPath) { keyPath_ = std::move(keyPath); }
  std::optional<double> fromValue() const { return from_; }
  void setFromValue(std::optional<double> value) { from_ = value; }
  std::optional<double> toValue() const { return to_; }
  void setToValue(std::optional<double> value) { to_ = value; }
  std::optional<double> byValue() const { return by_; }
  void setByValue(std::optional<double> value) { by_ = value; }
  // 0 means the context's (or the default 0.25 s).
  double duration() const { return duration_; }
  void setDuration(double duration);
  // HUGE_VALF (infinity) repeats for ever.
  float repeatCount() const { return repeatCount_; }
  void setRepeatCount(float count) { repeatCount_ = count; }
  bool isRemovedOnCompletion() const { return removedOnCompletion_; }
  void setRemovedOnCompletion(bool removed) { removedOnCompletion_ = removed; }
  // Not retained; hears animationDidStart: and animationDidStop:finished: when it answers them.
  ns::Ref<ns::Object> delegate() const { return delegate_.lock(); }
  void setDelegate(const ns::Ref<ns::Object>& delegate) { delegate_ = delegate; }

  // The value at `elapsed` seconds from the start between `from` and `to` (repeats wrap).
  double valueAt(double elapsed, double from, double to) const;
  // Whether the animation has run its course at `elapsed`.
  bool isFinishedAt(double elapsed) const;
  double effectiveDuration() const;

  // Tells the delegate (through the runtime) that the animation stopped.
  void notifyStop(bool finished);
  void notifyStart();

 private:
  std::string keyPath_;
  std::optional<double> from_, to_, by_;
  double duration_ = 0;
  float repeatCount_ = 0;
  bool removedOnCompletion_ = true;
  ns::Weak<ns::Object> delegate_;
};

class AnimationContext : public ns::Object {
 public:
  // The innermost context of the current grouping (a default one outside any grouping).
  static ns::Ref<AnimationContext> currentContext();
  static void beginGrouping();
  static void endGrouping();
  static void runAnimationGroup_completionHandler(const std::function<void(AnimationContext&)>& changes,
                                                  std::function<void()> completion);

  double duration() const { return duration_; }
  void setDuration(double duration);
  void setCompletionHandler(std::function<void()> handler);
  bool allowsImplicitAnimation() const { return allowsImplicit_; }
  void setAllowsImplicitAnimation(bool allows) { allowsImplicit_ = allows; }

  struct Group;
  std::shared_ptr<Group> group() const { return group_; }

  AnimationContext();

 private:
  double duration_;
  bool allowsImplicit_ = false;
  std::shared_ptr<Group> group_;
};

// The engine behind animators and layers.
namespace animation {

using Values = std::vector<double>;
// Starts animating `key` of `target` from `from` to `to`, calling `apply` with each step's
// values and last with `to`. Stops a running animation of the same target and key first.
void start(const ns::Ref<ns::Object>& target, const std::string& key, Values from, Values to,
           std::function<void(const Values&)> apply, const ns::Ref<BasicAnimation>& custom);
// Stops the animation of the key where it stands (the delegate hears NO).
void stop(const ns::Object* target, const std::string& key);
bool isAnimating(const ns::Object* target, const std::string& key);
// Keeps `tick` called on each frame until it answers false.
void addTicker(std::function<bool(double now)> tick);
// Tests: drop every running animation and the driver timer.
void resetForTesting();
std::size_t runningCount();

}  // namespace animation

class ViewAnimator : public ns::Object {
 public:
  explicit ViewAnimator(const ns::Ref<View>& view) : view_(view) {}
  void setFrame(const Rect& frame);
  void setFrameOrigin(const Point& origin);
  void setFrameSize(const Size& size);
  void setAlphaValue(double alpha);

 private:
  ns::Weak<View> view_;
};

class WindowAnimator : public ns::Object {
 public:
  explicit WindowAnimator(const ns::Ref<Window>& window) : window_(window) {}
  void setFrame_display(const Rect& frame, bool display);
  void setAlphaValue(double alpha);

 private:
  ns::Weak<Window> window_;
};

}  // namespace ak
