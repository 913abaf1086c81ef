#pragma once
// A control around a SourceListBadgeCell, for badges in view-based source-list rows. Its values
// live in the cell; setting them does not redisplay.
#include <cstdint>

#include "platform/appkit/Control.h"
#include "ui/SourceListBadgeCell.h"

class SourceListBadgeView : public ak::Control {
 public:
  // Asked through the runtime by the control's initialiser.
  static ns::Class cellClass();

  std::uint64_t badgeValue() const;
  void setBadgeValue(std::uint64_t value);
  ns::Ref<ak::Color> textColor() const;
  void setTextColor(const ns::Ref<ak::Color>& color);
  ns::Ref<ak::Color> backgroundColor() const;
  void setBackgroundColor(const ns::Ref<ak::Color>& color);

  std::string className() const override { return "SourceListBadgeView"; }

 private:
  ns::Ref<SourceListBadgeCell> badgeCell() const;
};
