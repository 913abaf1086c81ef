#include "platform/appkit/TextField.h"

#include <algorithm>

#include "platform/appkit/Application.h"
#include "platform/appkit/AttributedString.h"
#include "platform/appkit/BezierPath.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/Notification.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/Send.h"

namespace ak {

// ---- TextFieldCell ----

void TextFieldCell::initTextCell(const std::string& string) {
  ActionCell::initTextCell(string);
  backgroundColor_ = colors::textBackgroundColor();
  textColor_ = colors::controlTextColor();
  lineBreakMode_ = LineBreakMode::Clipping;
  wraps_ = false;
}

void TextFieldCell::setDrawsBackground(bool draws) {
  drawsBackground_ = draws;
  updateControlView();
}

void TextFieldCell::setBackgroundColor(const ns::Ref<Color>& color) {
  backgroundColor_ = color;
  updateControlView();
}

void TextFieldCell::setTextColor(const ns::Ref<Color>& color) {
  textColor_ = color;
  updateControlView();
}

void TextFieldCell::setPlaceholderString(const std::string& placeholder) {
  placeholder_ = placeholder;
  updateControlView();
}

ns::Dictionary TextFieldCell::textAttributes() const {
  ns::Dictionary d = ActionCell::textAttributes();
  ns::Ref<Color> color = !isEnabled()                                ? colors::disabledControlTextColor()
                         : backgroundStyle_ == BackgroundStyle::Dark ? colors::whiteColor()
                         : textColor_                                ? textColor_
                                                                     : colors::controlTextColor();
  d.set(ForegroundColorAttributeName, color);
  return d;
}

Rect TextFieldCell::titleRectForBounds(const Rect& bounds) const {
  return bordered_ || bezeled_ ? InsetRect(bounds, 3, 2) : InsetRect(bounds, 2, 0);
}

void TextFieldCell::drawWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView) {
  if (drawsBackground_ && backgroundColor_) {
    backgroundColor_->setFill();
    RectFill(cellFrame);
  }
  if (bordered_ || bezeled_) {
    (bordered_ ? colors::blackColor() : colors::grayColor())->setFill();
    FrameRect(cellFrame);
  }
  drawInteriorWithFrame_inView(cellFrame, controlView);
}

void TextFieldCell::drawInteriorWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView) {
  if (showsEditor_) return;
  std::string text = stringValue();
  if (text.empty() && !placeholder_.empty()) {
    ns::Dictionary d = textAttributes();
    d.set(ForegroundColorAttributeName, colors::grayColor());
    drawText(placeholder_, d, titleRectForBounds(cellFrame), controlView);
    return;
  }
  drawText(text, textAttributes(), titleRectForBounds(cellFrame), controlView);
}

TextView* TextFieldCell::setUpFieldEditorAttributes(TextView* textObject) {
  ActionCell::setUpFieldEditorAttributes(textObject);
  if (!textObject) return textObject;
  textObject->setTextColor(textColor_);
  textObject->setBackgroundColor(backgroundColor_);
  textObject->setDrawsBackground(drawsBackground_);
  textObject->setEditable(isEditable());
  return textObject;
}

// ---- TextField ----

TextField::~TextField() {
  // Destroyed mid-edit: the shared editor forgets this field and leaves the window's focus.
  if (auto editor = editor_.lock(); editor && editing_) {
    editor->setClient(nullptr);
    auto window = editor->window();
    if (window && window->firstResponder() == editor) window->makeFirstResponder(nullptr);
    editor->removeFromSuperview();
  }
}

ns::Class TextField::cellClass() {
  return ns::objc_getClass("NSTextFieldCell");
}

void TextField::setEditable(bool editable) {
  if (cell_) cell_->setEditable(editable);
}

void TextField::setSelectable(bool selectable) {
  if (cell_) cell_->setSelectable(selectable);
}

void TextField::setBordered(bool bordered) {
  if (cell_) cell_->setBordered(bordered);
}

