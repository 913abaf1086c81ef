#pragma once
// The fixed metrics of the plain title bar the windows draw headless.
namespace ak::metrics {

inline constexpr double kTitleBarHeight = 22;
inline constexpr double kStandardButtonWidth = 14;
inline constexpr double kStandardButtonHeight = 16;
inline constexpr double kStandardButtonTop = 3;  // below the window's top edge
inline constexpr double kCloseButtonX = 7;
inline constexpr double kMiniaturizeButtonX = 27;
inline constexpr double kZoomButtonX = 47;
inline constexpr double kFullScreenButtonRightMargin = 7;
inline constexpr double kMenuBarHeight = 22;
inline constexpr double kScreenWidth = 1440;
inline constexpr double kScreenHeight = 900;
inline constexpr double kAnimationFrameInterval = 1.0 / 60;
inline constexpr double kDefaultAnimationDuration = 0.25;

}  // namespace ak::metrics
