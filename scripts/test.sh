#!/usr/bin/env bash
# Builds Pelorin and every test twice and runs every test in both builds: a Debug build with
# AddressSanitizer and UndefinedBehaviorSanitizer (build/debug), and the Release build that
# scripts/run.sh ships, with the tests (build/release-tests). Exits non-zero when a build or a
# test fails in either. PELORIN_TSAN=1 builds and runs the tests under ThreadSanitizer instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
. "$root/scripts/test-env.sh"

jobs=$(nproc)

# The sources keep the project's format (.clang-format); a file that drifts fails the run here,
# in seconds, before the build. `clang-format -i FILE` puts it right.
if command -v clang-format >/dev/null && git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  (cd "$root" && git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror)
fi

# build_and_test NAME BUILD_DIR CTEST_ARGS -- CMAKE_FLAGS...: configures, builds and runs every
# test of one build; fails when the build or a test fails.
build_and_test() {
  local name=$1 build=$2
  shift 2
  local ctest_args=()
  while [ "$1" != "--" ]; do
    ctest_args+=("$1")
    shift
  done
  shift
  local flags=("$@")
  # Ninja keeps every core busy across targets; a build folder made earlier keeps its generator.
  if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null; then
    flags+=(-G Ninja)
  fi
  echo "test: the $name build in $build"
  cmake -S "$root" -B "$build" "${flags[@]}" &&
    cmake --build "$build" -j "$jobs" &&
    (cd "$build" && ctest --output-on-failure -j "$jobs" --timeout 300 "${ctest_args[@]}")
}

if [ "${PELORIN_TSAN:-0}" = "1" ]; then
  # Races inside libraries built without ThreadSanitizer are suppressed; the file says which.
  export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1} suppressions='$root/scripts/tsan-suppressions.txt'"
  build_and_test ThreadSanitizer "$root/build/tsan" "$@" -- \
    -DCMAKE_BUILD_TYPE=Debug -DPELORIN_TSAN=ON -DPELORIN_SANITIZE=OFF -DPELORIN_WERROR=ON
  exit
fi

status=0
build_and_test "Debug (sanitizers)" "$root/build/debug" "$@" -- \
  -DCMAKE_BUILD_TYPE=Debug -DPELORIN_SANITIZE=ON -DPELORIN_WERROR=ON || status=1
# The optimised code users run: what only shows there (unwinding through split functions,
# code the optimiser reorders) is tested there. Same flags as scripts/run.sh, with the tests;
# the benchmarks are left out, they are never run as tests. Warnings are shown here but do not
# fail the run: the Debug build above fails on them already.
build_and_test Release "$root/build/release-tests" "$@" -- \
  -DCMAKE_BUILD_TYPE=Release -DPELORIN_TESTS=ON -DPELORIN_BENCH=OFF || status=1
if [ "$status" -ne 0 ]; then
  echo "test: failures (see above)"
fi
exit "$status"
