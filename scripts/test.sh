#!/usr/bin/env bash
# Builds Pelorin and every test in a Debug build with AddressSanitizer and
# UndefinedBehaviorSanitizer, then runs every test. Exits non-zero when a test fails.
# PELORIN_TSAN=1 builds and runs the tests under ThreadSanitizer instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

jobs=$(nproc)
if [ "${PELORIN_TSAN:-0}" = "1" ]; then
  build="$root/build/tsan"
  flags=(-DPELORIN_TSAN=ON -DPELORIN_SANITIZE=OFF -DPELORIN_WERROR=ON)
  # Races inside libraries built without ThreadSanitizer are suppressed; the file says which.
  export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1} suppressions='$root/scripts/tsan-suppressions.txt'"
else
  build="$root/build/debug"
  flags=(-DPELORIN_SANITIZE=ON -DPELORIN_WERROR=ON)
  export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
fi

# The sources keep the project's format (.clang-format); a file that drifts fails the run here,
# in seconds, before the build. `clang-format -i FILE` puts it right.
if command -v clang-format >/dev/null && git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  (cd "$root" && git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror)
fi

# Ninja keeps every core busy across targets; a build folder made earlier keeps its generator.
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null; then
  flags+=(-G Ninja)
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug "${flags[@]}"
cmake --build "$build" -j "$jobs"
cd "$build"
ctest --output-on-failure -j "$jobs" --timeout 300 "$@"
