#pragma once
// Controls: a view that owns one cell, made from the class method `cellClass` asked through the
// runtime, so a registered subclass answering its own cell class gets it. Values, target,
// action and drawing go through the cell; a click runs the cell's tracking loop.
#include <string>

#include "platform/appkit/Cell.h"
#include "platform/appkit/View.h"
#include "platform/runtime/TypeCodec.h"

namespace ak {

class Control : public View {
 public:
  Control();
  ~Control() override;

  void initWithFrame(const Rect& frame) override;
  void initWithCoder(NibCoder& coder) override;
  using View::init;

  // The class of the cell made by the initialiser (class method "cellClass").
  static ns::Class cellClass();

  ns::Ref<Cell> cell() const { return cell_; }
  virtual void setCell(const ns::Ref<Cell>& cell);

  // ---- target and action (the cell's; a nil target means the responder chain) ----
  ns::Ref<ns::Object> target() const { return cell_ ? cell_->target() : nullptr; }
  void setTarget(const ns::Ref<ns::Object>& target);
  ns::Sel action() const { return cell_ ? cell_->action() : ns::Sel(); }
  void setAction(ns::Sel action);
  // Sends through the application; answers whether someone received it.
  virtual bool sendAction_to(ns::Sel action, const ns::Ref<ns::Object>& target);
  virtual void performClick(const ns::Ref<ns::Object>& sender);

  virtual bool isEnabled() const { return cell_ ? cell_->isEnabled() : true; }
  virtual void setEnabled(bool enabled);
  bool isContinuous() const { return cell_ && cell_->isContinuous(); }
  void setContinuous(bool continuous);
  long tag() const override;
  void setTag(long tag);
  bool ignoresMultiClick() const { return ignoresMultiClick_; }
  void setIgnoresMultiClick(bool ignores) { ignoresMultiClick_ = ignores; }

  // ---- values (the cell's) ----
  virtual ns::Value objectValue() const;
  virtual void setObjectValue(const ns::Value& value);
  virtual std::string stringValue() const;
  virtual void setStringValue(const std::string& string);
  int intValue() const { return int(integerValue()); }
  virtual long integerValue() const;
  void setIntValue(int value) { setIntegerValue(value); }
  virtual void setIntegerValue(long value);
  float floatValue() const { return float(doubleValue()); }
  virtual double doubleValue() const;
  void setFloatValue(float value) { setDoubleValue(value); }
  virtual void setDoubleValue(double value);
  ns::Ref<Font> font() const;
  virtual void setFont(const ns::Ref<Font>& font);
  TextAlignment alignment() const { return cell_ ? cell_->alignment() : TextAlignment::Natural; }
  void setAlignment(TextAlignment alignment);
  ControlSize controlSize() const { return cell_ ? cell_->controlSize() : ControlSize::Regular; }
  void setControlSize(ControlSize size);
  // Resizes the frame to the cell's size.
  virtual void sizeToFit();

  // Not retained.
  ns::Ref<ns::Object> delegate() const { return delegate_.lock(); }
  virtual void setDelegate(const ns::Ref<ns::Object>& delegate) { delegate_ = delegate; }

  // ---- views ----
  bool isFlipped() const override { return true; }
  void drawRect(const Rect& dirtyRect) override;
  void mouseDown(const ns::Ref<Event>& event) override;
  // A control takes its own presses, also in a window movable by its background.
  bool mouseDownCanMoveWindow() const override { return false; }
  // After the cell's tracking loop answered YES: whether the click acts (the cell's hook).
  virtual bool shouldActAfterTracking();

  std::string className() const override { return "NSControl"; }

 protected:
  ns::Ref<Cell> cell_;
  ns::Weak<ns::Object> delegate_;
  bool ignoresMultiClick_ = false;
};

}  // namespace ak
