// The real `pelorin` on a virtual display against fakes on 127.0.0.1: its window appears under
// its title, its title bar is the tiled "top_bar" image and the player area is black.
#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <regex>

#include "platform/testing/FakeServer.h"
#include "platform/testing/Pump.h"
#include "platform/testing/gtk/Screen.h"

extern char** environ;

namespace {

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
};

// The top-level window titled "Pelorin", as xwininfo lists it, once it is mapped.
std::optional<Geometry> pelorinWindow() {
  FILE* pipe = popen("xwininfo -root -tree 2>/dev/null", "r");
  if (!pipe) return std::nullopt;
  std::string text;
  char buffer[4096];
  while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
  pclose(pipe);
  // 0x200003 "Pelorin": ("pelorin" "Pelorin")  1100x722+170+89  +170+89
  static const std::regex line(
      "\"Pelorin\": \\([^)]*\\)\\s+(\\d+)x(\\d+)[+-]-?\\d+[+-]-?\\d+\\s+\\+(-?\\d+)\\+(-?\\d+)");
  std::smatch match;
  if (!std::regex_search(text, match, line)) return std::nullopt;
  Geometry g{std::stoi(match[3]), std::stoi(match[4]), std::stoi(match[1]), std::stoi(match[2])};
  if (g.width < 600) return std::nullopt;
  return g;
}

bool near(const pltest::Pixel& a, int r, int g, int b, int tolerance) {
  return std::abs(a.r - r) <= tolerance && std::abs(a.g - g) <= tolerance && std::abs(a.b - b) <= tolerance;
}

class PelorinProcess {
 public:
  explicit PelorinProcess(const std::string& log) {
    std::string path = PELORIN_EXECUTABLE;
    char* argv[] = {path.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~PelorinProcess() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // SIGTERM, then the exit status once it ended.
  std::optional<int> terminate() {
    kill(pid_, SIGTERM);
    int status = 0;
    pltest::pumpUntil([&] { return (ended_ = waitpid(pid_, &status, WNOHANG) == pid_); }, 60);
    if (!ended_) return std::nullopt;
    return status;
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
};

TEST(PelorinOnScreen, TheWindowAppearsWithTheTiledTitleBarAndABlackPlayer) {
  pltest::OnScreenApp screen;  // the display, a sandbox and the pump
  pltest::FakeServer sink;
  auto& sandbox = screen.sandbox();
  sandbox.set("CrashReporting", "0");
  sandbox.set("CrashSubmission", "0");
  for (const char* key :
       {"PELORIN_VIDEO_SERVICE_URL", "PELORIN_SUGGEST_URL", "PELORIN_GOOGLE_API_URL", "PELORIN_OAUTH_URL",
        "PELORIN_LEGACY_FEED_URL", "PELORIN_PROFILE_PHOTO_URL", "CrashReporterAPIEndpoint"})
    sandbox.set(key, sink.baseURL());
  sandbox.set("PELORIN_MAKER_HOST", "127.0.0.1:" + std::to_string(sink.port()));
  PelorinProcess pelorin(sandbox.path("pelorin.log"));
  ASSERT_GT(pelorin.pid(), 0);

  std::optional<Geometry> window;
  ASSERT_TRUE(pltest::pumpUntil([&] { return (window = pelorinWindow()).has_value(); }, 60));
  EXPECT_EQ(window->width, 1100);

  GError* error = nullptr;
  GdkPixbuf* tile = gdk_pixbuf_new_from_file(PELORIN_SOURCE_DIR "/resources/top_bar.png", &error);
  ASSERT_TRUE(tile) << (error ? error->message : "");
  const int tileWidth = gdk_pixbuf_get_width(tile), channels = gdk_pixbuf_get_n_channels(tile);
  const int stride = gdk_pixbuf_get_rowstride(tile);
  const guchar* tilePixels = gdk_pixbuf_read_pixels(tile);
  ASSERT_EQ(gdk_pixbuf_get_height(tile), 55);

  // The bar's rows, between the window buttons and the user button, once drawn (the window is
  // looked up again each time: it may be placed after it is first listed).
  const int width = 400;
  auto titleBarMatches = [&](std::string* why) {
    window = pelorinWindow();
    if (!window) return false;
    const int left = window->x + 300;
    auto shot = pltest::screenPixels(left, window->y, width, 55);
    for (int row = 1; row < 54; ++row) {
      for (int column = 0; column < width; column += 7) {
        const int x = (300 + column) % tileWidth;
        const guchar* expected = tilePixels + row * stride + x * channels;
        const auto& seen = shot[row * width + column];
        if (!near(seen, expected[0], expected[1], expected[2], 3)) {
          if (why)
            *why = "row " + std::to_string(row) + ": " + std::to_string(seen.r) + "," +
                   std::to_string(seen.g) + "," + std::to_string(seen.b) + " for " +
                   std::to_string(expected[0]) + "," + std::to_string(expected[1]) + "," +
                   std::to_string(expected[2]);
          return false;
        }
      }
    }
    return true;
  };
  const bool matched = pltest::pumpUntil([&] { return titleBarMatches(nullptr); }, 60);
  std::string why;
  if (!matched) titleBarMatches(&why);
  EXPECT_TRUE(matched) << why;
  ASSERT_TRUE(window);
  g_object_unref(tile);

  // The player's centre: right of the 360-point browse pane, between the bars.
  const int centreX = window->x + 361 + (window->width - 361) / 2;
  const int centreY = window->y + 55 + (window->height - 55 - 42) / 2;
  EXPECT_TRUE(near(pltest::screenPixel(centreX, centreY), 0, 0, 0, 3));

  auto status = pelorin.terminate();
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
}

}  // namespace
