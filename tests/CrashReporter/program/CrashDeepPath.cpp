// A fault three calls deep, built with the Release optimisation and frame pointers (see the
// CMakeLists.txt beside the tests): the record's crashed thread must list the three functions in
// order, then their callers. Also a fault with a frame pointer register that holds no frame, and
// one in a library routine that has no unwind rows, below three functions of the program.
#include "tests/CrashReporter/program/CrashDeepPath.h"

#include <cstdint>

extern "C" {

// The target comes through a volatile pointer so that the optimiser cannot tell it is null (it
// would replace the write with a trap); the empty statements after each call keep the calls from
// becoming jumps that would leave no frame behind.
__attribute__((noinline, no_sanitize("address", "undefined"))) void crs_deep_third(volatile int* target) {
  *target = 3;
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void crs_deep_second(volatile int* target) {
  crs_deep_third(target);
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void crs_deep_first(volatile int* target) {
  crs_deep_second(target);
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void crs_no_rows_third(volatile int* target) {
  crs_no_rows_fault(target);
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void crs_no_rows_second(volatile int* target) {
  crs_no_rows_third(target);
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void crs_no_rows_first(volatile int* target) {
  crs_no_rows_second(target);
  asm volatile("" ::: "memory");
}

// rbp is loaded with `frame` (no frame of this stack), then address 0 is written.
__attribute__((naked, noinline)) void crs_fault_with_frame_pointer(const void* /*frame*/) {
  asm("mov %rdi, %rbp\n\t"
      "movl $1, 0\n\t"
      "ud2");
}

}  // extern "C"
