#pragma once
// The quality button of the control bar: a slice of the bar image and a black arrow, under the
// title the pop-up cell draws.
#include "platform/appkit/Image.h"
#include "platform/appkit/PopUpButton.h"

class VideoQualityPopUpButtonCell : public ak::PopUpButtonCell {
 public:
  void initWithCoder(ak::NibCoder& coder) override;
  void drawImageWithFrame_inView(const ak::Rect& cellFrame, const ns::Ref<ak::View>& controlView) override;

  const ns::Ref<ak::Image>& lowerbarImage() const { return lowerbarImage_; }
  const ns::Ref<ak::Image>& arrowImage() const { return arrowImage_; }
  std::string className() const override { return "VideoQualityPopUpButtonCell"; }

 private:
  ns::Ref<ak::Image> lowerbarImage_, arrowImage_;
};
