#pragma once
// Cells: the drawing and mouse tracking of a control, split out so that a subclass can restyle a
// control by overriding single hooks. Every drawing and geometry method is virtual, and one
// display pass calls them in a fixed order (see each cell class) so an override sees exactly
// those calls.
#include <string>

#include "platform/appkit/Event.h"
#include "platform/appkit/Geometry.h"
#include "platform/appkit/GraphicsTypes.h"
#include "platform/appkit/ParagraphStyle.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/runtime/Sel.h"

namespace ak {

class View;
class Font;
class Image;
class TextView;
class NibCoder;
class AttributedString;

enum class CellType : int { Null = 0, Text = 1, Image = 2 };
enum CellStateValue : long { MixedState = -1, OffState = 0, OnState = 1 };
enum class BackgroundStyle : int { Light = 0, Dark = 1 };
enum class FocusRingType : int { Default = 0, None = 1, Exterior = 2 };

class Cell : public ns::Object {
 public:
  Cell();
  ~Cell() override;

  // ---- initialisers (ak::make runs them) ----
  virtual void initTextCell(const std::string& string);
  virtual void initImageCell(const ns::Ref<Image>& image);
  virtual void initWithCoder(NibCoder& coder);
  void init() { initTextCell(""); }
  void init(const std::string& string) { initTextCell(string); }
  void init(const char* string) { initTextCell(string); }
  void init(NibCoder& coder) { initWithCoder(coder); }

  // ---- kind and state ----
  CellType type() const { return type_; }
  void setType(CellType type) { type_ = type; }
  long state() const { return state_; }
  // Values other than on, off and mixed count as on; mixed becomes on without allowsMixedState.
  virtual void setState(long state);
  bool allowsMixedState() const { return allowsMixedState_; }
  void setAllowsMixedState(bool allows) { allowsMixedState_ = allows; }
  long nextState() const;
  void setNextState() { setState(nextState()); }
  bool isHighlighted() const { return highlighted_; }
  virtual void setHighlighted(bool highlighted);
  virtual bool isEnabled() const { return enabled_; }
  virtual void setEnabled(bool enabled);
  bool isBordered() const { return bordered_; }
  void setBordered(bool bordered);
  bool isBezeled() const { return bezeled_; }
  void setBezeled(bool bezeled);
  bool isEditable() const { return editable_; }
  void setEditable(bool editable);
  bool isSelectable() const { return selectable_ || editable_; }
  void setSelectable(bool selectable) { selectable_ = selectable; }
  bool isContinuous() const { return continuous_; }
  void setContinuous(bool continuous) { continuous_ = continuous; }
  BackgroundStyle backgroundStyle() const { return backgroundStyle_; }
  virtual void setBackgroundStyle(BackgroundStyle style);
  FocusRingType focusRingType() const { return focusRingType_; }
  void setFocusRingType(FocusRingType type) { focusRingType_ = type; }
  LineBreakMode lineBreakMode() const { return lineBreakMode_; }
  void setLineBreakMode(LineBreakMode mode);
  bool truncatesLastVisibleLine() const { return truncatesLastVisibleLine_; }
  void setTruncatesLastVisibleLine(bool truncates) { truncatesLastVisibleLine_ = truncates; }
  bool wraps() const { return wraps_; }
  void setWraps(bool wraps);
  bool usesSingleLineMode() const { return singleLine_; }
  void setUsesSingleLineMode(bool single) { singleLine_ = single; }
  bool scrollable() const { return scrollable_; }
  void setScrollable(bool scrollable) { scrollable_ = scrollable; }
  TextAlignment alignment() const { return alignment_; }
  void setAlignment(TextAlignment alignment);
  ControlSize controlSize() const { return controlSize_; }
  void setControlSize(ControlSize size) { controlSize_ = size; }
  long tag() const { return tag_; }
  void setTag(long tag) { tag_ = tag; }

  // ---- the control the cell draws for (not retained) ----
  ns::Ref<View> controlView() const { return controlView_.lock(); }
  void setControlView(const ns::Ref<View>& view) { controlView_ = view; }

  // ---- values ----
  virtual ns::Value objectValue() const { return value_; }
  virtual void setObjectValue(const ns::Value& value);
  virtual std::string stringValue() const;
  // Invalid UTF-8 becomes U+FFFD.
  virtual void setStringValue(const std::string& string);
  virtual int intValue() const { return int(integerValue()); }
  virtual long integerValue() const;
  virtual float floatValue() const { return float(doubleValue()); }
  virtual double doubleValue() const;
  void setIntValue(int value) { setIntegerValue(value); }
  virtual void setIntegerValue(long value) { setObjectValue(ns::Value(value)); }
  void setFloatValue(float value) { setDoubleValue(value); }
  virtual void setDoubleValue(double value) { setObjectValue(ns::Value(value)); }
  virtual std::string title() const { return stringValue(); }
  virtual void setTitle(const std::string& title) { setStringValue(title); }
  ns::Ref<Font> font() const;
  virtual void setFont(const ns::Ref<Font>& font);
  ns::Ref<Image> image() const { return image_; }
  virtual void setImage(const ns::Ref<Image>& image);
  // The text as drawn: font, colour (enabled or not, light or dark background) and alignment.
  virtual ns::Dictionary textAttributes() const;

