#pragma once
// A drop shadow: offset in base coordinates (positive height is up whatever the flip), blur
// radius and colour (default black at one third alpha). set() applies it to everything drawn
// in the current context until the graphics state is restored. Blur radii above 64 points are
// drawn as 64.
#include "platform/appkit/Color.h"
#include "platform/appkit/Geometry.h"
#include "platform/core/Object.h"

namespace ak {

class Shadow : public ns::Object {
 public:
  Shadow();

  Size shadowOffset() const { return offset_; }
  void setShadowOffset(Size offset) { offset_ = offset; }
  double shadowBlurRadius() const { return blur_; }
  void setShadowBlurRadius(double radius) { blur_ = radius; }
  const ns::Ref<Color>& shadowColor() const { return color_; }
  void setShadowColor(ns::Ref<Color> color);

  void set() const;

  bool isEqual(const ns::Object* other) const override;
  std::size_t hash() const override;
  std::string className() const override { return "NSShadow"; }

 private:
  Size offset_;
  double blur_ = 0;
  ns::Ref<Color> color_;
};

}  // namespace ak
