#include "platform/appkit/Button.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/BezierPath.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/View.h"
#include "platform/core/Str.h"
#include "platform/runtime/ClassBuilder.h"

namespace ak {

namespace {
constexpr double kCheckBoxSide = 14;
constexpr double kCheckBoxGap = 4;
}  // namespace

Rect ScaledImageRect(const Size& imageSize, const Rect& bounds, ImageScaling scaling) {
  Size size = imageSize;
  if (size.width <= 0 || size.height <= 0) return ZeroRect;
  const double fx = bounds.size.width / size.width, fy = bounds.size.height / size.height;
  switch (scaling) {
    case ImageScaling::AxesIndependently:
      return bounds;
    case ImageScaling::None:
      break;
    case ImageScaling::ProportionallyDown: {
      const double f = std::min({1.0, fx, fy});
      size = {size.width * f, size.height * f};
      break;
    }
    case ImageScaling::ProportionallyUpOrDown: {
      const double f = std::min(fx, fy);
      size = {size.width * f, size.height * f};
      break;
    }
  }
  return MakeRect(bounds.origin.x + (bounds.size.width - size.width) / 2,
                  bounds.origin.y + (bounds.size.height - size.height) / 2, size.width, size.height);
}

// ---- ButtonCell ----

void ButtonCell::initTextCell(const std::string& string) {
  ActionCell::initTextCell("");
  title_ = ns::str::toUtf8(ns::str::toUtf16(string));
  bordered_ = true;
}

void ButtonCell::initImageCell(const ns::Ref<Image>& image) {
  ActionCell::initImageCell(image);
  type_ = CellType::Text;  // a button keeps its title beside the image
  bordered_ = true;
}

void ButtonCell::setTitle(const std::string& title) {
  title_ = ns::str::toUtf8(ns::str::toUtf16(title));
  attributedTitle_ = nullptr;
  updateControlView();
}

ns::Ref<AttributedString> ButtonCell::attributedTitle() const {
  if (attributedTitle_) return attributedTitle_;
  return ns::make<AttributedString>(title_, textAttributes());
}

void ButtonCell::setAttributedTitle(const ns::Ref<AttributedString>& title) {
  attributedTitle_ = title;
  title_ = title ? title->string() : std::string();
  updateControlView();
}

void ButtonCell::setAlternateTitle(const std::string& title) {
  alternateTitle_ = ns::str::toUtf8(ns::str::toUtf16(title));
  updateControlView();
}

void ButtonCell::setAlternateImage(const ns::Ref<Image>& image) {
  alternateImage_ = image;
  updateControlView();
}

void ButtonCell::setButtonType(ButtonType type) {
  buttonType_ = type;
  switch (type) {
    case ButtonType::MomentaryLight:
      highlightsBy_ = ChangeBackgroundCellMask | ChangeGrayCellMask;
      showsStateBy_ = NoCellMask;
      break;
    case ButtonType::MomentaryPushIn:
      highlightsBy_ = PushInCellMask | ChangeGrayCellMask;
      showsStateBy_ = NoCellMask;
      break;
    case ButtonType::MomentaryChange:
      highlightsBy_ = ContentsCellMask;
      showsStateBy_ = NoCellMask;
      break;
    case ButtonType::PushOnPushOff:
      highlightsBy_ = PushInCellMask | ChangeGrayCellMask;
      showsStateBy_ = ChangeBackgroundCellMask | ChangeGrayCellMask;
      break;
    case ButtonType::OnOff:
      highlightsBy_ = ChangeBackgroundCellMask | ChangeGrayCellMask;
      showsStateBy_ = ChangeBackgroundCellMask | ChangeGrayCellMask;
      break;
    case ButtonType::Toggle:
      highlightsBy_ = PushInCellMask | ContentsCellMask;
      showsStateBy_ = ContentsCellMask;
      break;
    case ButtonType::Switch:
    case ButtonType::Radio:
      highlightsBy_ = ContentsCellMask;
      showsStateBy_ = ContentsCellMask;
      bordered_ = false;
      break;
  }
  updateControlView();
}

bool ButtonCell::togglesState() const {
  return buttonType_ == ButtonType::PushOnPushOff || buttonType_ == ButtonType::Toggle ||
         buttonType_ == ButtonType::Switch || buttonType_ == ButtonType::Radio ||
         buttonType_ == ButtonType::OnOff;
}

bool ButtonCell::showsAlternate() const {
  if (buttonType_ == ButtonType::Switch || buttonType_ == ButtonType::Radio) return false;
  return (highlighted_ && (highlightsBy_ & ContentsCellMask)) ||
         (state_ == OnState && (showsStateBy_ & ContentsCellMask));
}

std::string ButtonCell::displayedTitle() const {
  return showsAlternate() && !alternateTitle_.empty() ? alternateTitle_ : title_;
}

ns::Ref<Image> ButtonCell::displayedImage() const {
  return showsAlternate() && alternateImage_ ? alternateImage_ : image_;
}

Size ButtonCell::cellSizeForBounds(const Rect&) const {
  Size text = title_.empty() ? ZeroSize : sizeWithAttributes(title_, textAttributes());
  Size size{std::ceil(text.width), std::ceil(text.height)};
  if (image_) {
    size.width += image_->size().width + (title_.empty() ? 0 : kCheckBoxGap);
    size.height = std::max(size.height, image_->size().height);
  }
  if (buttonType_ == ButtonType::Switch || buttonType_ == ButtonType::Radio) {
    size.width += kCheckBoxSide + kCheckBoxGap;
    size.height = std::max(size.height, kCheckBoxSide);
  } else if (bordered_) {
    size.width += 24;
    size.height += 8;
  }
  return size;
}

Rect ButtonCell::imageRectForBounds(const Rect& bounds) const {
  Rect area = drawingRectForBounds(bounds);
  auto image = displayedImage();
  if (!image) return ZeroRect;
  if (title_.empty()) return ScaledImageRect(image->size(), area, imageScaling_);
  // Image on the left of the title.
  Rect left = area;
  left.size.width = std::min(area.size.width, image->size().width);
  return ScaledImageRect(image->size(), left, imageScaling_);
}

Rect ButtonCell::titleRectForBounds(const Rect& bounds) const {
  Rect area = drawingRectForBounds(bounds);
  if (buttonType_ == ButtonType::Switch || buttonType_ == ButtonType::Radio) {
    area.origin.x += kCheckBoxSide + kCheckBoxGap;
    area.size.width = std::max(0.0, area.size.width - kCheckBoxSide - kCheckBoxGap);
  } else if (image_ && !title_.empty()) {
    const double shift = image_->size().width + kCheckBoxGap;
    area.origin.x += shift;
    area.size.width = std::max(0.0, area.size.width - shift);
  }
  return area;
}

void ButtonCell::drawWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView) {
  if (bordered_ && buttonType_ != ButtonType::Switch && buttonType_ != ButtonType::Radio) {
    drawBezelWithFrame_inView(cellFrame, controlView);
  }
  drawInteriorWithFrame_inView(cellFrame, controlView);
}

