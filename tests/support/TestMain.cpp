// Shared main of every test executable: the process-wide start-up that the application's own
// main performs, then GoogleTest.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/runtime/Runtime.h"

int main(int argc, char** argv) {
  // Tests see one time zone whatever the machine's: a day shown for a time stamp must not change
  // with where the machine stands. Tests about zones set their own.
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  // Tests reach only the fakes on the loopback interface: a load to any other host fails at once,
  // here and in the processes the tests start, rather than asking the machine's resolver and
  // perhaps a real service.
  ::setenv("PELORIN_TEST_LOOPBACK_ONLY", "1", 1);
  ns::runtime::start();
  testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
