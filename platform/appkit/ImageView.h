#pragma once
// Image views: one image scaled into the bounds by ImageScaling (0-3), centred.
#include "platform/appkit/Button.h"
#include "platform/appkit/View.h"

namespace ak {

class ImageView : public View {
 public:
  ns::Ref<Image> image() const { return image_; }
  void setImage(const ns::Ref<Image>& image);
  ImageScaling imageScaling() const { return scaling_; }
  void setImageScaling(ImageScaling scaling);
  bool isEditable() const { return false; }
  // Where the image is drawn in the bounds.
  Rect imageRect() const;
  void drawRect(const Rect& dirtyRect) override;
  std::string className() const override { return "NSImageView"; }

 private:
  ns::Ref<Image> image_;
  ImageScaling scaling_ = ImageScaling::ProportionallyDown;
};

}  // namespace ak
