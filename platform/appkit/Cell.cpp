#include "platform/appkit/Cell.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/Application.h"
#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Nib.h"
#include "platform/appkit/TextView.h"
#include "platform/appkit/View.h"
#include "platform/core/Str.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runtime/ClassBuilder.h"

namespace ak {

Cell::Cell() = default;
Cell::~Cell() = default;

void Cell::initTextCell(const std::string& string) {
  type_ = CellType::Text;
  setStringValue(string);
}

void Cell::initImageCell(const ns::Ref<Image>& image) {
  type_ = CellType::Image;
  image_ = image;
}

void Cell::initWithCoder(NibCoder& coder) {
  initTextCell("");
  if (coder.tag) tag_ = *coder.tag;
}

void Cell::setState(long state) {
  long next = state == OffState ? OffState : state == MixedState ? MixedState : OnState;
  if (next == MixedState && !allowsMixedState_) next = OnState;
  if (next == state_) return;
  state_ = next;
  updateControlView();
}

long Cell::nextState() const {
  if (state_ == MixedState) return OnState;
  if (state_ == OnState) return OffState;
  return allowsMixedState_ ? MixedState : OnState;
}

void Cell::setHighlighted(bool highlighted) {
  if (highlighted == highlighted_) return;
  highlighted_ = highlighted;
  updateControlView();
}

void Cell::setEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  updateControlView();
}

void Cell::setBordered(bool bordered) {
  bordered_ = bordered;
  if (bordered) bezeled_ = false;
  updateControlView();
}

void Cell::setBezeled(bool bezeled) {
  bezeled_ = bezeled;
  if (bezeled) bordered_ = false;
  updateControlView();
}

void Cell::setEditable(bool editable) {
  editable_ = editable;
}

void Cell::setBackgroundStyle(BackgroundStyle style) {
  backgroundStyle_ = style;
  updateControlView();
}

void Cell::setLineBreakMode(LineBreakMode mode) {
  lineBreakMode_ = mode;
  wraps_ = mode == LineBreakMode::WordWrapping || mode == LineBreakMode::CharWrapping;
}

void Cell::setWraps(bool wraps) {
  wraps_ = wraps;
  lineBreakMode_ = wraps ? LineBreakMode::WordWrapping : LineBreakMode::Clipping;
}

void Cell::setAlignment(TextAlignment alignment) {
  alignment_ = alignment;
  updateControlView();
}

void Cell::setObjectValue(const ns::Value& value) {
  value_ = value.isString() && !ns::str::isValidUtf8(value.string())
               ? ns::Value(ns::str::toUtf8(ns::str::toUtf16(value.string())))
               : value;
  updateControlView();
}

std::string Cell::stringValue() const {
  return value_.stringValue();
}

void Cell::setStringValue(const std::string& string) {
  setObjectValue(ns::Value(string));
}

long Cell::integerValue() const {
  return value_.integerValue();
}

double Cell::doubleValue() const {
  return value_.doubleValue();
}

ns::Ref<Font> Cell::font() const {
  return font_ ? font_ : Font::systemFontOfSize(Font::systemFontSizeForControlSize(controlSize_));
}

void Cell::setFont(const ns::Ref<Font>& font) {
  font_ = font;
  updateControlView();
}

void Cell::setImage(const ns::Ref<Image>& image) {
  image_ = image;
  updateControlView();
}

ns::Dictionary Cell::textAttributes() const {
  ns::Dictionary d;
  d.set(FontAttributeName, font());
  ns::Ref<Color> color = !isEnabled()                                ? colors::disabledControlTextColor()
                         : backgroundStyle_ == BackgroundStyle::Dark ? colors::whiteColor()
                                                                     : colors::controlTextColor();
  d.set(ForegroundColorAttributeName, color);
  auto style = ns::make<ParagraphStyle>(alignment_, wraps_ ? lineBreakMode_ : LineBreakMode::Clipping);
  if (!wraps_ &&
      (lineBreakMode_ == LineBreakMode::TruncatingTail || lineBreakMode_ == LineBreakMode::TruncatingHead ||
       lineBreakMode_ == LineBreakMode::TruncatingMiddle)) {
    style = ns::make<ParagraphStyle>(alignment_, lineBreakMode_);
  }
  d.set(ParagraphStyleAttributeName, style);
  return d;
}

// ---- geometry ----

Size Cell::cellSize() const {
  return cellSizeForBounds(MakeRect(0, 0, 1e4, 1e4));
}

Size Cell::cellSizeForBounds(const Rect& bounds) const {
  Size size;
  if (type_ == CellType::Image && image_) {
    size = image_->size();
  } else if (type_ == CellType::Text) {
    size = sizeWithAttributes(title(), textAttributes());
  }
  const double inset = bordered_ || bezeled_ ? 3 : 0;
  size.width = std::ceil(size.width) + 2 * inset;
  size.height = std::ceil(size.height) + 2 * inset;
  (void)bounds;
  return size;
}

