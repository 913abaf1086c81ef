#include "app/browse/MenuItem.h"

#include <cstdio>

#include "platform/runtime/ClassBuilder.h"

ns::Ref<MenuItem> MenuItem::itemWithTitle_identifier_icon_parent(const std::string& title,
                                                                 const std::string& identifier,
                                                                 const ns::Ref<ak::Image>& icon,
                                                                 const ns::Ref<MenuItem>& parent) {
  auto item = ns::make<MenuItem>();
  item->title_ = title;
  item->identifier_ = identifier;
  item->icon_ = icon;
  item->parent_ = parent;
  return item;
}

std::string MenuItem::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  return "<" + className() + ": " + address + " | identifier = " + identifier_ + " | title = " + title_ +
         " | itemtype = " + itemtype_ + " >";
}

// The declaration order is the archive's key order; keep it stable.
PL_CLASS(MenuItem, ns::Object) {
  cls.property<&MenuItem::title, &MenuItem::setTitle>("title", "C,N,V_title");
  cls.property<&MenuItem::identifier, &MenuItem::setIdentifier>("identifier", "C,N,V_identifier");
  cls.property<&MenuItem::itemtype, &MenuItem::setItemtype>("itemtype", "C,N,V_itemtype");
  cls.property<&MenuItem::badgeValue, &MenuItem::setBadgeValue>("badgeValue", "N,V_badgeValue");
}
