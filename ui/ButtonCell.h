#pragma once
// A full-width button row of the drop-down lists (the menu page and the video pop-up). A click
// tells the delegate the row's index; the selected row shows "menu_selected_bg" behind a white
// title.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/appkit/Button.h"
#include "platform/appkit/View.h"

class ButtonCellDelegate {
 public:
  virtual ~ButtonCellDelegate() = default;
  virtual void buttonCellClicked(std::int64_t idx) = 0;
};

class ButtonCell : public ak::View {
 public:
  void initWithFrame(const ak::Rect& frame) override;
  using ak::View::init;

  // The button's action: logs the title, then tells the delegate the index (unless it is -1).
  void onClick(const ns::Ref<ns::Object>& sender);

  const std::string& titleText() const { return titleText_; }
  void setTitleText(const std::string& text);
  bool selected() const { return selected_; }
  void setSelected(bool selected);
  std::int64_t idx() const { return idx_; }
  void setIdx(std::int64_t idx) { idx_ = idx; }
  // Not retained.
  std::shared_ptr<ButtonCellDelegate> buttonCellDelegate() const { return delegate_.lock(); }
  void setButtonCellDelegate(const std::shared_ptr<ButtonCellDelegate>& delegate) { delegate_ = delegate; }
  // Black and white versions of the title: white when selected and always while pressed.
  void updateButtonText();

  const ns::Ref<ak::Button>& btn() const { return btn_; }
  std::string className() const override { return "ButtonCell"; }

 private:
  ns::Ref<ak::Button> btn_;
  std::string titleText_;
  bool selected_ = false;
  std::int64_t idx_ = -1;
  std::weak_ptr<ButtonCellDelegate> delegate_;
};
