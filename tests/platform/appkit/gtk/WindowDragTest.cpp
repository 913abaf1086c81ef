// A window dragged by its title bar through real input, without a window manager and under each
// of three: it moves exactly as far as the pointer, in long steps and in short ones, also when
// the window has moved under the pointer between two of them.
#include <gtest/gtest.h>

#include <optional>

#include "platform/testing/gtk/PointerDrag.h"
#include "platform/testing/gtk/Screen.h"
#include "platform/testing/gtk/WindowManager.h"

namespace {

using Kind = pltest::WindowManager::Kind;

void dragTheTitleBar(std::optional<Kind> kind) {
  std::optional<pltest::WindowManager> wm;
  if (kind) {
    wm.emplace(*kind);
    if (auto why = wm->unavailable()) GTEST_SKIP() << *why;
  }
  pltest::OnScreenApp app;
  auto window = app.window(ak::MakeRect(100, 500, 400, 300));
  ASSERT_TRUE(app.waitUntilShown(window));
  const ak::Rect before = window->frame();
  // Six steps of 100 to the right, then twenty of 5 down, from the title bar's middle.
  std::vector<pltest::PointerStep> steps(6, {100, 0});
  steps.insert(steps.end(), 20, {0, 5});
  const pltest::ScreenPoint from{static_cast<int>(before.origin.x) + 200,
                                 static_cast<int>(900 - ak::MaxY(before)) + 10};
  ASSERT_TRUE(pltest::dragInSteps(app, window, from, steps)) << pltest::frameText(window->frame());
  EXPECT_EQ(pltest::frameText(window->frame()), pltest::frameText(ak::OffsetRect(before, 600, -100)));
}

TEST(GtkWindowDragTest, TheTitleBarMovesTheWindowAsFarAsThePointerWithoutAManager) {
  dragTheTitleBar(std::nullopt);
}
TEST(GtkWindowDragTest, TheTitleBarMovesTheWindowAsFarAsThePointerUnderOpenbox) {
  dragTheTitleBar(Kind::openbox);
}
TEST(GtkWindowDragTest, TheTitleBarMovesTheWindowAsFarAsThePointerUnderXfwm4) {
  dragTheTitleBar(Kind::xfwm4);
}
TEST(GtkWindowDragTest, TheTitleBarMovesTheWindowAsFarAsThePointerUnderMutter) {
  dragTheTitleBar(Kind::mutter);
}

}  // namespace
