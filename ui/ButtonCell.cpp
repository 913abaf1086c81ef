#include "ui/ButtonCell.h"

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/ParagraphStyle.h"
#include "platform/core/Log.h"
#include "platform/runtime/ClassBuilder.h"

namespace {

constexpr char kSelectedBackground[] = "menu_selected_bg";

// The row's button cell: the image lies behind the title over the whole row, the title is drawn
// as its paragraph style aligns it, and while pressed it shows its own alternate title.
class RowButtonCell : public ak::ButtonCell {
 public:
  void setAttributedAlternateTitle(const ns::Ref<ak::AttributedString>& title) {
    alternate_ = title;
    setAlternateTitle(title ? title->string() : std::string());
  }
  ak::Rect imageRectForBounds(const ak::Rect& bounds) const override {
    auto image = displayedImage();
    if (!image) return ak::ZeroRect;
    return ak::ScaledImageRect(image->size(), drawingRectForBounds(bounds), imageScaling());
  }
  ak::Rect titleRectForBounds(const ak::Rect& bounds) const override { return drawingRectForBounds(bounds); }
  ak::Rect drawTitle_withFrame_inView(const ns::Ref<ak::AttributedString>& title, const ak::Rect& frame,
                                      const ns::Ref<ak::View>&) override {
    const bool pressed = isHighlighted() && (highlightsBy() & ak::ContentsCellMask);
    auto text = pressed && alternate_ ? alternate_ : title;
    if (!text) return ak::ZeroRect;
    const ak::Size size = text->size();
    ak::Rect rect = frame;
    if (size.height < frame.size.height) {
      rect.origin.y += (frame.size.height - size.height) / 2;
      rect.size.height = size.height;
    }
    text->drawInRect(rect);
    return rect;
  }

 private:
  ns::Ref<ak::AttributedString> alternate_;
};

ns::Ref<ak::Font> titleFont() {
  // The face of the original design is rarely installed: the system font stands in for it.
  if (auto font = ak::Font::fontWithName_size("AppleSDGothicNeo-Medium", 13.0)) return font;
  return ak::Font::systemFontOfSize(13.0);
}

}  // namespace

void ButtonCell::initWithFrame(const ak::Rect& frame) {
  ak::View::initWithFrame(frame);
  idx_ = -1;
  setAutoresizingMask(ak::ViewWidthSizable);
  btn_ = ak::make<ak::Button>(bounds());
  auto cell = ns::make<RowButtonCell>();
  cell->initTextCell("");
  btn_->setCell(cell);
  btn_->setAutoresizingMask(ak::ViewWidthSizable | ak::ViewHeightSizable);
  btn_->setTitle("");
  btn_->setTarget(self<ButtonCell>());
  btn_->setAction(ns::Sel("onClick:"));
  btn_->setImage(nullptr);
  btn_->setAlternateImage(ak::Image::imageNamed(kSelectedBackground));
  btn_->setImageScaling(ak::ImageScaling::AxesIndependently);
  btn_->setBordered(false);
  btn_->setButtonType(ak::ButtonType::MomentaryChange);
  addSubview(btn_);
}

void ButtonCell::onClick(const ns::Ref<ns::Object>&) {
  ns::Log("onClick:%@", titleText_);
  if (idx_ == -1) return;
  if (auto delegate = delegate_.lock()) delegate->buttonCellClicked(idx_);
}

void ButtonCell::setTitleText(const std::string& text) {
  titleText_ = text;
  updateButtonText();
}

void ButtonCell::setSelected(bool selected) {
  selected_ = selected;
  auto background = ak::Image::imageNamed(kSelectedBackground);
  btn_->setImage(selected ? background : nullptr);
  btn_->setAlternateImage(background);
  updateButtonText();
}

void ButtonCell::updateButtonText() {
  auto style = ns::make<ak::MutableParagraphStyle>(
      ak::TextAlignment::Left, ak::ParagraphStyle::defaultParagraphStyle()->lineBreakMode());
  auto attributes = [&](const ns::Ref<ak::Color>& color) {
    ns::Dictionary d;
    d.set(ak::ParagraphStyleAttributeName, ns::Value(style));
    d.set(ak::FontAttributeName, ns::Value(titleFont()));
    d.set(ak::ForegroundColorAttributeName, ns::Value(color));
    return d;
  };
  auto black = ns::make<ak::AttributedString>(titleText_, attributes(ak::colors::blackColor()));
  auto white = ns::make<ak::AttributedString>(titleText_, attributes(ak::colors::whiteColor()));
  btn_->setAttributedTitle(selected_ ? white : black);
  if (auto cell = std::dynamic_pointer_cast<RowButtonCell>(btn_->cell()))
    cell->setAttributedAlternateTitle(white);
  btn_->setNeedsDisplay(true);
}

PL_CLASS(ButtonCell, ak::View) {
  cls.method<&ButtonCell::onClick>("onClick:");
}
