#include <gtest/gtest.h>

#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Screen.h"
#include "platform/appkit/WindowMetrics.h"
#include "platform/foundation/Notification.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Proxy.h"
#include "tests/platform/appkit/AppKitTestSupport.h"

using namespace appkit_test;
using ak::MakeRect;

namespace window_test {

std::vector<std::string> gLog;

std::string nameOf(const ns::Ref<ns::Object>& window);

class WindowDelegate : public ns::Object {
 public:
  std::optional<double> sheetTop;  // answered to window:willPositionSheet:usingRect:
  void willEnter(ns::Ref<ns::Notification> note) { record("willEnter", note); }
  void didEnter(ns::Ref<ns::Notification> note) { record("didEnter", note); }
  void willExit(ns::Ref<ns::Notification> note) { record("willExit", note); }
  void didExit(ns::Ref<ns::Notification> note) { record("didExit", note); }
  ak::Rect positionSheet(ns::Ref<ak::Window>, ns::Ref<ak::Window>, ak::Rect rect) {
    if (sheetTop) rect.origin.y = *sheetTop;
    return rect;
  }
  void sheetDidEnd(ns::Ref<ak::Window> sheet, long code, void* context) {
    gLog.push_back("didEnd " + std::to_string(code) + " " + std::string(static_cast<const char*>(context)));
  }
  void record(const char* what, const ns::Ref<ns::Notification>& note) {
    auto w = std::dynamic_pointer_cast<ak::Window>(note->object());
    gLog.push_back(std::string(what) + " style=" + std::to_string((w->styleMask() >> 14) & 1) + " " +
                   std::to_string(int(w->frame().size.width)) + "x" +
                   std::to_string(int(w->frame().size.height)));
  }
};

// Stands between a window and its delegate, as the custom title-bar window's proxy does.
class ForwardingProxy : public ns::Proxy {
 public:
  ns::Weak<ns::Object> target;
  bool respondsTo(ns::Sel sel) {
    auto t = target.lock();
    return t && ns::respondsToSelector(t, sel);
  }
  ns::Ref<ns::Object> forwardingTarget(ns::Sel) { return target.lock(); }
};

void classSheetDidEnd(ns::Class, ns::Sel, ns::Ref<ak::Window>, long code, void*) {
  gLog.push_back("class didEnd " + std::to_string(code));
}

class ClassDelegate : public ns::Object {};

}  // namespace window_test

using namespace window_test;

PL_CLASS_NAMED(window_test::WindowDelegate, "RTWindowDelegate", ns::Object) {
  cls.method<&WindowDelegate::willEnter>("windowWillEnterFullScreen:");
  cls.method<&WindowDelegate::didEnter>("windowDidEnterFullScreen:");
  cls.method<&WindowDelegate::willExit>("windowWillExitFullScreen:");
  cls.method<&WindowDelegate::didExit>("windowDidExitFullScreen:");
  cls.method<&WindowDelegate::positionSheet>("window:willPositionSheet:usingRect:");
  cls.method<&WindowDelegate::sheetDidEnd>("sheetDidEnd:returnCode:contextInfo:");
}
PL_CLASS_NAMED(window_test::ForwardingProxy, "RTWindowForwardingProxy", ns::Proxy) {
  cls.method<&ForwardingProxy::respondsTo>("respondsToSelector:");
  cls.method<&ForwardingProxy::forwardingTarget>("forwardingTargetForSelector:");
}
PL_CLASS_NAMED(window_test::ClassDelegate, "RTSheetClassDelegate", ns::Object) {
  cls.classMethod<&classSheetDidEnd>("sheetDidEnd:returnCode:contextInfo:");
}

