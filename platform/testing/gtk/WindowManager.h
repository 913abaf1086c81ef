#pragma once
// A real window manager on the test display, for tests of what windows do under one.
//
//   pltest::WindowManager wm(pltest::WindowManager::Kind::xfwm4);
//   if (auto why = wm.unavailable()) GTEST_SKIP() << *why;
//   pltest::OnScreenApp app;
//
// Each manager runs with a home, configuration, cache and runtime folder of its own (a
// temporary folder, removed when it goes) and, for those that keep their settings behind one
// (xfwm4, mutter), a private session bus; it writes nothing outside them. Its output goes to
// "manager.log" there, whose end unavailable() quotes when it does not come up.
#include <memory>
#include <optional>
#include <string>

namespace pltest {

// A window manager started on this process's display ($DISPLAY) for a test's length.
class WindowManager {
 public:
  enum class Kind { openbox, xfwm4, mutter };
  explicit WindowManager(Kind kind);  // starts it, waits until it manages the screen
  ~WindowManager();                   // stops it and waits for it
  WindowManager(const WindowManager&) = delete;
  WindowManager& operator=(const WindowManager&) = delete;

  // Why it does not run here (not installed, did not take the screen), or nothing.
  const std::optional<std::string>& unavailable() const { return unavailable_; }
  static const char* name(Kind kind);  // "openbox", "xfwm4", "mutter"

  // The name the manager gives itself on the screen (_NET_WM_NAME of its check window); empty
  // while none manages the screen.
  static std::string runningName();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::optional<std::string> unavailable_;
};

}  // namespace pltest
