#pragma once
// Where the video service is reached. One base URL serves the video-info call and the watch
// page; PELORIN_VIDEO_SERVICE_URL overrides the built-in one (for a local fake, say).
#include <cstddef>
#include <string>

inline constexpr char kVideoServiceURLEnvironmentKey[] = "PELORIN_VIDEO_SERVICE_URL";
inline constexpr char kBuiltInVideoServiceURL[] = "https://www.youtube.com";
inline constexpr char kVideoInfoPath[] = "/get_video_info";
inline constexpr char kWatchPagePath[] = "/watch";

// Seconds a request may go without a byte moving, on ns::Clock.
inline constexpr double kVideoServiceRequestTimeout = 30;
// Seconds a request may take in all, on ns::Clock, however slowly its bytes trickle in.
inline constexpr double kVideoServiceRequestDeadline = 120;
// The largest reply read; a longer one fails its attempt.
inline constexpr std::size_t kVideoServiceMaxReplyBytes = 8 * 1024 * 1024;

// PELORIN_VIDEO_SERVICE_URL when set and non-empty, else the built-in URL; without a trailing
// "/". Read at each call.
std::string videoServiceBaseURL();
