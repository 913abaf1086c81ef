#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <thread>

#include "platform/appkit/Image.h"
#include "platform/appkit/Nib.h"
#include "platform/appkit/WindowMetrics.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Notification.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/runtime/ClassBuilder.h"
#include "tests/platform/appkit/AppKitTestSupport.h"

using namespace appkit_test;
using ak::MakeRect;

namespace launch_test {

std::vector<std::string> gLog;
bool gTerminateAfterLastWindow = true;
unsigned long gShouldTerminate = 1;

class TestApplication : public ak::Application {};

class LaunchDelegate : public ns::Object {
 public:
  ns::Ref<ak::Window> window;
  void willFinish(ns::Ref<ns::Notification>) { gLog.push_back("willFinish"); }
  void didFinish(ns::Ref<ns::Notification> note) {
    gLog.push_back("didFinish " + ns::NSStringFromClass(ns::object_getClass(note->object())));
    window =
        ak::make<ak::Window>(MakeRect(100, 100, 300, 200), ak::TitledWindowMask | ak::ClosableWindowMask);
    window->makeKeyAndOrderFront(nullptr);
    // The user clicks the close button.
    const double y = window->frame().size.height - ak::metrics::kStandardButtonTop - 8;
    pltest::click(window, {ak::metrics::kCloseButtonX + 7, y});
  }
  bool afterLastWindow(ns::Ref<ns::Object>) {
    gLog.push_back("lastWindowClosed");
    return gTerminateAfterLastWindow;
  }
  unsigned long shouldTerminate(ns::Ref<ns::Object>) { return gShouldTerminate; }
  void willTerminate(ns::Ref<ns::Notification>) { gLog.push_back("willTerminate"); }
};

ns::Ref<LaunchDelegate> gDelegate;

}  // namespace launch_test

using namespace launch_test;

PL_CLASS_NAMED(launch_test::TestApplication, "RTTestApplication", ak::Application) {}
PL_CLASS_NAMED(launch_test::LaunchDelegate, "RTLaunchDelegate", ns::Object) {
  cls.method<&LaunchDelegate::willFinish>("applicationWillFinishLaunching:");
  cls.method<&LaunchDelegate::didFinish>("applicationDidFinishLaunching:");
  cls.method<&LaunchDelegate::afterLastWindow>("applicationShouldTerminateAfterLastWindowClosed:");
  cls.method<&LaunchDelegate::shouldTerminate>("applicationShouldTerminate:");
  cls.method<&LaunchDelegate::willTerminate>("applicationWillTerminate:");
}

namespace {

class ApplicationMainTest : public testing::Test {
 protected:
  void SetUp() override {
    gLog.clear();
    auto folder = fixture_.sandbox().temporaryFolder("bundle");
    std::ofstream(folder / "Info.plist") << R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>CFBundleIdentifier</key><string>com.ordel42.zeravozezi</string>
<key>NSPrincipalClass</key><string>RTTestApplication</string>
<key>NSMainNibFile</key><string>MainMenu</string>
</dict></plist>
)";
    ns::Bundle::setMainBundlePathForTesting(folder.string());
    ak::Nib::registerBuilder("MainMenu", [](ak::NibLoader& nib) {
      auto delegate = nib.object(ns::make<LaunchDelegate>());
      gDelegate = delegate;
      auto app = nib.owner<ak::Application>();
      nib.outlet([app, delegate] { app->setDelegate(delegate); });
    });
  }
  void TearDown() override {
    ak::Nib::unregisterBuilder("MainMenu");
    ns::Bundle::setMainBundlePathForTesting(std::nullopt);
    if (gDelegate && gDelegate->window) gDelegate->window->close();
    gDelegate = nullptr;
    gTerminateAfterLastWindow = true;
    gShouldTerminate = 1;
  }
  pltest::HeadlessApp fixture_;
};

}  // namespace

TEST_F(ApplicationMainTest, LaunchesThePrincipalClassAndEndsAfterTheLastWindowWhenAsked) {
  const char* argv[] = {"pelorin"};
  EXPECT_EQ(ak::ApplicationMain(1, argv), 0);
  auto app = ak::Application::sharedApplication();
  EXPECT_EQ(ns::NSStringFromClass(ns::object_getClass(app.get())), "RTTestApplication");
  EXPECT_EQ(joined(gLog), "willFinish, didFinish RTTestApplication, lastWindowClosed, willTerminate");
  EXPECT_TRUE(app->hasTerminated());
  EXPECT_FALSE(app->isRunning());
}

TEST_F(ApplicationMainTest, TheLastWindowEndsNothingUnlessTheDelegateAsks) {
  struct Case {
    bool afterLast;
    unsigned long reply;
    const char* expected;
  } cases[] = {
      {false, 1, "willFinish, didFinish RTTestApplication, lastWindowClosed"},
      {true, 0, "willFinish, didFinish RTTestApplication, lastWindowClosed"},
      {true, 2, "willFinish, didFinish RTTestApplication, lastWindowClosed"},
  };
  for (const auto& c : cases) {
    gLog.clear();
    gTerminateAfterLastWindow = c.afterLast;
    gShouldTerminate = c.reply;
    const char* argv[] = {"pelorin"};
    EXPECT_EQ(ak::ApplicationMain(1, argv), 0);  // headless, run returns once nothing is left
    auto app = ak::Application::sharedApplication();
    EXPECT_EQ(joined(gLog), c.expected) << c.afterLast << c.reply;
    EXPECT_FALSE(app->hasTerminated());
    if (c.reply == 2) {
      // A later reply finishes the termination.
      app->replyToApplicationShouldTerminate(true);
      EXPECT_TRUE(app->hasTerminated());
      EXPECT_EQ(gLog.back(), "willTerminate");
    }
  }
}

