// The real `pelorin` on a screen smaller than its main window (no window manager: X puts the
// window where pelorin asks): the whole window, its menu bar and its title bar are on the screen,
// and a click on the menu bar opens a menu.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "platform/appkit/Screen.h"
#include "tests/app/shell/onscreen/OnScreenTestSupport.h"

namespace {

using onscreen::Geometry;
using onscreen::MainWindow;

bool isLightPixel(const pltest::Pixel& p) {
  return p.r > 150 && p.g > 150 && p.b > 150;
}

int lightPixelsIn(int x, int y, int width, int height) {
  int count = 0;
  for (const auto& p : pltest::screenPixels(x, y, width, height)) count += isLightPixel(p) ? 1 : 0;
  return count;
}

void opensFittingTheScreen(int screenWidth, int screenHeight) {
  pltest::OnScreenApp screen;  // the display, a sandbox and the pump
  // CTest gives the test a display of that size; a run of the whole binary shares one of the
  // usual size, where there is nothing to show.
  const ak::Rect frame = ak::Screen::mainScreen()->frame();
  if (frame.size.width != screenWidth || frame.size.height != screenHeight)
    GTEST_SKIP() << "needs a " << screenWidth << "x" << screenHeight
                 << " screen of its own (CTest gives it one); this one is " << frame.size.width << "x"
                 << frame.size.height;
  pltest::FakeServer sink;
  onscreen::quietEndpoints(screen.sandbox(), sink);
  onscreen::PelorinProcess pelorin(screen.sandbox().path("pelorin.log"));
  ASSERT_GT(pelorin.pid(), 0);

  // Listed and drawn where it stays: the title bar found twice at the same place.
  std::optional<MainWindow> window, last;
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        last = window;
        window = onscreen::mainWindow();
        return window && last && *window == *last;
      },
      60));
  const Geometry& g = *window;
  EXPECT_GE(g.x, 0);
  EXPECT_GE(g.y, 0);
  EXPECT_LE(g.x + g.width, screenWidth) << g.width;
  EXPECT_LE(g.y + g.height, screenHeight) << g.height;
  // Sized down to the screen across where it is wider (the main window is 1100 wide).
  EXPECT_EQ(g.width, std::min(1100, screenWidth));
  // The menu bar above the title bar, both on the screen.
  EXPECT_GT(window->titleBarTop, g.y + 10);
  EXPECT_LT(window->titleBarTop, g.y + 60);

  // A click on the first menu's title opens it: its light face over the dark title bar.
  const int menuX = g.x + 20, menuY = g.y + (window->titleBarTop - g.y) / 2;
  auto menuPixels = [&] { return lightPixelsIn(g.x + 4, window->titleBarTop + 4, 100, 40); };
  ASSERT_LT(menuPixels(), 400);
  ASSERT_EQ(
      std::system(
          ("xdotool mousemove " + std::to_string(menuX) + " " + std::to_string(menuY) + " click 1").c_str()),
      0);
  EXPECT_TRUE(pltest::pumpUntil([&] { return menuPixels() > 2000; }, 30)) << menuPixels();
  ASSERT_EQ(std::system("xdotool key Escape"), 0);
  EXPECT_TRUE(pltest::pumpUntil([&] { return menuPixels() < 400; }, 30)) << menuPixels();

  auto status = pelorin.terminate();
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
}

TEST(PelorinOnSmallScreen, TheMainWindowAndItsMenuBarFitA1024x700Screen) {
  opensFittingTheScreen(1024, 700);
}

TEST(PelorinOnSmallScreen, TheMainWindowAndItsMenuBarFitA1280x720Screen) {
  opensFittingTheScreen(1280, 720);
}

}  // namespace
