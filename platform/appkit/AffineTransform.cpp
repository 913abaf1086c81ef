#include "platform/appkit/AffineTransform.h"

#include <cmath>
#include <numbers>

#include "platform/appkit/GraphicsContext.h"

namespace ak {

namespace {
// first, then second
AffineTransformStruct multiply(const AffineTransformStruct& a, const AffineTransformStruct& b) {
  AffineTransformStruct r;
  r.m11 = a.m11 * b.m11 + a.m12 * b.m21;
  r.m12 = a.m11 * b.m12 + a.m12 * b.m22;
  r.m21 = a.m21 * b.m11 + a.m22 * b.m21;
  r.m22 = a.m21 * b.m12 + a.m22 * b.m22;
  r.tX = a.tX * b.m11 + a.tY * b.m21 + b.tX;
  r.tY = a.tX * b.m12 + a.tY * b.m22 + b.tY;
  return r;
}
}  // namespace

void AffineTransform::translateXBy_yBy(double dx, double dy) {
  m_ = multiply(AffineTransformStruct{1, 0, 0, 1, dx, dy}, m_);
}

void AffineTransform::scaleXBy_yBy(double sx, double sy) {
  m_ = multiply(AffineTransformStruct{sx, 0, 0, sy, 0, 0}, m_);
}

void AffineTransform::rotateByDegrees(double degrees) {
  rotateByRadians(degrees * std::numbers::pi / 180.0);
}

void AffineTransform::rotateByRadians(double radians) {
  double c = std::cos(radians), s = std::sin(radians);
  m_ = multiply(AffineTransformStruct{c, s, -s, c, 0, 0}, m_);
}

void AffineTransform::appendTransform(const AffineTransform& other) {
  m_ = multiply(m_, other.m_);
}
void AffineTransform::prependTransform(const AffineTransform& other) {
  m_ = multiply(other.m_, m_);
}

bool AffineTransform::invert() {
  double det = m_.m11 * m_.m22 - m_.m12 * m_.m21;
  if (det == 0 || !std::isfinite(det)) return false;
  AffineTransformStruct r;
  r.m11 = m_.m22 / det;
  r.m12 = -m_.m12 / det;
  r.m21 = -m_.m21 / det;
  r.m22 = m_.m11 / det;
  r.tX = -(m_.tX * r.m11 + m_.tY * r.m21);
  r.tY = -(m_.tX * r.m12 + m_.tY * r.m22);
  m_ = r;
  return true;
}

Point AffineTransform::transformPoint(const Point& p) const {
  return {m_.m11 * p.x + m_.m21 * p.y + m_.tX, m_.m12 * p.x + m_.m22 * p.y + m_.tY};
}

Size AffineTransform::transformSize(const Size& s) const {
  return {m_.m11 * s.width + m_.m21 * s.height, m_.m12 * s.width + m_.m22 * s.height};
}

bool AffineTransform::isFinite() const {
  return std::isfinite(m_.m11) && std::isfinite(m_.m12) && std::isfinite(m_.m21) && std::isfinite(m_.m22) &&
         std::isfinite(m_.tX) && std::isfinite(m_.tY);
}

void AffineTransform::set() const {
  if (auto context = GraphicsContext::currentContext()) context->setCTM(*this);
}

void AffineTransform::concat() const {
  if (auto context = GraphicsContext::currentContext()) context->concatCTM(*this);
}

}  // namespace ak
