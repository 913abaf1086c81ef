#pragma once
// The crash-time writer of the crash record: 21 lines, each one JSON object, written with write()
// only while the other threads are parked. Also the signal name tables the record uses.
#include <signal.h>

#include <cstdint>

#include "CrashReporter/CRSContext.h"

// Writes the record of the current crash. `info` and `machineContext` may be null (a crash with no
// signal information); `savedErrno` is errno as the handler found it. Answers false when another
// thread is already writing (the caller then parks).
bool CRSCrashRecordWrite(int savedErrno, const siginfo_t* info, const void* machineContext);

const char* CRSSignalName(int signal);
const char* CRSSignalCodeName(int signal, int code);

// Parks the other threads: each stores its registers and queue label and waits until resumed.
// At most one second is spent waiting for them in all. Answers whether all of them answered.
bool CRSSuspendOtherThreads(CRSThreadList* list);
void CRSResumeOtherThreads(CRSThreadList* list);
// Fills the list from /proc/self/task (at most CRSMaxThreads threads); the crashed thread is the
// caller.
void CRSThreadListCapture(CRSThreadList* list);
// Notes the calling thread's stack bounds for the frame walk of a later crash. Outside crash time:
// it asks the thread library.
void CRSThreadNoteStackBounds();
// The handler of the reserved real-time signal.
void CRSSuspendSignalHandler(int signal, siginfo_t* info, void* machineContext);

// Test hook: runs in the writer after it loaded the recorded exception and before it writes the
// exception's frames, so that a test can replace the exception at that point (a thread the writer
// could not park may do so at any time).
void CRSCrashRecordSetExceptionHookForTesting(void (*hook)());