TEST(Windows, KeyAndMainChangeInOrderAndBorderlessWindowsStayOut) {
  pltest::HeadlessApp app;
  std::vector<std::string> log;
  std::vector<ns::Ref<ns::Object>> tokens;
  std::map<const ns::Object*, std::string> names;
  for (const char* n : {ak::WindowDidBecomeKeyNotification, ak::WindowDidResignKeyNotification,
                        ak::WindowDidBecomeMainNotification, ak::WindowDidResignMainNotification}) {
    tokens.push_back(ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
        std::string(n), nullptr, nullptr, [&, n](const ns::Ref<ns::Notification>& note) {
          std::string text = std::string(n).substr(8);  // drop "NSWindow"
          log.push_back(names[note->object().get()] + " " + text.substr(0, text.size() - 12));
        }));
  }
  auto a = ak::make<ak::Window>(MakeRect(0, 0, 200, 100), ak::TitledWindowMask);
  auto b = ak::make<ak::Window>(MakeRect(300, 0, 200, 100), ak::TitledWindowMask);
  auto c = ak::make<ak::Window>(MakeRect(600, 0, 200, 100), ak::BorderlessWindowMask);
  names = {{a.get(), "A"}, {b.get(), "B"}, {c.get(), "C"}};
  a->makeKeyAndOrderFront(nullptr);
  b->makeKeyAndOrderFront(nullptr);
  c->makeKeyAndOrderFront(nullptr);
  EXPECT_EQ(
      joined(log),
      "A DidBecomeKey, A DidBecomeMain, A DidResignKey, B DidBecomeKey, A DidResignMain, B DidBecomeMain");
  EXPECT_TRUE(c->isVisible());
  EXPECT_FALSE(c->isKeyWindow());
  EXPECT_FALSE(c->canBecomeKeyWindow());
  EXPECT_EQ(app.app()->keyWindow(), b);
  // Closing the key window hands key and main to the window behind it.
  log.clear();
  b->close();
  EXPECT_EQ(joined(log), "B DidResignKey, A DidBecomeKey, B DidResignMain, A DidBecomeMain");
  for (auto& t : tokens) ns::NotificationCenter::defaultCenter()->removeObserver(t.get());
}

TEST(Windows, TheThemeFrameHoldsTheStandardButtonsAtFixedMetrics) {
  pltest::HeadlessApp app;
  auto w = app.window(MakeRect(100, 100, 400, 300));
  EXPECT_EQ(w->frame(), MakeRect(100, 100, 400, 322));
  EXPECT_EQ(w->contentView()->frame(), MakeRect(0, 0, 400, 300));
  EXPECT_EQ(w->contentView()->superview(), w->themeFrame());
  struct Case {
    ak::WindowButton kind;
    std::optional<ak::Rect> frame;
  } cases[] = {
      {ak::WindowButton::CloseButton, MakeRect(7, 303, 14, 16)},
      {ak::WindowButton::MiniaturizeButton, MakeRect(27, 303, 14, 16)},
      {ak::WindowButton::ZoomButton, MakeRect(47, 303, 14, 16)},
      {ak::WindowButton::ToolbarButton, std::nullopt},
      {ak::WindowButton::DocumentIconButton, std::nullopt},
      {ak::WindowButton::DocumentVersionsButton, std::nullopt},
      {ak::WindowButton::FullScreenButton, std::nullopt},
  };
  for (const auto& c : cases) {
    auto button = w->standardWindowButton(c.kind);
    ASSERT_EQ(button != nullptr, c.frame.has_value()) << int(c.kind);
    if (button) {
      EXPECT_EQ(button->frame(), *c.frame) << int(c.kind);
    }
  }
  w->setCollectionBehavior(ak::WindowCollectionBehaviorFullScreenPrimary);
  ASSERT_TRUE(w->standardWindowButton(ak::WindowButton::FullScreenButton));
  EXPECT_EQ(w->standardWindowButton(ak::WindowButton::FullScreenButton)->frame(), MakeRect(379, 303, 14, 16));
  // The buttons stay at the top through a resize.
  w->setFrame_display(MakeRect(100, 100, 500, 422), true);
  EXPECT_EQ(w->standardWindowButton(ak::WindowButton::CloseButton)->frame(), MakeRect(7, 403, 14, 16));
  EXPECT_EQ(w->standardWindowButton(ak::WindowButton::FullScreenButton)->frame(), MakeRect(479, 403, 14, 16));
  EXPECT_EQ(w->contentView()->frame(), MakeRect(0, 0, 500, 400));
  w->setTitle("Pelorin");
  pltest::renderWindow(w, "title-bar");
  auto borderless = app.window(MakeRect(0, 0, 50, 50), ak::BorderlessWindowMask);
  EXPECT_EQ(borderless->standardWindowButton(ak::WindowButton::CloseButton), nullptr);
  EXPECT_EQ(borderless->frame(), MakeRect(0, 0, 50, 50));
  EXPECT_EQ(ak::CGWindowLevelForKey(13), 1000);
  EXPECT_EQ(w->backingScaleFactor(), 1.0);
}

