#pragma once
// The pill-shaped count badge of a source-list row. The source list draws every badge with one
// reusable instance, so a cell keeps the last value and colours set on it.
#include <cstdint>

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Cell.h"
#include "platform/appkit/Color.h"

class SourceListBadgeCell : public ak::Cell {
 public:
  // A text cell with the empty string.
  void init() { initTextCell(""); }

  ns::Ref<ak::Color> textColor() const { return textColor_; }
  void setTextColor(const ns::Ref<ak::Color>& color) { textColor_ = color; }
  ns::Ref<ak::Color> backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(const ns::Ref<ak::Color>& color) { backgroundColor_ = color; }
  std::uint64_t badgeValue() const { return badgeValue_; }
  void setBadgeValue(std::uint64_t value) { badgeValue_ = value; }

  // The value as "%ld" in the bold system font of size 11.
  ns::Ref<ak::AttributedString> badgeString() const;
  // The text's width plus 10, and its height.
  ak::Size cellSize() const override;
  void drawWithFrame_inView(const ak::Rect& cellFrame, const ns::Ref<ak::View>& controlView) override;

  std::string className() const override { return "SourceListBadgeCell"; }

 private:
  ns::Ref<ak::Color> textColor_;
  ns::Ref<ak::Color> backgroundColor_;
  std::uint64_t badgeValue_ = 0;
};
