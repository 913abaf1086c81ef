#include "platform/appkit/Shadow.h"

#include "platform/appkit/GraphicsContext.h"

namespace ak {

Shadow::Shadow() : color_(Color::colorWithCalibratedWhite_alpha(0, 1.0 / 3)) {}

void Shadow::setShadowColor(ns::Ref<Color> color) {
  color_ = color ? std::move(color) : Color::colorWithCalibratedWhite_alpha(0, 1.0 / 3);
}

void Shadow::set() const {
  if (auto context = GraphicsContext::currentContext()) context->setShadow(this);
}

bool Shadow::isEqual(const ns::Object* other) const {
  auto* s = dynamic_cast<const Shadow*>(other);
  return s && s->offset_ == offset_ && s->blur_ == blur_ && s->color_->isEqual(color_.get());
}

std::size_t Shadow::hash() const {
  return color_->hash() ^ std::hash<double>()(offset_.height + 7 * blur_);
}

}  // namespace ak
