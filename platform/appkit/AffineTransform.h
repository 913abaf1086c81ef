#pragma once
// A 2-D affine transform, a value: x' = m11 x + m21 y + tX, y' = m12 x + m22 y + tY.
// Appending applies the other transform after this one, prepending before it.
#include "platform/appkit/Geometry.h"

namespace ak {

struct AffineTransformStruct {
  double m11 = 1, m12 = 0, m21 = 0, m22 = 1, tX = 0, tY = 0;
  friend bool operator==(const AffineTransformStruct&, const AffineTransformStruct&) = default;
};

class AffineTransform {
 public:
  AffineTransform() = default;
  explicit AffineTransform(const AffineTransformStruct& m) : m_(m) {}

  static AffineTransform transform() { return AffineTransform(); }

  const AffineTransformStruct& transformStruct() const { return m_; }
  void setTransformStruct(const AffineTransformStruct& m) { m_ = m; }

  // Each of these prepends, as the platform does: the new step applies first to points.
  void translateXBy_yBy(double dx, double dy);
  void scaleBy(double s) { scaleXBy_yBy(s, s); }
  void scaleXBy_yBy(double sx, double sy);
  void rotateByDegrees(double degrees);
  void rotateByRadians(double radians);

  void appendTransform(const AffineTransform& other);
  void prependTransform(const AffineTransform& other);
  // Leaves the transform unchanged (and answers false) when it cannot be inverted.
  bool invert();

  Point transformPoint(const Point& p) const;
  Size transformSize(const Size& s) const;
  bool isIdentity() const { return m_ == AffineTransformStruct{}; }
  bool isFinite() const;

  // Replaces (set) or multiplies (concat) the current graphics context's transform.
  void set() const;
  void concat() const;

  friend bool operator==(const AffineTransform&, const AffineTransform&) = default;

 private:
  AffineTransformStruct m_;
};

}  // namespace ak
