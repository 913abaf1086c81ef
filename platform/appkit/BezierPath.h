#pragma once
// Paths of lines and cubic curves, with the stroke settings they are drawn with. fill, stroke
// and addClip act on the current graphics context.
#include <vector>

#include "platform/appkit/AffineTransform.h"
#include "platform/appkit/Geometry.h"
#include "platform/appkit/GraphicsTypes.h"
#include "platform/core/Object.h"

namespace ak {

enum class BezierPathElement : int { MoveTo = 0, LineTo = 1, CurveTo = 2, ClosePath = 3 };

class BezierPath : public ns::Object {
 public:
  struct Element {
    BezierPathElement type;
    Point points[3];  // curve: control 1, control 2, end point; move and line: points[0]
  };

  BezierPath() = default;
  static ns::Ref<BezierPath> bezierPath();
  static ns::Ref<BezierPath> bezierPathWithRect(const Rect& rect);
  static ns::Ref<BezierPath> bezierPathWithOvalInRect(const Rect& rect);
  static ns::Ref<BezierPath> bezierPathWithRoundedRect_xRadius_yRadius(const Rect& rect, double xRadius,
                                                                       double yRadius);
  static void fillRect(const Rect& rect);
  static void strokeRect(const Rect& rect);
  static void clipRect(const Rect& rect);
  static void strokeLineFromPoint_toPoint(const Point& a, const Point& b);

  void moveToPoint(const Point& p);
  void lineToPoint(const Point& p);
  void curveToPoint_controlPoint1_controlPoint2(const Point& end, const Point& c1, const Point& c2);
  void relativeMoveToPoint(const Point& p);
  void relativeLineToPoint(const Point& p);
  void closePath();
  void removeAllPoints();
  void appendBezierPath(const BezierPath& other);
  void appendBezierPathWithRect(const Rect& rect);
  void appendBezierPathWithOvalInRect(const Rect& rect);
  void appendBezierPathWithRoundedRect_xRadius_yRadius(const Rect& rect, double xRadius, double yRadius);
  // An arc of `radius` tangent to the lines from the current point to `p1` and from `p1` to
  // `p2`, joined to the current point by a line.
  void appendBezierPathWithArcFromPoint_toPoint_radius(const Point& p1, const Point& p2, double radius);
  // Angles in degrees; counterclockwise (in upwards-growing coordinates) unless `clockwise`.
  void appendBezierPathWithArcWithCenter_radius_startAngle_endAngle(const Point& center, double radius,
                                                                    double startAngle, double endAngle);
  void appendBezierPathWithArcWithCenter_radius_startAngle_endAngle_clockwise(
      const Point& center, double radius, double startAngle, double endAngle, bool clockwise);
  void transformUsingAffineTransform(const AffineTransform& transform);

  double lineWidth() const { return lineWidth_; }
  void setLineWidth(double width) { lineWidth_ = width; }
  LineCapStyle lineCapStyle() const { return cap_; }
  void setLineCapStyle(LineCapStyle cap) { cap_ = cap; }
  LineJoinStyle lineJoinStyle() const { return join_; }
  void setLineJoinStyle(LineJoinStyle join) { join_ = join; }
  double miterLimit() const { return miterLimit_; }
  void setMiterLimit(double limit) { miterLimit_ = limit; }
  WindingRule windingRule() const { return winding_; }
  void setWindingRule(WindingRule rule) { winding_ = rule; }

  bool isEmpty() const { return elements_.empty(); }
  // The tight bounds of the drawn outline (curves at their extremes), the zero rect when empty.
  Rect bounds() const;
  Rect controlPointBounds() const;
  // The end of the last element; the zero point for an empty path.
  Point currentPoint() const;
  // Whether a fill with the path's winding rule covers the point.
  bool containsPoint(const Point& p) const;
  std::size_t elementCount() const { return elements_.size(); }
  BezierPathElement elementAtIndex_associatedPoints(std::size_t index, Point* points) const;
  const std::vector<Element>& elements() const { return elements_; }
  ns::Ref<BezierPath> copy() const;

  void fill() const;
  void stroke() const;
  // Intersects the current clip with the path's inside.
  void addClip() const;
  // Replaces the current clip with the path's inside.
  void setClip() const;

  std::string className() const override { return "NSBezierPath"; }

 private:
  void ensureStart();
  std::vector<Element> elements_;
  Point subpathStart_;
  double lineWidth_ = 1;
  LineCapStyle cap_ = LineCapStyle::Butt;
  LineJoinStyle join_ = LineJoinStyle::Miter;
  double miterLimit_ = 10;
  WindingRule winding_ = WindingRule::NonZero;
};

}  // namespace ak
