#pragma once
// A shadow that falls inside a path.
#include "platform/appkit/BezierPath.h"
#include "platform/appkit/Shadow.h"

struct BezierPathMCAdditions {
  // Paints the shadow of a ring around the path, clipped to the path, in the current context:
  // only the shadow shows, cast inwards by the shadow's offset. The shadow is left as it was.
  static void fillWithInnerShadow(const ak::BezierPath& path, ak::Shadow& shadow);
};