TEST(Sheets, HangBelowTheTitleBarOrWhereTheDelegateSaysAndEndThroughTheSelector) {
  struct Case {
    std::optional<double> delegateTop;
    bool throughProxy;
    double expectedTop;  // in the window's base coordinates
  } cases[] = {{std::nullopt, false, 300}, {267, false, 267}, {267, true, 267}};
  for (const auto& c : cases) {
    pltest::HeadlessApp app;
    gLog.clear();
    auto window = app.window(MakeRect(100, 100, 400, 300));
    auto delegate = ns::make<WindowDelegate>();
    delegate->sheetTop = c.delegateTop;
    auto proxy = ns::make<ForwardingProxy>();
    proxy->target = delegate;
    window->setDelegate(c.throughProxy ? ns::Ref<ns::Object>(proxy) : ns::Ref<ns::Object>(delegate));
    auto sheet = ak::make<ak::Window>(MakeRect(0, 0, 200, 100), ak::TitledWindowMask);
    auto second = ak::make<ak::Window>(MakeRect(0, 0, 100, 50), ak::TitledWindowMask);
    static char first[] = "first", later[] = "second";
    app.app()->beginSheet_modalForWindow_modalDelegate_didEndSelector_contextInfo(
        sheet, window, delegate, "sheetDidEnd:returnCode:contextInfo:", first);
    app.app()->beginSheet_modalForWindow_modalDelegate_didEndSelector_contextInfo(
        second, window, delegate, "sheetDidEnd:returnCode:contextInfo:", later);
    EXPECT_EQ(window->attachedSheet(), sheet);
    EXPECT_FALSE(second->isVisible());  // waits for the first
    EXPECT_EQ(sheet->frame(), MakeRect(200, 100 + c.expectedTop - 122, 200, 122))
        << c.delegateTop.value_or(-1);
    EXPECT_TRUE(sheet->isKeyWindow());

    app.app()->endSheet_returnCode(sheet, 1001);
    sheet->orderOut(nullptr);
    EXPECT_EQ(window->attachedSheet(), second);
    app.app()->endSheet_returnCode(second, 0);
    EXPECT_EQ(joined(gLog), "didEnd 1001 first, didEnd 0 second");
    EXPECT_EQ(window->attachedSheet(), nullptr);
  }
}

TEST(Sheets, AClassMayBeTheModalDelegateAndTheParentTakesNoClicksMeanwhile) {
  pltest::HeadlessApp app;
  gLog.clear();
  std::vector<std::string> log;
  auto window = app.window(MakeRect(100, 100, 400, 300));
  auto target = loggingSwatch(window, MakeRect(0, 0, 400, 300), log);
  auto sheet = ak::make<ak::Window>(MakeRect(0, 0, 200, 100), ak::TitledWindowMask);
  ns::Class cls = ns::NSClassFromString("RTSheetClassDelegate");
  ASSERT_TRUE(cls);
  auto classObject = std::static_pointer_cast<ns::Object>(cls->shared_from_this());
  app.app()->beginSheet_modalForWindow_modalDelegate_didEndSelector_contextInfo(
      sheet, window, classObject, "sheetDidEnd:returnCode:contextInfo:", nullptr);
  pltest::click(window, {50, 50});
  app.dispatchQueued();
  EXPECT_TRUE(log.empty());
  app.app()->endSheet_returnCode(sheet, 1001);
  EXPECT_EQ(joined(gLog), "class didEnd 1001");
  pltest::click(window, {50, 50});
  app.dispatchQueued();
  EXPECT_EQ(joined(log), "swatch down, swatch up");
}

