#include "platform/appkit/ImageView.h"

#include <cmath>

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/BezierPath.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Make.h"
#include "platform/runtime/ClassBuilder.h"

namespace ak {

void ImageView::setImage(const ns::Ref<Image>& image) {
  image_ = image;
  setNeedsDisplay(true);
}

void ImageView::setImageScaling(ImageScaling scaling) {
  scaling_ = scaling;
  setNeedsDisplay(true);
}

Rect ImageView::imageRect() const {
  return image_ ? ScaledImageRect(image_->size(), bounds(), scaling_) : ZeroRect;
}

void ImageView::drawRect(const Rect&) {
  if (!image_) return;
  image_->drawInRect_fromRect_operation_fraction_respectFlipped_hints(
      imageRect(), ZeroRect, CompositingOperation::SourceOver, 1, true, nullptr);
}

}  // namespace ak

PL_CLASS_NAMED(ak::ImageView, "NSImageView", ak::View) {}
