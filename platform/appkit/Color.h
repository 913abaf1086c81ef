#pragma once
// Colours. White and RGB colours in the calibrated, device and sRGB spaces are all drawn as
// sRGB numbers; the space is kept for equality and for colorSpaceName. Components are clamped
// to 0...1 (NaN becomes 0). Immutable, so colours may be shared between threads.
#include <optional>
#include <string>

#include "platform/core/Object.h"

namespace ak {

inline constexpr char CalibratedWhiteColorSpace[] = "NSCalibratedWhiteColorSpace";
inline constexpr char DeviceWhiteColorSpace[] = "NSDeviceWhiteColorSpace";
inline constexpr char CalibratedRGBColorSpace[] = "NSCalibratedRGBColorSpace";
inline constexpr char DeviceRGBColorSpace[] = "NSDeviceRGBColorSpace";
inline constexpr char CustomColorSpace[] = "NSCustomColorSpace";  // sRGB colours report this

class Color : public ns::Object {
 public:
  enum class Space { CalibratedWhite, DeviceWhite, CalibratedRGB, DeviceRGB, SRGB };

  Color(Space space, double r, double g, double b, double a);

  static ns::Ref<Color> colorWithCalibratedWhite_alpha(double white, double alpha);
  static ns::Ref<Color> colorWithDeviceWhite_alpha(double white, double alpha);
  static ns::Ref<Color> colorWithWhite_alpha(double white, double alpha);
  static ns::Ref<Color> colorWithCalibratedRed_green_blue_alpha(double r, double g, double b, double a);
  static ns::Ref<Color> colorWithDeviceRed_green_blue_alpha(double r, double g, double b, double a);
  static ns::Ref<Color> colorWithSRGBRed_green_blue_alpha(double r, double g, double b, double a);
  static ns::Ref<Color> colorWithRed_green_blue_alpha(double r, double g, double b, double a);

  Space space() const { return space_; }
  std::string colorSpaceName() const;
  double redComponent() const { return r_; }
  double greenComponent() const { return g_; }
  double blueComponent() const { return b_; }
  double alphaComponent() const { return a_; }
  // The grey value: the white component of a white colour, the luminance of an RGB one.
  double whiteComponent() const;
  void getRed_green_blue_alpha(double* r, double* g, double* b, double* a) const;

  ns::Ref<Color> colorWithAlphaComponent(double alpha) const;
  // The colour in the named space (one of the constants above), or nullptr for another name.
  ns::Ref<Color> colorUsingColorSpaceName(const std::string& name) const;
  // This colour mixed with `fraction` of the other, in RGB.
  ns::Ref<Color> blendedColorWithFraction_ofColor(double fraction, const Color& other) const;

  // Makes the colour the current context's fill and stroke (set), fill or stroke colour.
  void set() const;
  void setFill() const;
  void setStroke() const;

  bool isEqual(const ns::Object* other) const override;
  std::size_t hash() const override;
  std::string className() const override { return "NSColor"; }
  std::string description() const override;

 private:
  Space space_;
  double r_, g_, b_, a_;
};

}  // namespace ak