TEST(Windows, FullScreenIsAModelOfWillDidAndBack) {
  pltest::HeadlessApp app;
  gLog.clear();
  auto window = app.window(MakeRect(100, 100, 400, 300));
  auto delegate = ns::make<WindowDelegate>();
  window->setDelegate(delegate);
  window->toggleFullScreen(nullptr);
  EXPECT_TRUE(window->isInFullScreen());
  EXPECT_EQ(window->frame(), MakeRect(0, 0, 1440, 900));
  EXPECT_EQ(window->contentView()->frame(), MakeRect(0, 0, 1440, 900));
  window->toggleFullScreen(nullptr);
  EXPECT_EQ(joined(gLog),
            "willEnter style=0 400x322, didEnter style=1 1440x900, willExit style=1 1440x900, "
            "didExit style=0 400x322");
  EXPECT_EQ(window->frame(), MakeRect(100, 100, 400, 322));
  EXPECT_EQ(window->styleMask() & ak::FullScreenWindowMask, 0u);
  EXPECT_TRUE(window->standardWindowButton(ak::WindowButton::CloseButton));
  // A configured screen is used instead.
  ak::Screen::setScreenFrames({MakeRect(0, 0, 800, 600)});
  EXPECT_EQ(ak::Screen::mainScreen()->visibleFrame(), MakeRect(0, 0, 800, 578));
  window->toggleFullScreen(nullptr);
  EXPECT_EQ(window->frame(), MakeRect(0, 0, 800, 600));
}

TEST(Windows, BackgroundAndTitleBarDragsMoveTheWindowByTheSummedDeltas) {
  struct Case {
    bool movableByBackground;
    ak::Point start;
    ak::Point expectedOrigin;
  } cases[] = {
      {true, {50, 50}, {130, 95}},
      {false, {50, 50}, {100, 100}},
      {false, {200, 310}, {130, 95}},  // in the title bar
  };
  for (const auto& c : cases) {
    pltest::HeadlessApp app;
    auto window = app.window(MakeRect(100, 100, 400, 300));
    window->setMovableByWindowBackground(c.movableByBackground);
    std::vector<ak::Point> path = {c.start, {c.start.x + 10, c.start.y + 5}, {c.start.x + 30, c.start.y - 5}};
    pltest::drag(window, path);
    app.dispatchQueued();
    EXPECT_EQ(window->frame().origin, c.expectedOrigin) << c.movableByBackground << " " << c.start.y;
  }
}

TEST(Windows, ChildWindowsFollowTheirParent) {
  pltest::HeadlessApp app;
  auto parent = app.window(MakeRect(100, 100, 400, 300));
  auto child = app.window(MakeRect(150, 150, 50, 50), ak::BorderlessWindowMask);
  parent->addChildWindow_ordered(child, ak::WindowOrderingMode::Above);
  parent->setFrameOrigin({120, 90});
  EXPECT_EQ(child->frame().origin, ak::MakePoint(170, 140));
  parent->orderOut(nullptr);
  EXPECT_FALSE(child->isVisible());
}

TEST(ModalLoops, RunOnlyTheModalWindowsEventsUntilStopped) {
  pltest::HeadlessApp app;
  std::vector<std::string> log;
  auto main = app.window(MakeRect(0, 0, 300, 200));
  auto behind = loggingSwatch(main, MakeRect(0, 0, 300, 200), log);
  auto panel = ak::make<ak::Window>(MakeRect(400, 0, 100, 100), ak::TitledWindowMask);

  // Timers already due: only the common-mode one may fire inside the modal loop.
  int commonFired = 0, defaultFired = 0;
  auto loop = ns::RunLoop::currentRunLoop();
  auto now = ns::Date::now();
  loop->addTimer_forMode(
      ns::Timer::initWithFireDate_interval_repeats_block(now, 0, false, [&](const auto&) { ++commonFired; }),
      ns::RunLoopCommonModes);
  loop->addTimer_forMode(
      ns::Timer::initWithFireDate_interval_repeats_block(now, 0, false, [&](const auto&) { ++defaultFired; }),
      ns::DefaultRunLoopMode);

  class Stopper : public ak::View {
   public:
    std::string seen;
    int* common = nullptr;
    int* plain = nullptr;
    void mouseDown(const ns::Ref<ak::Event>&) override {
      seen = "common=" + std::to_string(*common) + " default=" + std::to_string(*plain);
      ak::Application::sharedApplication()->stopModalWithCode(7);
    }
  };
  auto stopper = ak::make<Stopper>(MakeRect(0, 0, 100, 100));
  stopper->common = &commonFired;
  stopper->plain = &defaultFired;
  panel->contentView()->addSubview(stopper);
  pltest::click(main, {10, 10});
  pltest::click(panel, {10, 10});
  pltest::click(main, {20, 20});
  EXPECT_EQ(app.app()->runModalForWindow(panel), 7);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(stopper->seen, "common=1 default=0");
  // The click queued after the stop waits for the normal loop.
  app.dispatchQueued();
  EXPECT_EQ(joined(log), "swatch down, swatch up");
  // Headless, a modal loop with nothing left to run ends as aborted instead of hanging.
  pltest::LogCapture capture(true);
  EXPECT_EQ(app.app()->runModalForWindow(panel), ak::ModalResponseAbort);
}

