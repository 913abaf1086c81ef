#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "platform/appkit/Alert.h"
#include "platform/appkit/AppKitNames.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/testing/ui/ModalScript.h"
#include "tests/platform/appkit/AppKitTestSupport.h"

using namespace appkit_test;
using ak::MakeRect;

namespace alert_test {

std::vector<std::string> gEnded;

class EndDelegate : public ns::Object {
 public:
  void alertDidEnd(ns::Ref<ak::Alert> alert, long code, void* context) {
    gEnded.push_back(alert->messageText() + " " + std::to_string(code) + " " +
                     static_cast<const char*>(context));
  }
};

void classAlertDidEnd(ns::Class, ns::Sel, ns::Ref<ak::Alert> alert, long code, void* context) {
  gEnded.push_back("class " + alert->messageText() + " " + std::to_string(code) + " " +
                   static_cast<const char*>(context));
}

class ClassEndDelegate : public ns::Object {};

ns::Ref<ak::Alert> deleteAlert() {
  auto alert = ns::make<ak::Alert>();
  alert->setMessageText("Delete the playlist?");
  alert->setInformativeText("Its videos stay in the library.");
  alert->setAlertStyle(ak::AlertStyle::Critical);
  alert->addButtonWithTitle("Delete");
  alert->addButtonWithTitle("Keep");
  alert->addButtonWithTitle("Cancel");
  return alert;
}

}  // namespace alert_test

using namespace alert_test;

PL_CLASS_NAMED(alert_test::EndDelegate, "RTAlertEndDelegate", ns::Object) {
  cls.method<&EndDelegate::alertDidEnd>("alertDidEnd:returnCode:contextInfo:");
}
PL_CLASS_NAMED(alert_test::ClassEndDelegate, "RTAlertClassEndDelegate", ns::Object) {
  cls.classMethod<&classAlertDidEnd>("alertDidEnd:returnCode:contextInfo:");
}

TEST(Alerts, RunModalAnswersTheCodeOfTheButtonAKeyOrAClickChose) {
  struct Case {
    const char* name;
    std::function<void(pltest::ModalScript&)> answer;
    long expected;
  };
  const std::vector<Case> cases = {
      {"click Keep", [](auto& s) { s.clickAlertButton("Keep"); }, 1001},
      {"click Delete", [](auto& s) { s.clickAlertButton("Delete"); }, 1000},
      {"code 1002", [](auto& s) { s.alertCode(1002); }, 1002},
      {"Return", [](auto& s) { s.pressInAlert("\r"); }, 1000},
      {"Escape", [](auto& s) { s.pressInAlert("\x1b"); }, 1002},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    pltest::HeadlessApp app;
    pltest::ModalScript script;
    c.answer(script);
    auto alert = deleteAlert();
    EXPECT_EQ(alert->runModal(), c.expected);
    EXPECT_FALSE(alert->window()->isVisible());
    ASSERT_EQ(script.shownAlerts().size(), 1u);
    const auto& shown = script.shownAlerts()[0];
    EXPECT_EQ(shown.messageText, "Delete the playlist?");
    EXPECT_EQ(shown.informativeText, "Its videos stay in the library.");
    EXPECT_EQ(shown.style, ak::AlertStyle::Critical);
    EXPECT_EQ(shown.buttons, (std::vector<std::string>{"Delete", "Keep", "Cancel"}));
    EXPECT_FALSE(shown.sheet);
  }
}

TEST(Alerts, WithoutButtonsGetsOKAndEscapeNeedsACancelButton) {
  pltest::HeadlessApp app;
  pltest::ModalScript script;
  auto plain = ns::make<ak::Alert>();
  plain->setMessageText("Signed out.");
  script.pressInAlert("\r");
  EXPECT_EQ(plain->runModal(), ak::AlertFirstButtonReturn);
  ASSERT_EQ(plain->buttons().size(), 1u);
  EXPECT_EQ(plain->buttons()[0]->title(), "OK");

  // Without a "Cancel" button Escape chooses nothing; headless the loop then ends as aborted.
  auto two = ns::make<ak::Alert>();
  two->addButtonWithTitle("Sign Out");
  two->addButtonWithTitle("Stay");
  script.pressInAlert("\x1b");
  pltest::LogCapture capture(true);
  EXPECT_EQ(two->runModal(), ak::ModalResponseAbort);
  script.clickAlertButton("Stay");
  EXPECT_EQ(two->runModal(), ak::AlertSecondButtonReturn);
}

