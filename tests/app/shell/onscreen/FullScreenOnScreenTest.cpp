// The real `pelorin` in its own full screen on a virtual display: Ctrl+F fills the whole screen
// with the picture and the control bar and no title bar; the bar goes when the pointer rests over
// the picture; Escape brings the window back where it was. On two monitors the picture covers the
// one that holds most of the window, and under a window manager it covers the desktop's panel.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/testing/gtk/DesktopPanel.h"
#include "platform/testing/gtk/Monitors.h"
#include "platform/testing/gtk/WindowManager.h"
#include "tests/app/shell/onscreen/OnScreenTestSupport.h"

namespace {

using onscreen::near;

// Not the picture's black: the control bar's rows.
bool drawn(const pltest::Pixel& p) {
  return !near(p, 0, 0, 0, 8);
}

std::string logOf(pltest::Sandbox& sandbox) {
  std::stringstream text;
  text << std::ifstream(sandbox.path("pelorin.log")).rdbuf();
  return text.str();
}

std::string text(const std::optional<onscreen::Geometry>& g) {
  if (!g) return "none";
  return std::to_string(g->x) + "," + std::to_string(g->y) + " " + std::to_string(g->width) + "x" +
         std::to_string(g->height);
}

// The window the manager names active (_NET_ACTIVE_WINDOW), as xwininfo writes ids.
std::string activeWindow() {
  const std::string text = onscreen::commandOutput("xprop -root _NET_ACTIVE_WINDOW 2>/dev/null");
  const auto at = text.find("# ");
  if (at == std::string::npos) return {};
  const std::string id = text.substr(at + 2, text.find_first_of(",\n", at) - at - 2);
  return id == "0x0" ? std::string() : id;  // none
}

// The managed windows from the bottom up (_NET_CLIENT_LIST_STACKING), as xwininfo writes ids.
std::vector<std::string> stackedWindows() {
  const std::string text = onscreen::commandOutput("xprop -root _NET_CLIENT_LIST_STACKING 2>/dev/null");
  std::vector<std::string> ids;
  static const std::regex id("0x[0-9a-f]+");
  for (std::sregex_iterator it(text.begin(), text.end(), id), end; it != end; ++it) ids.push_back(it->str());
  return ids;
}

// Where a window stands on the screen, as xwininfo says.
std::optional<onscreen::Geometry> geometryOf(const std::string& id) {
  if (id.empty()) return std::nullopt;  // xwininfo would wait for a click
  const std::string text = onscreen::commandOutput("xwininfo -id " + id + " 2>/dev/null");
  static const std::regex x("Absolute upper-left X: +(-?\\d+)"), y("Absolute upper-left Y: +(-?\\d+)"),
      width("Width: +(\\d+)"), height("Height: +(\\d+)");
  std::smatch mx, my, mw, mh;
  if (!std::regex_search(text, mx, x) || !std::regex_search(text, my, y) ||
      !std::regex_search(text, mw, width) || !std::regex_search(text, mh, height))
    return std::nullopt;
  return onscreen::Geometry{id, std::stoi(mx[1]), std::stoi(my[1]), std::stoi(mw[1]), std::stoi(mh[1])};
}

void controlF() {
  pltest::xtest::key("Control_L", true);
  pltest::xtest::tap("f");
  pltest::xtest::key("Control_L", false);
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

TEST(FullScreenOnScreen, CtrlFCoversTheMonitorHoldingMostOfTheWindowThenItFitsThereTwoMonitors) {
  pltest::OnScreenApp screen;
  if (auto why = pltest::twoMonitorsUnavailable()) GTEST_SKIP() << *why;
  pltest::FakeServer sink;
  auto& sandbox = screen.sandbox();
  onscreen::quietEndpoints(sandbox, sink);
  onscreen::PelorinProcess pelorin(sandbox.path("pelorin.log"));
  ASSERT_GT(pelorin.pid(), 0);

  std::optional<onscreen::MainWindow> window;
  ASSERT_TRUE(pltest::pumpUntil([&] { return (window = onscreen::mainWindow()).has_value(); }, 60))
      << logOf(sandbox);
  // The system makes it 1400x760 at 1000,0: most of it on the second monitor (1280x720 at
  // 1024,0), taller and wider than that monitor.
  ASSERT_EQ(
      std::system(
          ("xdotool windowsize " + window->id + " 1400 760 windowmove " + window->id + " 1000 0").c_str()),
      0);
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        window = onscreen::mainWindow();
        return window && window->x == 1000 && window->y == 0 && window->width == 1400 &&
               window->height == 760;
      },
      60))
      << text(window);
  pltest::xtest::click(window->playerCentreX(), window->playerCentreY());

  // The picture and its control bar on the second monitor, whole.
  controlF();
  auto barAt = [&](int x) { return drawn(pltest::screenPixel(x, 720 - 20)); };
  ASSERT_TRUE(
      pltest::pumpUntil([&] { return barAt(1024 + 20) && barAt(1024 + 640) && barAt(2304 - 20); }, 60))
      << logOf(sandbox);
  const auto full = onscreen::windowOfSize(1280, 720);
  ASSERT_TRUE(full);
  EXPECT_EQ(full->x, 1024);
  EXPECT_EQ(full->y, 0);
  for (int y : {0, 10, 300})
    for (int x : {1024 + 5, 1024 + 640, 2304 - 5})
      EXPECT_TRUE(near(pltest::screenPixel(x, y), 0, 0, 0, 8)) << "picture at " << x << "," << y;

  // Back on that monitor, its menu bar, title bar and control bar all on it.
  controlF();
  // Shown and laid out at its new size: its control bar drawn along its bottom edge.
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        window = onscreen::mainWindow();
        return window && drawn(pltest::screenPixel(window->x + 20, window->bottom() - 20));
      },
      60))
      << text(window) << "\n"
      << logOf(sandbox);
  EXPECT_GE(window->x, 1024) << text(window);
  EXPECT_LE(window->x + window->width, 2304) << text(window);
  EXPECT_GE(window->y, 0) << text(window);
  EXPECT_LE(window->bottom(), 720) << text(window);

  auto status = pelorin.terminate();
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
}

