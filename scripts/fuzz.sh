#!/usr/bin/env bash
# Builds one fuzz target with clang and libFuzzer (with AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz, and runs it for SECONDS.
#
#   scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]
#
# TARGET is a file name of fuzz/ without ".cpp" (json, plist_xml, plist_binary, keyed_archive,
# xml_parser, http_request, range_header, url, cookie, cache_index, dataapi_reply, video_info,
# oauth_token, crash_record, http_auth, multipart, websocket_frames). The run starts from the seed
# corpus and the reproducers in the tree; new inputs go to build/fuzz/runs/TARGET/corpus and
# findings to build/fuzz/runs/TARGET/findings. Exits non-zero on a finding. Extra options go to
# libFuzzer, e.g. -jobs=2 or -fork=2 -ignore_crashes=1 to go on after a finding.
#
#   scripts/fuzz.sh --all-with-clang
#
# builds every target of the tree (libraries, the application, tests, benchmarks and the fuzz
# replays) with clang-14 in build/clang, without sanitizers, optimisation or debug information (a
# check that the sources keep compiling with clang as well as with g++, not a build to run).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ "${1:-}" = "--all-with-clang" ]; then
  "$root/scripts/setup.sh" --fuzz
  cmake -S "$root" -B "$root/build/clang" -G Ninja -DCMAKE_BUILD_TYPE=None \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
  # Goes on past a failure, so that one run lists everything clang rejects.
  exec cmake --build "$root/build/clang" -j "${PELORIN_FUZZ_BUILD_JOBS:-$(nproc)}" -- -k 0
fi

if [ $# -lt 2 ] || [ ! -f "$root/fuzz/$1.cpp" ] || ! [[ "$2" =~ ^[0-9]+$ ]]; then
  echo "usage: scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]" >&2
  echo "targets: $(cd "$root/fuzz/corpus" && echo *)" >&2
  exit 2
fi
target=$1
seconds=$2
shift 2

"$root/scripts/setup.sh" --fuzz

build="$root/build/fuzz"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DPELORIN_FUZZ=ON -DPELORIN_TESTS=OFF -DPELORIN_BENCH=OFF >/dev/null
cmake --build "$build" -j "${PELORIN_FUZZ_BUILD_JOBS:-$(nproc)}" --target "fuzz_$target"

run="$build/runs/$target"
mkdir -p "$run/corpus" "$run/findings"
inputs=("$run/corpus" "$root/fuzz/corpus/$target")
[ -d "$root/fuzz/reproducers/$target" ] && inputs+=("$root/fuzz/reproducers/$target")

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
cd "$run"
exec "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 \
  -print_final_stats=1 -artifact_prefix="$run/findings/" "$@" "${inputs[@]}"
