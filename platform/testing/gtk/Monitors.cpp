#include "platform/testing/gtk/Monitors.h"

#include <gtk/gtk.h>

#include "platform/foundation/FileHandle.h"
#include "platform/foundation/Task.h"

namespace pltest {

std::vector<MonitorGeometry> monitors() {
  std::vector<MonitorGeometry> out;
  GdkDisplay* display = gdk_display_get_default();
  for (int i = 0, count = display ? gdk_display_get_n_monitors(display) : 0; i < count; ++i) {
    GdkRectangle g;
    gdk_monitor_get_geometry(gdk_display_get_monitor(display, i), &g);
    out.push_back({g.x, g.y, g.width, g.height});
  }
  return out;
}

std::optional<std::string> twoMonitorsUnavailable() {
  const std::vector<MonitorGeometry> want = {{0, 0, 1024, 700}, {1024, 0, 1280, 720}};
  const auto shown = monitors();
  if (shown == want) return std::nullopt;
  std::string text;
  for (const auto& m : shown)
    text += " " + std::to_string(m.width) + "x" + std::to_string(m.height) + "+" + std::to_string(m.x) + "+" +
            std::to_string(m.y);
  return "needs the two monitors of the dummy X server (CTest gives a test named ...TwoMonitors one); "
         "this display shows" +
         (text.empty() ? std::string(" none") : text);
}

bool switchOutputOff(OnScreenApp& app, const std::string& output, int remaining) {
  gchar* xrandr = g_find_program_in_path("xrandr");
  if (!xrandr) return false;
  auto task = ns::make<ns::Task>();
  task->setLaunchPath(xrandr);
  g_free(xrandr);
  task->setArguments({"--output", output, "--off"});
  task->setStandardInput(ns::FileHandle::fileHandleWithNullDevice());
  ns::Error error;
  if (!task->launchAndReturnError(&error)) return false;
  // xrandr waits on the server only, never on this process.
  task->waitUntilExit();
  if (task->terminationStatus() != 0) return false;
  return app.settle([&] { return static_cast<int>(monitors().size()) == remaining; }, 60);
}

}  // namespace pltest
