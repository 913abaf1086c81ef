#include "ui/BezierPathMCAdditions.h"

#include <cmath>

#include "platform/appkit/AffineTransform.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/GraphicsContext.h"

void BezierPathMCAdditions::fillWithInnerShadow(const ak::BezierPath& path, ak::Shadow& shadow) {
  auto context = ak::GraphicsContext::currentContext();
  if (!context) return;
  ak::GraphicsContext::saveGraphicsState();
  const ak::Size offset = shadow.shadowOffset();
  const double blur = shadow.shadowBlurRadius();
  // A rectangle around the path wide enough that the shadow of its ring covers the inside.
  const ak::Rect bounds = path.bounds();
  const double dx = std::fabs(offset.width) + blur, dy = std::fabs(offset.height) + blur;
  const ak::Rect ring = ak::MakeRect(bounds.origin.x - dx, bounds.origin.y - dy, bounds.size.width + 2 * dx,
                                     bounds.size.height + 2 * dy);
  shadow.setShadowOffset(ak::Size{offset.width, offset.height + ring.size.height});

  // The ring is drawn a whole height away, so that only its shadow reaches the path.
  auto drawing = ak::BezierPath::bezierPathWithRect(ring);
  drawing->setWindingRule(ak::WindingRule::EvenOdd);
  drawing->appendBezierPath(path);
  ak::AffineTransform move;
  move.translateXBy_yBy(0, context->isFlipped() ? ring.size.height : -ring.size.height);
  drawing->transformUsingAffineTransform(move);

  path.addClip();
  shadow.set();
  ak::colors::blackColor()->setFill();
  drawing->fill();

  shadow.setShadowOffset(offset);
  ak::GraphicsContext::restoreGraphicsState();
}
