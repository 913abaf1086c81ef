#pragma once
// The notification names of the application, windows and views, as the platform spells them.
namespace ak {

inline constexpr char ApplicationWillFinishLaunchingNotification[] =
    "NSApplicationWillFinishLaunchingNotification";
inline constexpr char ApplicationDidFinishLaunchingNotification[] =
    "NSApplicationDidFinishLaunchingNotification";
inline constexpr char ApplicationWillTerminateNotification[] = "NSApplicationWillTerminateNotification";
inline constexpr char ApplicationWillBecomeActiveNotification[] = "NSApplicationWillBecomeActiveNotification";
inline constexpr char ApplicationDidBecomeActiveNotification[] = "NSApplicationDidBecomeActiveNotification";
inline constexpr char ApplicationWillResignActiveNotification[] = "NSApplicationWillResignActiveNotification";
inline constexpr char ApplicationDidResignActiveNotification[] = "NSApplicationDidResignActiveNotification";

inline constexpr char WindowDidBecomeKeyNotification[] = "NSWindowDidBecomeKeyNotification";
inline constexpr char WindowDidResignKeyNotification[] = "NSWindowDidResignKeyNotification";
inline constexpr char WindowDidBecomeMainNotification[] = "NSWindowDidBecomeMainNotification";
inline constexpr char WindowDidResignMainNotification[] = "NSWindowDidResignMainNotification";
inline constexpr char WindowDidResizeNotification[] = "NSWindowDidResizeNotification";
inline constexpr char WindowDidMoveNotification[] = "NSWindowDidMoveNotification";
inline constexpr char WindowWillCloseNotification[] = "NSWindowWillCloseNotification";
inline constexpr char WindowWillBeginSheetNotification[] = "NSWindowWillBeginSheetNotification";
inline constexpr char WindowDidEndSheetNotification[] = "NSWindowDidEndSheetNotification";
inline constexpr char WindowWillEnterFullScreenNotification[] = "NSWindowWillEnterFullScreenNotification";
inline constexpr char WindowDidEnterFullScreenNotification[] = "NSWindowDidEnterFullScreenNotification";
inline constexpr char WindowWillExitFullScreenNotification[] = "NSWindowWillExitFullScreenNotification";
inline constexpr char WindowDidExitFullScreenNotification[] = "NSWindowDidExitFullScreenNotification";
inline constexpr char WindowDidChangeBackingPropertiesNotification[] =
    "NSWindowDidChangeBackingPropertiesNotification";
inline constexpr char ApplicationDidChangeScreenParametersNotification[] =
    "NSApplicationDidChangeScreenParametersNotification";
inline constexpr char WindowDidMiniaturizeNotification[] = "NSWindowDidMiniaturizeNotification";
inline constexpr char WindowDidDeminiaturizeNotification[] = "NSWindowDidDeminiaturizeNotification";
inline constexpr char WindowDidChangeOcclusionStateNotification[] =
    "NSWindowDidChangeOcclusionStateNotification";

inline constexpr char ViewFrameDidChangeNotification[] = "NSViewFrameDidChangeNotification";
inline constexpr char ViewBoundsDidChangeNotification[] = "NSViewBoundsDidChangeNotification";

}  // namespace ak
