#pragma once
// The monitors of the test display, for tests on two of them (a test named ...TwoMonitors runs on
// an X server with 1024x700 at 0,0, the primary, and 1280x720 at 1024,0; xorg-run-test.sh).
//
//   pltest::OnScreenApp app;
//   if (auto why = pltest::twoMonitorsUnavailable()) GTEST_SKIP() << *why;
//   ...
//   ASSERT_TRUE(pltest::switchOutputOff(app, "DUMMY1", 1));
#include <optional>
#include <string>
#include <vector>

#include "platform/testing/gtk/Screen.h"

namespace pltest {

struct MonitorGeometry {
  int x = 0, y = 0, width = 0, height = 0;  // X11 coordinates
  bool operator==(const MonitorGeometry&) const = default;
};

// The monitors as GDK reports them, in its order.
std::vector<MonitorGeometry> monitors();

// Why the display does not show the two monitors the two-monitor tests expect (naming what it
// shows), or nothing.
std::optional<std::string> twoMonitorsUnavailable();

// Switches an output of the display off as a user's display settings would (xrandr, a child
// process) and pumps the main loop until GDK reports `remaining` monitors.
bool switchOutputOff(OnScreenApp& app, const std::string& output, int remaining);

}  // namespace pltest