// Under a window manager with a panel across the top of the screen: Ctrl+F gives the whole
// screen, above the panel; Escape gives the window its frame again.
void coversThePanelAndComesBack(pltest::WindowManager::Kind kind) {
  pltest::OnScreenApp screen;
  pltest::WindowManager manager(kind);
  if (auto why = manager.unavailable()) GTEST_SKIP() << *why;
  pltest::DesktopPanel panel;
  ASSERT_TRUE(panel.waitUntilReserved()) << "the manager keeps no work area below the panel";
  pltest::FakeServer sink;
  auto& sandbox = screen.sandbox();
  onscreen::quietEndpoints(sandbox, sink);
  onscreen::PelorinProcess pelorin(sandbox.path("pelorin.log"));
  ASSERT_GT(pelorin.pid(), 0);

  std::optional<onscreen::MainWindow> before;
  ASSERT_TRUE(pltest::pumpUntil([&] { return (before = onscreen::mainWindow()).has_value(); }, 60))
      << logOf(sandbox);
  pltest::xtest::click(before->playerCentreX(), before->playerCentreY());
  // Active, the main window shows its menu bar above its title bar: that is the frame to come
  // back to.
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        before = onscreen::mainWindow();
        return before && activeWindow() == before->id && before->titleBarTop - before->y > 10;
      },
      60))
      << text(before) << "; active " << activeWindow();
  ASSERT_TRUE(near(pltest::screenPixel(720, 10), pltest::DesktopPanel::kColor.r,
                   pltest::DesktopPanel::kColor.g, pltest::DesktopPanel::kColor.b, 8));

  controlF();
  // The manager has made another window active.
  std::string full;
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        full = activeWindow();
        return !full.empty() && full != before->id;
      },
      60))
      << "active " << full << "; main " << text(onscreen::mainWindow()) << "; stack "
      << stackedWindows().size() << " windows\n"
      << logOf(sandbox);
  // In the desktop's full screen, the whole screen, above the panel: the top of the manager's
  // stack, the picture's black where the panel was, the control bar at the screen's bottom edge.
  EXPECT_TRUE(pltest::pumpUntil(
      [&] {
        return onscreen::commandOutput("xprop -id " + full + " _NET_WM_STATE")
                   .find("_NET_WM_STATE_FULLSCREEN") != std::string::npos;
      },
      30));
  std::optional<onscreen::Geometry> placed;
  EXPECT_TRUE(pltest::pumpUntil(
      [&] {
        placed = geometryOf(full);
        return text(placed) == "0,0 1440x900";
      },
      30))
      << text(placed);
  EXPECT_TRUE(pltest::pumpUntil(
      [&] {
        const auto stack = stackedWindows();
        return !stack.empty() && stack.back() == full;
      },
      30))
      << "not the top of the manager's stack";
  // A compositing manager shows the change a moment later.
  auto barAt = [&](int x) { return drawn(pltest::screenPixel(x, 900 - 20)); };
  EXPECT_TRUE(pltest::pumpUntil(
      [&] {
        for (int x : {5, 720, 1435})
          if (!near(pltest::screenPixel(x, 10), 0, 0, 0, 8)) return false;
        return barAt(20) && barAt(720) && barAt(1420);
      },
      30))
      << "the panel's pixel is " << int(pltest::screenPixel(720, 10).r) << " "
      << int(pltest::screenPixel(720, 10).g) << " " << int(pltest::screenPixel(720, 10).b);

  // Escape: the main window active again, at the frame it had.
  pltest::xtest::tap("Escape");
  std::optional<onscreen::MainWindow> after;
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        after = onscreen::mainWindow();
        return after && activeWindow() == after->id;
      },
      60))
      << "active " << activeWindow() << "\n"
      << logOf(sandbox);
  EXPECT_TRUE(static_cast<const onscreen::Geometry&>(*after) == *before)
      << "before " << text(before) << "; after " << text(after);

  auto status = pelorin.terminate();
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
}

TEST(FullScreenOnScreen, UnderXfwm4CtrlFCoversTheScreenAboveThePanelAndEscapeComesBack) {
  coversThePanelAndComesBack(pltest::WindowManager::Kind::xfwm4);
}

TEST(FullScreenOnScreen, UnderMutterCtrlFCoversTheScreenAboveThePanelAndEscapeComesBack) {
  coversThePanelAndComesBack(pltest::WindowManager::Kind::mutter);
}

}  // namespace
