#include "platform/testing/TestMedia.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
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
  }
  return "clip";
}

// The lavfi graph of the picture.
std::string videoSource(const MediaClip& clip) {
  std::string size = std::to_string(clip.width) + "x" + std::to_string(clip.height);
  std::string half = std::to_string(clip.width / 2) + "x" + std::to_string(clip.height);
  std::string d = number(clip.seconds);
  switch (clip.pattern) {
    case MediaPattern::Solid:
      return "color=c=" + clip.colour + ":s=" + size + ":r=25:d=" + d;
    case MediaPattern::TestPattern:
      return "testsrc=s=" + size + ":r=25:d=" + d;
    case MediaPattern::RedThenTestPattern:
      return "color=c=red:s=" + size + ":r=25:d=1[a];testsrc=s=" + size +
             ":r=25:d=" + number(clip.seconds > 1 ? clip.seconds - 1 : 0.04) + "[b];[a][b]concat=n=2:v=1:a=0";
    case MediaPattern::LeftRight:
      return "color=c=" + clip.colour + ":s=" + half + ":r=25:d=" + d + "[l];color=c=" + clip.otherColour +
             ":s=" + half + ":r=25:d=" + d + "[r];[l][r]hstack";
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
  std::string name = patternName(clip) + "-" + std::to_string(clip.width) + "x" +
                     std::to_string(clip.height) + "-" +
                     std::to_string(static_cast<long>(clip.seconds * 1000 + 0.5)) + "ms.mp4";
  fs::path target = folder / name;
  std::error_code ec;
  if (fs::is_regular_file(target, ec) && fs::file_size(target, ec) > 0) return target;
  // Test processes run in parallel: each makes its own copy and renames it into place.
  fs::path scratch = folder / ("." + name + "." + std::to_string(::getpid()) + ".mp4");
  std::string d = number(clip.seconds);
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
                                   "25",
                                   "-c:a",
                                   "aac",
                                   "-b:a",
                                   "64k",
                                   "-t",
                                   d,
                                   "-movflags",
                                   "+faststart",
                                   scratch.string()};
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