void ButtonCell::drawBezelWithFrame_inView(const Rect& frame, const ns::Ref<View>&) {
  const bool pressed =
      highlighted_ && (highlightsBy_ & (PushInCellMask | ChangeGrayCellMask | ChangeBackgroundCellMask));
  const bool on = state_ == OnState && (showsStateBy_ & (ChangeGrayCellMask | ChangeBackgroundCellMask));
  (pressed || on ? colors::selectedControlColor() : colors::controlColor())->setFill();
  RectFill(frame);
  colors::darkGrayColor()->setFill();
  FrameRect(frame);
}

void ButtonCell::drawInteriorWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView) {
  if (buttonType_ == ButtonType::Switch || buttonType_ == ButtonType::Radio) {
    Rect area = drawingRectForBounds(cellFrame);
    Rect box = MakeRect(area.origin.x, area.origin.y + (area.size.height - kCheckBoxSide) / 2, kCheckBoxSide,
                        kCheckBoxSide);
    auto outline = buttonType_ == ButtonType::Radio ? BezierPath::bezierPathWithOvalInRect(box)
                                                    : BezierPath::bezierPathWithRect(box);
    colors::whiteColor()->setFill();
    outline->fill();
    colors::darkGrayColor()->setStroke();
    outline->stroke();
    if (state_ != OffState) {
      Rect mark = InsetRect(box, 3, state_ == MixedState ? 5 : 3);
      (isEnabled() ? colors::alternateSelectedControlColor() : colors::grayColor())->setFill();
      (buttonType_ == ButtonType::Radio ? BezierPath::bezierPathWithOvalInRect(mark)
                                        : BezierPath::bezierPathWithRect(mark))
          ->fill();
    }
  }
  if (auto image = displayedImage())
    drawImage_withFrame_inView(image, imageRectForBounds(cellFrame), controlView);
  std::string title = displayedTitle();
  if (!title.empty()) {
    ns::Ref<AttributedString> text = attributedTitle_ && title == title_
                                         ? attributedTitle_
                                         : ns::make<AttributedString>(title, textAttributes());
    drawTitle_withFrame_inView(text, titleRectForBounds(cellFrame), controlView);
  }
}

void ButtonCell::drawImage_withFrame_inView(const ns::Ref<Image>& image, const Rect& frame,
                                            const ns::Ref<View>&) {
  if (!image) return;
  const double fraction = !isEnabled() && imageDimsWhenDisabled_ ? 0.5 : 1.0;
  image->drawInRect_fromRect_operation_fraction_respectFlipped_hints(
      frame, ZeroRect, CompositingOperation::SourceOver, fraction, true, nullptr);
}

