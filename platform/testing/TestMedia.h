#pragma once
// Test media made with the ffmpeg tool: H.264 video (320x240 at 25 fps by default) and AAC audio in MP4,
// with the moov box first so that a file that is still growing can play. Each clip is made once
// per build folder (in <build>/test-media, shared by the test processes of a run) and reused.
//
//   auto path = pltest::testMedia({.seconds = 6, .pattern = pltest::MediaPattern::RedThenTestPattern});
//   server.route("GET", "/clip.mp4", pltest::mediaRoute(path));
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/testing/FakeServer.h"

namespace pltest {

enum class MediaPattern {
  Solid,               // `colour` throughout
  TestPattern,         // ffmpeg's moving test pattern
  RedThenTestPattern,  // one second of solid red, then the test pattern
  LeftRight,           // `colour` on the left half, `otherColour` on the right
  // The frame's number (from 0) in binary: kFrameCodeBars upright bars of equal width, the
  // highest bit on the left, a set bit white and a clear one dark grey (never black, so that the
  // picture stands out from black bars around it). readFrameCode() reads it back.
  FrameCode,
  // ffmpeg's colourful moving test pattern (testsrc2) over the top seven eighths, and the frame
  // code's bars across the bottom eighth: a picture with detail whose shown frame can be read.
  TestPatternFrameCode,
};

inline constexpr int kFrameCodeBars = 10;

struct MediaClip {
  double seconds = 2;
  MediaPattern pattern = MediaPattern::TestPattern;
  std::string colour = "red";        // an ffmpeg colour name
  std::string otherColour = "blue";  // LeftRight only
  int width = 320;
  int height = 240;
  int framesPerSecond = 25;
  // Seconds from one key frame to the next, exactly (no extra key frames at scene cuts).
  double keyframeSeconds = 1;
};

// The clip's path; made on first use. An empty path (with the reason on stderr) when ffmpeg is
// missing or fails.
std::filesystem::path testMedia(const MediaClip& clip);
// The file's bytes.
std::string readMedia(const std::filesystem::path& path);
// The frame number of a FrameCode picture from the brightness (0-255) of one of its rows, left
// edge to right edge; nothing when a bar is neither white nor dark grey.
std::optional<int> readFrameCode(const std::vector<int>& row);
// The frame number of a FrameCode picture of 32-bit pixels (three colour bytes, then one more),
// read across its middle row, whose rows lie `stride` bytes apart.
std::optional<int> readFrameCodeOfPicture(const unsigned char* pixels, int width, int height,
                                          std::size_t stride);
// The times of the key frames of the file's video, in order (ffprobe); empty when it fails.
std::vector<double> keyframeTimes(const std::filesystem::path& path);
// A route handler serving the file as "video/mp4", with byte ranges.
FakeHandler mediaRoute(const std::filesystem::path& path);

}  // namespace pltest
