#pragma once
// Menus and menu items. Auto-enabling asks the item's target (or, for a nil target, the first
// responder in the chain) whether it answers the action and, when it implements
// validateMenuItem:, whether it agrees. Menus shown by pop-up calls, pop-up cells and right
// clicks track in a modal loop in the event-tracking mode (default-mode timers wait); the
// chosen item's action is sent after the menu closed, with the item as sender.
//
// The choice comes from the menu answerer when one is installed (tests install
// pltest::ModalScript), else from the on-screen presenter's menus. With neither, a shown menu
// closes with no choice.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/appkit/Event.h"
#include "platform/appkit/Geometry.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/runtime/Sel.h"

namespace ak {

class Menu;
class Image;
class View;

class MenuItem : public ns::Object {
 public:
  MenuItem();
  ~MenuItem() override;
  static ns::Ref<MenuItem> initWithTitle_action_keyEquivalent(const std::string& title, ns::Sel action,
                                                              const std::string& keyEquivalent);
  static ns::Ref<MenuItem> separatorItem();

  const std::string& title() const { return title_; }
  void setTitle(const std::string& title);
  bool isSeparatorItem() const { return separator_; }
  ns::Sel action() const { return action_; }
  void setAction(ns::Sel action) { action_ = action; }
  // Not retained. An item whose target was set and has since been freed stays disabled.
  ns::Ref<ns::Object> target() const { return target_.lock(); }
  void setTarget(const ns::Ref<ns::Object>& target);
  bool targetWasFreed() const { return hadTarget_ && target_.expired(); }
  long tag() const { return tag_; }
  void setTag(long tag) { tag_ = tag; }
  long state() const { return state_; }
  void setState(long state);
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden);
  // An upper-case letter implies Shift.
  const std::string& keyEquivalent() const { return keyEquivalent_; }
  void setKeyEquivalent(const std::string& key);
  unsigned long keyEquivalentModifierMask() const { return keyMask_; }
  void setKeyEquivalentModifierMask(unsigned long mask);
  const ns::Value& representedObject() const { return represented_; }
  void setRepresentedObject(const ns::Value& object) { represented_ = object; }
  ns::Ref<Image> image() const { return image_; }
  void setImage(const ns::Ref<Image>& image);
  long indentationLevel() const { return indentation_; }
  void setIndentationLevel(long level) { indentation_ = std::clamp(level, 0l, 15l); }
  ns::Ref<Menu> submenu() const { return submenu_; }
  void setSubmenu(const ns::Ref<Menu>& submenu);
  bool hasSubmenu() const { return submenu_ != nullptr; }
  // The menu holding the item (not retained).
  ns::Ref<Menu> menu() const { return menu_.lock(); }
  void setMenu(const ns::Ref<Menu>& menu) { menu_ = menu; }

  // A copy with the same fields and a deep copy of the submenu.
  ns::Ref<MenuItem> copy() const;
  std::string className() const override { return "NSMenuItem"; }

 private:
  // Tells the presenter that shows the menu holding the item.
  void changed();
  std::string title_;
  bool separator_ = false;
  ns::Sel action_;
  ns::Weak<ns::Object> target_;
  bool hadTarget_ = false;
  long tag_ = 0;
  long state_ = 0;
  bool enabled_ = true;
  bool hidden_ = false;
  std::string keyEquivalent_;
  unsigned long keyMask_ = CommandKeyMask;
  ns::Value represented_;
  ns::Ref<Image> image_;
  long indentation_ = 0;
  ns::Ref<Menu> submenu_;
  ns::Weak<Menu> menu_;
};

// How a menu is being shown, for the answerer.
struct MenuPresentation {
  enum class Kind { Context, PopUp, PopUpCell };
  Kind kind = Kind::Context;
  ns::Ref<Menu> menu;
  ns::Ref<View> view;
  Point location;                     // in the view (context: the event's location)
  ns::Ref<MenuItem> positioningItem;  // popUpMenuPositioningItem / pop-up cells
  Rect frame;                         // pop-up cells: the frame the menu shows over
};

class Menu : public ns::Object {
 public:
  Menu();
  ~Menu() override;
  static ns::Ref<Menu> initWithTitle(const std::string& title);

  const std::string& title() const { return title_; }
  void setTitle(const std::string& title);