  // ---- target and action (action cells keep them; the base cell answers none) ----
  virtual ns::Ref<ns::Object> target() const { return nullptr; }
  virtual void setTarget(const ns::Ref<ns::Object>&) {}
  virtual ns::Sel action() const { return {}; }
  virtual void setAction(ns::Sel) {}

  // ---- geometry ----
  virtual Size cellSize() const;
  virtual Size cellSizeForBounds(const Rect& bounds) const;
  virtual Rect drawingRectForBounds(const Rect& bounds) const;
  virtual Rect titleRectForBounds(const Rect& bounds) const;
  virtual Rect imageRectForBounds(const Rect& bounds) const;

  // ---- drawing ----
  // The whole cell: the frame (border or bezel), then the interior.
  virtual void drawWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView);
  virtual void drawInteriorWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView);
  virtual void highlight_withFrame_inView(bool flag, const Rect& cellFrame, const ns::Ref<View>& controlView);

  // ---- mouse tracking ----
  // Runs a loop taking drags and the mouse-up in the event-tracking mode (default-mode timers
  // wait). Answers YES when the mouse went up inside `cellFrame` (anywhere with
  // `untilMouseUp`), NO when it left the frame first (without `untilMouseUp`) or the loop ended
  // without a mouse-up.
  virtual bool trackMouse_inRect_ofView_untilMouseUp(const ns::Ref<Event>& event, const Rect& cellFrame,
                                                     const ns::Ref<View>& controlView, bool untilMouseUp);
  virtual bool startTrackingAt_inView(const Point& startPoint, const ns::Ref<View>& controlView);
  virtual bool continueTracking_at_inView(const Point& lastPoint, const Point& currentPoint,
                                          const ns::Ref<View>& controlView);
  virtual void stopTracking_at_inView_mouseIsUp(const Point& lastPoint, const Point& stopPoint,
                                                const ns::Ref<View>& controlView, bool flag);
  // The modifier flags of the mouse-down being tracked (never zero then); 0 outside tracking.
  unsigned long mouseDownFlags() const { return mouseDownFlags_; }
  // Where the last tracking loop saw the mouse go up (control view coordinates).
  Point lastTrackingPoint() const { return lastTrackingPoint_; }

  // ---- editing ----
  // Called before the field editor is placed; subclasses set its colours and attributes here.
  virtual TextView* setUpFieldEditorAttributes(TextView* textObject);

  std::string className() const override { return "NSCell"; }

 protected:
  // Redraws the control view (after a state or value change).
  void updateControlView() const;
  // The text drawn in `rect`, vertically centred on one line.
  void drawText(const std::string& text, const ns::Dictionary& attributes, const Rect& rect,
                const ns::Ref<View>& view) const;

  CellType type_ = CellType::Text;
  long state_ = OffState;
  bool allowsMixedState_ = false;
  bool highlighted_ = false;
  bool enabled_ = true;
  bool bordered_ = false;
  bool bezeled_ = false;
  bool editable_ = false;
  bool selectable_ = false;
  bool continuous_ = false;
  bool truncatesLastVisibleLine_ = false;
  bool wraps_ = false;
  bool singleLine_ = false;
  bool scrollable_ = false;
  BackgroundStyle backgroundStyle_ = BackgroundStyle::Light;
  FocusRingType focusRingType_ = FocusRingType::Default;
  LineBreakMode lineBreakMode_ = LineBreakMode::WordWrapping;
  TextAlignment alignment_ = TextAlignment::Natural;
  ControlSize controlSize_ = ControlSize::Regular;
  long tag_ = 0;
  ns::Weak<View> controlView_;
  ns::Value value_;
  ns::Ref<Font> font_;
  ns::Ref<Image> image_;
  unsigned long mouseDownFlags_ = 0;
  Point lastTrackingPoint_;
};

// A cell that sends an action to a target (weak; nil means the responder chain).
class ActionCell : public Cell {
 public:
  ns::Ref<ns::Object> target() const override { return target_.lock(); }
  void setTarget(const ns::Ref<ns::Object>& target) override { target_ = target; }
  ns::Sel action() const override { return action_; }
  void setAction(ns::Sel action) override { action_ = action; }
  std::string className() const override { return "NSActionCell"; }

 private:
  ns::Weak<ns::Object> target_;
  ns::Sel action_;
};

}  // namespace ak
