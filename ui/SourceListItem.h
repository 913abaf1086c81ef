#pragma once
// An optional tree node a source list's data source may hand out: a title, an identifier, an
// icon, a badge value and child items.
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/Image.h"
#include "platform/core/Number.h"
#include "platform/core/Object.h"
#include "platform/foundation/IndexSet.h"

class SourceListItem : public ns::Object {
 public:
  static ns::Ref<SourceListItem> itemWithTitle_identifier(const std::string& title,
                                                          const std::string& identifier);
  static ns::Ref<SourceListItem> itemWithTitle_identifier_icon(const std::string& title,
                                                               const std::string& identifier,
                                                               const ns::Ref<ak::Image>& icon);
  static ns::Ref<SourceListItem> itemWithRepresentedObject_icon(const ns::Ref<ns::Object>& object,
                                                                const ns::Ref<ak::Image>& icon);

  // A copy: changing it leaves the item as it is.
  std::vector<ns::Ref<SourceListItem>> children() const { return children_; }
  void setChildren(std::vector<ns::Ref<SourceListItem>> children) { children_ = std::move(children); }
  bool hasChildren() const { return !children_.empty(); }

  // The array operations of the same names; an index past the end raises NSRangeException.
  void addChildItem(const ns::Ref<SourceListItem>& item);
  void insertChildItem_atIndex(const ns::Ref<SourceListItem>& item, std::size_t index);
  // Removes every occurrence of the item.
  void removeChildItem(const ns::Ref<SourceListItem>& item);
  void removeChildItemAtIndex(std::size_t index);
  void removeChildItems(const std::vector<ns::Ref<SourceListItem>>& items);
  // The items go to the indexes in ascending order; their counts must match.
  void insertChildItems_atIndexes(const std::vector<ns::Ref<SourceListItem>>& items,
                                  const ns::IndexSet& indexes);

  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  ns::Ref<ak::Image> icon() const { return icon_; }
  void setIcon(const ns::Ref<ak::Image>& icon) { icon_ = icon; }
  // Not retained.
  ns::Ref<ns::Object> representedObject() const { return representedObject_.lock(); }
  void setRepresentedObject(const ns::Ref<ns::Object>& object) { representedObject_ = object; }
  const std::string& identifier() const { return identifier_; }
  void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }
  std::optional<ns::Number> badgeValue() const { return badgeValue_; }
  void setBadgeValue(std::optional<ns::Number> value) { badgeValue_ = std::move(value); }

  std::string className() const override { return "SourceListItem"; }

 private:
  std::vector<ns::Ref<SourceListItem>> children_;
  std::string title_;
  ns::Ref<ak::Image> icon_;
  ns::Weak<ns::Object> representedObject_;
  std::string identifier_;
  std::optional<ns::Number> badgeValue_;
};