TEST(Alerts, ModalLoopRunsModalTimersOnlyAndDropsOtherWindowsClicks) {
  pltest::HeadlessApp app;
  pltest::ModalScript script;
  std::vector<std::string> log;
  auto main = app.window(MakeRect(0, 0, 300, 200));
  auto behind = loggingSwatch(main, MakeRect(0, 0, 300, 200), log);

  int commonFired = 0, defaultFired = 0;
  auto loop = ns::RunLoop::currentRunLoop();
  auto now = ns::Date::now();
  loop->addTimer_forMode(
      ns::Timer::initWithFireDate_interval_repeats_block(now, 0, false, [&](const auto&) { ++commonFired; }),
      ns::RunLoopCommonModes);
  loop->addTimer_forMode(
      ns::Timer::initWithFireDate_interval_repeats_block(now, 0, false, [&](const auto&) { ++defaultFired; }),
      ns::DefaultRunLoopMode);
  loop->addTimer_forMode(
      ns::Timer::initWithFireDate_interval_repeats_block(
          now, 0, false, [&](const auto&) { ak::Application::sharedApplication()->stopModalWithCode(5); }),
      ns::ModalPanelRunLoopMode);
  script.leaveAlertOpen();
  auto alert = deleteAlert();
  EXPECT_EQ(alert->runModal(), 5);
  EXPECT_EQ(commonFired, 1);
  EXPECT_EQ(defaultFired, 0);
  loop->runPendingInMode(ns::DefaultRunLoopMode);
  EXPECT_EQ(defaultFired, 1);

  // A click on another window while the alert runs is dropped; the alert's own click ends it.
  script.clickAlertButton("Keep", [&] { pltest::click(main, {10, 10}); });
  EXPECT_EQ(alert->runModal(), 1001);
  app.dispatchQueued();
  EXPECT_TRUE(log.empty()) << joined(log);
  pltest::click(main, {10, 10});
  app.dispatchQueued();
  EXPECT_EQ(joined(log), "swatch down, swatch up");

  // A stop with no modal loop running changes nothing for the next one.
  app.app()->stopModalWithCode(9);
  script.alertCode(1000);
  EXPECT_EQ(alert->runModal(), 1000);
}

TEST(AlertSheets, EndThroughTheModalDelegateAndBlockOnlyTheirParent) {
  pltest::HeadlessApp app;
  pltest::ModalScript script;
  gEnded.clear();
  std::vector<std::string> log;
  auto parent = app.window(MakeRect(0, 0, 500, 300));
  auto other = app.window(MakeRect(600, 0, 300, 200));
  auto parentView = loggingSwatch(parent, MakeRect(0, 0, 500, 60), log, "parent");
  auto otherView = loggingSwatch(other, MakeRect(0, 0, 300, 200), log, "other");
  int didEndSheet = 0;
  auto token = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
      std::string(ak::WindowDidEndSheetNotification), parent, nullptr, [&](const auto&) { ++didEndSheet; });

  auto delegate = ns::make<EndDelegate>();
  auto alert = deleteAlert();
  alert->window()->setLevel(ak::CGWindowLevelForKey(13));
  static char context[] = "ctx";
  script.leaveAlertOpen();
  alert->beginSheetModalForWindow_modalDelegate_didEndSelector_contextInfo(
      parent, delegate, ns::Sel("alertDidEnd:returnCode:contextInfo:"), context);
  EXPECT_EQ(parent->attachedSheet(), alert->window());
  EXPECT_EQ(alert->window()->level(), 1000);
  ASSERT_EQ(script.shownAlerts().size(), 1u);
  EXPECT_TRUE(script.shownAlerts()[0].sheet);
  EXPECT_EQ(script.shownAlerts()[0].level, 1000);

  pltest::click(parent, {20, 20});
  pltest::click(other, {20, 20});
  app.dispatchQueued();
  EXPECT_EQ(joined(log), "other down, other up");
  EXPECT_TRUE(gEnded.empty());

  // Escape on the sheet (key again) chooses "Cancel".
  alert->window()->makeKeyWindow();
  pltest::key(alert->window(), 53, "\x1b");
  app.dispatchQueued();
  EXPECT_EQ(joined(gEnded), "Delete the playlist? 1002 ctx");
  EXPECT_EQ(didEndSheet, 1);
  EXPECT_EQ(parent->attachedSheet(), nullptr);
  EXPECT_FALSE(alert->window()->isVisible());
  EXPECT_EQ(alert->window()->level(), 1000);
  log.clear();
  pltest::click(parent, {20, 20});
  app.dispatchQueued();
  EXPECT_EQ(joined(log), "parent down, parent up");
  ns::NotificationCenter::defaultCenter()->removeObserver(token.get());

  // A class object as the delegate; a second sheet waits for the first.
  gEnded.clear();
  auto first = deleteAlert();
  auto second = ns::make<ak::Alert>();
  second->setMessageText("Second");
  auto cls = ns::NSClassFromString("RTAlertClassEndDelegate");
  ASSERT_TRUE(cls);
  script.clickAlertButton("Keep").clickAlertButton("OK");
  first->beginSheetModalForWindow_modalDelegate_didEndSelector_contextInfo(
      parent, std::static_pointer_cast<ns::Object>(cls->shared_from_this()),
      ns::Sel("alertDidEnd:returnCode:contextInfo:"), context);
  std::vector<long> codes;
  second->beginSheetModalForWindow_completionHandler(parent, [&](long code) { codes.push_back(code); });
  EXPECT_EQ(script.shownAlerts().size(), 2u);  // the second has not shown yet
  app.dispatchQueued();
  EXPECT_EQ(joined(gEnded), "class Delete the playlist? 1001 ctx");
  EXPECT_EQ(script.shownAlerts().size(), 3u);
  app.dispatchQueued();
  EXPECT_EQ(codes, (std::vector<long>{1000}));
  EXPECT_EQ(parent->attachedSheet(), nullptr);
}

