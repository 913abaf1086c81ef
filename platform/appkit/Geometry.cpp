#include "platform/appkit/Geometry.h"

#include <algorithm>
#include <cmath>

namespace ak {

namespace {
// Coordinates beyond this are refused: cairo's fixed-point numbers overflow near 2^23.
constexpr double kLargestCoordinate = 4.0e6;

bool sane(double v) {
  return std::isfinite(v) && std::fabs(v) <= kLargestCoordinate;
}
}  // namespace

bool IsEmptyRect(const Rect& r) {
  return !(r.size.width > 0) || !(r.size.height > 0);
}
bool EqualRects(const Rect& a, const Rect& b) {
  return a == b;
}
bool EqualPoints(const Point& a, const Point& b) {
  return a == b;
}
bool EqualSizes(const Size& a, const Size& b) {
  return a == b;
}

Rect InsetRect(const Rect& r, double dx, double dy) {
  return MakeRect(r.origin.x + dx, r.origin.y + dy, r.size.width - 2 * dx, r.size.height - 2 * dy);
}

Rect OffsetRect(const Rect& r, double dx, double dy) {
  return MakeRect(r.origin.x + dx, r.origin.y + dy, r.size.width, r.size.height);
}

Rect IntersectionRect(const Rect& a, const Rect& b) {
  if (IsEmptyRect(a) || IsEmptyRect(b)) return ZeroRect;
  double x0 = std::max(MinX(a), MinX(b)), x1 = std::min(MaxX(a), MaxX(b));
  double y0 = std::max(MinY(a), MinY(b)), y1 = std::min(MaxY(a), MaxY(b));
  if (x1 <= x0 || y1 <= y0) return ZeroRect;
  return MakeRect(x0, y0, x1 - x0, y1 - y0);
}

Rect UnionRect(const Rect& a, const Rect& b) {
  if (IsEmptyRect(a)) return IsEmptyRect(b) ? ZeroRect : b;
  if (IsEmptyRect(b)) return a;
  double x0 = std::min(MinX(a), MinX(b)), x1 = std::max(MaxX(a), MaxX(b));
  double y0 = std::min(MinY(a), MinY(b)), y1 = std::max(MaxY(a), MaxY(b));
  return MakeRect(x0, y0, x1 - x0, y1 - y0);
}

bool IntersectsRect(const Rect& a, const Rect& b) {
  return !IsEmptyRect(IntersectionRect(a, b));
}

bool ContainsRect(const Rect& outer, const Rect& inner) {
  return !IsEmptyRect(inner) && MinX(inner) >= MinX(outer) && MaxX(inner) <= MaxX(outer) &&
         MinY(inner) >= MinY(outer) && MaxY(inner) <= MaxY(outer);
}

bool PointInRect(const Point& p, const Rect& r) {
  return !IsEmptyRect(r) && p.x >= MinX(r) && p.x < MaxX(r) && p.y >= MinY(r) && p.y < MaxY(r);
}

bool MouseInRect(const Point& p, const Rect& r, bool flipped) {
  if (IsEmptyRect(r) || p.x < MinX(r) || p.x >= MaxX(r)) return false;
  return flipped ? (p.y >= MinY(r) && p.y < MaxY(r)) : (p.y > MinY(r) && p.y <= MaxY(r));
}

Rect IntegralRect(const Rect& r) {
  if (IsEmptyRect(r)) return ZeroRect;
  double x0 = std::floor(MinX(r)), y0 = std::floor(MinY(r));
  double x1 = std::ceil(MaxX(r)), y1 = std::ceil(MaxY(r));
  return MakeRect(x0, y0, x1 - x0, y1 - y0);
}

void DivideRect(const Rect& r, Rect* slice, Rect* remainder, double amount, int edge) {
  Rect s = r, rest = r;
  if (IsEmptyRect(r)) {
    s = rest = ZeroRect;
  } else if (edge == 0 || edge == 2) {
    amount = std::clamp(amount, 0.0, r.size.width);
    s.size.width = amount;
    rest.size.width = r.size.width - amount;
    if (edge == 0)
      rest.origin.x += amount;
    else
      s.origin.x = MaxX(r) - amount;
  } else {
    amount = std::clamp(amount, 0.0, r.size.height);
    s.size.height = amount;
    rest.size.height = r.size.height - amount;
    if (edge == 1)
      rest.origin.y += amount;
    else
      s.origin.y = MaxY(r) - amount;
  }
  if (slice) *slice = s;
  if (remainder) *remainder = rest;
}

bool IsSaneRect(const Rect& r) {
  return sane(r.origin.x) && sane(r.origin.y) && sane(r.size.width) && sane(r.size.height);
}

bool IsSanePoint(const Point& p) {
  return sane(p.x) && sane(p.y);
}

}  // namespace ak