Rect ButtonCell::drawTitle_withFrame_inView(const ns::Ref<AttributedString>& title, const Rect& frame,
                                            const ns::Ref<View>&) {
  if (!title) return ZeroRect;
  Size size = title->size();
  Rect rect = frame;
  if (size.height < frame.size.height) {
    rect.origin.y += (frame.size.height - size.height) / 2;
    rect.size.height = size.height;
  }
  if (buttonType_ != ButtonType::Switch && buttonType_ != ButtonType::Radio &&
      size.width < frame.size.width) {
    rect.origin.x += (frame.size.width - size.width) / 2;
    rect.size.width = size.width;
  }
  title->drawInRect(rect);
  return rect;
}

bool ButtonCell::startTrackingAt_inView(const Point&, const ns::Ref<View>&) {
  setHighlighted(true);
  return true;
}

bool ButtonCell::continueTracking_at_inView(const Point&, const Point& current, const ns::Ref<View>& view) {
  setHighlighted(view && view->mouse_inRect(current, view->bounds()));
  return true;
}

void ButtonCell::stopTracking_at_inView_mouseIsUp(const Point&, const Point&, const ns::Ref<View>&, bool) {
  setHighlighted(false);
}

// ---- Button ----

ns::Class Button::cellClass() {
  return ns::objc_getClass("NSButtonCell");
}

std::string Button::title() const {
  auto c = buttonCell();
  return c ? c->title() : std::string();
}

void Button::setTitle(const std::string& title) {
  if (auto c = buttonCell()) c->setTitle(title);
}

ns::Ref<AttributedString> Button::attributedTitle() const {
  auto c = buttonCell();
  return c ? c->attributedTitle() : nullptr;
}

void Button::setAttributedTitle(const ns::Ref<AttributedString>& title) {
  if (auto c = buttonCell()) c->setAttributedTitle(title);
}

std::string Button::alternateTitle() const {
  auto c = buttonCell();
  return c ? c->alternateTitle() : std::string();
}

void Button::setAlternateTitle(const std::string& title) {
  if (auto c = buttonCell()) c->setAlternateTitle(title);
}

ns::Ref<Image> Button::image() const {
  return cell_ ? cell_->image() : nullptr;
}

void Button::setImage(const ns::Ref<Image>& image) {
  if (cell_) cell_->setImage(image);
}

ns::Ref<Image> Button::alternateImage() const {
  auto c = buttonCell();
  return c ? c->alternateImage() : nullptr;
}

void Button::setAlternateImage(const ns::Ref<Image>& image) {
  if (auto c = buttonCell()) c->setAlternateImage(image);
}

void Button::setButtonType(ButtonType type) {
  if (auto c = buttonCell()) c->setButtonType(type);
}

void Button::setState(long state) {
  if (cell_) cell_->setState(state);
}

void Button::setBordered(bool bordered) {
  if (cell_) cell_->setBordered(bordered);
}

ImageScaling Button::imageScaling() const {
  auto c = buttonCell();
  return c ? c->imageScaling() : ImageScaling::ProportionallyDown;
}

void Button::setImageScaling(ImageScaling scaling) {
  if (auto c = buttonCell()) c->setImageScaling(scaling);
  setNeedsDisplay(true);
}

void Button::setBezelStyle(BezelStyle style) {
  if (auto c = buttonCell()) c->setBezelStyle(style);
}

const std::string& Button::keyEquivalent() const {
  static const std::string none;
  auto c = buttonCell();
  return c ? c->keyEquivalent() : none;
}

void Button::setKeyEquivalent(const std::string& key) {
  if (auto c = buttonCell()) c->setKeyEquivalent(key);
}

void Button::setKeyEquivalentModifierMask(unsigned long mask) {
  if (auto c = buttonCell()) c->setKeyEquivalentModifierMask(mask);
}

void Button::performClick(const ns::Ref<ns::Object>& sender) {
  if (!isEnabled() || !cell_) return;
  auto keep = self<Button>();
  auto c = buttonCell();
  if (c && c->togglesState()) c->setNextState();
  Control::performClick(sender);
}

bool Button::performKeyEquivalent(const ns::Ref<Event>& event) {
  auto c = buttonCell();
  if (!c || c->keyEquivalent().empty() || !isEnabled() || isHiddenOrHasHiddenAncestor()) return false;
  const unsigned long relevant = ShiftKeyMask | ControlKeyMask | AlternateKeyMask | CommandKeyMask;
  if ((event->modifierFlags() & relevant) != (c->keyEquivalentModifierMask() & relevant)) return false;
  if (event->charactersIgnoringModifiers() != c->keyEquivalent()) return false;
  performClick(nullptr);
  return true;
}

bool Button::shouldActAfterTracking() {
  if (!Control::shouldActAfterTracking()) return false;
  auto c = buttonCell();
  if (c && c->togglesState()) c->setNextState();
  return true;
}

}  // namespace ak

PL_CLASS_NAMED(ak::ButtonCell, "NSButtonCell", ak::ActionCell) {}
PL_CLASS_NAMED(ak::Button, "NSButton", ak::Control) {
  cls.classMethod<&ak::Button::cellClass>("cellClass");
}
