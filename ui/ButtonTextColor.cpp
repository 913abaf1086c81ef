#include "ui/ButtonTextColor.h"

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Colors.h"

ns::Ref<ak::Color> ButtonTextColor::textColor(const ak::Button& button) {
  auto title = button.attributedTitle();
  ns::Dictionary attributes;
  if (title && title->length() > 0) attributes = title->fontAttributesInRange(ns::Range{0, 1});
  if (attributes.count() == 0) return ak::colors::controlTextColor();
  return attributes.objectForKey(ak::ForegroundColorAttributeName).objectAs<ak::Color>();
}

void ButtonTextColor::setTextColor(ak::Button& button, const ns::Ref<ak::Color>& color) {
  auto title = button.attributedTitle();
  auto copy = ns::make<ak::MutableAttributedString>();
  if (title) copy->appendAttributedString(*title);
  const ns::Range whole{0, copy->length()};
  if (color) {
    copy->addAttribute_value_range(ak::ForegroundColorAttributeName, ns::Value(color), whole);
  } else {
    copy->removeAttribute_range(ak::ForegroundColorAttributeName, whole);
  }
  copy->fixAttributesInRange(whole);
  button.setAttributedTitle(copy);
}
