#pragma once
// Crash paths of the crash test program built apart from it (with the Release optimisation).

extern "C" {
// Calls crs_deep_second, which calls crs_deep_third, which writes to `target` (null: a SIGSEGV).
void crs_deep_first(volatile int* target);
void crs_deep_second(volatile int* target);
void crs_deep_third(volatile int* target);
// Faults with rbp holding `frame`, which is no frame of the stack.
void crs_fault_with_frame_pointer(const void* frame);

// Calls crs_no_rows_second, which calls crs_no_rows_third, which calls the library routine
// crs_no_rows_fault (library/NoUnwindRows.c), which has no unwind rows and writes to `target`.
void crs_no_rows_first(volatile int* target);
void crs_no_rows_second(volatile int* target);
void crs_no_rows_third(volatile int* target);
void crs_no_rows_fault(volatile int* target);
}
