#include "platform/appkit/Layer.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/Animation.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/View.h"
#include "platform/runloop/Clock.h"
#include "platform/runtime/ClassBuilder.h"

namespace ak {

namespace {
double finiteOr(double v, double fallback) {
  return std::isfinite(v) ? v : fallback;
}
}  // namespace

void Layer::setBackgroundColor(const ns::Ref<Color>& color) {
  background_ = color;
  setNeedsDisplay();
}

void Layer::setCornerRadius(double radius) {
  cornerRadius_ = std::max(0.0, finiteOr(radius, 0));
  setNeedsDisplay();
}

void Layer::setOpacity(double opacity) {
  opacity_ = std::clamp(finiteOr(opacity, 1), 0.0, 1.0);
  setNeedsDisplay();
}

void Layer::setShadowOpacity(double opacity) {
  shadowOpacity_ = std::clamp(finiteOr(opacity, 0), 0.0, 1.0);
  setNeedsDisplay();
}

void Layer::setRotation(double radians) {
  rotation_ = finiteOr(radians, rotation_);
  setNeedsDisplay();
}

Size Layer::outset() const {
  if (shadowOpacity_ <= 0) return ZeroSize;
  const double blur = 2 * shadowRadius_ + 1;
  return {std::fabs(shadowOffset_.width) + blur, std::fabs(shadowOffset_.height) + blur};
}

void Layer::setNeedsDisplay() {
  if (auto view = view_.lock()) view->setNeedsDisplay(true);
}

void Layer::addAnimation_forKey(const ns::Ref<BasicAnimation>& animation, const std::string& key) {
  if (!animation) return;
  std::string k = key.empty() ? animation->keyPath() : key;
  auto it = animations_.find(k);
  if (it != animations_.end()) {
    auto old = it->second.animation;
    animations_.erase(it);
    order_.erase(std::remove(order_.begin(), order_.end(), k), order_.end());
    old->notifyStop(false);
  }
  animations_[k] = Running{animation, ns::Clock::now()};
  order_.push_back(k);
  animation->notifyStart();
  setNeedsDisplay();
  if (!ticking_) {
    ticking_ = true;
    ns::Weak<Layer> weak = self<Layer>();
    animation::addTicker([weak](double now) {
      auto layer = weak.lock();
      if (!layer) return false;
      bool more = layer->tick(now);
      if (!more) layer->ticking_ = false;
      return more;
    });
  }
}

bool Layer::tick(double now) {
  std::vector<ns::Ref<BasicAnimation>> finished;
  for (auto it = animations_.begin(); it != animations_.end();) {
    const auto& r = it->second;
    if (r.animation->isFinishedAt(now - r.start) && r.animation->isRemovedOnCompletion()) {
      finished.push_back(r.animation);
      order_.erase(std::remove(order_.begin(), order_.end(), it->first), order_.end());
      it = animations_.erase(it);
    } else {
      ++it;
    }
  }
  setNeedsDisplay();
  for (auto& a : finished) a->notifyStop(true);
  // Keep stepping while something still moves.
  for (const auto& [key, r] : animations_) {
    if (!r.animation->isFinishedAt(now - r.start)) return true;
  }
  return false;
}

void Layer::removeAnimationForKey(const std::string& key) {
  auto it = animations_.find(key);
  if (it == animations_.end()) return;
  auto old = it->second.animation;
  animations_.erase(it);
  order_.erase(std::remove(order_.begin(), order_.end(), key), order_.end());
  setNeedsDisplay();
  old->notifyStop(false);
}

void Layer::removeAllAnimations() {
  auto keys = order_;
  for (const auto& k : keys) removeAnimationForKey(k);
}

ns::Ref<BasicAnimation> Layer::animationForKey(const std::string& key) const {
  auto it = animations_.find(key);
  return it == animations_.end() ? nullptr : it->second.animation;
}

std::vector<std::string> Layer::animationKeys() const {
  return order_;
}

double Layer::presentation(const std::string& keyPath, double model) const {
  double value = model;
  const double now = ns::Clock::now();
  for (const auto& key : order_) {
    const auto& r = animations_.at(key);
    const auto& a = *r.animation;
    if (a.keyPath() != keyPath) continue;
    double from = a.fromValue().value_or(model);
    double to = a.toValue() ? *a.toValue() : a.byValue() ? from + *a.byValue() : model;
    double elapsed = now - r.start;
    value = a.isFinishedAt(elapsed) ? model : a.valueAt(elapsed, from, to);
  }
  return value;
}

double Layer::presentationRotation() const {
  double r = presentation("transform.rotation.z", rotation_);
  return presentation("transform.rotation", r);
}

double Layer::presentationOpacity() const {
  return std::clamp(presentation("opacity", opacity_), 0.0, 1.0);
}

}  // namespace ak

PL_CLASS_NAMED(ak::Layer, "CALayer", ns::Object) {}