TEST(AlertSheets, OnANilWindowRunApplicationModal) {
  pltest::HeadlessApp app;
  pltest::ModalScript script;
  auto alert = deleteAlert();
  std::vector<long> codes;
  script.clickAlertButton("Cancel");
  alert->beginSheetModalForWindow_completionHandler(nullptr, [&](long code) { codes.push_back(code); });
  EXPECT_EQ(codes, (std::vector<long>{1002}));
  ASSERT_EQ(script.shownAlerts().size(), 1u);
  EXPECT_FALSE(script.shownAlerts()[0].sheet);
}

TEST(Alerts, RenderedPanelShowsTheMessageAndButtons) {
  pltest::HeadlessApp app;
  auto alert = deleteAlert();
  auto window = alert->window();
  window->orderFront(nullptr);
  pltest::renderWindow(window, "alert");
  // Text is drawn dark on the light panel: the message's line and the buttons' row have ink.
  const ak::Rect content = window->contentView()->frame();
  auto inkIn = [&](double y0, double y1, double x0, double x1) {
    int dark = 0;
    for (double y = y0; y < y1; y += 1)
      for (double x = x0; x < x1; x += 1) {
        auto p = pltest::windowPixel(window, x, y);
        if (p.r < 100 && p.g < 100 && p.b < 100) ++dark;
      }
    return dark;
  };
  const double top = content.size.height;
  EXPECT_GT(inkIn(top - 42, top - 20, 20, 220), 20);  // "Delete the playlist?"
  EXPECT_GT(inkIn(20, 52, 20, 400), 20);              // the three titles
  // Without a message the line is empty.
  auto blank = ns::make<ak::Alert>();
  auto bw = blank->window();
  bw->orderFront(nullptr);
  pltest::renderWindow(bw, "blank-alert");
  int dark = 0;
  for (double x = 20; x < 220; x += 1)
    for (double y = top - 42; y < top - 20; y += 1) {
      auto p = pltest::windowPixel(bw, x, bw->contentView()->frame().size.height - (top - y));
      if (p.r < 100 && p.g < 100 && p.b < 100) ++dark;
    }
  EXPECT_EQ(dark, 0);
}

TEST(Alerts, ShownWithNothingQueuedFailsTheTestWithItsMessage) {
  pltest::HeadlessApp app;
  auto alert = deleteAlert();
  long code = 0;
  EXPECT_NONFATAL_FAILURE(
      {
        pltest::ModalScript script;
        code = alert->runModal();
      },
      "Delete the playlist?");
  EXPECT_EQ(code, ak::ModalResponseAbort);
  EXPECT_FALSE(alert->window()->isVisible());
}
