#include "ui/MyTableRowView.h"

#include "platform/appkit/BezierPath.h"
#include "platform/appkit/Color.h"

void MyTableRowView::drawSelectionInRect(const ak::Rect&) {
  if (selectionHighlightStyle() == ak::TableViewSelectionHighlightStyleNone) return;
  const ak::Rect rect = ak::InsetRect(bounds(), 2.5, 2.5);
  auto path = ak::BezierPath::bezierPathWithRoundedRect_xRadius_yRadius(rect, 6.0, 6.0);
  ak::Color::colorWithCalibratedWhite_alpha(0.82, 1.0)->setFill();
  path->fill();
  ak::Color::colorWithCalibratedWhite_alpha(0.65, 1.0)->setStroke();
  path->stroke();
}
