#!/usr/bin/env bash
# Runs every test binary whole, in one process, twice: once in the order of its sources and once
# shuffled (the seed is printed; PELORIN_SHUFFLE_SEED sets it, PELORIN_SHUFFLE_JOBS how many
# binaries run at once). CTest runs one test per process, so it cannot see a test that depends on
# what an earlier one left behind; this does.
# Each binary gets the environment CTest gives its tests, the on-screen ones their own virtual
# display; disabled tests stay the children their parents start. Uses the Debug build of
# scripts/test.sh (build/debug), or the folder given as the first argument (build/release-tests
# for its Release build). Exits non-zero when a
# run fails. Not part of the test command.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/debug"}
if [ ! -f "$build/CTestTestfile.cmake" ]; then
  echo "test-shuffled: no test build in $build (run scripts/test.sh first)" >&2
  exit 2
fi
seed=${PELORIN_SHUFFLE_SEED:-$(( (RANDOM << 15 | RANDOM) % 99999 + 1 ))}
echo "test-shuffled: seed $seed"
. "$root/scripts/test-env.sh"
logs="$build/test-shuffled"
rm -rf "$logs"
mkdir -p "$logs"

# One line per binary: the wrapper (or "-"), the binary, whether it needs the media server's
# ports to itself, then the environment CTest sets for it, all tab-separated.
(cd "$build" && ctest --show-only=json-v1) | python3 -c '
import json, sys
binaries = {}
for test in json.load(sys.stdin)["tests"]:
    command = test.get("command") or []
    wrapper = "-"
    if command and command[0].endswith("xvfb-run-test.sh"):
        wrapper, command = command[0], command[1:]
    elif command and command[0].endswith("xorg-run-test.sh"):
        # The whole binary runs on one usual display, where the two-monitor tests skip themselves.
        wrapper, command = command[0][: -len("xorg-run-test.sh")] + "xvfb-run-test.sh", command[1:]
    if not command or "--gtest_filter=" not in " ".join(command):
        continue  # not a test of the test framework (the fuzz replays, the unwind-table checks)
    if any(a.startswith("--gtest_filter=") and "DISABLED_" in a for a in command):
        continue  # a disabled test CTest runs on its own; the whole binary leaves it out
    entry = binaries.setdefault(command[0], {"wrapper": wrapper, "lock": False, "env": {}})
    for prop in test.get("properties", []):
        if prop["name"] == "ENVIRONMENT":
            for pair in prop["value"]:
                key, _, value = pair.partition("=")
                # A screen size one test asks for is not for the whole binary: it keeps the usual one.
                if key != "PELORIN_TEST_SCREEN":
                    entry["env"][key] = value
        if prop["name"] == "RESOURCE_LOCK":
            entry["lock"] = True
    if wrapper != "-":
        entry["wrapper"] = wrapper
for binary, entry in sorted(binaries.items()):
    env = ["%s=%s" % kv for kv in sorted(entry["env"].items())]
    print("\t".join([entry["wrapper"], binary, "1" if entry["lock"] else "0"] + env))
' > "$logs/binaries.tsv"

# run WRAPPER BINARY ORDER ENV...: one whole run, its output in a log of its own.
run() {
  local wrapper=$1 binary=$2 order=$3
  shift 3
  local name log
  name=$(basename "$binary")
  log="$logs/$name.$order.log"
  local args=()
  if [ "$order" = shuffled ]; then args=(--gtest_shuffle "--gtest_random_seed=$seed"); fi
  local command=("$binary" "${args[@]}")
  if [ "$wrapper" != "-" ]; then command=("$wrapper" "${command[@]}"); fi
  if env "$@" "${command[@]}" </dev/null >"$log" 2>&1; then
    echo "passed  $name ($order)"
  else
    echo "FAILED  $name ($order): $log"
    grep -E '^\[  FAILED  \]' "$log" | sort -u | head -20
    return 1
  fi
}
# Binaries run side by side: as many as the machine has cores, or PELORIN_SHUFFLE_JOBS.
jobs=${PELORIN_SHUFFLE_JOBS:-$(nproc)}
status=0
for order in in-order shuffled; do
  # Binaries that share the media server's ports run one after another; the rest side by side.
  awk -F'\t' '$3 == "1"' "$logs/binaries.tsv" > "$logs/serial.tsv"
  awk -F'\t' '$3 == "0"' "$logs/binaries.tsv" > "$logs/parallel.tsv"
  (
    while IFS=$'\t' read -r -a fields; do
      run "${fields[0]}" "${fields[1]}" "$order" "${fields[@]:3}" || echo fail >> "$logs/failed.$order"
    done < "$logs/serial.tsv"
  ) &
  running=1
  while IFS=$'\t' read -r -a fields; do
    { run "${fields[0]}" "${fields[1]}" "$order" "${fields[@]:3}" || echo fail >> "$logs/failed.$order"; } &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
      wait -n || true
      running=$((running - 1))
    fi
  done < "$logs/parallel.tsv"
  wait
  if [ -s "$logs/failed.$order" ]; then status=1; fi
done

if [ "$status" -ne 0 ]; then
  echo "test-shuffled: failures (seed $seed); logs in $logs"
else
  echo "test-shuffled: every binary passed in order and shuffled (seed $seed)"
fi
exit "$status"
