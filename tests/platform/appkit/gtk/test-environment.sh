# The environment of every on-screen test process (sourced by the scripts that give it a display).
# "$test_scripts" is the folder of these scripts.
export NO_AT_BRIDGE=1
export GTK_IM_MODULE=gtk-im-context-simple
# No session bus on the test display: settings stay in memory.
export GSETTINGS_BACKEND=memory
unset WAYLAND_DISPLAY
# Allocation stacks by frame pointers: the full unwinder made every allocation of the toolkit
# cost tens of microseconds, so that on a loaded machine a window took minutes to answer.
# The suppressions name the libraries that call the allocator, which such stacks keep; a test
# whose leaks can only be told apart deeper down sets PELORIN_FULL_ALLOCATION_STACKS=1.
if [ "${PELORIN_FULL_ALLOCATION_STACKS:-0}" = 1 ]; then
  export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0"
else
  export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=1"
fi
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$test_scripts/lsan.supp"
# WebKit opens when the first web view is made, and the libraries it brings make glibc grow the
# threads' TLS vectors: the leak checker's tracking of dynamic TLS (this compiler's) then reads a
# stale block and crashes at exit. Without that tracking, the blocks are still found through the
# vectors on the heap.
export ASAN_OPTIONS="$ASAN_OPTIONS:intercept_tls_get_addr=0"
