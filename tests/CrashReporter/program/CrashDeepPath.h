#pragma once
// Crash paths of the crash test program built apart from it (with the Release optimisation).

extern "C" {
// Calls crs_deep_second, which calls crs_deep_third, which writes to `target` (null: a SIGSEGV).
void crs_deep_first(volatile int* target);
void crs_deep_second(volatile int* target);
void crs_deep_third(volatile int* target);
// Faults with rbp holding `frame`, which is no frame of the stack.
void crs_fault_with_frame_pointer(const void* frame);
}
