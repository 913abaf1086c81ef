#pragma once
// Buttons. One display pass calls drawWithFrame_inView, drawBezelWithFrame_inView (bordered
// buttons only), drawInteriorWithFrame_inView, then drawImage_withFrame_inView and
// drawTitle_withFrame_inView. A click acts on mouse-up inside; on/off types toggle their state.
#include <string>

#include "platform/appkit/Control.h"

namespace ak {

class AttributedString;

enum class ButtonType : int {
  MomentaryLight = 0,
  PushOnPushOff = 1,
  Toggle = 2,
  Switch = 3,
  Radio = 4,
  MomentaryChange = 5,
  OnOff = 6,
  MomentaryPushIn = 7,
};

// What a pressed (and, with showsStateBy, an "on") button shows.
enum CellStyleMask : long {
  NoCellMask = 0,
  ContentsCellMask = 1,
  PushInCellMask = 2,
  ChangeGrayCellMask = 4,
  ChangeBackgroundCellMask = 8,
};

enum class ImageScaling : int {
  ProportionallyDown = 0,
  AxesIndependently = 1,
  None = 2,
  ProportionallyUpOrDown = 3,
};

enum class BezelStyle : int { Rounded = 1, RegularSquare = 2, ShadowlessSquare = 6, SmallSquare = 10 };

// Where `image` of `imageSize` goes inside `bounds` under `scaling`, centred.
Rect ScaledImageRect(const Size& imageSize, const Rect& bounds, ImageScaling scaling);

class ButtonCell : public ActionCell {
 public:
  void initTextCell(const std::string& string) override;
  void initImageCell(const ns::Ref<Image>& image) override;

  std::string title() const override { return title_; }
  void setTitle(const std::string& title) override;
  ns::Ref<AttributedString> attributedTitle() const;
  void setAttributedTitle(const ns::Ref<AttributedString>& title);
  const std::string& alternateTitle() const { return alternateTitle_; }
  void setAlternateTitle(const std::string& title);
  ns::Ref<Image> alternateImage() const { return alternateImage_; }
  void setAlternateImage(const ns::Ref<Image>& image);
  void setButtonType(ButtonType type);
  ButtonType buttonType() const { return buttonType_; }
  long highlightsBy() const { return highlightsBy_; }
  void setHighlightsBy(long mask) { highlightsBy_ = mask; }
  long showsStateBy() const { return showsStateBy_; }
  void setShowsStateBy(long mask) { showsStateBy_ = mask; }
  bool imageDimsWhenDisabled() const { return imageDimsWhenDisabled_; }
  void setImageDimsWhenDisabled(bool dims) { imageDimsWhenDisabled_ = dims; }
  ImageScaling imageScaling() const { return imageScaling_; }
  void setImageScaling(ImageScaling scaling) { imageScaling_ = scaling; }
  BezelStyle bezelStyle() const { return bezelStyle_; }
  void setBezelStyle(BezelStyle style) { bezelStyle_ = style; }
  const std::string& keyEquivalent() const { return keyEquivalent_; }
  void setKeyEquivalent(const std::string& key) { keyEquivalent_ = key; }
  unsigned long keyEquivalentModifierMask() const { return keyEquivalentModifierMask_; }
  void setKeyEquivalentModifierMask(unsigned long mask) { keyEquivalentModifierMask_ = mask; }
  // Whether the type keeps an on/off state that a click toggles.
  bool togglesState() const;

  // The button's value is its state.
  ns::Value objectValue() const override { return ns::Value(state_); }
  void setObjectValue(const ns::Value& value) override { setState(value.integerValue()); }
  std::string stringValue() const override { return title_; }
  void setStringValue(const std::string& string) override { setTitle(string); }

  // What shows now: the alternate title and image while pressed with the contents mask (or
  // while on with it in showsStateBy).
  std::string displayedTitle() const;
  ns::Ref<Image> displayedImage() const;

  Size cellSizeForBounds(const Rect& bounds) const override;
  Rect imageRectForBounds(const Rect& bounds) const override;
  Rect titleRectForBounds(const Rect& bounds) const override;
  void drawWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView) override;
  virtual void drawBezelWithFrame_inView(const Rect& frame, const ns::Ref<View>& controlView);
  void drawInteriorWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView) override;
  virtual void drawImage_withFrame_inView(const ns::Ref<Image>& image, const Rect& frame,
                                          const ns::Ref<View>& controlView);
  // Answers the rectangle the title took.
  virtual Rect drawTitle_withFrame_inView(const ns::Ref<AttributedString>& title, const Rect& frame,
                                          const ns::Ref<View>& controlView);

  bool startTrackingAt_inView(const Point& startPoint, const ns::Ref<View>& controlView) override;
  bool continueTracking_at_inView(const Point& lastPoint, const Point& currentPoint,
                                  const ns::Ref<View>& controlView) override;
  void stopTracking_at_inView_mouseIsUp(const Point& lastPoint, const Point& stopPoint,
                                        const ns::Ref<View>& controlView, bool flag) override;

  std::string className() const override { return "NSButtonCell"; }

 private:
  bool showsAlternate() const;
  std::string title_;
  ns::Ref<AttributedString> attributedTitle_;
  std::string alternateTitle_;
  ns::Ref<Image> alternateImage_;
  ButtonType buttonType_ = ButtonType::MomentaryPushIn;
  long highlightsBy_ = PushInCellMask | ChangeGrayCellMask;
  long showsStateBy_ = NoCellMask;
  bool imageDimsWhenDisabled_ = true;
  ImageScaling imageScaling_ = ImageScaling::ProportionallyDown;
  BezelStyle bezelStyle_ = BezelStyle::Rounded;
  std::string keyEquivalent_;
  unsigned long keyEquivalentModifierMask_ = 0;
};

class Button : public Control {
 public:
  static ns::Class cellClass();
  ns::Ref<ButtonCell> buttonCell() const { return std::dynamic_pointer_cast<ButtonCell>(cell_); }

  std::string title() const;
  void setTitle(const std::string& title);
  ns::Ref<AttributedString> attributedTitle() const;
  void setAttributedTitle(const ns::Ref<AttributedString>& title);
  std::string alternateTitle() const;
  void setAlternateTitle(const std::string& title);
  ns::Ref<Image> image() const;
  void setImage(const ns::Ref<Image>& image);
  ns::Ref<Image> alternateImage() const;
  void setAlternateImage(const ns::Ref<Image>& image);
  void setButtonType(ButtonType type);
  long state() const { return cell_ ? cell_->state() : OffState; }
  void setState(long state);
  bool isBordered() const { return cell_ && cell_->isBordered(); }
  void setBordered(bool bordered);
  ImageScaling imageScaling() const;
  void setImageScaling(ImageScaling scaling);
  void setBezelStyle(BezelStyle style);
  const std::string& keyEquivalent() const;
  void setKeyEquivalent(const std::string& key);
  void setKeyEquivalentModifierMask(unsigned long mask);

  // Highlights, toggles an on/off state and sends the action once, as a click would.
  void performClick(const ns::Ref<ns::Object>& sender) override;
  bool performKeyEquivalent(const ns::Ref<Event>& event) override;
  bool shouldActAfterTracking() override;
  bool acceptsFirstMouse(const ns::Ref<Event>&) override { return true; }

  std::string className() const override { return "NSButton"; }
};

}  // namespace ak
