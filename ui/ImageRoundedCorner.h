#pragma once
// Rounded-corner copies of images (the signed-in account's picture on the user button).
#include "platform/appkit/Image.h"

struct ImageRoundedCorner {
  // A new image of the source's own width and height showing the source clipped to a rounded
  // rectangle of radius 15, drawn with high interpolation. nullptr for nullptr; an image without
  // extent comes back as a copy.
  static ns::Ref<ak::Image> roundCorners(const ns::Ref<ak::Image>& image);
  // Answers the source itself: nothing settles what an offset copy should look like.
  static ns::Ref<ak::Image> offsetImage_by(const ns::Ref<ak::Image>& image, float offset);
};
