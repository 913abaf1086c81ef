#include "ui/ProgressSliderCell.h"

#include <algorithm>
#include <cmath>

#include "platform/runtime/ClassBuilder.h"

namespace {
constexpr double kCap = 5.0;
constexpr double kHeight = 8.0;
constexpr double kSourceHeight = 9.0;
// Where the middle and the right cap are cut from the track images.
constexpr double kMiddleSource = 10.0;
constexpr double kRightCapSource = 396.0;
}  // namespace

void ProgressSliderCell::initWithCoder(ak::NibCoder& coder) {
  ImageSliderCell::initWithCoder(coder);
  loadImages("video_handle", "video_handle_pressed", "watched_video_bar", "video_bar");
}

void ProgressSliderCell::drawTrack(const ak::Rect& bar, const ak::Rect& knob) {
  const bool newSystem = isNewSystem();
  const double t = newSystem ? bar.origin.y - 1.0 : bar.origin.y + 7.0;
  const ak::Rect middleSource = ak::MakeRect(kMiddleSource, 0, kCap, kSourceHeight);
  const ak::Rect rightSource = ak::MakeRect(kRightCapSource, 0, kCap, kSourceHeight);

  // The unplayed track, whole.
  drawSlice(volBarRight_, ak::MakeRect(bar.origin.x, t, kCap, kHeight),
            ak::MakeRect(0, 0, kCap, kSourceHeight));
  drawSlice(volBarRight_, ak::MakeRect(bar.origin.x + kCap, t, bar.size.width - 2 * kCap, kHeight),
            middleSource);
  drawSlice(volBarRight_, ak::MakeRect(bar.origin.x + bar.size.width - kCap, t, kCap, kHeight), rightSource);

  // The played part, up to the knob.
  const float scaled = std::round(static_cast<float>(knob.origin.x) * 1.025f);
  const float k = scaled + 4.0f;
  const double c = std::min<double>(k, kCap);
  drawSlice(volBarLeft_, ak::MakeRect(bar.origin.x, t, c, kHeight), ak::MakeRect(0, 0, c, kSourceHeight));
  if (k >= kCap) {
    const double m = k - kCap;
    if (bar.size.width - k <= kCap) {
      drawSlice(volBarLeft_, ak::MakeRect(bar.origin.x + kCap, t, m - kCap, kHeight), middleSource);
      drawSlice(volBarLeft_, ak::MakeRect(bar.origin.x + m, t, kCap, kHeight), rightSource);
    } else {
      drawSlice(volBarLeft_, ak::MakeRect(bar.origin.x + kCap, t, m, kHeight), middleSource);
    }
  }
  drawKnobImageAt(ak::Point{scaled, knob.origin.y + (newSystem ? 5.0 : 4.0)});
}

PL_CLASS(ProgressSliderCell, ak::SliderCell) {}
