#include "platform/appkit/TextView.h"

#include <algorithm>
#include <cwctype>

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/Window.h"
#include "platform/core/Str.h"
#include "platform/runtime/ClassBuilder.h"

namespace ak {

namespace {

std::string sanitised(const std::string& text) {
  return ns::str::isValidUtf8(text) ? text : ns::str::toUtf8(ns::str::toUtf16(text));
}

}  // namespace

TextView::TextView()
    : textColor_(colors::textColor()),
      insertionPointColor_(colors::blackColor()),
      backgroundColor_(colors::textBackgroundColor()) {
  selectedTextAttributes_.set(BackgroundColorAttributeName, colors::selectedTextBackgroundColor());
}

TextView::~TextView() = default;

std::size_t TextView::length() const {
  return ns::str::utf16Length(string_);
}

void TextView::setString(const std::string& string) {
  string_ = sanitised(string);
  marked_ = {};
  const std::size_t end = length();
  selected_ = {end, 0};
  setNeedsDisplay(true);
}

void TextView::setSelectedRange(ns::Range range) {
  const std::size_t len = length();
  std::size_t location = std::min(range.location, len);
  std::size_t count = std::min(range.length, len - location);
  // Never split a surrogate pair.
  location = ns::str::rangeOfComposedCharacterSequenceAtIndex(string_, location).location;
  if (location > len) location = len;
  selected_ = {location, std::min(count, len - location)};
  caretAtStart_ = false;
  setNeedsDisplay(true);
}

ns::Ref<Font> TextView::font() const {
  return font_ ? font_ : Font::systemFontOfSize(0);
}

void TextView::setFont(const ns::Ref<Font>& font) {
  font_ = font;
  setNeedsDisplay(true);
}

void TextView::setTextColor(const ns::Ref<Color>& color) {
  textColor_ = color ? color : colors::textColor();
  setNeedsDisplay(true);
}

void TextView::setInsertionPointColor(const ns::Ref<Color>& color) {
  insertionPointColor_ = color ? color : colors::blackColor();
  setNeedsDisplay(true);
}

void TextView::setBackgroundColor(const ns::Ref<Color>& color) {
  backgroundColor_ = color ? color : colors::textBackgroundColor();
  setNeedsDisplay(true);
}

void TextView::setDrawsBackground(bool draws) {
  drawsBackground_ = draws;
  setNeedsDisplay(true);
}

ns::Range TextView::markedRange() const {
  return marked_.length ? marked_ : ns::Range{ns::NotFound, 0};
}

// ---- input ----

void TextView::keyDown(const ns::Ref<Event>& event) {
  auto keep = self<TextView>();
  if (event && performEditingKey(*event)) return;
  interpretKeyEvents({event});
}

bool TextView::performEditingKey(const Event& event) {
  const unsigned long relevant = ShiftKeyMask | ControlKeyMask | AlternateKeyMask | CommandKeyMask;
  if ((event.modifierFlags() & relevant) != CommandKeyMask) return false;
  const std::string key = ns::str::lowercase(event.charactersIgnoringModifiers());
  if (key == "a") {
    selectAll(nullptr);
  } else if (key == "x") {
    cut(nullptr);
  } else if (key == "c") {
    copy(nullptr);
  } else if (key == "v") {
    paste(nullptr);
  } else {
    return false;
  }
  return true;
}

void TextView::mouseDown(const ns::Ref<Event>& event) {
  Point p = convertPoint_fromView(event->locationInWindow(), nullptr);
  const std::size_t len = length();
  std::size_t index = len;
  for (std::size_t i = 0; i < len; ++i) {
    if (xForIndex(i + 1) > p.x + (xForIndex(i + 1) - xForIndex(i)) / 2) {
      index = i;
      break;
    }
  }
  setSelectedRange({index, 0});
}

bool TextView::resignFirstResponder() {
  auto keep = self<TextView>();
  if (client_) return client_->textDidEndEditingWithMovement(*this, OtherTextMovement);
  return true;
}

void TextView::insertText(const std::string& text) {
  insertText_replacementRange(text, {ns::NotFound, 0});
}

void TextView::doCommandBySelector(ns::Sel selector) {
  auto keep = self<TextView>();
  if (client_ && client_->textView_doCommandBySelector(*this, selector)) return;
  View::doCommandBySelector(selector);
}

bool TextView::beginChange() {
  if (!editable_) return false;
  if (!began_) {
    if (client_ && !client_->textShouldBeginEditing(*this)) return false;
    began_ = true;
    if (client_) client_->textDidBeginEditing(*this);
  }
  return true;
}

void TextView::changed() {
  setNeedsDisplay(true);
  if (client_) client_->textDidChange(*this);
}

bool TextView::replace(ns::Range range, const std::string& text, bool markResult, ns::Range markedSelection) {
  const std::size_t len = length();
  range.location = std::min(range.location, len);
  range.length = std::min(range.length, len - range.location);
  const std::string clean = sanitised(text);
  const std::size_t from = ns::str::utf8Offset(string_, range.location);
  const std::size_t to = ns::str::utf8Offset(string_, range.max());
  string_.replace(from, to - from, clean);
  const std::size_t inserted = ns::str::utf16Length(clean);
  if (markResult && inserted > 0) {
    marked_ = {range.location, inserted};
    const std::size_t start = std::min(markedSelection.location, inserted);
    selected_ = {range.location + start, std::min(markedSelection.length, inserted - start)};
  } else {
    marked_ = {};
    selected_ = {range.location + inserted, 0};
  }
  setNeedsDisplay(true);
  return true;
}

void TextView::insertText_replacementRange(const std::string& text, ns::Range replacementRange) {
  auto keep = self<TextView>();
  ns::Range range = replacementRange.found() ? replacementRange : marked_.length ? marked_ : selected_;
  if (!beginChange()) return;
  replace(range, text, false, {});
  changed();
}

void TextView::setMarkedText_selectedRange_replacementRange(const std::string& text, ns::Range selectedRange,
                                                            ns::Range replacementRange) {
  if (!editable_) return;
  ns::Range range = replacementRange.found() ? replacementRange : marked_.length ? marked_ : selected_;
  // Composition is not a change yet: the text it commits is.
  replace(range, text, true, selectedRange);
}

void TextView::unmarkText() {
  if (!marked_.length) return;
  marked_ = {};
  setNeedsDisplay(true);
  if (beginChange()) changed();
}

Rect TextView::firstRectForCharacterRange_actualRange(ns::Range range, ns::Range* actualRange) const {
  const std::size_t len = length();
  std::size_t location = std::min(range.found() ? range.location : selected_.location, len);
  std::size_t count = std::min(range.found() ? range.length : selected_.length, len - location);
  if (actualRange) *actualRange = {location, count};
  const double x0 = xForIndex(location), x1 = xForIndex(location + count);
  const double lineHeight = font()->ascender() - font()->descender();
  Rect local = MakeRect(x0, 0, x1 - x0, lineHeight);
  Rect inWindow = convertRect_toView(local, nullptr);
  auto w = window();
  return w ? w->convertRectToScreen(inWindow) : inWindow;
}

// ---- commands ----

void TextView::moveLeft(const ns::Ref<ns::Object>&) {
  if (selected_.length) {
    setSelectedRange({selected_.location, 0});
  } else if (selected_.location > 0) {
    auto r = ns::str::rangeOfComposedCharacterSequenceAtIndex(string_, selected_.location - 1);
    setSelectedRange({r.location, 0});
  }
}

void TextView::moveRight(const ns::Ref<ns::Object>&) {
  if (selected_.length) {
    setSelectedRange({selected_.max(), 0});
  } else if (selected_.location < length()) {
    auto r = ns::str::rangeOfComposedCharacterSequenceAtIndex(string_, selected_.location);
    setSelectedRange({r.max(), 0});
  }
}

void TextView::moveUp(const ns::Ref<ns::Object>& sender) {
  moveToBeginningOfLine(sender);
}

void TextView::moveDown(const ns::Ref<ns::Object>& sender) {
  moveToEndOfLine(sender);
}

void TextView::moveToBeginningOfLine(const ns::Ref<ns::Object>&) {
  setSelectedRange({0, 0});
}

void TextView::moveToEndOfLine(const ns::Ref<ns::Object>&) {
  setSelectedRange({length(), 0});
}

std::size_t TextView::caret() const {
  return caretAtStart_ || !selected_.length ? selected_.location : selected_.max();
}

std::size_t TextView::wordBoundary(std::size_t from, bool forward) const {
  const std::u16string text = ns::str::toUtf16(string_);
  auto isWord = [&](std::size_t i) {
    const char16_t c = text[i];
    // A surrogate half belongs to a character outside the BMP: letters of other scripts.
    return (c >= 0xD800 && c <= 0xDFFF) || std::iswalnum(static_cast<wint_t>(c));
  };
  std::size_t i = std::min(from, text.size());
  if (forward) {
    while (i < text.size() && !isWord(i)) ++i;
    while (i < text.size() && isWord(i)) ++i;
  } else {
    while (i > 0 && !isWord(i - 1)) --i;
    while (i > 0 && isWord(i - 1)) --i;
  }
  return i;
}

void TextView::extendSelectionTo(std::size_t to) {
  // The end that stays is where the selection started.
  const std::size_t anchor = !selected_.length ? selected_.location
                             : caretAtStart_   ? selected_.max()
                                               : selected_.location;
  to = std::min(to, length());
  setSelectedRange({std::min(anchor, to), to > anchor ? to - anchor : anchor - to});
  caretAtStart_ = to < anchor;
}

void TextView::moveWordLeft(const ns::Ref<ns::Object>&) {
  setSelectedRange({wordBoundary(selected_.location, false), 0});
}

void TextView::moveWordRight(const ns::Ref<ns::Object>&) {
  setSelectedRange({wordBoundary(selected_.max(), true), 0});
}

void TextView::moveLeftAndModifySelection(const ns::Ref<ns::Object>&) {
  const std::size_t at = caret();
  if (at == 0) return;
  extendSelectionTo(ns::str::rangeOfComposedCharacterSequenceAtIndex(string_, at - 1).location);
}

void TextView::moveRightAndModifySelection(const ns::Ref<ns::Object>&) {
  const std::size_t at = caret();
  if (at >= length()) return;
  extendSelectionTo(ns::str::rangeOfComposedCharacterSequenceAtIndex(string_, at).max());
}

void TextView::moveWordLeftAndModifySelection(const ns::Ref<ns::Object>&) {
  extendSelectionTo(wordBoundary(caret(), false));
}

void TextView::moveWordRightAndModifySelection(const ns::Ref<ns::Object>&) {
  extendSelectionTo(wordBoundary(caret(), true));
}

void TextView::moveToBeginningOfLineAndModifySelection(const ns::Ref<ns::Object>&) {
  extendSelectionTo(0);
}

void TextView::moveToEndOfLineAndModifySelection(const ns::Ref<ns::Object>&) {
  extendSelectionTo(length());
}

void TextView::deleteBackward(const ns::Ref<ns::Object>&) {
  ns::Range range = selected_;
  if (!range.length) {
    if (range.location == 0) return;
    range = ns::str::rangeOfComposedCharacterSequenceAtIndex(string_, range.location - 1);
  }
  if (!beginChange()) return;
  replace(range, "", false, {});
  changed();
}

void TextView::deleteForward(const ns::Ref<ns::Object>&) {
  ns::Range range = selected_;
  if (!range.length) {
    if (range.location >= length()) return;
    range = ns::str::rangeOfComposedCharacterSequenceAtIndex(string_, range.location);
  }
  if (!beginChange()) return;
  replace(range, "", false, {});
  changed();
}

void TextView::paste(const ns::Ref<ns::Object>&) {
  auto board = Pasteboard::generalPasteboard();
  auto text = board->stringForType(PasteboardTypeString);
  if (!text) text = board->stringForType(PasteboardTypeURL);
  if (text && !text->empty()) insertText(*text);
}

void TextView::copy(const ns::Ref<ns::Object>&) {
  if (!selected_.length) return;
  auto board = Pasteboard::generalPasteboard();
  board->clearContents();
  board->setString_forType(ns::str::substringWithRange(string_, selected_), PasteboardTypeString);
}

void TextView::cut(const ns::Ref<ns::Object>& sender) {
  if (!selected_.length || !editable_) return;
  copy(sender);
  if (!beginChange()) return;
  replace(selected_, "", false, {});
  changed();
}

void TextView::selectAll(const ns::Ref<ns::Object>&) {
  setSelectedRange({0, length()});
}

void TextView::insertNewline(const ns::Ref<ns::Object>&) {
  if (fieldEditor_ && client_) {
    client_->textDidEndEditingWithMovement(*this, ReturnTextMovement);
  } else {
    insertText("\n");
  }
}

void TextView::insertTab(const ns::Ref<ns::Object>&) {
  if (fieldEditor_ && client_) {
    client_->textDidEndEditingWithMovement(*this, TabTextMovement);
  } else {
    insertText("\t");
  }
}

void TextView::insertBacktab(const ns::Ref<ns::Object>&) {
  if (fieldEditor_ && client_) client_->textDidEndEditingWithMovement(*this, BacktabTextMovement);
}

void TextView::cancelOperation(const ns::Ref<ns::Object>&) {
  if (fieldEditor_ && client_) client_->textDidEndEditingWithMovement(*this, CancelTextMovement);
}

// ---- drawing ----

ns::Dictionary TextView::attributes() const {
  ns::Dictionary d;
  d.set(FontAttributeName, font());
  d.set(ForegroundColorAttributeName, textColor_);
  d.set(ParagraphStyleAttributeName, ns::make<ParagraphStyle>(alignment_, LineBreakMode::Clipping));
  return d;
}

double TextView::xForIndex(std::size_t index) const {
  if (index == 0) return 0;
  return sizeWithAttributes(ns::str::substringToIndex(string_, index), attributes()).width;
}

void TextView::drawRect(const Rect&) {
  Rect b = bounds();
  if (drawsBackground_) {
    backgroundColor_->setFill();
    RectFill(b);
  }
  const double lineHeight = font()->ascender() - font()->descender();
  const double top = std::max(0.0, (b.size.height - lineHeight) / 2);
  if (selected_.length) {
    auto bg = selectedTextAttributes_.objectForKey(BackgroundColorAttributeName).objectAs<Color>();
    (bg ? bg : colors::selectedTextBackgroundColor())->setFill();
    const double x0 = xForIndex(selected_.location), x1 = xForIndex(selected_.max());
    RectFill(MakeRect(x0, top, x1 - x0, lineHeight));
  }
  MutableAttributedString text(string_, attributes());
  if (marked_.length) text.addAttribute_value_range(UnderlineStyleAttributeName, ns::Value(1), marked_);
  if (selected_.length) {
    if (auto fg = selectedTextAttributes_.objectForKey(ForegroundColorAttributeName).objectAs<Color>()) {
      text.addAttribute_value_range(ForegroundColorAttributeName, fg, selected_);
    }
  }
  text.drawAtPoint({0, top});
  if (!selected_.length && editable_) {
    insertionPointColor_->setFill();
    RectFill(MakeRect(xForIndex(selected_.location), top, 1, lineHeight));
  }
}

}  // namespace ak

