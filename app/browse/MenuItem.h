#pragma once
// One node of the source list: a section heading, a special list, a playlist, a subscription or
// a feed. Nodes are compared by identity, which the outline relies on to keep its expansion.
// A node archives its title, identifier, item type and badge under those names (dragged rows
// travel so on the pasteboard); its icons, children and parent stay behind.
#include <cstdint>
#include <string>
#include <vector>

#include "lib/cache/AutoArchiving.h"
#include "platform/appkit/Image.h"
#include "platform/core/Object.h"

class MenuItem : public ns::Object, public AutoArchiving {
 public:
  static ns::Ref<MenuItem> itemWithTitle_identifier_icon_parent(const std::string& title,
                                                                const std::string& identifier,
                                                                const ns::Ref<ak::Image>& icon,
                                                                const ns::Ref<MenuItem>& parent);
  static ns::Ref<MenuItem> itemWithTitle_identifier_parent(const std::string& title,
                                                           const std::string& identifier,
                                                           const ns::Ref<MenuItem>& parent) {
    return itemWithTitle_identifier_icon_parent(title, identifier, nullptr, parent);
  }

  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  const std::string& identifier() const { return identifier_; }
  void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }
  const std::string& itemtype() const { return itemtype_; }
  void setItemtype(std::string itemtype) { itemtype_ = std::move(itemtype); }
  ns::Ref<ak::Image> icon() const { return icon_; }
  void setIcon(const ns::Ref<ak::Image>& icon) { icon_ = icon; }
  ns::Ref<ak::Image> selectedIcon() const { return selectedIcon_; }
  void setSelectedIcon(const ns::Ref<ak::Image>& icon) { selectedIcon_ = icon; }
  // -1: no badge.
  std::int64_t badgeValue() const { return badgeValue_; }
  void setBadgeValue(std::int64_t value) { badgeValue_ = value; }
  std::vector<ns::Ref<MenuItem>>& children() { return children_; }
  const std::vector<ns::Ref<MenuItem>>& children() const { return children_; }
  void setChildren(std::vector<ns::Ref<MenuItem>> children) { children_ = std::move(children); }
  ns::Ref<MenuItem> parent() const { return parent_.lock(); }
  void setParent(const ns::Ref<MenuItem>& parent) { parent_ = parent; }

  bool hasBadge() const { return badgeValue_ != -1; }
  bool hasChildren() const { return !children_.empty(); }
  bool hasIcon() const { return icon_ != nullptr; }

  std::string description() const override;
  std::string className() const override { return "MenuItem"; }

 private:
  std::string title_;
  std::string identifier_;
  std::string itemtype_;
  ns::Ref<ak::Image> icon_;
  ns::Ref<ak::Image> selectedIcon_;
  std::int64_t badgeValue_ = -1;
  std::vector<ns::Ref<MenuItem>> children_;
  ns::Weak<MenuItem> parent_;
};
