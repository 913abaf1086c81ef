// Shared main of every test executable: the process-wide start-up that the application's own
// main performs, then GoogleTest.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