PL_CLASS_NAMED(ak::TextView, "NSTextView", ak::View) {
  cls.method<&ak::TextView::moveLeft>("moveLeft:");
  cls.method<&ak::TextView::moveRight>("moveRight:");
  cls.method<&ak::TextView::moveUp>("moveUp:");
  cls.method<&ak::TextView::moveDown>("moveDown:");
  cls.method<&ak::TextView::moveToBeginningOfLine>("moveToBeginningOfLine:");
  cls.method<&ak::TextView::moveToEndOfLine>("moveToEndOfLine:");
  cls.method<&ak::TextView::moveWordLeft>("moveWordLeft:");
  cls.method<&ak::TextView::moveWordRight>("moveWordRight:");
  cls.method<&ak::TextView::moveLeftAndModifySelection>("moveLeftAndModifySelection:");
  cls.method<&ak::TextView::moveRightAndModifySelection>("moveRightAndModifySelection:");
  cls.method<&ak::TextView::moveWordLeftAndModifySelection>("moveWordLeftAndModifySelection:");
  cls.method<&ak::TextView::moveWordRightAndModifySelection>("moveWordRightAndModifySelection:");
  cls.method<&ak::TextView::moveToBeginningOfLineAndModifySelection>(
      "moveToBeginningOfLineAndModifySelection:");
  cls.method<&ak::TextView::moveToEndOfLineAndModifySelection>("moveToEndOfLineAndModifySelection:");
  cls.method<&ak::TextView::copy>("copy:");
  cls.method<&ak::TextView::cut>("cut:");
  cls.method<&ak::TextView::deleteBackward>("deleteBackward:");
  cls.method<&ak::TextView::deleteForward>("deleteForward:");
  cls.method<&ak::TextView::selectAll>("selectAll:");
  cls.method<&ak::TextView::paste>("paste:");
  cls.method<&ak::TextView::insertNewline>("insertNewline:");
  cls.method<&ak::TextView::insertTab>("insertTab:");
  cls.method<&ak::TextView::insertBacktab>("insertBacktab:");
  cls.method<&ak::TextView::cancelOperation>("cancelOperation:");
}
