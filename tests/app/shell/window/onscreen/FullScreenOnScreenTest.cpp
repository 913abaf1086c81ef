// The real `pelorin` in its own full screen on a virtual display: Ctrl+F fills the whole screen
// with the picture and the control bar and no title bar; the bar goes when the pointer rests over
// the picture; Escape brings the window back where it was.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "tests/app/shell/window/onscreen/OnScreenTestSupport.h"

namespace {

using onscreen::near;

// Not the picture's black: the control bar's rows.
bool drawn(const pltest::Pixel& p) {
  return !near(p, 0, 0, 0, 8);
}

// The X id of the toplevel titled "Pelorin" (capital P: not the application's leader window).
std::string pelorinWindowId() {
  FILE* pipe = popen("xwininfo -root -tree 2>/dev/null", "r");
  if (!pipe) return {};
  std::string text;
  char buffer[4096];
  while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
  pclose(pipe);
  static const std::regex line("(0x[0-9a-f]+) \"Pelorin\":");
  std::smatch match;
  return std::regex_search(text, match, line) ? std::string(match[1]) : std::string();
}

TEST(FullScreenOnScreen, CtrlFFillsTheScreenTheBarGoesAtRestAndEscapeRestoresTheWindow) {
  pltest::OnScreenApp screen;
  pltest::FakeServer sink;
  auto& sandbox = screen.sandbox();
  onscreen::quietEndpoints(sandbox, sink);
  onscreen::PelorinProcess pelorin(sandbox.path("pelorin.log"));
  ASSERT_GT(pelorin.pid(), 0);
  auto log = [&] {
    std::stringstream text;
    text << std::ifstream(sandbox.path("pelorin.log")).rdbuf();
    return text.str();
  };

  std::optional<onscreen::Geometry> before;
  ASSERT_TRUE(pltest::pumpUntil([&] { return (before = onscreen::pelorinWindow()).has_value(); }, 60));
  // Drawn: the title bar's rows are not the root's black.
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        before = onscreen::pelorinWindow();
        return before && drawn(pltest::screenPixel(before->x + 400, before->y + 20));
      },
      60));
  // Moved by the system (as a window manager or the user would) before full screen: that is the
  // frame to come back to.
  const std::string id = pelorinWindowId();
  ASSERT_FALSE(id.empty());
  ASSERT_EQ(std::system(("xdotool windowmove " + id + " 60 40").c_str()), 0);
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        before = onscreen::pelorinWindow();
        return before && before->x == 60 && before->y == 40 &&
               drawn(pltest::screenPixel(before->x + 400, before->y + 20));
      },
      60));
  const int centreX = before->x + 361 + (before->width - 361) / 2;
  const int centreY = before->y + 55 + (before->height - 55 - 42) / 2;
  pltest::xtest::click(centreX, centreY);

  pltest::xtest::key("Control_L", true);
  pltest::xtest::tap("f");
  pltest::xtest::key("Control_L", false);
  // The control bar across the screen's bottom edge, the picture above it up to the top row.
  auto barAt = [&](int x) { return drawn(pltest::screenPixel(x, 900 - 20)); };
  ASSERT_TRUE(pltest::pumpUntil([&] { return barAt(20) && barAt(720) && barAt(1420); }, 60)) << log();
  auto shot = pltest::screenPixels(0, 0, 1440, 900);
  for (int y : {0, 10, 30, 54, 450, 800})
    for (int x : {5, 400, 720, 1100, 1435})
      EXPECT_TRUE(near(shot[y * 1440 + x], 0, 0, 0, 8)) << "picture at " << x << "," << y;

  // The pointer moves over the picture and rests: 2 s later the bar's rows show the picture.
  pltest::xtest::moveTo(700, 400);
  pltest::xtest::moveTo(720, 450);
  EXPECT_TRUE(pltest::pumpUntil([&] { return !barAt(720); }, 30)) << log();

  // Escape: the window again, at its earlier frame.
  pltest::xtest::tap("Escape");
  std::optional<onscreen::Geometry> after;
  EXPECT_TRUE(pltest::pumpUntil(
      [&] {
        after = onscreen::pelorinWindow();
        return after && *after == *before && drawn(pltest::screenPixel(after->x + 400, after->y + 20)) &&
               !barAt(20);
      },
      60))
      << "before " << before->x << "," << before->y << " " << before->width << "x" << before->height
      << "; after "
      << (after ? std::to_string(after->x) + "," + std::to_string(after->y) + " " +
                      std::to_string(after->width) + "x" + std::to_string(after->height)
                : std::string("none"))
      << "\n"
      << log();

  auto status = pelorin.terminate();
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
}

}  // namespace