void TextField::setBezeled(bool bezeled) {
  if (cell_) cell_->setBezeled(bezeled);
}

bool TextField::drawsBackground() const {
  auto c = textFieldCell();
  return c && c->drawsBackground();
}

void TextField::setDrawsBackground(bool draws) {
  if (auto c = textFieldCell()) c->setDrawsBackground(draws);
}

ns::Ref<Color> TextField::textColor() const {
  auto c = textFieldCell();
  return c ? c->textColor() : nullptr;
}

void TextField::setTextColor(const ns::Ref<Color>& color) {
  if (auto c = textFieldCell()) c->setTextColor(color);
}

ns::Ref<Color> TextField::backgroundColor() const {
  auto c = textFieldCell();
  return c ? c->backgroundColor() : nullptr;
}

void TextField::setBackgroundColor(const ns::Ref<Color>& color) {
  if (auto c = textFieldCell()) c->setBackgroundColor(color);
}

std::string TextField::placeholderString() const {
  auto c = textFieldCell();
  return c ? c->placeholderString() : std::string();
}

void TextField::setPlaceholderString(const std::string& placeholder) {
  if (auto c = textFieldCell()) c->setPlaceholderString(placeholder);
}

ns::Ref<TextView> TextField::currentEditor() const {
  return editing_ ? editor_.lock() : nullptr;
}

Rect TextField::editingRect() const {
  auto c = textFieldCell();
  return c ? c->editingRectForBounds(bounds()) : bounds();
}

void TextField::selectText(const ns::Ref<ns::Object>&) {
  auto window = this->window();
  if (!window || !cell_ || editing_) return;
  auto keep = self<TextField>();
  auto editor = window->fieldEditor_forObject(true, keep);
  if (!editor) return;
  // Another field may still hold the editor (it ends its edit first).
  if (auto owner = editor->client(); owner && owner != this) {
    if (!owner->textDidEndEditingWithMovement(*editor, OtherTextMovement)) return;
  }
  cell_->setUpFieldEditorAttributes(editor.get());
  editor->setString(cell_->stringValue());
  editor->resetEditingSession();
  editor->setClient(this);
  editor->setFrame(editingRect());
  addSubview(editor);
  editor->setSelectedRange({0, editor->length()});
  editor_ = editor;
  editing_ = true;
  if (auto c = textFieldCell()) c->setShowsFieldEditor(true);
  setNeedsDisplay(true);
  window->makeFirstResponder(editor);
}

bool TextField::acceptsFirstResponder() {
  return isEnabled() && (isEditable() || isSelectable());
}

bool TextField::becomeFirstResponder() {
  selectText(nullptr);
  return true;
}

void TextField::mouseDown(const ns::Ref<Event>& event) {
  // The window made this field first responder on the way here; a click in a field already
  // being edited places the insertion point.
  if (auto editor = currentEditor()) return editor->mouseDown(event);
  // A label keeps nothing: the view it sits in (a table's row, say) hears the click.
  if (!isSelectable()) View::mouseDown(event);
}

void TextField::viewWillMoveToWindow(const ns::Ref<Window>& window) {
  if (!window && editing_) abortEditing();
  Control::viewWillMoveToWindow(window);
}

void TextField::setStringValue(const std::string& string) {
  Control::setStringValue(string);
  if (auto editor = currentEditor()) editor->setString(cell_ ? cell_->stringValue() : string);
}

std::string TextField::stringValue() const {
  if (auto editor = currentEditor()) return editor->string();
  return Control::stringValue();
}

void TextField::validateEditing() {
  if (auto editor = currentEditor(); editor && cell_) cell_->setStringValue(editor->string());
}

bool TextField::abortEditing() {
  if (!editing_) return false;
  validateEditing();
  endEditingSession(true);
  return true;
}

