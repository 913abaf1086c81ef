#pragma once
// The set-up of the system services' tests: a sandbox with the recording opener first on PATH
// (exiting 0 unless a test says otherwise), a generous failure window so that a failing opener
// is always seen as failing, and the services' settings restored afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/system/SystemServiceSettings.h"
#include "platform/testing/Files.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "platform/testing/desktop/RecordingOpener.h"

namespace system_test {

class SystemServicesTest : public ::testing::Test {
 protected:
  SystemServicesTest() : opener_(sandbox_) { sys::setOpenerFailureWindow(30); }
  ~SystemServicesTest() override { sys::resetSystemServiceSettings(); }

  // A file with some bytes, its folders made.
  std::string makeFile(const std::string& relative) {
    auto path = sandbox_.root() / relative;
    pltest::writeFile(path, "data");
    return path.string();
  }
  // Waits until the opener has finished `count` runs and answers them.
  std::vector<std::vector<std::string>> waitForRuns(std::size_t count) {
    EXPECT_TRUE(pltest::pumpUntil([&] { return opener_.invocations().size() >= count; }, 30));
    return opener_.invocations();
  }

  pltest::Sandbox sandbox_;
  pltest::RecordingOpener opener_;
};

}  // namespace system_test
