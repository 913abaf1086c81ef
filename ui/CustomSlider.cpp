#include "ui/CustomSlider.h"

#include "platform/runtime/ClassBuilder.h"

void CustomSlider::setNeedsDisplayInRect(const ak::Rect&) {
  ak::Slider::setNeedsDisplayInRect(bounds());
}

PL_CLASS(CustomSlider, ak::Slider) {}
