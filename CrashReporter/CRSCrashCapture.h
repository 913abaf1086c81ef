#pragma once
// Crash capture outside the context's own set-up: the signal handlers, the per-thread alternate
// signal stacks, the uncaught-exception handler and the warnings about handlers that are no longer
// ours.
#include <signal.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CrashReporter/CRSStackFrame.h"

struct CRSContext;

// Installs the seven handlers and the calling thread's alternate stack, and reserves the signal
// that parks threads at crash time.
void CRSSignalHandlersInstall(CRSContext* context, void* alternateStack);
void CRSSignalHandler(int signal, siginfo_t* info, void* machineContext);
// Takes capture out again: puts the previous actions back as a crash does, then leaves the seven
// signals at their default action and the calling thread with the alternate stack it had before
// the install (none when it had none); the saved stack is forgotten, so a later crash does not
// install it again. The application never calls it; tests do.
void CRSSignalHandlersUninstall();

// Gives the calling thread an alternate signal stack of its own (when it has none) and leaves
// the parking signal unblocked on it; the stack goes when the thread ends.
void CRSThreadPrepare();

void CRSUncaughtExceptionHandlerInstall();

// Stores a caller-supplied exception for the record (reason percent-escaped).
void CRSRecordCustomException(const std::string& name, const std::string& reason,
                              const std::vector<CRSStackFrame>& frames);

// Logs a warning for each handler that is no longer ours; answers how many warnings it wrote.
int CRSCheckExceptionAndSignalHandlers();
