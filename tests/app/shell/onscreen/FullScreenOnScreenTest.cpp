// The real `pelorin` in its own full screen on a virtual display: Ctrl+F fills the whole screen
// with the picture and the control bar and no title bar; the bar goes when the pointer rests over
// the picture; Escape brings the window back where it was.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/app/shell/onscreen/OnScreenTestSupport.h"

namespace {

using onscreen::near;

// Not the picture's black: the control bar's rows.
bool drawn(const pltest::Pixel& p) {
  return !near(p, 0, 0, 0, 8);
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

  // Drawn: its title bar is on the screen.
  std::optional<onscreen::MainWindow> before;
  ASSERT_TRUE(pltest::pumpUntil([&] { return (before = onscreen::mainWindow()).has_value(); }, 60)) << log();
  // Moved by the system (as a window manager or the user would) before full screen: that is the
  // frame to come back to.
  ASSERT_EQ(std::system(("xdotool windowmove " + before->id + " 60 40").c_str()), 0);
  ASSERT_TRUE(pltest::pumpUntil(
      [&] { return (before = onscreen::mainWindow()) && before->x == 60 && before->y == 40; }, 60));
  pltest::xtest::click(before->playerCentreX(), before->playerCentreY());

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
  std::optional<onscreen::MainWindow> after;
  EXPECT_TRUE(pltest::pumpUntil(
      [&] {
        after = onscreen::mainWindow();
        return after && *after == *before && !barAt(20);
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
