#include "platform/appkit/Gradient.h"

#include <cmath>
#include <numbers>

#include "platform/appkit/BezierPath.h"
#include "platform/appkit/DrawingInternal.h"

namespace ak {

ns::Ref<Gradient> Gradient::initWithStartingColor_endingColor(const ns::Ref<Color>& start,
                                                              const ns::Ref<Color>& end) {
  if (!start || !end) return nullptr;
  return initWithColors_atLocations({start, end}, {0.0, 1.0});
}

ns::Ref<Gradient> Gradient::initWithColors(const std::vector<ns::Ref<Color>>& colors) {
  if (colors.size() < 2) return nullptr;
  std::vector<double> locations;
  for (std::size_t i = 0; i < colors.size(); ++i) locations.push_back(double(i) / double(colors.size() - 1));
  return initWithColors_atLocations(colors, locations);
}

ns::Ref<Gradient> Gradient::initWithColors_atLocations(const std::vector<ns::Ref<Color>>& colors,
                                                       const std::vector<double>& locations) {
  if (colors.size() < 2 || colors.size() != locations.size()) return nullptr;
  std::vector<Stop> stops;
  for (std::size_t i = 0; i < colors.size(); ++i) {
    if (!colors[i] || !std::isfinite(locations[i])) return nullptr;
    Stop stop{std::clamp(locations[i], 0.0, 1.0), {}};
    colorComponents(*colors[i], stop.rgba);
    stops.push_back(stop);
  }
  return ns::make<Gradient>(std::move(stops));
}

namespace {
// The ends of the ramp across `rect` at `angle` degrees: the projections of its corners.
void rampEnds(const Rect& rect, double angle, Point& start, Point& end) {
  const double radians = angle * std::numbers::pi / 180;
  const double ux = std::cos(radians), uy = std::sin(radians);
  const double half = (std::fabs(Width(rect) * ux) + std::fabs(Height(rect) * uy)) / 2;
  start = {MidX(rect) - ux * half, MidY(rect) - uy * half};
  end = {MidX(rect) + ux * half, MidY(rect) + uy * half};
}
}  // namespace

void Gradient::drawInRect_angle(const Rect& rect, double angle) const {
  auto context = GraphicsContext::currentContext();
  if (!context || !context->native().checkRect(rect, "a gradient") || IsEmptyRect(rect) ||
      !std::isfinite(angle))
    return;
  Point start, end;
  rampEnds(rect, angle, start, end);
  context->saveGState();
  context->clipToRect(rect);
  context->drawLinearGradient(*this, start, end,
                              GradientDrawsBeforeStartLocation | GradientDrawsAfterEndLocation);
  context->restoreGState();
}

void Gradient::drawInBezierPath_angle(const BezierPath& path, double angle) const {
  auto context = GraphicsContext::currentContext();
  if (!context || path.isEmpty() || !std::isfinite(angle)) return;
  Point start, end;
  rampEnds(path.bounds(), angle, start, end);
  context->saveGState();
  path.addClip();
  context->drawLinearGradient(*this, start, end,
                              GradientDrawsBeforeStartLocation | GradientDrawsAfterEndLocation);
  context->restoreGState();
}

void Gradient::drawFromPoint_toPoint_options(const Point& start, const Point& end, unsigned options) const {
  if (auto context = GraphicsContext::currentContext())
    context->drawLinearGradient(*this, start, end, options);
}

}  // namespace ak
