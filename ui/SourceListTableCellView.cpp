#include "ui/SourceListTableCellView.h"

#include <cmath>

#include "platform/runtime/ClassBuilder.h"

void SourceListTableCellView::layout() {
  auto badge = badgeView();
  if (!badge) return;
  badge->sizeToFit();
  const ak::Size size = badge->frame().size;
  const ak::Rect b = bounds();
  badge->setFrame({{b.origin.x + b.size.width - size.width,
                    b.origin.y + b.size.height * 0.5 - std::round(size.height * 0.5)},
                   size});
}

void SourceListTableCellView::resizeSubviewsWithOldSize(const ak::Size& oldSize) {
  ak::TableCellView::resizeSubviewsWithOldSize(oldSize);
  layout();
}

PL_CLASS(SourceListTableCellView, ak::View) {}