namespace window_test {

class Closer : public ns::Object {
 public:
  bool allow = false;
  int asked = 0;
  bool shouldClose(ns::Ref<ns::Object>) {
    ++asked;
    return allow;
  }
};

// Answers scrolls, key equivalents and context menus.
class RoutingView : public SwatchView {
 public:
  ns::Ref<ak::Menu> contextMenu;
  void scrollWheel(const ns::Ref<ak::Event>& e) override {
    note("scroll " + std::to_string(int(e->deltaY())));
  }
  bool performKeyEquivalent(const ns::Ref<ak::Event>& e) override {
    if (!(e->modifierFlags() & ak::CommandKeyMask) || e->charactersIgnoringModifiers() != "k") return false;
    note("keyEquivalent");
    return true;
  }
  void keyDown(const ns::Ref<ak::Event>& e) override { note("keyDown " + e->characters()); }
  bool acceptsFirstResponder() override { return true; }
  ns::Ref<ak::Menu> menuForEvent(const ns::Ref<ak::Event>&) override { return contextMenu; }
};

}  // namespace window_test

PL_CLASS_NAMED(window_test::Closer, "RTWindowCloser", ns::Object) {
  cls.method<&window_test::Closer::shouldClose>("windowShouldClose:");
}

TEST(Windows, EventsReachTheirViewsByKind) {
  pltest::HeadlessApp app;
  std::vector<std::string> log;
  auto window = app.window(MakeRect(0, 0, 200, 100));
  auto view = ak::make<RoutingView>(MakeRect(0, 0, 200, 100));
  view->log = &log;
  window->contentView()->addSubview(view);
  std::vector<std::string> menus;
  ak::View::setContextMenuPresenter(
      [&](const ns::Ref<ak::Menu>&, const ns::Ref<ak::Event>& e, const ns::Ref<ak::View>& v) {
        menus.push_back(v == view ? "menu for the view" : "menu for another view");
      });
  pltest::click(window, {10, 10});
  pltest::scroll(window, {10, 10}, 0, -3);
  pltest::key(window, 40, "k", ak::CommandKeyMask);
  pltest::key(window, 40, "k");
  pltest::rightClick(window, {10, 10});  // no menu: passed up the chain
  app.dispatchQueued();
  // Menus are built elsewhere: an opaque stand-in that is only handed on, never used.
  static int token = 0;
  view->contextMenu = std::shared_ptr<ak::Menu>(std::shared_ptr<void>(), reinterpret_cast<ak::Menu*>(&token));
  pltest::rightClick(window, {10, 10});
  app.dispatchQueued();
  ak::View::setContextMenuPresenter(nullptr);
  EXPECT_EQ(joined(log), "swatch down, swatch up, swatch scroll -3, swatch keyEquivalent, swatch keyDown k");
  EXPECT_EQ(joined(menus), "menu for the view");
}

TEST(Windows, CloseButtonsAskTheDelegateAndClosedWindowsLeaveTheApplication) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(0, 0, 200, 100), ak::TitledWindowMask | ak::ClosableWindowMask);
  auto closer = ns::make<Closer>();
  window->setDelegate(closer);
  const ak::Point closeButton{ak::metrics::kCloseButtonX + 7, window->frame().size.height - 11};
  pltest::click(window, closeButton);
  app.dispatchQueued();
  EXPECT_EQ(closer->asked, 1);
  EXPECT_TRUE(window->isVisible());
  closer->allow = true;
  pltest::click(window, closeButton);
  app.dispatchQueued();
  EXPECT_TRUE(window->isClosed());
  EXPECT_TRUE(app.app()->windows().empty());
  EXPECT_EQ(app.app()->keyWindow(), nullptr);
  // A window without the closable bit refuses performClose.
  pltest::LogCapture capture(true);
  auto fixed = app.window(MakeRect(0, 0, 200, 100), ak::TitledWindowMask);
  fixed->performClose(nullptr);
  EXPECT_FALSE(fixed->isClosed());
}

