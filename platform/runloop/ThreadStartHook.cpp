#include "platform/runloop/ThreadStartHook.h"

#include <atomic>

namespace ns {
namespace {

constexpr int kMaxHooks = 8;
std::atomic<ThreadStartHook> gHooks[kMaxHooks];
std::atomic<int> gCount{0};

}  // namespace

bool addThreadStartHook(ThreadStartHook hook) {
  int slot = gCount.load();
  do {
    if (slot >= kMaxHooks) return false;
  } while (!gCount.compare_exchange_weak(slot, slot + 1));
  gHooks[slot].store(hook, std::memory_order_release);
  return true;
}

void runThreadStartHooks() {
  int count = gCount.load(std::memory_order_acquire);
  for (int i = 0; i < count; ++i) {
    // A slot claimed but not yet filled is skipped.
    if (ThreadStartHook hook = gHooks[i].load(std::memory_order_acquire)) hook();
  }
}

}  // namespace ns
