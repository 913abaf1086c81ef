#include "ui/VideoQualityPopUpButtonCell.h"

#include "platform/runtime/ClassBuilder.h"

namespace {

ns::Ref<ak::Image> flippedCopy(const char* name) {
  auto image = ak::Image::imageNamed(name);
  if (!image) return nullptr;
  auto copy = image->copy();
  copy->setFlipped(true);
  return copy;
}

}  // namespace

void VideoQualityPopUpButtonCell::initWithCoder(ak::NibCoder& coder) {
  ak::PopUpButtonCell::initWithCoder(coder);
  lowerbarImage_ = flippedCopy("lower_bar");
  arrowImage_ = flippedCopy("blackdownarrow");
}

void VideoQualityPopUpButtonCell::drawImageWithFrame_inView(const ak::Rect& cellFrame,
                                                            const ns::Ref<ak::View>&) {
  if (lowerbarImage_) {
    lowerbarImage_->drawInRect_fromRect_operation_fraction(cellFrame,
                                                           ak::MakeRect(0, 16.0, cellFrame.size.width, 26.0),
                                                           ak::CompositingOperation::SourceOver, 1.0);
  }
  if (arrowImage_) {
    arrowImage_->drawAtPoint_fromRect_operation_fraction(ak::Point{80.0, 8.0}, ak::ZeroRect,
                                                         ak::CompositingOperation::SourceOver, 1.0);
  }
}

PL_CLASS(VideoQualityPopUpButtonCell, ak::PopUpButtonCell) {}
