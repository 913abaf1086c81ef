#!/usr/bin/env bash
# A development aid: builds Pelorin and the tests' fakes of its remote services, starts the fakes
# on 127.0.0.1 (three ffmpeg-made clips, a test account, suggestions) and runs Pelorin against
# them in a home of its own (build/demo/home), so that nothing real is reached or changed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
build="$root/build/demo"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELORIN_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target pelorin pelorin_demo_services
home="$build/home"
mkdir -p "$home"
environment="$build/demo-environment.sh"
rm -f "$environment"
"$build/tests/support/demo/pelorin_demo_services" "$environment" &
services=$!
trap 'kill "$services" 2>/dev/null || true' EXIT
while [ ! -s "$environment" ]; do
  kill -0 "$services" 2>/dev/null || { echo "demo: the services did not start" >&2; exit 1; }
  sleep 0.2
done
# shellcheck disable=SC1090
. "$environment"
export HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CACHE_HOME="$home/.cache" XDG_CONFIG_HOME="$home/.config"
export CrashReporting=0
"$build/app/pelorin" "$@"