  // ---- items ----
  const std::vector<ns::Ref<MenuItem>>& itemArray() const { return items_; }
  long numberOfItems() const { return long(items_.size()); }
  void addItem(const ns::Ref<MenuItem>& item);
  ns::Ref<MenuItem> addItemWithTitle_action_keyEquivalent(const std::string& title, ns::Sel action,
                                                          const std::string& keyEquivalent);
  // Raises NSRangeException beyond the end; an item already in a menu raises
  // NSInternalInconsistencyException.
  void insertItem_atIndex(const ns::Ref<MenuItem>& item, long index);
  ns::Ref<MenuItem> insertItemWithTitle_action_keyEquivalent_atIndex(const std::string& title, ns::Sel action,
                                                                     const std::string& keyEquivalent,
                                                                     long index);
  void removeItem(const ns::Ref<MenuItem>& item);
  // Raises NSRangeException when out of range.
  void removeItemAtIndex(long index);
  void removeAllItems();
  // Raises NSRangeException when out of range.
  ns::Ref<MenuItem> itemAtIndex(long index) const;
  ns::Ref<MenuItem> itemWithTag(long tag) const;
  ns::Ref<MenuItem> itemWithTitle(const std::string& title) const;
  long indexOfItem(const ns::Ref<MenuItem>& item) const;
  long indexOfItemWithTitle(const std::string& title) const;
  long indexOfItemWithTag(long tag) const;
  long indexOfItemWithRepresentedObject(const ns::Value& object) const;
  void setSubmenu_forItem(const ns::Ref<Menu>& submenu, const ns::Ref<MenuItem>& item);
  ns::Ref<Menu> supermenu() const { return supermenu_.lock(); }
  void setSupermenu(const ns::Ref<Menu>& menu) { supermenu_ = menu; }

  // ---- enabling ----
  bool autoenablesItems() const { return autoenables_; }
  void setAutoenablesItems(bool autoenables) { autoenables_ = autoenables; }
  // Re-validates every item (when auto-enabling), submenus included.
  void update();
  // Whether an item would be enabled by auto-enabling now.
  static bool validateItem(const ns::Ref<MenuItem>& item);

  // ---- delegate (not retained): menuNeedsUpdate:, menuWillOpen:, menuDidClose: ----
  ns::Ref<ns::Object> delegate() const { return delegate_.lock(); }
  void setDelegate(const ns::Ref<ns::Object>& delegate) { delegate_ = delegate; }

  // ---- performing ----
  // Matches modified key-downs depth first; an item that validates NO is skipped.
  virtual bool performKeyEquivalent(const ns::Ref<Event>& event);
  // Sends the item's action (with the item as sender) when it is enabled and has no submenu.
  void performActionForItemAtIndex(long index);
  static bool performActionForItem(const ns::Ref<MenuItem>& item);

  // ---- showing ----
  static void popUpContextMenu_withEvent_forView(const ns::Ref<Menu>& menu, const ns::Ref<Event>& event,
                                                 const ns::Ref<View>& view);
  // Answers whether an item was chosen.
  bool popUpMenuPositioningItem_atLocation_inView(const ns::Ref<MenuItem>& item, const Point& location,
                                                  const ns::Ref<View>& view);
  // Runs the modal tracking loop for a presentation; answers the chosen item (already acted
  // on when `perform`), or nullptr when dismissed.
  static ns::Ref<MenuItem> track(const MenuPresentation& presentation, bool perform = true);
  bool isOpen() const { return open_; }
  void cancelTracking() {}
  static void setMenuBarVisible(bool) {}
  static bool menuBarVisible() { return true; }

  // The answerer of shown menus: returns the chosen item (from the menu or its submenus) or
  // nullptr to dismiss. It runs inside the tracking loop's event-tracking pass.
  using Answerer = std::function<ns::Ref<MenuItem>(const MenuPresentation&)>;
  static void setAnswerer(Answerer answerer);
  static bool hasAnswerer();

  // A deep copy: new items, submenus copied, the same (weak) targets.
  ns::Ref<Menu> copy() const;
  std::string className() const override { return "NSMenu"; }

  // Tells the presenter that shows the menu (on screen menus are rebuilt from it).
  void changed();
  // Internal: the delegate's menuNeedsUpdate:, menuWillOpen: and menuDidClose:, for menus the
  // presenter opens on its own (the menu bar's).
  void willOpen();
  void didClose();

 private:
  void sendDelegate(const char* selector);
  std::string title_;
  std::vector<ns::Ref<MenuItem>> items_;
  ns::Weak<Menu> supermenu_;
  ns::Weak<ns::Object> delegate_;
  bool autoenables_ = true;
  bool open_ = false;
};

}  // namespace ak
