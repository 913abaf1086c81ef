#pragma once
// A view's layer: how the view is composited into its window (anchor point, background,
// corner radius, shadow, opacity, rotation) and the animations running on it. The window
// draws the view turned by the layer's current (presentation) rotation about the anchor point.
#include <map>
#include <string>
#include <vector>

#include "platform/appkit/Geometry.h"
#include "platform/core/Object.h"

namespace ak {

class View;
class Color;
class BasicAnimation;

class Layer : public ns::Object {
 public:
  static ns::Ref<Layer> layer() { return ns::make<Layer>(); }

  // In units of the bounds: (0, 0) the lower left of an unflipped view, (0.5, 0.5) the middle.
  Point anchorPoint() const { return anchor_; }
  void setAnchorPoint(const Point& anchor) {
    anchor_ = anchor;
    setNeedsDisplay();
  }
  ns::Ref<Color> backgroundColor() const { return background_; }
  void setBackgroundColor(const ns::Ref<Color>& color);
  double cornerRadius() const { return cornerRadius_; }
  void setCornerRadius(double radius);
  double opacity() const { return opacity_; }
  void setOpacity(double opacity);
  ns::Ref<Color> shadowColor() const { return shadowColor_; }
  void setShadowColor(const ns::Ref<Color>& color) {
    shadowColor_ = color;
    setNeedsDisplay();
  }
  double shadowOpacity() const { return shadowOpacity_; }
  void setShadowOpacity(double opacity);
  Size shadowOffset() const { return shadowOffset_; }
  void setShadowOffset(const Size& offset) {
    shadowOffset_ = offset;
    setNeedsDisplay();
  }
  double shadowRadius() const { return shadowRadius_; }
  void setShadowRadius(double radius) {
    shadowRadius_ = radius >= 0 && radius < 1e4 ? radius : 0;
    setNeedsDisplay();
  }
  bool masksToBounds() const { return masksToBounds_; }
  void setMasksToBounds(bool masks) {
    masksToBounds_ = masks;
    setNeedsDisplay();
  }
  // The model value of "transform.rotation.z" (radians, counter-clockwise).
  double rotation() const { return rotation_; }
  void setRotation(double radians);

  // Animations by key; the layer steps them and marks its view for display on each frame.
  void addAnimation_forKey(const ns::Ref<BasicAnimation>& animation, const std::string& key);
  void removeAnimationForKey(const std::string& key);
  void removeAllAnimations();
  ns::Ref<BasicAnimation> animationForKey(const std::string& key) const;
  std::vector<std::string> animationKeys() const;

  // The values as drawn now: the model value, or the running animation's.
  double presentationRotation() const;
  double presentationOpacity() const;

  // How far beyond the view's rectangle the layer paints (its shadow), on each side.
  Size outset() const;

  // The view it backs (not retained).
  ns::Ref<View> delegate() const { return view_.lock(); }
  void setDelegate(const ns::Ref<View>& view) { view_ = view; }
  void setNeedsDisplay();

 private:
  struct Running {
    ns::Ref<BasicAnimation> animation;
    double start = 0;
  };
  double presentation(const std::string& keyPath, double model) const;
  bool tick(double now);

  Point anchor_;
  ns::Ref<Color> background_;
  double cornerRadius_ = 0;
  double opacity_ = 1;
  ns::Ref<Color> shadowColor_;
  double shadowOpacity_ = 0;
  Size shadowOffset_{0, -3};
  double shadowRadius_ = 3;
  bool masksToBounds_ = false;
  double rotation_ = 0;
  std::map<std::string, Running> animations_;
  std::vector<std::string> order_;
  ns::Weak<View> view_;
  bool ticking_ = false;
};

}  // namespace ak
