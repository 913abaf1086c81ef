#pragma once
// The views of the source list's rows: `TreeHeaderCellView` for a section heading (its title
// over a nearly invisible button that opens or closes the section) and `TreeItemCellView` for a
// list (icon, title, count) on its bar image, orange while selected. A row's title is edited in
// place for playlists; the end of the edit is posted once. Main thread only.
#include "platform/appkit/TableView.h"

class MenuItem;
namespace ak {
class Button;
class ImageView;
class TextField;
}  // namespace ak
namespace ns {
class Notification;
}

class TreeHeaderCellView : public ak::View {
 public:
  using ak::View::init;
  void initWithFrame(const ak::Rect& frame) override;
  void initWithCoder(ak::NibCoder& coder) override;
  void drawRect(const ak::Rect& dirtyRect) override;
  // Opens or closes the heading's section through the source list's controller.
  void OnButton(const ns::Ref<ns::Object>& sender);
  void mouseDown(const ns::Ref<ak::Event>& event) override;
  void rightMouseDown(const ns::Ref<ak::Event>& event) override;

  ns::Ref<ak::TextField> titleTextField() const { return titleTextField_; }
  void setTitleTextField(const ns::Ref<ak::TextField>& field) { titleTextField_ = field; }
  ns::Ref<ak::Button> button() const { return button_.lock(); }
  // The button's alpha drops to 0.1 here, as on creation.
  void setButton(const ns::Ref<ak::Button>& button);
  ns::Ref<MenuItem> menuItem() const { return menuItem_.lock(); }
  void setMenuItem(const ns::Ref<MenuItem>& item) { menuItem_ = item; }

  std::string className() const override { return "TreeHeaderCellView"; }

 private:
  void dimButton();
  ns::Ref<ak::TextField> titleTextField_;
  ns::Weak<ak::Button> button_;
  ns::Weak<MenuItem> menuItem_;
};

class TreeItemCellView : public ak::TableCellView {
 public:
  // Becomes its title field's delegate and works out whether the appearance interface exists.
  void setup();
  // Dims the title (grey 68) when the row's list cannot be shown now, else grey 148.
  void setAvailable(bool available);
  // Whether the row holding this view is one of the outline's selected rows.
  bool isSelected() const;
  // The style given is not used: the selection and the focus decide the bar and the colours.
  void setBackgroundStyle(ak::BackgroundStyle style) override;

  // ---- the title field's delegate (called through the runtime) ----
  ns::BOOL control_textShouldBeginEditing(ns::Ref<ns::Object> control, ns::Ref<ns::Object> editor);
  void controlTextDidBeginEditing(ns::Ref<ns::Notification> note);
  // Return stores the text as the node's title and posts "MyOutlineViewEndEdit"; any other
  // ending posts "MyOutlineViewEndCancel". Once per edit.
  void controlTextDidEndEditing(ns::Ref<ns::Notification> note);

  ns::Ref<ak::ImageView> iconImg() const { return iconImg_; }
  void setIconImg(const ns::Ref<ak::ImageView>& view) { iconImg_ = view; }
  ns::Ref<ak::ImageView> bgImg() const { return bgImg_; }
  void setBgImg(const ns::Ref<ak::ImageView>& view) { bgImg_ = view; }
  ns::Ref<ak::TextField> titleTextField() const { return titleTextField_; }
  void setTitleTextField(const ns::Ref<ak::TextField>& field);
  ns::Ref<ak::TextField> countTextField() const { return countTextField_; }
  void setCountTextField(const ns::Ref<ak::TextField>& field) { countTextField_ = field; }
  ns::Ref<MenuItem> menuItem() const { return menuItem_; }
  void setMenuItem(const ns::Ref<MenuItem>& item) { menuItem_ = item; }
  bool isNotAvailable() const { return isNotAvailable_; }
  bool hasAppearanceAPI() const { return hasAppearanceAPI_; }
  // The name of the bar image shown ("black_bar", "orange_bar" or "orange_bar_out").
  const std::string& barImageName() const { return barImageName_; }
  // Answered so that the appearance interface can be found through the runtime.
  void setAppearanceObject(ns::Ref<ns::Object> appearance) { setAppearance(appearance); }

  std::string className() const override { return "TreeItemCellView"; }

 private:
  void setBar(const char* name);
  void showEditingColours();
  void showRestingColours();

  ns::Ref<ak::ImageView> iconImg_, bgImg_;
  ns::Ref<ak::TextField> titleTextField_, countTextField_;
  ns::Ref<MenuItem> menuItem_;
  bool isNotAvailable_ = false;
  bool hasAppearanceAPI_ = false;
  bool editing_ = false;
  std::string barImageName_;
};

// The grey levels of a row's texts (of 255).
inline constexpr int kTreeTitleGrey = 148;
inline constexpr int kTreeTitleDimmedGrey = 68;
inline constexpr int kTreeBadgeGrey = 64;
inline constexpr int kTreeEditingGrey = 128;
