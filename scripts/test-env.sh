# Sourced by scripts/test.sh and scripts/test-shuffled.sh: what every test process runs with.

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# Thread ids must not come round again within one test process. GCC 12's leak checker finds a
# thread by its id and meets the record of an earlier, finished thread of the process that had
# the same id: it then skips the live thread's stack and thread-local storage and reports what
# only they hold as leaked. At the kernel's old limit of 32768 ids, a machine running several
# test binaries that each make thousands of threads hands the ids out again within a minute.
# systemd raises the limit to 2^22 on 64-bit machines; one without it (a container, a minimal
# image) gets the same here where the tests may change it, and a warning where they may not.
raise_pid_max() {
  local file=/proc/sys/kernel/pid_max want=4194304 now
  now=$(cat "$file" 2>/dev/null) || return 0
  [ "$now" -ge "$want" ] && return 0
  if { [ "$(id -u)" -eq 0 ] && echo "$want" 2>/dev/null >"$file"; } ||
    sudo -n sysctl -q -w "kernel.pid_max=$want" >/dev/null 2>&1; then
    echo "test: kernel.pid_max raised from $now to $want, so that no thread id comes round in a test"
  else
    echo "test: kernel.pid_max is $now and cannot be raised here; a long Debug test run may end" \
      "with a false leak report (a live thread's id reused)" >&2
  fi
}
raise_pid_max