TEST(Sheets, ASheetEndedAndClosedByItsOwnClickIsNotUsedAfterwards) {
  pltest::HeadlessApp app;
  gLog.clear();
  auto window = app.window(MakeRect(100, 100, 400, 300));
  auto delegate = ns::make<WindowDelegate>();
  ns::Weak<ak::Window> weakSheet;
  {
    auto sheet = ak::make<ak::Window>(MakeRect(0, 0, 200, 100), ak::TitledWindowMask);
    class EndButton : public ak::View {
     public:
      void mouseUp(const ns::Ref<ak::Event>&) override {
        auto w = window();
        ak::Application::sharedApplication()->endSheet_returnCode(w, 1001);
        w->close();
        removeFromSuperview();
        setFrame(MakeRect(1, 1, 1, 1));  // still usable: the dispatch holds it
      }
    };
    sheet->contentView()->addSubview(ak::make<EndButton>(MakeRect(0, 0, 200, 100)));
    static char context[] = "button";
    app.app()->beginSheet_modalForWindow_modalDelegate_didEndSelector_contextInfo(
        sheet, window, delegate, "sheetDidEnd:returnCode:contextInfo:", context);
    pltest::click(sheet, {50, 50});
    pltest::click(sheet, {60, 60});  // after the close: dropped
    weakSheet = sheet;
  }
  app.dispatchQueued();
  EXPECT_EQ(joined(gLog), "didEnd 1001 button");
  EXPECT_TRUE(weakSheet.expired());
  EXPECT_EQ(window->attachedSheet(), nullptr);
}

TEST(Sheets, ASheetsCloseButtonEndsItAsCancelledAndTheParentTakesClicksAgain) {
  pltest::HeadlessApp app;
  gLog.clear();
  std::vector<std::string> log;
  auto window = app.window(MakeRect(100, 100, 400, 300));
  loggingSwatch(window, MakeRect(0, 0, 400, 300), log);
  auto delegate = ns::make<WindowDelegate>();
  auto sheet = ak::make<ak::Window>(MakeRect(0, 0, 200, 100), ak::TitledWindowMask | ak::ClosableWindowMask);
  auto next = ak::make<ak::Window>(MakeRect(0, 0, 200, 100), ak::TitledWindowMask);
  static char first[] = "first", second[] = "second";
  app.app()->beginSheet_modalForWindow_modalDelegate_didEndSelector_contextInfo(
      sheet, window, delegate, "sheetDidEnd:returnCode:contextInfo:", first);
  app.app()->beginSheet_modalForWindow_modalDelegate_didEndSelector_contextInfo(
      next, window, delegate, "sheetDidEnd:returnCode:contextInfo:", second);
  pltest::click(sheet, {ak::metrics::kCloseButtonX + 7, sheet->frame().size.height - 11});
  app.dispatchQueued();
  EXPECT_TRUE(sheet->isClosed());
  EXPECT_EQ(joined(gLog), "didEnd 0 first");
  // The sheet waiting behind it hangs now; once it ends, the window takes clicks again.
  EXPECT_EQ(window->attachedSheet(), next);
  app.app()->endSheet_returnCode(next, 1001);
  next->orderOut(nullptr);
  pltest::click(window, {50, 50});
  app.dispatchQueued();
  EXPECT_EQ(joined(log), "swatch down, swatch up");
}

TEST(Windows, AWindowMadeThroughTheRuntimeWithoutItsInitialiserIsHarmless) {
  pltest::HeadlessApp app;
  auto object = ns::class_createInstance(ns::NSClassFromString("NSWindow"));
  auto window = std::dynamic_pointer_cast<ak::Window>(object);
  ASSERT_TRUE(window);
  window->sendEvent(pltest::mouseEvent(window, ak::EventType::LeftMouseDown, {1, 1}));
  window->setContentView(ak::make<ak::View>(MakeRect(0, 0, 10, 10)));
  window->makeKeyAndOrderFront(nullptr);
  window->setFrame_display(MakeRect(0, 0, 20, 20), true);
  window->display();
  window->close();
  EXPECT_TRUE(window->isClosed());
}
