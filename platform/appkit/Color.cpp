#include "platform/appkit/Color.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include "platform/appkit/Colors.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/core/NoDestructor.h"

namespace ak {

namespace {
double clamp01(double v) {
  return std::isnan(v) ? 0.0 : std::clamp(v, 0.0, 1.0);
}
bool isWhite(Color::Space s) {
  return s == Color::Space::CalibratedWhite || s == Color::Space::DeviceWhite;
}
}  // namespace

Color::Color(Space space, double r, double g, double b, double a)
    : space_(space), r_(clamp01(r)), g_(clamp01(g)), b_(clamp01(b)), a_(clamp01(a)) {
  if (isWhite(space_)) g_ = b_ = r_;
}

ns::Ref<Color> Color::colorWithCalibratedWhite_alpha(double white, double alpha) {
  return ns::make<Color>(Space::CalibratedWhite, white, white, white, alpha);
}
ns::Ref<Color> Color::colorWithDeviceWhite_alpha(double white, double alpha) {
  return ns::make<Color>(Space::DeviceWhite, white, white, white, alpha);
}
ns::Ref<Color> Color::colorWithWhite_alpha(double white, double alpha) {
  return colorWithCalibratedWhite_alpha(white, alpha);
}
ns::Ref<Color> Color::colorWithCalibratedRed_green_blue_alpha(double r, double g, double b, double a) {
  return ns::make<Color>(Space::CalibratedRGB, r, g, b, a);
}
ns::Ref<Color> Color::colorWithDeviceRed_green_blue_alpha(double r, double g, double b, double a) {
  return ns::make<Color>(Space::DeviceRGB, r, g, b, a);
}
ns::Ref<Color> Color::colorWithSRGBRed_green_blue_alpha(double r, double g, double b, double a) {
  return ns::make<Color>(Space::SRGB, r, g, b, a);
}
ns::Ref<Color> Color::colorWithRed_green_blue_alpha(double r, double g, double b, double a) {
  return colorWithCalibratedRed_green_blue_alpha(r, g, b, a);
}

std::string Color::colorSpaceName() const {
  switch (space_) {
    case Space::CalibratedWhite:
      return CalibratedWhiteColorSpace;
    case Space::DeviceWhite:
      return DeviceWhiteColorSpace;
    case Space::CalibratedRGB:
      return CalibratedRGBColorSpace;
    case Space::DeviceRGB:
      return DeviceRGBColorSpace;
    case Space::SRGB:
      return CustomColorSpace;
  }
  return CustomColorSpace;
}

double Color::whiteComponent() const {
  if (isWhite(space_)) return r_;
  return clamp01(0.299 * r_ + 0.587 * g_ + 0.114 * b_);
}

void Color::getRed_green_blue_alpha(double* r, double* g, double* b, double* a) const {
  if (r) *r = r_;
  if (g) *g = g_;
  if (b) *b = b_;
  if (a) *a = a_;
}

ns::Ref<Color> Color::colorWithAlphaComponent(double alpha) const {
  return ns::make<Color>(space_, r_, g_, b_, alpha);
}

ns::Ref<Color> Color::colorUsingColorSpaceName(const std::string& name) const {
  if (name == CalibratedWhiteColorSpace || name == DeviceWhiteColorSpace) {
    double w = whiteComponent();
    return ns::make<Color>(name == DeviceWhiteColorSpace ? Space::DeviceWhite : Space::CalibratedWhite, w, w,
                           w, a_);
  }
  if (name == CalibratedRGBColorSpace) return ns::make<Color>(Space::CalibratedRGB, r_, g_, b_, a_);
  if (name == DeviceRGBColorSpace) return ns::make<Color>(Space::DeviceRGB, r_, g_, b_, a_);
  return nullptr;
}

ns::Ref<Color> Color::blendedColorWithFraction_ofColor(double fraction, const Color& other) const {
  double f = clamp01(fraction);
  auto mix = [f](double a, double b) { return a + (b - a) * f; };
  Space space = isWhite(space_) && isWhite(other.space_) ? space_ : Space::CalibratedRGB;
  return ns::make<Color>(space, mix(r_, other.r_), mix(g_, other.g_), mix(b_, other.b_), mix(a_, other.a_));
}

void Color::set() const {
  if (auto context = GraphicsContext::currentContext()) {
    context->setFillColor(*this);
    context->setStrokeColor(*this);
  }
}

void Color::setFill() const {
  if (auto context = GraphicsContext::currentContext()) context->setFillColor(*this);
}

void Color::setStroke() const {
  if (auto context = GraphicsContext::currentContext()) context->setStrokeColor(*this);
}

bool Color::isEqual(const ns::Object* other) const {
  auto* c = dynamic_cast<const Color*>(other);
  return c && c->space_ == space_ && c->r_ == r_ && c->g_ == g_ && c->b_ == b_ && c->a_ == a_;
}

std::size_t Color::hash() const {
  std::size_t h = std::hash<int>()(int(space_));
  for (double v : {r_, g_, b_, a_}) h = h * 31 + std::hash<double>()(v);
  return h;
}

std::string Color::description() const {
  char buf[128];
  if (isWhite(space_)) {
    std::snprintf(buf, sizeof buf, "%s %g %g", colorSpaceName().c_str(), r_, a_);
  } else {
    std::snprintf(buf, sizeof buf, "%s %g %g %g %g", colorSpaceName().c_str(), r_, g_, b_, a_);
  }
  return buf;
}

namespace colors {

#define PL_COLOR(name, expr)                               \
  const ns::Ref<Color>& name() {                           \
    static const ns::NoDestructor<ns::Ref<Color>> c(expr); \
    return *c;                                             \
  }

PL_COLOR(blackColor, Color::colorWithCalibratedWhite_alpha(0, 1))
PL_COLOR(darkGrayColor, Color::colorWithCalibratedWhite_alpha(1.0 / 3, 1))
PL_COLOR(grayColor, Color::colorWithCalibratedWhite_alpha(0.5, 1))
PL_COLOR(lightGrayColor, Color::colorWithCalibratedWhite_alpha(2.0 / 3, 1))
PL_COLOR(whiteColor, Color::colorWithCalibratedWhite_alpha(1, 1))
PL_COLOR(clearColor, Color::colorWithCalibratedWhite_alpha(0, 0))
PL_COLOR(redColor, Color::colorWithCalibratedRed_green_blue_alpha(1, 0, 0, 1))
PL_COLOR(greenColor, Color::colorWithCalibratedRed_green_blue_alpha(0, 1, 0, 1))
PL_COLOR(blueColor, Color::colorWithCalibratedRed_green_blue_alpha(0, 0, 1, 1))
PL_COLOR(cyanColor, Color::colorWithCalibratedRed_green_blue_alpha(0, 1, 1, 1))
PL_COLOR(yellowColor, Color::colorWithCalibratedRed_green_blue_alpha(1, 1, 0, 1))
PL_COLOR(magentaColor, Color::colorWithCalibratedRed_green_blue_alpha(1, 0, 1, 1))
PL_COLOR(orangeColor, Color::colorWithCalibratedRed_green_blue_alpha(1, 0.5, 0, 1))
PL_COLOR(purpleColor, Color::colorWithCalibratedRed_green_blue_alpha(0.5, 0, 0.5, 1))
PL_COLOR(brownColor, Color::colorWithCalibratedRed_green_blue_alpha(0.6, 0.4, 0.2, 1))

PL_COLOR(controlColor, Color::colorWithCalibratedWhite_alpha(1, 1))
PL_COLOR(controlBackgroundColor, Color::colorWithCalibratedWhite_alpha(1, 1))
PL_COLOR(controlTextColor, Color::colorWithCalibratedWhite_alpha(0, 1))
PL_COLOR(disabledControlTextColor, Color::colorWithCalibratedWhite_alpha(0, 0.25))
PL_COLOR(textColor, Color::colorWithCalibratedWhite_alpha(0, 1))
PL_COLOR(textBackgroundColor, Color::colorWithCalibratedWhite_alpha(1, 1))
PL_COLOR(windowBackgroundColor, Color::colorWithCalibratedWhite_alpha(0.925, 1))
PL_COLOR(selectedTextBackgroundColor, Color::colorWithSRGBRed_green_blue_alpha(0.702, 0.843, 1.0, 1))
PL_COLOR(selectedControlColor, Color::colorWithSRGBRed_green_blue_alpha(0.702, 0.843, 1.0, 1))
PL_COLOR(alternateSelectedControlColor, Color::colorWithSRGBRed_green_blue_alpha(0.0, 0.388, 0.882, 1))
PL_COLOR(secondarySelectedControlColor, Color::colorWithCalibratedWhite_alpha(0.863, 1))
PL_COLOR(selectedMenuItemColor, Color::colorWithSRGBRed_green_blue_alpha(0.0, 0.388, 0.882, 1))
PL_COLOR(keyboardFocusIndicatorColor, Color::colorWithSRGBRed_green_blue_alpha(0.231, 0.6, 0.988, 0.5))
PL_COLOR(gridColor, Color::colorWithCalibratedWhite_alpha(0.8, 1))
PL_COLOR(headerColor, Color::colorWithCalibratedWhite_alpha(1, 1))
PL_COLOR(headerTextColor, Color::colorWithCalibratedWhite_alpha(0, 0.85))
PL_COLOR(shadowColor, Color::colorWithCalibratedWhite_alpha(0, 1))
PL_COLOR(highlightColor, Color::colorWithCalibratedWhite_alpha(1, 1))

#undef PL_COLOR

}  // namespace colors

}  // namespace ak
