#include "platform/appkit/Control.h"

#include <cmath>

#include "platform/appkit/Application.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/Nib.h"
#include "platform/appkit/Window.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/Send.h"

namespace ak {

Control::Control() = default;
Control::~Control() = default;

ns::Class Control::cellClass() {
  return ns::objc_getClass("NSActionCell");
}

namespace {

// The cell class a control's class answers, asked through the runtime so that a subclass's
// own class method is found.
ns::Ref<Cell> makeCellFor(const Control* control, NibCoder* coder = nullptr) {
  ns::Class cls = ns::object_getClass(control);
  ns::Class cellCls = nullptr;
  if (cls && ns::class_getClassMethod(cls, "cellClass")) cellCls = ns::send<ns::Class>(cls, "cellClass");
  if (!cellCls) return nullptr;
  auto cell = std::dynamic_pointer_cast<Cell>(ns::class_createInstance(cellCls));
  // A control from a nib has its cell decoded too (a cell subclass sets itself up there).
  if (cell && coder) {
    cell->initWithCoder(*coder);
  } else if (cell) {
    cell->initTextCell("");
  }
  return cell;
}

}  // namespace

void Control::initWithFrame(const Rect& frame) {
  View::initWithFrame(frame);
  if (!cell_) setCell(makeCellFor(this));
}

void Control::initWithCoder(NibCoder& coder) {
  // The cell comes first so that the view's initialiser (initWithFrame) finds it.
  if (!cell_) setCell(makeCellFor(this, &coder));
  View::initWithCoder(coder);
  if (cell_ && coder.tag) cell_->setTag(*coder.tag);
}

void Control::setCell(const ns::Ref<Cell>& cell) {
  if (cell_ && cell_ != cell && cell_->controlView().get() == this) cell_->setControlView(nullptr);
  cell_ = cell;
  if (cell_) cell_->setControlView(self<View>());
  setNeedsDisplay(true);
}

void Control::setTarget(const ns::Ref<ns::Object>& target) {
  if (cell_) cell_->setTarget(target);
}

void Control::setAction(ns::Sel action) {
  if (cell_) cell_->setAction(action);
}

bool Control::sendAction_to(ns::Sel action, const ns::Ref<ns::Object>& target) {
  if (!action) return false;
  auto keep = self<Control>();
  return Application::sharedApplication()->sendAction_to_from(action, target, keep);
}

void Control::performClick(const ns::Ref<ns::Object>&) {
  if (!isEnabled() || !cell_) return;
  auto keep = self<Control>();
  sendAction_to(action(), target());
}

void Control::setEnabled(bool enabled) {
  if (cell_) cell_->setEnabled(enabled);
  setNeedsDisplay(true);
}

void Control::setContinuous(bool continuous) {
  if (cell_) cell_->setContinuous(continuous);
}

long Control::tag() const {
  return cell_ ? cell_->tag() : View::tag();
}

void Control::setTag(long tag) {
  View::setTag(tag);
  if (cell_) cell_->setTag(tag);
}

ns::Value Control::objectValue() const {
  return cell_ ? cell_->objectValue() : ns::Value();
}

void Control::setObjectValue(const ns::Value& value) {
  if (cell_) cell_->setObjectValue(value);
  setNeedsDisplay(true);
}

std::string Control::stringValue() const {
  return cell_ ? cell_->stringValue() : std::string();
}

void Control::setStringValue(const std::string& string) {
  if (cell_) cell_->setStringValue(string);
  setNeedsDisplay(true);
}

long Control::integerValue() const {
  return cell_ ? cell_->integerValue() : 0;
}

void Control::setIntegerValue(long value) {
  if (cell_) cell_->setIntegerValue(value);
  setNeedsDisplay(true);
}

double Control::doubleValue() const {
  return cell_ ? cell_->doubleValue() : 0;
}

void Control::setDoubleValue(double value) {
  if (cell_) cell_->setDoubleValue(value);
  setNeedsDisplay(true);
}

ns::Ref<Font> Control::font() const {
  return cell_ ? cell_->font() : Font::systemFontOfSize(0);
}

void Control::setFont(const ns::Ref<Font>& font) {
  if (cell_) cell_->setFont(font);
}

void Control::setAlignment(TextAlignment alignment) {
  if (cell_) cell_->setAlignment(alignment);
}

void Control::setControlSize(ControlSize size) {
  if (cell_) cell_->setControlSize(size);
}

void Control::sizeToFit() {
  if (!cell_) return;
  Size size = cell_->cellSize();
  setFrameSize({std::ceil(size.width), std::ceil(size.height)});
}

void Control::drawRect(const Rect&) {
  if (cell_) cell_->drawWithFrame_inView(bounds(), self<View>());
}

void Control::mouseDown(const ns::Ref<Event>& event) {
  auto cell = cell_;
  if (!cell || !isEnabled()) return;
  auto keep = self<Control>();
  if (ignoresMultiClick_ && event->clickCount() > 1) return;
  if (cell->trackMouse_inRect_ofView_untilMouseUp(event, bounds(), keep, true) && shouldActAfterTracking()) {
    sendAction_to(cell->action(), cell->target());
  }
}

bool Control::shouldActAfterTracking() {
  return cell_ && mouse_inRect(cell_->lastTrackingPoint(), bounds());
}

}  // namespace ak

PL_CLASS_NAMED(ak::Control, "NSControl", ak::View) {
  cls.classMethod<&ak::Control::cellClass>("cellClass");
}
