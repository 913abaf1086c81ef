#include "ui/SourceListItem.h"

#include <algorithm>

#include "platform/core/Exception.h"
#include "platform/runtime/ClassBuilder.h"

namespace {

[[noreturn]] void outOfRange(const char* method, std::size_t index, std::size_t count) {
  ns::Exception::raise_format("NSRangeException", "-[SourceListItem %s]: index %lu beyond bounds [0 .. %lu]",
                              method, static_cast<unsigned long>(index), static_cast<unsigned long>(count));
}

}  // namespace

ns::Ref<SourceListItem> SourceListItem::itemWithTitle_identifier(const std::string& title,
                                                                 const std::string& identifier) {
  return itemWithTitle_identifier_icon(title, identifier, nullptr);
}

ns::Ref<SourceListItem> SourceListItem::itemWithTitle_identifier_icon(const std::string& title,
                                                                      const std::string& identifier,
                                                                      const ns::Ref<ak::Image>& icon) {
  auto item = ns::make<SourceListItem>();
  item->setTitle(title);
  item->setIdentifier(identifier);
  item->setIcon(icon);
  return item;
}

ns::Ref<SourceListItem> SourceListItem::itemWithRepresentedObject_icon(const ns::Ref<ns::Object>& object,
                                                                       const ns::Ref<ak::Image>& icon) {
  auto item = ns::make<SourceListItem>();
  item->setRepresentedObject(object);
  item->setIcon(icon);
  return item;
}

void SourceListItem::addChildItem(const ns::Ref<SourceListItem>& item) {
  children_.push_back(item);
}

void SourceListItem::insertChildItem_atIndex(const ns::Ref<SourceListItem>& item, std::size_t index) {
  if (index > children_.size()) outOfRange("insertChildItem:atIndex:", index, children_.size());
  children_.insert(children_.begin() + static_cast<long>(index), item);
}

void SourceListItem::removeChildItem(const ns::Ref<SourceListItem>& item) {
  children_.erase(std::remove(children_.begin(), children_.end(), item), children_.end());
}

void SourceListItem::removeChildItemAtIndex(std::size_t index) {
  if (index >= children_.size()) outOfRange("removeChildItemAtIndex:", index, children_.size());
  children_.erase(children_.begin() + static_cast<long>(index));
}

void SourceListItem::removeChildItems(const std::vector<ns::Ref<SourceListItem>>& items) {
  children_.erase(std::remove_if(children_.begin(), children_.end(),
                                 [&](const ns::Ref<SourceListItem>& child) {
                                   return std::find(items.begin(), items.end(), child) != items.end();
                                 }),
                  children_.end());
}

void SourceListItem::insertChildItems_atIndexes(const std::vector<ns::Ref<SourceListItem>>& items,
                                                const ns::IndexSet& indexes) {
  if (indexes.count() != items.size()) {
    ns::Exception::raise_format("NSInvalidArgumentException",
                                "-[SourceListItem insertChildItems:atIndexes:]: %lu items for %lu indexes",
                                static_cast<unsigned long>(items.size()),
                                static_cast<unsigned long>(indexes.count()));
  }
  // Checked before anything moves, so a bad index leaves the children as they were.
  std::vector<std::size_t> at;
  for (const auto& r : indexes.ranges())
    for (std::size_t i = r.location; i < r.max(); ++i) at.push_back(i);
  std::size_t count = children_.size();
  for (std::size_t k = 0; k < at.size(); ++k, ++count)
    if (at[k] > count) outOfRange("insertChildItems:atIndexes:", at[k], count);
  for (std::size_t k = 0; k < at.size(); ++k)
    children_.insert(children_.begin() + static_cast<long>(at[k]), items[k]);
}

PL_CLASS(SourceListItem, ns::Object) {}
