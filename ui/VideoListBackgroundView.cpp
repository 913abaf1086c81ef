#include "ui/VideoListBackgroundView.h"

#include "platform/appkit/Color.h"
#include "platform/appkit/GraphicsContext.h"

void VideoListBackgroundView::drawRect(const ak::Rect& dirtyRect) {
  constexpr double kGrey = 0.16470588235294117;  // 42/255
  ak::Color::colorWithCalibratedRed_green_blue_alpha(kGrey, kGrey, kGrey, 1.0)->setFill();
  ak::RectFill(dirtyRect);
}
