// The desktop test kit itself: the recording opener keeps every argument byte for byte, and the
// private session bus is the only bus its fakes and callers meet.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/foundation/Task.h"
#include "platform/system/SessionBus.h"
#include "platform/testing/Sandbox.h"
#include "platform/testing/desktop/FakeBusService.h"
#include "platform/testing/desktop/PrivateSessionBus.h"
#include "platform/testing/desktop/RecordingOpener.h"

namespace {

int run(const std::string& program, const std::vector<std::string>& arguments) {
  auto task = ns::make<ns::Task>();
  task->setLaunchPath(program);
  task->setArguments(arguments);
  task->launch();
  task->waitUntilExit();
  return task->terminationStatus();
}

TEST(RecordingOpenerKit, RecordsEveryRunsArgumentsExactlyAndExitsAsTold) {
  pltest::Sandbox sandbox;
  pltest::RecordingOpener opener(sandbox);
  EXPECT_EQ(
      std::string(std::getenv("PATH")).rfind(opener.path().substr(0, opener.path().rfind('/')) + ":", 0), 0u);
  const std::vector<std::vector<std::string>> runs = {
      {"https://example.test/watch?v=x#t=75"},
      {},
      {"", "two words", "line\nbreak\n", "tab\there", "ünïcødé ★", "$(touch x)", "'\"\\", "-n", "%s%%"},
  };
  int status = 0;
  for (const auto& arguments : runs) {
    opener.setExitStatus(status);
    EXPECT_EQ(run(opener.path(), arguments), status);
    status += 3;
  }
  EXPECT_EQ(opener.invocations(), runs);
}

TEST(RecordingOpenerKit, TheSandboxRestoresThePath) {
  std::string pathBefore = std::getenv("PATH");
  {
    pltest::Sandbox sandbox;
    pltest::RecordingOpener opener(sandbox);
    pltest::RecordingOpener other(sandbox, {.name = "other-opener", .exitStatus = 1, .firstOnPath = false});
    EXPECT_NE(std::string(std::getenv("PATH")), pathBefore);
    EXPECT_EQ(run(other.path(), {"x"}), 1);
    EXPECT_EQ(other.invocations(), (std::vector<std::vector<std::string>>{{"x"}}));
    EXPECT_TRUE(opener.invocations().empty());
  }
  EXPECT_EQ(std::string(std::getenv("PATH")), pathBefore);
}

TEST(PrivateSessionBusKit, EachBusIsItsOwnAndEndsWithItsObject) {
  pltest::Sandbox sandbox;
  EXPECT_EQ(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr);  // the sandbox names no bus
  std::string address;
  {
    pltest::PrivateSessionBus bus(sandbox);
    address = bus.address();
    EXPECT_EQ(address.rfind("unix:", 0), 0u);
    EXPECT_NE(address.find(sandbox.root().string()), std::string::npos);
    EXPECT_EQ(sys::sessionBusAddress(), address);

    pltest::PrivateSessionBus second(sandbox);
    EXPECT_NE(second.address(), address);
    auto fileManager = pltest::FakeBusService::fileManager(address);
    // A service on the second bus is not seen on the first.
    ns::Error error;
    EXPECT_FALSE(sys::showItemsInFileManager(second.address(), {"file:///a"}, 5, &error));
    EXPECT_NE(error.localizedDescription().find("ServiceUnknown"), std::string::npos)
        << error.localizedDescription();
    EXPECT_TRUE(sys::showItemsInFileManager(address, {"file:///a", "file:///b%20c"}, 5, &error));
    ASSERT_EQ(fileManager->callCount(), 1u);
    EXPECT_EQ(
        fileManager->calls()[0].arguments,
        (ns::Array{ns::Value(ns::Array{ns::Value("file:///a"), ns::Value("file:///b%20c")}), ns::Value("")}));
  }
  ns::Error error;
  EXPECT_FALSE(sys::showItemsInFileManager(address, {"file:///a"}, 5, &error));
}

}  // namespace
