#include "platform/testing/TestMedia.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

extern char** environ;

namespace pltest {

namespace {

namespace fs = std::filesystem;

std::string number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", v);
  return buf;
}

fs::path mediaFolder() {
#ifdef PELORIN_BUILD_DIR
  fs::path folder = fs::path(PELORIN_BUILD_DIR) / "test-media";
#else
  fs::path folder = fs::read_symlink("/proc/self/exe").parent_path() / "test-media";
#endif
  std::error_code ec;
  fs::create_directories(folder, ec);
  return folder;
}

std::string patternName(const MediaClip& clip) {
  switch (clip.pattern) {
    case MediaPattern::Solid:
      return "solid-" + clip.colour;
    case MediaPattern::TestPattern:
      return "testsrc";
    case MediaPattern::RedThenTestPattern:
      return "red-then-testsrc";
    case MediaPattern::LeftRight:
      return "left-" + clip.colour + "-right-" + clip.otherColour;
    case MediaPattern::FrameCode:
      return "framecode";
    case MediaPattern::TestPatternFrameCode:
      return "testsrc2-framecode";
  }
  return "clip";
}

// Bar b (from the left) shows bit (bars - 1 - b) of the frame number N.
std::string frameCode(const std::string& size, const std::string& rate, const std::string& d) {
  const std::string bars = std::to_string(kFrameCodeBars);
  return "color=c=black:s=" + size + rate + ":d=" + d + ",format=yuv420p,geq=lum='if(mod(floor(N/pow(2," +
         bars + "-1-floor(X*" + bars + "/W))),2),235,70)':cb=128:cr=128";
}

// The lavfi graph of the picture.
std::string videoSource(const MediaClip& clip) {
  std::string size = std::to_string(clip.width) + "x" + std::to_string(clip.height);
  std::string half = std::to_string(clip.width / 2) + "x" + std::to_string(clip.height);
  std::string d = number(clip.seconds);
  const std::string rate = ":r=" + std::to_string(clip.framesPerSecond);
  switch (clip.pattern) {
    case MediaPattern::Solid:
      return "color=c=" + clip.colour + ":s=" + size + rate + ":d=" + d;
    case MediaPattern::TestPattern:
      return "testsrc=s=" + size + rate + ":d=" + d;
    case MediaPattern::RedThenTestPattern:
      return "color=c=red:s=" + size + rate + ":d=1[a];testsrc=s=" + size + rate +
             ":d=" + number(clip.seconds > 1 ? clip.seconds - 1 : 0.04) + "[b];[a][b]concat=n=2:v=1:a=0";
    case MediaPattern::LeftRight:
      return "color=c=" + clip.colour + ":s=" + half + rate + ":d=" + d + "[l];color=c=" + clip.otherColour +
             ":s=" + half + rate + ":d=" + d + "[r];[l][r]hstack";
    case MediaPattern::FrameCode:
      return frameCode(size, rate, d);
    case MediaPattern::TestPatternFrameCode: {
      const int band = std::max(2, clip.height / 8 / 2 * 2);
      const std::string top = std::to_string(clip.width) + "x" + std::to_string(clip.height - band);
      const std::string bottom = std::to_string(clip.width) + "x" + std::to_string(band);
      return "testsrc2=s=" + top + rate + ":d=" + d + ",format=yuv420p[a];" + frameCode(bottom, rate, d) +
             "[b];[a][b]vstack";
    }
  }
  return {};
}

bool run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

fs::path testMedia(const MediaClip& clip) {
  fs::path folder = mediaFolder();
  const bool ownKeyframes = clip.keyframeSeconds != 1;
  const bool ownRate = clip.framesPerSecond != 25;
  std::string name =
      patternName(clip) + "-" + std::to_string(clip.width) + "x" + std::to_string(clip.height) + "-" +
      std::to_string(static_cast<long>(clip.seconds * 1000 + 0.5)) + "ms" +
      (ownKeyframes ? "-key" + std::to_string(static_cast<long>(clip.keyframeSeconds * 1000 + 0.5))
                    : std::string()) +
      (ownRate ? "-" + std::to_string(clip.framesPerSecond) + "fps" : std::string()) + ".mp4";
  fs::path target = folder / name;
  std::error_code ec;
  if (fs::is_regular_file(target, ec) && fs::file_size(target, ec) > 0) return target;
  // Test processes run in parallel: each makes its own copy and renames it into place.
  fs::path scratch = folder / ("." + name + "." + std::to_string(::getpid()) + ".mp4");
  std::string d = number(clip.seconds);
  const std::string gop =
      std::to_string(static_cast<long>(clip.keyframeSeconds * clip.framesPerSecond + 0.5));
  std::vector<std::string> args = {"ffmpeg",
                                   "-nostdin",
                                   "-hide_banner",
                                   "-loglevel",
                                   "error",
                                   "-y",
                                   "-f",
                                   "lavfi",
                                   "-i",
                                   videoSource(clip),
                                   "-f",
                                   "lavfi",
                                   "-i",
                                   "sine=frequency=440:sample_rate=44100:duration=" + d,
                                   "-map",
                                   "0:v",
                                   "-map",
                                   "1:a",
                                   "-c:v",
                                   "libx264",
                                   "-preset",
                                   "ultrafast",
                                   "-pix_fmt",
                                   "yuv420p",
                                   "-g",
                                   gop,
                                   "-c:a",
                                   "aac",
                                   "-b:a",
                                   "64k",
                                   "-t",
                                   d,
                                   "-movflags",
                                   "+faststart",
                                   scratch.string()};
  if (ownKeyframes) {
    // Key frames only at the interval: the encoder adds none where the picture changes a lot.
    const std::vector<std::string> exact = {"-keyint_min", gop, "-sc_threshold", "0"};
    args.insert(args.end() - 1, exact.begin(), exact.end());
  }
  if (!run(args)) {
    std::fprintf(stderr, "test media: ffmpeg could not make %s\n", name.c_str());
    fs::remove(scratch, ec);
    return {};
  }
  fs::rename(scratch, target, ec);
  if (ec) {
    fs::remove(scratch, ec);
    return fs::is_regular_file(target, ec) ? target : fs::path();
  }
  return target;
}

std::optional<int> readFrameCode(const std::vector<int>& row) {
  if (row.size() < static_cast<std::size_t>(kFrameCodeBars) * 4) return std::nullopt;
  int number = 0;
  for (int bar = 0; bar < kFrameCodeBars; ++bar) {
    const int value = row[(2 * bar + 1) * row.size() / (2 * kFrameCodeBars)];
    if (value > 160) {
      number = number * 2 + 1;
    } else if (value >= 35 && value <= 110) {
      number = number * 2;
    } else {
      return std::nullopt;
    }
  }
  return number;
}

std::optional<int> readFrameCodeOfPicture(const unsigned char* pixels, int width, int height,
                                          std::size_t stride) {
  if (!pixels || width <= 0 || height <= 0) return std::nullopt;
  const unsigned char* line = pixels + static_cast<std::size_t>(height / 2) * stride;
  std::vector<int> row;
  for (int x = 0; x < width; ++x) row.push_back((line[x * 4] + line[x * 4 + 1] + line[x * 4 + 2]) / 3);
  return readFrameCode(row);
}

std::vector<double> keyframeTimes(const fs::path& path) {
  std::string quoted = "'";
  for (char c : path.string()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quoted += "'";
  const std::string command =
      "ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,flags -of csv=p=0 " + quoted;
  std::vector<double> times;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return times;
  char line[256];
  while (std::fgets(line, sizeof line, pipe)) {
    // "12.000000,K__"
    std::string text(line);
    const auto comma = text.find(',');
    if (comma == std::string::npos || text.find('K', comma) == std::string::npos) continue;
    times.push_back(std::strtod(text.c_str(), nullptr));
  }
  if (::pclose(pipe) != 0) times.clear();
  std::sort(times.begin(), times.end());
  return times;
}

std::string readMedia(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

FakeHandler mediaRoute(const fs::path& path) {
  auto body = std::make_shared<std::string>(readMedia(path));
  return [body](const FakeRequest&) { return FakeReply::text(200, *body, "video/mp4"); };
}

}  // namespace pltest
