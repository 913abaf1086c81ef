#include <gtest/gtest.h>

#include "platform/appkit/Animation.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Popover.h"
#include "platform/appkit/Screen.h"
#include "platform/foundation/Notification.h"
#include "platform/runtime/ClassBuilder.h"
#include "tests/platform/appkit/AppKitTestSupport.h"

using namespace appkit_test;
using ak::MakeRect;

namespace popover_test {

class Listener : public ns::Object {
 public:
  std::vector<std::string> heard;
  bool allowClose = true;
  void willShow(ns::Ref<ns::Notification>) { heard.push_back("willShow"); }
  void didShow(ns::Ref<ns::Notification>) { heard.push_back("didShow"); }
  void willClose(ns::Ref<ns::Notification>) { heard.push_back("willClose"); }
  void didClose(ns::Ref<ns::Notification>) { heard.push_back("didClose"); }
  bool shouldClose(ns::Ref<ak::Popover>) {
    heard.push_back("shouldClose");
    return allowClose;
  }
};

struct Shown {
  ns::Ref<ak::Window> window;
  ns::Ref<ak::Button> button;
  ns::Ref<ak::Popover> popover;
  ns::Ref<Listener> listener = ns::make<Listener>();

  Shown(pltest::HeadlessApp& app, ak::Rect content, bool animates) {
    window = app.window(content);
    button = ak::make<ak::Button>(MakeRect(50, 50, 80, 30));
    window->contentView()->addSubview(button);
    auto controller = ak::make<ak::ViewController>();
    controller->setView(swatch(MakeRect(0, 0, 200, 100), {0, 160, 0, 255}));
    popover = ns::make<ak::Popover>();
    popover->setContentViewController(controller);
    popover->setBehavior(ak::PopoverBehavior::Transient);
    popover->setAnimates(animates);
    popover->setDelegate(listener);
  }
  ak::Rect buttonOnScreen() const {
    return window->convertRectToScreen(button->convertRect_toView(button->bounds(), nullptr));
  }
};

}  // namespace popover_test

using namespace popover_test;

PL_CLASS_NAMED(popover_test::Listener, "RTPopoverListener", ns::Object) {
  cls.method<&Listener::willShow>("popoverWillShow:");
  cls.method<&Listener::didShow>("popoverDidShow:");
  cls.method<&Listener::willClose>("popoverWillClose:");
  cls.method<&Listener::didClose>("popoverDidClose:");
  cls.method<&Listener::shouldClose>("popoverShouldClose:");
}

TEST(Popovers, ATransientOneOpensBesideTheButtonAndClosesOnAClickOutside) {
  pltest::HeadlessApp app;
  Shown s(app, MakeRect(100, 100, 600, 400), false);
  s.popover->showRelativeToRect_ofView_preferredEdge(s.button->bounds(), s.button, ak::RectEdge::MaxX);
  ASSERT_TRUE(s.popover->isShown());
  auto pw = s.popover->window();
  const ak::Rect anchor = s.buttonOnScreen();
  EXPECT_EQ(s.popover->shownEdge(), ak::RectEdge::MaxX);
  EXPECT_EQ(pw->frame().origin.x, ak::MaxX(anchor));
  EXPECT_EQ(ak::MidY(pw->frame()), ak::MidY(anchor));
  EXPECT_EQ(pw->parentWindow(), s.window);
  EXPECT_TRUE(pw->isVisible());
  EXPECT_FALSE(pw->isKeyWindow());
  EXPECT_TRUE(s.window->isKeyWindow());
  EXPECT_EQ(joined(s.listener->heard), "willShow, didShow");
  // The content is drawn right of the arrow.
  pltest::renderWindow(pw, "popover");
  EXPECT_EQ(pltest::windowPixel(pw, 20, 50).g, 160);

  // A click inside the popover keeps it; one outside closes it.
  pltest::click(pw, {100, 50});
  app.dispatchQueued();
  EXPECT_TRUE(s.popover->isShown());
  pltest::click(s.window, {400, 300});
  app.dispatchQueued();
  EXPECT_FALSE(s.popover->isShown());
  EXPECT_FALSE(pw->isVisible());
  EXPECT_EQ(pw->parentWindow(), nullptr);
  EXPECT_EQ(joined(s.listener->heard), "willShow, didShow, willClose, didClose");

  // performClose asks the delegate; resigning active closes a transient popover.
  s.listener->heard.clear();
  s.popover->showRelativeToRect_ofView_preferredEdge(s.button->bounds(), s.button, ak::RectEdge::MaxX);
  s.listener->allowClose = false;
  s.popover->performClose(nullptr);
  EXPECT_TRUE(s.popover->isShown());
  app.app()->activateIgnoringOtherApps(true);
  app.app()->deactivate();
  EXPECT_FALSE(s.popover->isShown());
  EXPECT_EQ(joined(s.listener->heard), "willShow, didShow, shouldClose, willClose, didClose");
}

