#include "platform/appkit/BezierPath.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/appkit/DrawingInternal.h"

namespace ak {

namespace {

constexpr double kPi = std::numbers::pi;
// Control-point distance of a quarter circle of radius 1 drawn with one cubic.
constexpr double kKappa = 0.5522847498307936;

Point add(Point a, Point b) {
  return {a.x + b.x, a.y + b.y};
}
Point sub(Point a, Point b) {
  return {a.x - b.x, a.y - b.y};
}
Point mul(Point a, double k) {
  return {a.x * k, a.y * k};
}
double dot(Point a, Point b) {
  return a.x * b.x + a.y * b.y;
}
double cross(Point a, Point b) {
  return a.x * b.y - a.y * b.x;
}
double len(Point a) {
  return std::hypot(a.x, a.y);
}

// Extremes of one coordinate of a cubic on [0, 1].
void cubicExtremes(double p0, double p1, double p2, double p3, double& lo, double& hi) {
  auto at = [&](double t) {
    double u = 1 - t;
    return u * u * u * p0 + 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t * p3;
  };
  lo = std::min(lo, p3);
  hi = std::max(hi, p3);
  // Derivative: a t^2 + b t + c
  double a = -p0 + 3 * p1 - 3 * p2 + p3, b = 2 * (p0 - 2 * p1 + p2), c = p1 - p0;
  auto consider = [&](double t) {
    if (t > 0 && t < 1) {
      double v = at(t);
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  };
  if (std::fabs(a) < 1e-12) {
    if (std::fabs(b) > 1e-12) consider(-c / b);
    return;
  }
  double disc = b * b - 4 * a * c;
  if (disc < 0) return;
  double s = std::sqrt(disc);
  consider((-b + s) / (2 * a));
  consider((-b - s) / (2 * a));
}

cairo_surface_t* probeSurface() {
  thread_local cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
  return surface;
}

}  // namespace

void appendPath(cairo_t* cr, const BezierPath& path) {
  cairo_new_path(cr);
  for (const auto& e : path.elements()) {
    switch (e.type) {
      case BezierPathElement::MoveTo:
        cairo_move_to(cr, e.points[0].x, e.points[0].y);
        break;
      case BezierPathElement::LineTo:
        cairo_line_to(cr, e.points[0].x, e.points[0].y);
        break;
      case BezierPathElement::CurveTo:
        cairo_curve_to(cr, e.points[0].x, e.points[0].y, e.points[1].x, e.points[1].y, e.points[2].x,
                       e.points[2].y);
        break;
      case BezierPathElement::ClosePath:
        cairo_close_path(cr);
        break;
    }
  }
}

ns::Ref<BezierPath> BezierPath::bezierPath() {
  return ns::make<BezierPath>();
}

ns::Ref<BezierPath> BezierPath::bezierPathWithRect(const Rect& rect) {
  auto path = bezierPath();
  path->appendBezierPathWithRect(rect);
  return path;
}

ns::Ref<BezierPath> BezierPath::bezierPathWithOvalInRect(const Rect& rect) {
  auto path = bezierPath();
  path->appendBezierPathWithOvalInRect(rect);
  return path;
}

ns::Ref<BezierPath> BezierPath::bezierPathWithRoundedRect_xRadius_yRadius(const Rect& rect, double xRadius,
                                                                          double yRadius) {
  auto path = bezierPath();
  path->appendBezierPathWithRoundedRect_xRadius_yRadius(rect, xRadius, yRadius);
  return path;
}

void BezierPath::fillRect(const Rect& rect) {
  bezierPathWithRect(rect)->fill();
}
void BezierPath::strokeRect(const Rect& rect) {
  bezierPathWithRect(rect)->stroke();
}
void BezierPath::clipRect(const Rect& rect) {
  RectClip(rect);
}

void BezierPath::strokeLineFromPoint_toPoint(const Point& a, const Point& b) {
  BezierPath path;
  path.moveToPoint(a);
  path.lineToPoint(b);
  path.stroke();
}

void BezierPath::moveToPoint(const Point& p) {
  elements_.push_back({BezierPathElement::MoveTo, {p}});
  subpathStart_ = p;
}

void BezierPath::ensureStart() {
  if (elements_.empty()) moveToPoint(ZeroPoint);
}

void BezierPath::lineToPoint(const Point& p) {
  ensureStart();
  elements_.push_back({BezierPathElement::LineTo, {p}});
}

void BezierPath::curveToPoint_controlPoint1_controlPoint2(const Point& end, const Point& c1,
                                                          const Point& c2) {
  ensureStart();
  elements_.push_back({BezierPathElement::CurveTo, {c1, c2, end}});
}

void BezierPath::relativeMoveToPoint(const Point& p) {
  moveToPoint(add(currentPoint(), p));
}
void BezierPath::relativeLineToPoint(const Point& p) {
  lineToPoint(add(currentPoint(), p));
}

void BezierPath::closePath() {
  if (elements_.empty() || elements_.back().type == BezierPathElement::ClosePath) return;
  elements_.push_back({BezierPathElement::ClosePath, {subpathStart_}});
}

void BezierPath::removeAllPoints() {
  elements_.clear();
}

void BezierPath::appendBezierPath(const BezierPath& other) {
  for (const auto& e : other.elements_) {
    if (e.type == BezierPathElement::MoveTo) subpathStart_ = e.points[0];
    elements_.push_back(e);
  }
}

void BezierPath::appendBezierPathWithRect(const Rect& rect) {
  moveToPoint({MinX(rect), MinY(rect)});
  lineToPoint({MaxX(rect), MinY(rect)});
  lineToPoint({MaxX(rect), MaxY(rect)});
  lineToPoint({MinX(rect), MaxY(rect)});
  closePath();
}

void BezierPath::appendBezierPathWithOvalInRect(const Rect& rect) {
  const double rx = Width(rect) / 2, ry = Height(rect) / 2, cx = MidX(rect), cy = MidY(rect);
  const double kx = rx * kKappa, ky = ry * kKappa;
  moveToPoint({cx + rx, cy});
  curveToPoint_controlPoint1_controlPoint2({cx, cy + ry}, {cx + rx, cy + ky}, {cx + kx, cy + ry});
  curveToPoint_controlPoint1_controlPoint2({cx - rx, cy}, {cx - kx, cy + ry}, {cx - rx, cy + ky});
  curveToPoint_controlPoint1_controlPoint2({cx, cy - ry}, {cx - rx, cy - ky}, {cx - kx, cy - ry});
  curveToPoint_controlPoint1_controlPoint2({cx + rx, cy}, {cx + kx, cy - ry}, {cx + rx, cy - ky});
  closePath();
}

void BezierPath::appendBezierPathWithRoundedRect_xRadius_yRadius(const Rect& rect, double xRadius,
                                                                 double yRadius) {
  const double rx = std::clamp(std::isfinite(xRadius) ? xRadius : 0.0, 0.0, std::max(0.0, Width(rect) / 2));
  const double ry = std::clamp(std::isfinite(yRadius) ? yRadius : 0.0, 0.0, std::max(0.0, Height(rect) / 2));
  if (rx <= 0 || ry <= 0) return appendBezierPathWithRect(rect);
  const double x0 = MinX(rect), y0 = MinY(rect), x1 = MaxX(rect), y1 = MaxY(rect);
  const double kx = rx * kKappa, ky = ry * kKappa;
  moveToPoint({x0 + rx, y0});
  lineToPoint({x1 - rx, y0});
  curveToPoint_controlPoint1_controlPoint2({x1, y0 + ry}, {x1 - rx + kx, y0}, {x1, y0 + ry - ky});
  lineToPoint({x1, y1 - ry});
  curveToPoint_controlPoint1_controlPoint2({x1 - rx, y1}, {x1, y1 - ry + ky}, {x1 - rx + kx, y1});
  lineToPoint({x0 + rx, y1});
  curveToPoint_controlPoint1_controlPoint2({x0, y1 - ry}, {x0 + rx - kx, y1}, {x0, y1 - ry + ky});
  lineToPoint({x0, y0 + ry});
  curveToPoint_controlPoint1_controlPoint2({x0 + rx, y0}, {x0, y0 + ry - ky}, {x0 + rx - kx, y0});
  closePath();
}

void BezierPath::appendBezierPathWithArcFromPoint_toPoint_radius(const Point& p1, const Point& p2,
                                                                 double radius) {
  if (elements_.empty()) return moveToPoint(p1);
  const Point p0 = currentPoint();
  const Point v1 = sub(p0, p1), v2 = sub(p2, p1);
  const double l1 = len(v1), l2 = len(v2);
  const double turn = cross(sub(p1, p0), sub(p2, p1));
  if (!(radius > 0) || l1 == 0 || l2 == 0 || std::fabs(turn) < 1e-12 * l1 * l2) return lineToPoint(p1);
  const Point u1 = mul(v1, 1 / l1), u2 = mul(v2, 1 / l2);
  const double theta = std::acos(std::clamp(dot(u1, u2), -1.0, 1.0));  // angle at p1
  const double tangent = radius / std::tan(theta / 2);
  const Point t1 = add(p1, mul(u1, tangent)), t2 = add(p1, mul(u2, tangent));
  Point bisector = add(u1, u2);
  bisector = mul(bisector, 1 / len(bisector));
  const Point center = add(p1, mul(bisector, radius / std::sin(theta / 2)));
  const double a1 = std::atan2(t1.y - center.y, t1.x - center.x) * 180 / kPi;
  const double a2 = std::atan2(t2.y - center.y, t2.x - center.x) * 180 / kPi;
  appendBezierPathWithArcWithCenter_radius_startAngle_endAngle_clockwise(center, radius, a1, a2, turn < 0);
}

void BezierPath::appendBezierPathWithArcWithCenter_radius_startAngle_endAngle(const Point& center,
                                                                              double radius,
                                                                              double startAngle,
                                                                              double endAngle) {
  appendBezierPathWithArcWithCenter_radius_startAngle_endAngle_clockwise(center, radius, startAngle, endAngle,
                                                                         false);
}

void BezierPath::appendBezierPathWithArcWithCenter_radius_startAngle_endAngle_clockwise(
    const Point& center, double radius, double startAngle, double endAngle, bool clockwise) {
  if (!std::isfinite(startAngle) || !std::isfinite(endAngle) || !std::isfinite(radius)) return;
  double sweep = endAngle - startAngle;
  if (clockwise) {
    if (sweep > 0) sweep = std::fmod(sweep, 360.0) - 360.0;
    if (sweep < -360) sweep = -360;
  } else {
    if (sweep < 0) sweep = std::fmod(sweep, 360.0) + 360.0;
    if (sweep > 360) sweep = 360;
  }
  const double start = startAngle * kPi / 180, total = sweep * kPi / 180;
  const Point first = {center.x + radius * std::cos(start), center.y + radius * std::sin(start)};
  if (elements_.empty()) {
    moveToPoint(first);
  } else {
    lineToPoint(first);
  }
  const int segments = std::max(1, int(std::ceil(std::fabs(total) / (kPi / 2) - 1e-9)));
  const double step = total / segments;
  const double k = 4.0 / 3.0 * std::tan(step / 4);
  double a = start;
  for (int i = 0; i < segments; ++i) {
    const double b = a + step;
    const Point pa = {center.x + radius * std::cos(a), center.y + radius * std::sin(a)};
    const Point pb = {center.x + radius * std::cos(b), center.y + radius * std::sin(b)};
    const Point c1 = {pa.x - k * radius * std::sin(a), pa.y + k * radius * std::cos(a)};
    const Point c2 = {pb.x + k * radius * std::sin(b), pb.y - k * radius * std::cos(b)};
    curveToPoint_controlPoint1_controlPoint2(pb, c1, c2);
    a = b;
  }
}

void BezierPath::transformUsingAffineTransform(const AffineTransform& transform) {
  for (auto& e : elements_) {
    for (auto& p : e.points) p = transform.transformPoint(p);
  }
  subpathStart_ = transform.transformPoint(subpathStart_);
}

Rect BezierPath::bounds() const {
  if (elements_.empty()) return ZeroRect;
  double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
  Point last;
  for (const auto& e : elements_) {
    if (e.type == BezierPathElement::CurveTo) {
      cubicExtremes(last.x, e.points[0].x, e.points[1].x, e.points[2].x, x0, x1);
      cubicExtremes(last.y, e.points[0].y, e.points[1].y, e.points[2].y, y0, y1);
      last = e.points[2];
    } else if (e.type != BezierPathElement::ClosePath) {
      last = e.points[0];
      x0 = std::min(x0, last.x), x1 = std::max(x1, last.x);
      y0 = std::min(y0, last.y), y1 = std::max(y1, last.y);
    } else {
      last = e.points[0];
    }
  }
  return MakeRect(x0, y0, x1 - x0, y1 - y0);
}

Rect BezierPath::controlPointBounds() const {
  if (elements_.empty()) return ZeroRect;
  double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
  for (const auto& e : elements_) {
    int n = e.type == BezierPathElement::CurveTo ? 3 : e.type == BezierPathElement::ClosePath ? 0 : 1;
    for (int i = 0; i < n; ++i) {
      x0 = std::min(x0, e.points[i].x), x1 = std::max(x1, e.points[i].x);
      y0 = std::min(y0, e.points[i].y), y1 = std::max(y1, e.points[i].y);
    }
  }
  return MakeRect(x0, y0, x1 - x0, y1 - y0);
}

Point BezierPath::currentPoint() const {
  if (elements_.empty()) return ZeroPoint;
  const auto& e = elements_.back();
  return e.type == BezierPathElement::CurveTo ? e.points[2] : e.points[0];
}

bool BezierPath::containsPoint(const Point& p) const {
  if (elements_.empty() || !IsSanePoint(p)) return false;
  cairo_t* cr = cairo_create(probeSurface());
  appendPath(cr, *this);
  cairo_set_fill_rule(cr,
                      winding_ == WindingRule::EvenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
  bool inside = cairo_in_fill(cr, p.x, p.y);
  cairo_destroy(cr);
  return inside;
}

BezierPathElement BezierPath::elementAtIndex_associatedPoints(std::size_t index, Point* points) const {
  const auto& e = elements_.at(index);
  if (points) {
    int n = e.type == BezierPathElement::CurveTo ? 3 : e.type == BezierPathElement::ClosePath ? 0 : 1;
    std::copy(e.points, e.points + n, points);
  }
  return e.type;
}

ns::Ref<BezierPath> BezierPath::copy() const {
  auto path = ns::make<BezierPath>();
  path->elements_ = elements_;
  path->subpathStart_ = subpathStart_;
  path->lineWidth_ = lineWidth_;
  path->cap_ = cap_;
  path->join_ = join_;
  path->miterLimit_ = miterLimit_;
  path->winding_ = winding_;
  return path;
}

namespace {
bool sanePath(const BezierPath& path, GraphicsContext::Native& n) {
  for (const auto& e : path.elements()) {
    for (const auto& p : e.points) {
      if (!IsSanePoint(p)) return n.refuse("a path");
    }
  }
  return true;
}
cairo_fill_rule_t rule(const BezierPath& path) {
  return path.windingRule() == WindingRule::EvenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING;
}
}  // namespace

void BezierPath::fill() const {
  auto context = GraphicsContext::currentContext();
  if (!context || elements_.empty()) return;
  auto& n = context->native();
  if (!sanePath(*this, n)) return;
  n.record(DrawingRecord::Kind::Fill, bounds());
  const double alpha = n.gs.alpha;
  n.draw(
      [&](cairo_t* c) {
        appendPath(c, *this);
        cairo_set_fill_rule(c, rule(*this));
        cairo_set_source_rgba(c, n.gs.fill[0], n.gs.fill[1], n.gs.fill[2], n.gs.fill[3] * alpha);
        cairo_fill(c);
      },
      n.gs.op, 1);
}

void BezierPath::stroke() const {
  auto context = GraphicsContext::currentContext();
  if (!context || elements_.empty()) return;
  auto& n = context->native();
  if (!sanePath(*this, n)) return;
  if (!std::isfinite(lineWidth_) || lineWidth_ < 0 || lineWidth_ > 1e5) return void(n.refuse("a line width"));
  n.record(DrawingRecord::Kind::Stroke, bounds());
  const double alpha = n.gs.alpha;
  n.draw(
      [&](cairo_t* c) {
        appendPath(c, *this);
        // A width of 0 is the thinnest line the device can show.
        cairo_set_line_width(c, lineWidth_ > 0 ? lineWidth_ : 1 / std::max(1.0, n.pixelsPerPoint));
        cairo_set_line_cap(c, cap_ == LineCapStyle::Round    ? CAIRO_LINE_CAP_ROUND
                              : cap_ == LineCapStyle::Square ? CAIRO_LINE_CAP_SQUARE
                                                             : CAIRO_LINE_CAP_BUTT);
        cairo_set_line_join(c, join_ == LineJoinStyle::Round   ? CAIRO_LINE_JOIN_ROUND
                               : join_ == LineJoinStyle::Bevel ? CAIRO_LINE_JOIN_BEVEL
                                                               : CAIRO_LINE_JOIN_MITER);
        cairo_set_miter_limit(c, std::isfinite(miterLimit_) && miterLimit_ >= 1 ? miterLimit_ : 10);
        cairo_set_source_rgba(c, n.gs.stroke[0], n.gs.stroke[1], n.gs.stroke[2], n.gs.stroke[3] * alpha);
        cairo_stroke(c);
      },
      n.gs.op, 1);
}

void BezierPath::addClip() const {
  auto context = GraphicsContext::currentContext();
  if (!context) return;
  auto& n = context->native();
  if (!sanePath(*this, n)) return;
  n.record(DrawingRecord::Kind::Clip, bounds());
  appendPath(n.cr, *this);
  cairo_set_fill_rule(n.cr, rule(*this));
  cairo_clip(n.cr);
}

void BezierPath::setClip() const {
  auto context = GraphicsContext::currentContext();
  if (!context) return;
  auto& n = context->native();
  if (!sanePath(*this, n)) return;
  n.record(DrawingRecord::Kind::Clip, bounds());
  cairo_reset_clip(n.cr);
  appendPath(n.cr, *this);
  cairo_set_fill_rule(n.cr, rule(*this));
  cairo_clip(n.cr);
}

}  // namespace ak
