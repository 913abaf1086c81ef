#include "ui/SourceListBadgeView.h"

#include "platform/runtime/ClassBuilder.h"

ns::Class SourceListBadgeView::cellClass() {
  return ns::objc_getClass("SourceListBadgeCell");
}

ns::Ref<SourceListBadgeCell> SourceListBadgeView::badgeCell() const {
  return std::dynamic_pointer_cast<SourceListBadgeCell>(cell());
}

std::uint64_t SourceListBadgeView::badgeValue() const {
  auto c = badgeCell();
  return c ? c->badgeValue() : 0;
}

void SourceListBadgeView::setBadgeValue(std::uint64_t value) {
  if (auto c = badgeCell()) c->setBadgeValue(value);
}

ns::Ref<ak::Color> SourceListBadgeView::textColor() const {
  auto c = badgeCell();
  return c ? c->textColor() : nullptr;
}

void SourceListBadgeView::setTextColor(const ns::Ref<ak::Color>& color) {
  if (auto c = badgeCell()) c->setTextColor(color);
}

ns::Ref<ak::Color> SourceListBadgeView::backgroundColor() const {
  auto c = badgeCell();
  return c ? c->backgroundColor() : nullptr;
}

void SourceListBadgeView::setBackgroundColor(const ns::Ref<ak::Color>& color) {
  if (auto c = badgeCell()) c->setBackgroundColor(color);
}

PL_CLASS(SourceListBadgeView, ak::Control) {
  cls.classMethod<&SourceListBadgeView::cellClass>("cellClass");
}
