#pragma once
// A linear colour ramp between colours at locations 0...1, drawn in RGB.
#include <vector>

#include "platform/appkit/Color.h"
#include "platform/appkit/Geometry.h"
#include "platform/core/Object.h"

namespace ak {

class BezierPath;

class Gradient : public ns::Object {
 public:
  struct Stop {
    double location;
    double rgba[4];
  };

  // nullptr unless both colours are given.
  static ns::Ref<Gradient> initWithStartingColor_endingColor(const ns::Ref<Color>& start,
                                                             const ns::Ref<Color>& end);
  // Evenly spaced colours; nullptr for fewer than two.
  static ns::Ref<Gradient> initWithColors(const std::vector<ns::Ref<Color>>& colors);
  // nullptr unless there is one location (0...1) per colour and at least two colours.
  static ns::Ref<Gradient> initWithColors_atLocations(const std::vector<ns::Ref<Color>>& colors,
                                                      const std::vector<double>& locations);

  explicit Gradient(std::vector<Stop> stops) : stops_(std::move(stops)) {}

  std::size_t numberOfColorStops() const { return stops_.size(); }
  const std::vector<Stop>& stops() const { return stops_; }

  // Fills the rectangle / path: the first colour where the angle's direction starts (0 degrees
  // left to right, 90 from min y to max y), the last where it ends.
  void drawInRect_angle(const Rect& rect, double angle) const;
  void drawInBezierPath_angle(const BezierPath& path, double angle) const;
  // Fills the current clip along the line; options as the graphics port's gradient options.
  void drawFromPoint_toPoint_options(const Point& start, const Point& end, unsigned options) const;

  std::string className() const override { return "NSGradient"; }

 private:
  std::vector<Stop> stops_;
};

}  // namespace ak
