#pragma once
// Pop-up and pull-down buttons. One display pass calls drawWithFrame_inView,
// drawBezelWithFrame_inView, drawInteriorWithFrame_inView, then drawImageWithFrame_inView (the
// arrow, given the cell frame) and drawTitleWithFrame_inView. A pull-down keeps item 0 as its
// title whatever is chosen.
#include <string>
#include <vector>

#include "platform/appkit/Button.h"
#include "platform/appkit/Menu.h"

namespace ak {

class PopUpButtonCell : public ButtonCell {
 public:
  PopUpButtonCell();
  void initTextCell(const std::string& string) override;
  void initTextCell_pullsDown(const std::string& string, bool pullsDown);

  ns::Ref<Menu> menu() const { return menu_; }
  void setMenu(const ns::Ref<Menu>& menu);
  bool pullsDown() const { return pullsDown_; }
  void setPullsDown(bool pullsDown);

  // ---- items ----
  void addItemWithTitle(const std::string& title);
  void addItemsWithTitles(const std::vector<std::string>& titles);
  void insertItemWithTitle_atIndex(const std::string& title, long index);
  void removeItemWithTitle(const std::string& title);
  void removeItemAtIndex(long index);
  void removeAllItems();
  long numberOfItems() const { return menu_->numberOfItems(); }
  std::vector<ns::Ref<MenuItem>> itemArray() const { return menu_->itemArray(); }
  std::vector<std::string> itemTitles() const;
  // Raises NSRangeException when out of range, as the menu does.
  ns::Ref<MenuItem> itemAtIndex(long index) const { return menu_->itemAtIndex(index); }
  ns::Ref<MenuItem> itemWithTitle(const std::string& title) const { return menu_->itemWithTitle(title); }
  ns::Ref<MenuItem> lastItem() const;
  long indexOfItem(const ns::Ref<MenuItem>& item) const { return menu_->indexOfItem(item); }
  long indexOfItemWithTitle(const std::string& title) const { return menu_->indexOfItemWithTitle(title); }
  long indexOfItemWithTag(long tag) const { return menu_->indexOfItemWithTag(tag); }
  long indexOfItemWithRepresentedObject(const ns::Value& object) const {
    return menu_->indexOfItemWithRepresentedObject(object);
  }

  // ---- selection (-1 when nothing is selected) ----
  void selectItem(const ns::Ref<MenuItem>& item);
  void selectItemAtIndex(long index);
  bool selectItemWithTitle(const std::string& title);
  bool selectItemWithTag(long tag);
  long indexOfSelectedItem() const;
  ns::Ref<MenuItem> selectedItem() const;
  std::string titleOfSelectedItem() const;

  // The title shown: item 0 of a pull-down, else the selected item's.
  std::string title() const override;
  void setTitle(const std::string& title) override;
  ns::Value objectValue() const override { return ns::Value(indexOfSelectedItem()); }
  void setObjectValue(const ns::Value& value) override { selectItemAtIndex(value.integerValue()); }
  std::string stringValue() const override { return titleOfSelectedItem(); }
  // Selects the item with that title (adding none).
  void setStringValue(const std::string& string) override { selectItemWithTitle(string); }

  Size cellSizeForBounds(const Rect& bounds) const override;
  Rect titleRectForBounds(const Rect& bounds) const override;
  void drawInteriorWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView) override;
  // The arrow at the right end of the frame.
  virtual void drawImageWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView);
  virtual void drawTitleWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView);

  // Shows the menu over `frame` in a modal tracking loop; a choice is selected, its own
  // action (if any) runs, then the cell's action is sent with the control as sender.
  virtual void performClickWithFrame_inView(const Rect& frame, const ns::Ref<View>& controlView);
  bool trackMouse_inRect_ofView_untilMouseUp(const ns::Ref<Event>& event, const Rect& cellFrame,
                                             const ns::Ref<View>& controlView, bool untilMouseUp) override;

  std::string className() const override { return "NSPopUpButtonCell"; }

 private:
  ns::Ref<Menu> menu_;
  bool pullsDown_ = false;
  ns::Weak<MenuItem> selected_;
};

class PopUpButton : public Button {
 public:
  static ns::Class cellClass();
  void initWithFrame_pullsDown(const Rect& frame, bool pullsDown);
  using Button::init;
  void init(const Rect& frame, bool pullsDown) { initWithFrame_pullsDown(frame, pullsDown); }
  ns::Ref<PopUpButtonCell> popUpCell() const { return std::dynamic_pointer_cast<PopUpButtonCell>(cell_); }

  ns::Ref<Menu> menu() const;
  void setMenu(const ns::Ref<Menu>& menu);
  bool pullsDown() const;
  void setPullsDown(bool pullsDown);
  void addItemWithTitle(const std::string& title);
  void addItemsWithTitles(const std::vector<std::string>& titles);
  void insertItemWithTitle_atIndex(const std::string& title, long index);
  void removeItemAtIndex(long index);
  void removeAllItems();
  long numberOfItems() const;
  std::vector<std::string> itemTitles() const;
  ns::Ref<MenuItem> itemAtIndex(long index) const;
  ns::Ref<MenuItem> itemWithTitle(const std::string& title) const;
  ns::Ref<MenuItem> lastItem() const;
  long indexOfItemWithTitle(const std::string& title) const;
  long indexOfItemWithTag(long tag) const;
  void selectItem(const ns::Ref<MenuItem>& item);
  void selectItemAtIndex(long index);
  bool selectItemWithTitle(const std::string& title);
  bool selectItemWithTag(long tag);
  long indexOfSelectedItem() const;
  ns::Ref<MenuItem> selectedItem() const;
  std::string titleOfSelectedItem() const;

  void mouseDown(const ns::Ref<Event>& event) override;
  void performClick(const ns::Ref<ns::Object>& sender) override;
  std::string className() const override { return "NSPopUpButton"; }
};

}  // namespace ak
