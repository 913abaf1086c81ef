// The drags of the application's own views that move their window, through real input on a
// virtual display: the tall title bar's strip and the split view's black background move the
// window exactly as far as the pointer, also when the window has moved under the pointer
// between two movements.
#include <gtest/gtest.h>

#include "platform/appkit/Make.h"
#include "platform/testing/gtk/PointerDrag.h"
#include "platform/testing/gtk/Screen.h"
#include "ui/MySplitView.h"
#include "ui/TitlebarWindow.h"

namespace {

constexpr unsigned long kStyle =
    ak::TitledWindowMask | ak::ClosableWindowMask | ak::MiniaturizableWindowMask | ak::ResizableWindowMask;

std::vector<pltest::PointerStep> stepsOfTheIssue() {
  // Four steps of 100 to the right, then twenty of 5 down.
  std::vector<pltest::PointerStep> steps(4, {100, 0});
  steps.insert(steps.end(), 20, {0, 5});
  return steps;
}

TEST(WindowDragOnScreen, TheTitleStripAndTheSplitViewsBackgroundMoveTheWindowAsFarAsThePointer) {
  pltest::OnScreenApp app;

  // The title bar's container runs its own drag in a window not movable by its background, from
  // the first movement on (the container hears of the drag then): a short one comes first.
  auto titled = ak::make<TitlebarWindow>(ak::MakeRect(100, 300, 500, 300), kStyle);
  titled->setTitleBarHeight(55);
  titled->makeKeyAndOrderFront(nullptr);
  ASSERT_TRUE(app.waitUntilShown(titled));
  ak::Rect before = titled->frame();
  ASSERT_TRUE(pltest::dragInSteps(
      app, titled, {static_cast<int>(before.origin.x) + 300, static_cast<int>(900 - ak::MaxY(before)) + 30},
      [] {
        auto steps = stepsOfTheIssue();
        steps.insert(steps.begin(), {1, 0});
        return steps;
      }()));
  EXPECT_EQ(pltest::frameText(titled->frame()), pltest::frameText(ak::OffsetRect(before, 400, -100)));
  titled->close();

  // The split view's background: a press on a pane away from the divider.
  auto window = app.window(ak::MakeRect(100, 300, 500, 300));
  auto split = ak::make<MySplitView>(window->contentView()->bounds());
  split->setVertical(true);
  split->addSubview(ak::make<ak::View>(ak::MakeRect(0, 0, 150, 300)));
  split->addSubview(ak::make<ak::View>(ak::MakeRect(151, 0, 349, 300)));
  window->contentView()->addSubview(split);
  ASSERT_TRUE(app.waitUntilShown(window));
  before = window->frame();
  ASSERT_TRUE(pltest::dragInSteps(
      app, window, {static_cast<int>(before.origin.x) + 350, static_cast<int>(900 - ak::MaxY(before)) + 150},
      stepsOfTheIssue()));
  EXPECT_EQ(pltest::frameText(window->frame()), pltest::frameText(ak::OffsetRect(before, 400, -100)));
}

}  // namespace
