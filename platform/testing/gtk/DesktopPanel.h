#pragma once
// A desktop panel on the test display: a dock window across the top of the primary monitor that
// reserves its strip (_NET_WM_STRUT, _NET_WM_STRUT_PARTIAL), as a desktop's top panel does. Under
// a window manager the work area then begins below it; full-screen windows go above it.
//
//   pltest::WindowManager wm(pltest::WindowManager::Kind::xfwm4);
//   pltest::DesktopPanel panel;
//   ASSERT_TRUE(panel.waitUntilReserved()) << "the manager keeps no work area below the panel";
#include <memory>

#include "platform/testing/gtk/Screen.h"

namespace pltest {

class DesktopPanel {
 public:
  // Maps the panel, `height` pixels tall, on its own connection to the display.
  explicit DesktopPanel(int height = 30);
  ~DesktopPanel();
  DesktopPanel(const DesktopPanel&) = delete;
  DesktopPanel& operator=(const DesktopPanel&) = delete;

  // The panel's colour, for reading the screen.
  static constexpr Pixel kColor{200, 40, 160};
  int height() const { return height_; }
  // Waits until the manager's work area (_NET_WORKAREA) begins below the panel.
  bool waitUntilReserved(double timeoutSeconds = 60);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int height_;
};

}  // namespace pltest
