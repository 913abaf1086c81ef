#include "ui/ImageRoundedCorner.h"

#include "platform/appkit/BezierPath.h"
#include "platform/appkit/GraphicsContext.h"

namespace {
constexpr double kCornerRadius = 15.0;
}

ns::Ref<ak::Image> ImageRoundedCorner::roundCorners(const ns::Ref<ak::Image>& image) {
  if (!image) return nullptr;
  const ak::Size size = image->size();
  if (!(size.width > 0) || !(size.height > 0)) return image->copy();
  const ak::Rect rect = ak::MakeRect(0, 0, size.width, size.height);
  auto rounded = ak::Image::initWithSize(size);
  rounded->lockFocus();
  if (auto context = ak::GraphicsContext::currentContext()) {
    context->setImageInterpolation(ak::ImageInterpolation::High);
    ak::BezierPath::bezierPathWithRoundedRect_xRadius_yRadius(rect, kCornerRadius, kCornerRadius)->addClip();
    image->drawAtPoint_fromRect_operation_fraction(rect.origin, rect, ak::CompositingOperation::SourceOver,
                                                   1.0);
  }
  rounded->unlockFocus();
  return rounded;
}

ns::Ref<ak::Image> ImageRoundedCorner::offsetImage_by(const ns::Ref<ak::Image>& image, float) {
  return image;
}
