#include "ui/ImageSliderCell.h"

#include "common/AppUtilities.h"
#include "common/IAppDelegate.h"
#include "platform/appkit/View.h"

namespace {

ns::Ref<ak::Image> flippedImage(const char* name) {
  auto image = ak::Image::imageNamed(name);
  if (image) image->setFlipped(true);
  return image;
}

}  // namespace

void ImageSliderCell::loadImages(const char* knob, const char* knobPressed, const char* barLeft,
                                 const char* barRight) {
  knob_ = flippedImage(knob);
  knob_pressed_ = flippedImage(knobPressed);
  volBarLeft_ = flippedImage(barLeft);
  volBarRight_ = flippedImage(barRight);
}

bool ImageSliderCell::isNewSystem() {
  if (auto delegate = appDelegate()) return delegate->isRunningMavericksOrHigher();
  return isSystemMavericksOrLater();
}

void ImageSliderCell::drawBarInside_flipped(const ak::Rect& rect, bool) {
  barRect_ = rect;
  drawAll();
}

void ImageSliderCell::drawKnob_(const ak::Rect& knobRect) {
  knobRect_ = knobRect;
  drawAll();
}

void ImageSliderCell::drawAll() {
  if (!(barRect_.size.width > 0) || !(knobRect_.size.width > 0)) return;
  drawTrack(barRect_, knobRect_);
  barRect_.size.width = 0;
  knobRect_.size.width = 0;
}

void ImageSliderCell::drawKnobImageAt(const ak::Point& point) {
  auto image = mouseDownFlags() ? knob_pressed_ : knob_;
  if (!image) return;
  auto view = controlView();
  const bool locked = view && view->lockFocusIfCanDraw();
  image->drawAtPoint_fromRect_operation_fraction(point, ak::ZeroRect, ak::CompositingOperation::SourceOver,
                                                 1.0);
  if (locked) view->unlockFocus();
}

void ImageSliderCell::drawSlice(const ns::Ref<ak::Image>& image, const ak::Rect& into, const ak::Rect& from) {
  // A slice narrower than nothing (a bar shorter than its end caps) draws nothing.
  if (!image || !(into.size.width > 0)) return;
  if (!(from == ak::ZeroRect) && !(from.size.width > 0)) return;
  image->drawInRect_fromRect_operation_fraction(into, from, ak::CompositingOperation::SourceOver, 1.0);
}
