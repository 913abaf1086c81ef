// A main window larger than a small screen (1024x700, no window manager: X puts a window where
// the program asks): what the program asks and where the window lands both keep the menu bar and
// the title bar on the screen, and both are reached with the pointer.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "platform/appkit/Make.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Screen.h"
#include "platform/appkit/WindowMetrics.h"
#include "platform/appkit/gtk/Presenter.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/testing/gtk/Screen.h"

namespace small_screen_test {

class Chosen : public ns::Object {
 public:
  int count = 0;
  void onChoose(const ns::Ref<ns::Object>&) { ++count; }
};

}  // namespace small_screen_test

PL_CLASS_NAMED(small_screen_test::Chosen, "SSTChosen", ns::Object) {
  cls.method<&small_screen_test::Chosen::onChoose>("onChoose:");
}

namespace {

using ak::MakeRect;
using pltest::OnScreenApp;
namespace xtest = pltest::xtest;

TEST(GtkSmallScreenTest, AWindowLargerThanTheScreenOpensWithItsBarsReachableOnA1024x700Screen) {
  OnScreenApp app;
  const auto screen = ak::Screen::mainScreen();
  // CTest gives the test a display of that size; a run of the whole binary shares one of the
  // usual size, where there is nothing to show.
  if (screen->frame() != MakeRect(0, 0, 1024, 700))
    GTEST_SKIP() << "needs a 1024x700 screen of its own (CTest gives it one); this one is "
                 << screen->frame().size.width << "x" << screen->frame().size.height;
  // The system's work area less a strip as tall as a menu bar.
  const ak::Rect visible = screen->visibleFrame();
  EXPECT_EQ(visible.size.width, 1024);
  EXPECT_GT(visible.size.height, 700 - 60);
  EXPECT_LT(visible.size.height, 700 - 10);

  auto chosen = ns::make<small_screen_test::Chosen>();
  auto root = ak::Menu::initWithTitle("");
  auto file = ak::Menu::initWithTitle("File");
  file->addItemWithTitle_action_keyEquivalent("Choose", "onChoose:", "")->setTarget(chosen);
  root->addItemWithTitle_action_keyEquivalent("File", {}, "")->setSubmenu(file);
  ak::Application::sharedApplication()->setMainMenu(root);

  // The main window's content size, centred as far as it goes: its top would stand above the screen.
  auto window = app.window(MakeRect(0, 0, 1100, 727));
  // What the program asks: the visible frame, whole.
  EXPECT_EQ(window->frame(), visible);
  ASSERT_TRUE(app.waitUntilShown(window));
  // Where it lands: the toplevel, menu bar included, on the screen.
  auto* toplevel = static_cast<GtkWidget*>(ak::gtk::nativeWindow(*window));
  ASSERT_TRUE(toplevel);
  ASSERT_TRUE(app.settle([&] { return pltest::labelOnScreen("File").has_value(); }));
  int x = -1, y = -1;
  gdk_window_get_origin(gtk_widget_get_window(toplevel), &x, &y);
  EXPECT_EQ(x, 0);
  EXPECT_GE(y, 0);
  EXPECT_LE(y + gtk_widget_get_allocated_height(toplevel), 700);
  EXPECT_LE(x + gtk_widget_get_allocated_width(toplevel), 1024);

  // The menu bar answers a click.
  const auto label = *pltest::labelOnScreen("File");
  EXPECT_GE(label.y, 0);
  pltest::Steps steps;
  steps.when([] { return pltest::labelOnScreen("Choose").has_value(); },
             [&] {
               const auto item = *pltest::labelOnScreen("Choose");
               xtest::click(item.x, item.y);
             });
  xtest::click(label.x, label.y);
  ASSERT_TRUE(app.settle([&] { return chosen->count == 1 && !pltest::shownToplevel("menu"); }));

  // So does the title bar's close button, below the menu bar.
  const int titleTop = static_cast<int>(700 - ak::MaxY(window->frame()));
  EXPECT_GT(titleTop, label.y);
  xtest::click(
      static_cast<int>(ak::metrics::kCloseButtonX + ak::metrics::kStandardButtonWidth / 2),
      titleTop + static_cast<int>(ak::metrics::kStandardButtonTop + ak::metrics::kStandardButtonHeight / 2));
  EXPECT_TRUE(app.settle([&] { return !window->isVisible(); }));
  ak::Application::sharedApplication()->setMainMenu(nullptr);
}

}  // namespace
