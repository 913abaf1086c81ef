#pragma once
// The media layer's notification names, user-info keys, error domain and video gravities.
namespace av {

inline constexpr char AVPlayerItemDidPlayToEndTimeNotification[] = "AVPlayerItemDidPlayToEndTimeNotification";
inline constexpr char AVPlayerItemFailedToPlayToEndTimeNotification[] =
    "AVPlayerItemFailedToPlayToEndTimeNotification";
inline constexpr char AVPlayerItemFailedToPlayToEndTimeErrorKey[] =
    "AVPlayerItemFailedToPlayToEndTimeErrorKey";
inline constexpr char AVPlayerItemPlaybackStalledNotification[] = "AVPlayerItemPlaybackStalledNotification";

inline constexpr char AVFoundationErrorDomain[] = "AVFoundationErrorDomain";
enum AVError : long {
  AVErrorUnknown = -11800,
  AVErrorDecodeFailed = -11821,
  AVErrorFileFormatNotRecognized = -11828,
  AVErrorFileFailedToParse = -11829,
  AVErrorContentIsUnavailable = -11863,
  AVErrorNoLongerPlayable = -11867,
};

inline constexpr char AVLayerVideoGravityResizeAspect[] = "AVLayerVideoGravityResizeAspect";
inline constexpr char AVLayerVideoGravityResizeAspectFill[] = "AVLayerVideoGravityResizeAspectFill";
inline constexpr char AVLayerVideoGravityResize[] = "AVLayerVideoGravityResize";

}  // namespace av