Rect Cell::drawingRectForBounds(const Rect& bounds) const {
  return bordered_ || bezeled_ ? InsetRect(bounds, 2, 2) : bounds;
}

Rect Cell::titleRectForBounds(const Rect& bounds) const {
  return drawingRectForBounds(bounds);
}

Rect Cell::imageRectForBounds(const Rect& bounds) const {
  return drawingRectForBounds(bounds);
}

// ---- drawing ----

void Cell::drawWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView) {
  if (bordered_) {
    colors::blackColor()->setFill();
    FrameRect(cellFrame);
  } else if (bezeled_) {
    colors::grayColor()->setFill();
    FrameRect(cellFrame);
  }
  drawInteriorWithFrame_inView(cellFrame, controlView);
}

void Cell::drawInteriorWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView) {
  if (type_ == CellType::Image && image_) {
    image_->drawInRect_fromRect_operation_fraction_respectFlipped_hints(
        imageRectForBounds(cellFrame), ZeroRect, CompositingOperation::SourceOver, isEnabled() ? 1.0 : 0.5,
        true, nullptr);
  } else if (type_ == CellType::Text) {
    drawText(title(), textAttributes(), titleRectForBounds(cellFrame), controlView);
  }
}

void Cell::drawText(const std::string& text, const ns::Dictionary& attributes, const Rect& rect,
                    const ns::Ref<View>&) const {
  if (text.empty()) return;
  if (wraps_ &&
      (lineBreakMode_ == LineBreakMode::WordWrapping || lineBreakMode_ == LineBreakMode::CharWrapping)) {
    // Lines from the top of the rectangle; a cell that truncates its last visible line ends it
    // with an ellipsis rather than cutting the next line through.
    AttributedString(text, attributes)
        .drawWithRect_options(
            rect, StringDrawingUsesLineFragmentOrigin |
                      (truncatesLastVisibleLine_ ? unsigned(StringDrawingTruncatesLastVisibleLine) : 0u));
    return;
  }
  Size size = sizeWithAttributes(text, attributes);
  Rect line = rect;
  if (size.height < rect.size.height) {
    line.origin.y += (rect.size.height - size.height) / 2;
    line.size.height = size.height;
  }
  drawInRect_withAttributes(text, line, attributes);
}

void Cell::highlight_withFrame_inView(bool flag, const Rect& cellFrame, const ns::Ref<View>& controlView) {
  (void)cellFrame;
  (void)controlView;
  setHighlighted(flag);
}

// ---- tracking ----

bool Cell::trackMouse_inRect_ofView_untilMouseUp(const ns::Ref<Event>& event, const Rect& cellFrame,
                                                 const ns::Ref<View>& controlView, bool untilMouseUp) {
  if (!event || !controlView) return false;
  auto keep = self<Cell>();
  auto app = Application::sharedApplication();
  // Bit 0 marks "tracking" so the flags are never zero while a drag runs.
  mouseDownFlags_ = event->modifierFlags() | 1ul;
  Point last = controlView->convertPoint_fromView(event->locationInWindow(), nullptr);
  lastTrackingPoint_ = last;
  bool tracking = startTrackingAt_inView(last, controlView);
  bool result = false;
  for (;;) {
    auto next = app->nextEventMatchingMask_untilDate_inMode_dequeue(LeftMouseDraggedMask | LeftMouseUpMask,
                                                                    ns::Date::distantFuture(),
                                                                    ns::EventTrackingRunLoopMode, true);
    if (!next) break;  // headless: nothing more will come
    Point current = controlView->convertPoint_fromView(next->locationInWindow(), nullptr);
    lastTrackingPoint_ = current;
    const bool inside = controlView->mouse_inRect(current, cellFrame);
    if (next->type() == EventType::LeftMouseUp) {
      stopTracking_at_inView_mouseIsUp(last, current, controlView, true);
      result = untilMouseUp || inside;
      break;
    }
    if (!untilMouseUp && !inside) {
      stopTracking_at_inView_mouseIsUp(last, current, controlView, false);
      break;
    }
    if (tracking) tracking = continueTracking_at_inView(last, current, controlView);
    last = current;
  }
  mouseDownFlags_ = 0;
  return result;
}

bool Cell::startTrackingAt_inView(const Point&, const ns::Ref<View>&) {
  return true;
}

bool Cell::continueTracking_at_inView(const Point&, const Point&, const ns::Ref<View>&) {
  return true;
}

void Cell::stopTracking_at_inView_mouseIsUp(const Point&, const Point&, const ns::Ref<View>&, bool) {}

TextView* Cell::setUpFieldEditorAttributes(TextView* textObject) {
  if (!textObject) return textObject;
  textObject->setFont(font());
  textObject->setAlignment(alignment_);
  return textObject;
}

void Cell::updateControlView() const {
  if (auto view = controlView()) view->setNeedsDisplay(true);
}

}  // namespace ak

PL_CLASS_NAMED(ak::Cell, "NSCell", ns::Object) {}
PL_CLASS_NAMED(ak::ActionCell, "NSActionCell", ak::Cell) {}