void TextField::endEditingSession(bool refocus) {
  auto keep = self<TextField>();
  auto editor = editor_.lock();
  editing_ = false;
  editor_.reset();
  if (auto c = textFieldCell()) c->setShowsFieldEditor(false);
  setNeedsDisplay(true);
  if (!editor) return;
  editor->setClient(nullptr);
  auto window = editor->window();
  editor->removeFromSuperview();
  if (refocus && window && window->firstResponder() == editor) window->makeFirstResponder(nullptr);
}

void TextField::postEditing(const char* notification, const char* delegateSelector,
                            const ns::Dictionary& extra) {
  auto keep = self<TextField>();
  ns::Dictionary info = extra;
  if (auto editor = editor_.lock()) info.set(FieldEditorKey, editor);
  auto note = ns::Notification::notificationWithName_object_userInfo(notification, keep, info);
  auto d = delegate();
  ns::Sel sel(delegateSelector);
  if (d && ns::respondsToSelector(d, sel)) ns::send(d, sel, note);
  ns::NotificationCenter::defaultCenter()->postNotificationName_object_userInfo(notification, keep, info);
}

bool TextField::textShouldBeginEditing(TextView& editor) {
  static const ns::Sel sel("control:textShouldBeginEditing:");
  auto d = delegate();
  if (d && ns::respondsToSelector(d, sel)) {
    return ns::send<bool>(d, sel, self<Control>(), editor.self<TextView>());
  }
  return true;
}

void TextField::textDidBeginEditing(TextView&) {
  postEditing(ControlTextDidBeginEditingNotification, "controlTextDidBeginEditing:");
}

void TextField::textDidChange(TextView&) {
  postEditing(ControlTextDidChangeNotification, "controlTextDidChange:");
}

bool TextField::textView_doCommandBySelector(TextView& editor, ns::Sel command) {
  static const ns::Sel sel("control:textView:doCommandBySelector:");
  auto d = delegate();
  if (d && ns::respondsToSelector(d, sel)) {
    return ns::send<bool>(d, sel, self<Control>(), editor.self<TextView>(), command);
  }
  return false;
}

bool TextField::textDidEndEditingWithMovement(TextView& editor, long movement) {
  if (!editing_ || ending_) return true;
  auto keep = self<TextField>();
  static const ns::Sel shouldEnd("control:textShouldEndEditing:");
  auto d = delegate();
  if (d && ns::respondsToSelector(d, shouldEnd) &&
      !ns::send<bool>(d, shouldEnd, self<Control>(), editor.self<TextView>())) {
    return false;
  }
  ending_ = true;
  if (cell_) cell_->setStringValue(editor.string());
  ns::Dictionary extra;
  extra.set(TextMovementKey, ns::Value(movement));
  postEditing(ControlTextDidEndEditingNotification, "controlTextDidEndEditing:", extra);
  // Losing first responder is already under way for the other movement; the keys that end
  // an edit hand the focus back to the window.
  endEditingSession(movement != OtherTextMovement);
  ending_ = false;
  if (movement == ReturnTextMovement) sendAction_to(action(), target());
  return true;
}

// ---- SearchFieldCell ----

namespace {
constexpr double kSearchButtonSide = 16;
}

void SearchFieldCell::initTextCell(const std::string& string) {
  TextFieldCell::initTextCell(string);
  setBezeled(true);
  setEditable(true);
  setDrawsBackground(true);
  searchButton_ = ns::make<ButtonCell>();
  searchButton_->initTextCell("");
  searchButton_->setBordered(false);
  cancelButton_ = ns::make<ButtonCell>();
  cancelButton_->initTextCell("");
  cancelButton_->setBordered(false);
  // Both buttons aim at this cell until told otherwise, so a subclass that only sets an
  // action receives it.
  searchButton_->setTarget(self<SearchFieldCell>());
  cancelButton_->setTarget(self<SearchFieldCell>());
}

Rect SearchFieldCell::searchButtonRectForBounds(const Rect& bounds) const {
  return MakeRect(bounds.origin.x + 4, bounds.origin.y + (bounds.size.height - kSearchButtonSide) / 2,
                  kSearchButtonSide, kSearchButtonSide);
}

