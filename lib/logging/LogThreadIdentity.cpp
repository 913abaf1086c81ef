#include "lib/logging/LogThreadIdentity.h"

#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>

#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Dispatch.h"

namespace {

// A thread that was never named carries the name it inherited from the process (the executable's
// name); such a thread counts as unnamed.
const std::string& inheritedName() {
  // Read by records made during exit: never destroyed.
  static const ns::NoDestructor<std::string> name([] {
    std::string s;
    std::ifstream comm("/proc/self/comm");
    std::getline(comm, s);
    return s;
  }());
  return *name;
}

// The thread's name is read again at most once per tick of the coarse clock (a few milliseconds):
// reading it is a system call, several times the cost of the rest of a record.
std::int64_t coarseTick() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

struct Cache {
  LogThreadIdentity identity;
  std::int64_t threadNameTick = 0;
};

}  // namespace

const LogThreadIdentity& LogThreadIdentity::current() {
  thread_local Cache cache;
  LogThreadIdentity& identity = cache.identity;
  if (!identity.threadID) {
    char hex[24];
    std::snprintf(hex, sizeof hex, "%lx", static_cast<unsigned long>(::syscall(SYS_gettid)));
    identity.threadID = std::make_shared<const std::string>(hex);
  }

  const std::int64_t tick = coarseTick();
  if (!identity.threadName || tick != cache.threadNameTick) {
    char name[17] = {};
    std::optional<std::string> threadName;
    if (::prctl(PR_GET_NAME, name, 0, 0, 0) == 0 && name[0] != '\0' && inheritedName() != name) {
      threadName = std::string(name);
    }
    if (!identity.threadName || *identity.threadName != threadName) {
      identity.threadName = std::make_shared<const std::optional<std::string>>(std::move(threadName));
    }
    cache.threadNameTick = tick;
  }

  const char* label = dispatch::currentQueueLabel();
  if (!identity.queueLabel || *identity.queueLabel != label) {
    identity.queueLabel = std::make_shared<const std::string>(label);
  }
  return identity;
}
