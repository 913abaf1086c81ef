#!/usr/bin/env bash
# Builds Pelorin in Release mode and starts it with the given arguments.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
build="$root/build/release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPELORIN_TESTS=OFF -DPELORIN_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target pelorin
exec "$build/app/pelorin" "$@"