TEST(Popovers, AnAnimatedOneFadesInOverTheContextsDuration) {
  pltest::HeadlessApp app;
  Shown s(app, MakeRect(100, 100, 600, 400), true);
  const double duration = ak::AnimationContext::currentContext()->duration();
  ASSERT_GT(duration, 0);
  s.popover->showRelativeToRect_ofView_preferredEdge(s.button->bounds(), s.button, ak::RectEdge::MaxY);
  auto pw = s.popover->window();
  EXPECT_EQ(pw->alphaValue(), 0);
  EXPECT_EQ(joined(s.listener->heard), "willShow");
  app.advance(duration / 2);
  EXPECT_GT(pw->alphaValue(), 0.2);
  EXPECT_LT(pw->alphaValue(), 0.8);
  app.advance(duration / 2 + 0.05);
  EXPECT_EQ(pw->alphaValue(), 1);
  EXPECT_EQ(joined(s.listener->heard), "willShow, didShow");
  // Above the button, its arrow at the bottom.
  EXPECT_EQ(pw->frame().origin.y, ak::MaxY(s.buttonOnScreen()));
  s.popover->close();
  EXPECT_TRUE(pw->isVisible());
  app.advance(duration + 0.05);
  EXPECT_FALSE(pw->isVisible());
  EXPECT_EQ(joined(s.listener->heard), "willShow, didShow, willClose, didClose");
}

TEST(Popovers, FlipToTheOtherSideWhenTheScreenHasNoRoom) {
  pltest::HeadlessApp app;
  const ak::Rect visible = ak::Screen::mainScreen()->visibleFrame();
  struct Case {
    const char* name;
    ak::Rect content;
    ak::RectEdge preferred;
    ak::RectEdge expected;
  };
  const std::vector<Case> cases = {
      {"room on the right", MakeRect(100, 100, 600, 400), ak::RectEdge::MaxX, ak::RectEdge::MaxX},
      {"at the right edge", MakeRect(ak::MaxX(visible) - 140, 100, 140, 300), ak::RectEdge::MaxX,
       ak::RectEdge::MinX},
      {"at the left edge", MakeRect(0, 100, 300, 300), ak::RectEdge::MinX, ak::RectEdge::MaxX},
      {"at the bottom", MakeRect(300, 0, 300, 300), ak::RectEdge::MinY, ak::RectEdge::MaxY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Shown s(app, c.content, false);
    s.popover->showRelativeToRect_ofView_preferredEdge(s.button->bounds(), s.button, c.preferred);
    EXPECT_EQ(s.popover->shownEdge(), c.expected);
    const ak::Rect f = s.popover->window()->frame();
    const ak::Rect anchor = s.buttonOnScreen();
    switch (c.expected) {
      case ak::RectEdge::MaxX:
        EXPECT_EQ(f.origin.x, ak::MaxX(anchor));
        break;
      case ak::RectEdge::MinX:
        EXPECT_EQ(ak::MaxX(f), ak::MinX(anchor));
        break;
      case ak::RectEdge::MaxY:
        EXPECT_EQ(f.origin.y, ak::MaxY(anchor));
        break;
      case ak::RectEdge::MinY:
        EXPECT_EQ(ak::MaxY(f), ak::MinY(anchor));
        break;
    }
    s.popover->close();
  }
}