Rect SearchFieldCell::cancelButtonRectForBounds(const Rect& bounds) const {
  return MakeRect(bounds.origin.x + bounds.size.width - 4 - kSearchButtonSide,
                  bounds.origin.y + (bounds.size.height - kSearchButtonSide) / 2, kSearchButtonSide,
                  kSearchButtonSide);
}

Rect SearchFieldCell::searchTextRectForBounds(const Rect& bounds) const {
  const double left = kSearchButtonSide + 8, right = kSearchButtonSide + 8;
  return MakeRect(bounds.origin.x + left, bounds.origin.y + 2,
                  std::max(0.0, bounds.size.width - left - right), std::max(0.0, bounds.size.height - 4));
}

void SearchFieldCell::drawInteriorWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView) {
  if (!showsEditor_) {
    drawText(stringValue().empty() ? placeholderString() : stringValue(), textAttributes(),
             searchTextRectForBounds(cellFrame), controlView);
  }
  auto drawButton = [&](const ns::Ref<ButtonCell>& button, const Rect& rect, bool glass) {
    if (!button) return;
    if (button->image()) {
      button->drawWithFrame_inView(rect, controlView);
      return;
    }
    // The default glyphs: a magnifier ring, and a cross in a grey disc.
    auto path = BezierPath::bezierPathWithOvalInRect(InsetRect(rect, 3, 3));
    if (glass) {
      colors::darkGrayColor()->setStroke();
      path->stroke();
    } else {
      colors::grayColor()->setFill();
      path->fill();
    }
  };
  drawButton(searchButton_, searchButtonRectForBounds(cellFrame), true);
  if (!stringValue().empty() || showsEditor_)
    drawButton(cancelButton_, cancelButtonRectForBounds(cellFrame), false);
}

// ---- SearchField ----

ns::Class SearchField::cellClass() {
  return ns::objc_getClass("NSSearchFieldCell");
}

Rect SearchField::editingRect() const {
  auto c = searchFieldCell();
  return c ? c->searchTextRectForBounds(bounds()) : TextField::editingRect();
}

void SearchField::mouseDown(const ns::Ref<Event>& event) {
  auto c = searchFieldCell();
  if (!c) return TextField::mouseDown(event);
  auto keep = self<SearchField>();
  Point p = convertPoint_fromView(event->locationInWindow(), nullptr);
  const Rect searchRect = c->searchButtonRectForBounds(bounds());
  const Rect cancelRect = c->cancelButtonRectForBounds(bounds());
  const bool onSearch = mouse_inRect(p, searchRect);
  const bool onCancel = !onSearch && mouse_inRect(p, cancelRect) && !stringValue().empty();
  if (!onSearch && !onCancel) return TextField::mouseDown(event);
  auto button = onSearch ? c->searchButtonCell() : c->cancelButtonCell();
  const Rect rect = onSearch ? searchRect : cancelRect;
  if (!button->trackMouse_inRect_ofView_untilMouseUp(event, rect, keep, false)) return;
  if (!mouse_inRect(button->lastTrackingPoint(), rect)) return;
  if (button->action()) {
    Application::sharedApplication()->sendAction_to_from(button->action(), button->target(), keep);
  } else if (onCancel) {
    setStringValue("");
    sendAction_to(action(), target());
  } else {
    sendAction_to(action(), target());
  }
}

}  // namespace ak

PL_CLASS_NAMED(ak::TextFieldCell, "NSTextFieldCell", ak::ActionCell) {}
PL_CLASS_NAMED(ak::TextField, "NSTextField", ak::Control) {
  cls.classMethod<&ak::TextField::cellClass>("cellClass");
}
PL_CLASS_NAMED(ak::SearchFieldCell, "NSSearchFieldCell", ak::TextFieldCell) {}
PL_CLASS_NAMED(ak::SearchField, "NSSearchField", ak::TextField) {
  cls.classMethod<&ak::SearchField::cellClass>("cellClass");
}
