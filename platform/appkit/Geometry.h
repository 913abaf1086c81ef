#pragma once
// Points, sizes and rectangles in points, with the platform's rectangle functions. Rectangles
// with a negative width or height are empty. The structures pass through the runtime by value
// under the platform's type encodings.
#include "platform/runtime/TypeCodec.h"

namespace ak {

struct Point {
  double x = 0;
  double y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  double width = 0;
  double height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  Point origin;
  Size size;
  friend bool operator==(const Rect&, const Rect&) = default;
};

inline constexpr Point ZeroPoint{};
inline constexpr Size ZeroSize{};
inline constexpr Rect ZeroRect{};

constexpr Point MakePoint(double x, double y) {
  return {x, y};
}
constexpr Size MakeSize(double w, double h) {
  return {w, h};
}
constexpr Rect MakeRect(double x, double y, double w, double h) {
  return {{x, y}, {w, h}};
}

constexpr double MinX(const Rect& r) {
  return r.origin.x;
}
constexpr double MinY(const Rect& r) {
  return r.origin.y;
}
constexpr double MaxX(const Rect& r) {
  return r.origin.x + r.size.width;
}
constexpr double MaxY(const Rect& r) {
  return r.origin.y + r.size.height;
}
constexpr double MidX(const Rect& r) {
  return r.origin.x + r.size.width / 2;
}
constexpr double MidY(const Rect& r) {
  return r.origin.y + r.size.height / 2;
}
constexpr double Width(const Rect& r) {
  return r.size.width;
}
constexpr double Height(const Rect& r) {
  return r.size.height;
}

bool IsEmptyRect(const Rect& r);
bool EqualRects(const Rect& a, const Rect& b);
bool EqualPoints(const Point& a, const Point& b);
bool EqualSizes(const Size& a, const Size& b);
Rect InsetRect(const Rect& r, double dx, double dy);
Rect OffsetRect(const Rect& r, double dx, double dy);
// The common part, or the zero rectangle when the rectangles do not overlap.
Rect IntersectionRect(const Rect& a, const Rect& b);
// The smallest rectangle holding both; an empty rectangle does not count.
Rect UnionRect(const Rect& a, const Rect& b);
bool IntersectsRect(const Rect& a, const Rect& b);
bool ContainsRect(const Rect& outer, const Rect& inner);
// Whether the point lies in the rectangle, its lower and left edges included.
bool PointInRect(const Point& p, const Rect& r);
// As the mouse tests it: the edge nearer the top belongs to the rectangle, so that in a flipped
// system the minimum y is inside and in an unflipped one the maximum y is.
bool MouseInRect(const Point& p, const Rect& r, bool flipped);
// The smallest rectangle with whole-number edges that holds `r`; empty stays the zero rectangle.
Rect IntegralRect(const Rect& r);
// Cuts `amount` off the given edge (0 min x, 1 min y, 2 max x, 3 max y) into `slice`.
void DivideRect(const Rect& r, Rect* slice, Rect* remainder, double amount, int edge);

// Whether every number is finite and no larger than the drawing layer can handle.
bool IsSaneRect(const Rect& r);
bool IsSanePoint(const Point& p);

}  // namespace ak

PL_STRUCT_ENCODING(ak::Point, "{CGPoint=dd}");
PL_STRUCT_ENCODING(ak::Size, "{CGSize=dd}");
PL_STRUCT_ENCODING(ak::Rect, "{CGRect={CGPoint=dd}{CGSize=dd}}");
