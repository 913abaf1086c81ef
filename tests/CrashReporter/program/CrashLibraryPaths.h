#pragma once
// Crash paths of the crash test program that pass through the C library, built apart from it
// (with the Release optimisation and frame pointers, as CrashDeepPath.cpp): the record must follow
// the call chain through the library's frames, which keep no frame pointers.

extern "C" {
// crs_abort_outer calls crs_abort_first, which calls crs_abort_second, which calls
// crs_abort_third, which calls abort().
void crs_abort_outer();
void crs_abort_first();
void crs_abort_second();
void crs_abort_third();

// crs_epoll_caller calls crs_epoll_park, which waits in epoll_wait on `epoll` for ever.
void crs_epoll_caller(int epoll);
void crs_epoll_park(int epoll);

// crs_once_outer calls crs_once_caller, which runs crs_once_init under pthread_once; that writes
// to address 0.
void crs_once_outer();
void crs_once_caller();
void crs_once_init();

// crs_raise_outer calls crs_raise_caller, which raises SIGUSR1; its handler crs_usr1_handler
// (installed by crs_raise_outer, on the thread's own stack) writes to address 0.
void crs_raise_outer();
void crs_raise_caller();
void crs_usr1_handler(int signal);
}
