// Crash paths through the C library. Each function is kept whole (noinline) and its calls stay
// calls (the empty statements after them), so that every function named in the header has a frame
// of its own on the stack.
#include "tests/CrashReporter/program/CrashLibraryPaths.h"

#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>

#include <cstdlib>

namespace {

// Read through a volatile pointer so that the optimiser cannot tell the target is null.
volatile int* volatile gNowhere = nullptr;
pthread_once_t gOnce = PTHREAD_ONCE_INIT;

}  // namespace

extern "C" {

__attribute__((noinline)) void crs_abort_third() {
  std::abort();
}

__attribute__((noinline)) void crs_abort_second() {
  crs_abort_third();
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void crs_abort_first() {
  crs_abort_second();
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void crs_abort_outer() {
  crs_abort_first();
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void crs_epoll_park(int epoll) {
  epoll_event event{};
  for (;;) ::epoll_wait(epoll, &event, 1, -1);
}

__attribute__((noinline)) void crs_epoll_caller(int epoll) {
  crs_epoll_park(epoll);
  asm volatile("" ::: "memory");
}

// The sanitizers would report the null write instead of letting it fault.
__attribute__((noinline, no_sanitize("address", "undefined"))) void crs_once_init() {
  *gNowhere = 1;
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void crs_once_caller() {
  ::pthread_once(&gOnce, crs_once_init);
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void crs_once_outer() {
  crs_once_caller();
  asm volatile("" ::: "memory");
}

__attribute__((noinline, no_sanitize("address", "undefined"))) void crs_usr1_handler(int) {
  *gNowhere = 2;
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void crs_raise_caller() {
  ::raise(SIGUSR1);
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void crs_raise_outer() {
  struct sigaction action {};
  action.sa_handler = crs_usr1_handler;
  ::sigemptyset(&action.sa_mask);
  ::sigaction(SIGUSR1, &action, nullptr);
  crs_raise_caller();
  asm volatile("" ::: "memory");
}

}  // extern "C"
