// Shared main of every test executable: the process-wide start-up that the application's own
// main performs, then GoogleTest.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/runtime/Runtime.h"

int main(int argc, char** argv) {
  ns::runtime::start();
  testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
