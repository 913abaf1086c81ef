// The process-wide start-up every program of the system performs before its first work (class
// registrations and load hooks of the object runtime). libFuzzer calls it once; the replay main
// calls it before the first input.
#include "platform/runtime/Runtime.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ns::runtime::start();
  return 0;
}