TEST(Application, AppKitVersionFollowsTheEmulatedSystem) {
  struct Case {
    const char* version;
    double number;
  } cases[] = {{"10.10.5", 1348}, {"10.9", 1265}, {"10.6.8", 1038}, {"10.11.2", 1404.34}};
  for (const auto& c : cases) {
    ns::ProcessInfo::setEmulatedOperatingSystemVersion(std::string(c.version));
    EXPECT_DOUBLE_EQ(ak::AppKitVersionNumber(), c.number) << c.version;
  }
  ns::ProcessInfo::setEmulatedOperatingSystemVersion(std::nullopt);
  EXPECT_GT(std::floor(ak::AppKitVersionNumber()), 1038);
}

TEST(Application, EventsWaitInTheQueueAndFetchingHonoursMaskAndDate) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(0, 0, 100, 100));
  pltest::moveMouse(window, {1, 1});
  pltest::click(window, {2, 2});
  // The mouse-up is found past the others, which stay queued in order.
  auto up = app.app()->nextEventMatchingMask_untilDate_inMode_dequeue(
      ak::LeftMouseUpMask, ns::Date::distantFuture(), ns::DefaultRunLoopMode, true);
  ASSERT_TRUE(up);
  EXPECT_EQ(up->type(), ak::EventType::LeftMouseUp);
  EXPECT_EQ(app.app()->currentEvent(), up);
  EXPECT_EQ(app.app()->queuedEventCount(), 2u);
  // Nothing matches: a distant wait answers nil headless; a peek leaves the queue alone.
  EXPECT_EQ(app.app()->nextEventMatchingMask_untilDate_inMode_dequeue(
                ak::KeyDownMask, ns::Date::distantFuture(), ns::DefaultRunLoopMode, true),
            nullptr);
  auto peek = app.app()->nextEventMatchingMask_untilDate_inMode_dequeue(ak::AnyEventMask, std::nullopt,
                                                                        ns::DefaultRunLoopMode, false);
  ASSERT_TRUE(peek);
  EXPECT_EQ(peek->type(), ak::EventType::MouseMoved);
  EXPECT_EQ(app.app()->queuedEventCount(), 2u);
  // Posting at the start jumps the queue; posting works from another thread.
  std::thread poster([&] { pltest::key(window, ak::kVK_Tab, "\t"); });
  poster.join();
  pltest::post(pltest::mouseEvent(window, ak::EventType::RightMouseDown, {3, 3}));
  app.app()->postEvent_atStart(pltest::mouseEvent(window, ak::EventType::LeftMouseDragged, {4, 4}), true);
  std::vector<unsigned> types;
  while (auto e = app.app()->nextEventMatchingMask_untilDate_inMode_dequeue(ak::AnyEventMask, std::nullopt,
                                                                            ns::DefaultRunLoopMode, true)) {
    types.push_back(unsigned(e->type()));
  }
  EXPECT_EQ(types, (std::vector<unsigned>{6, 5, 1, 10, 11, 3}));
}

namespace {

TEST(ApplicationIcon, TheBundlesIconUnlessAnotherIsSet) {
  pltest::HeadlessApp headless;
  auto folder = headless.sandbox().temporaryFolder("icon-bundle");
  auto app = ak::Application::sharedApplication();
  ns::Bundle::setMainBundlePathForTesting(folder.string());
  // No icon named: none.
  std::ofstream(folder / "Info.plist") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                          "<plist version=\"1.0\"><dict></dict></plist>\n";
  EXPECT_EQ(app->applicationIconImage(), nullptr);
  ns::Bundle::setMainBundlePathForTesting(std::nullopt);

  // Named (with or without its extension) and present: that image, read once.
  auto png = ns::make<ak::Image>(6, 4, std::vector<std::uint8_t>(6 * 4 * 4, 0xC0))->PNGRepresentation();
  ASSERT_TRUE(png);
  std::ofstream(folder / "Mark.png", std::ios::binary)
      .write(reinterpret_cast<const char*>(png->bytes()), std::streamsize(png->length()));
  std::ofstream(folder / "Info.plist") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                          "<plist version=\"1.0\"><dict><key>CFBundleIconFile</key>"
                                          "<string>Mark.png</string></dict></plist>\n";
  ns::Bundle::setMainBundlePathForTesting(folder.string());
  auto icon = app->applicationIconImage();
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->pixelsWide(), 6u);
  EXPECT_EQ(app->applicationIconImage(), icon);

  // One set replaces it until it is set back to nil.
  auto other = ns::make<ak::Image>(2, 2, std::vector<std::uint8_t>(16, 0xFF));
  app->setApplicationIconImage(other);
  EXPECT_EQ(app->applicationIconImage(), other);
  app->setApplicationIconImage(nullptr);
  EXPECT_EQ(app->applicationIconImage(), icon);
  ns::Bundle::setMainBundlePathForTesting(std::nullopt);
}

}  // namespace
