#pragma once
// Functions run first thing on every thread the platform starts (ns::Thread bodies and the
// dispatch worker and reactor threads), for per-thread set-up that must exist before the thread
// runs any work, such as an alternate signal stack. Hooks are added, never removed; a thread
// started before a hook was added does not run it.
namespace ns {

using ThreadStartHook = void (*)();

// Answers false when the table (8 hooks) is full.
bool addThreadStartHook(ThreadStartHook hook);
// Runs every hook added so far on the calling thread.
void runThreadStartHooks();

}  // namespace ns
