#!/bin/sh
# Runs one test process on its own X server with two monitors side by side, as GTK sees them
# (Xvfb and Xephyr show it one): Xorg with the dummy video driver, 1024x700 at 0,0 (the primary)
# and 1280x720 at 1024,0. Where Xorg or its dummy driver is missing, or the server does not come
# up, the test is skipped (exit 77) with the reason on stderr.
#
# The server picks a free display itself (-displayfd) and names it once it takes connections, so
# parallel tests never race for a number; it ends with this script, however the script ends.
test_scripts=$(cd "$(dirname "$0")" && pwd)
. "$test_scripts/test-environment.sh"

skip() {
  echo "SKIPPED: $*" >&2
  exit 77
}

command -v Xorg >/dev/null 2>&1 || skip "Xorg is not installed (Debian package xserver-xorg-core)"
command -v xrandr >/dev/null 2>&1 || skip "xrandr is not installed (Debian package x11-xserver-utils)"
modules=$(Xorg -showDefaultModulePath 2>&1 | tail -n 1)
[ -f "$modules/drivers/dummy_drv.so" ] ||
  skip "Xorg's dummy video driver is not installed (Debian package xserver-xorg-video-dummy)"

folder=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-xorg.XXXXXX") || skip "no temporary folder"
server=
display=
cleanup() {
  if [ -n "$server" ] && kill -0 "$server" 2>/dev/null; then
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
  fi
  rm -rf "$folder"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

cat >"$folder/xorg.conf" <<'EOF'
Section "ServerFlags"
  Option "AutoAddDevices" "false"
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 256000
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0-1000.0
  VertRefresh 5.0-200.0
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Virtual 2560 1600
  EndSubSection
EndSection
EOF
mkfifo "$folder/display" || skip "cannot make a pipe in $folder"

# Run from the folder with a relative configuration path, which Xorg also takes from a user
# other than root; the server gets SIGTERM if this script dies without its trap.
cd "$folder" || skip "cannot enter $folder"
setpriv --pdeathsig TERM Xorg -displayfd 3 -config xorg.conf -logfile "$folder/xorg.log" -noreset \
  -nolisten tcp -br 3>"$folder/display" >"$folder/xorg.out" 2>&1 &
server=$!
# The server writes its display number once it takes connections; one that fails closes the
# pipe having written nothing.
read -r display <"$folder/display"
cd - >/dev/null || true
if [ -z "$display" ]; then
  reason=$(tail -n 5 "$folder/xorg.out" 2>/dev/null)
  skip "Xorg with the dummy driver did not start: $reason"
fi
export DISPLAY=":$display"

xrandr --newmode 1024x700 57.75 1024 1072 1176 1328 700 703 713 727 -hsync +vsync &&
  xrandr --addmode DUMMY0 1024x700 &&
  xrandr --addmode DUMMY1 1280x720 &&
  xrandr --output DUMMY0 --mode 1024x700 --pos 0x0 --primary --output DUMMY1 --mode 1280x720 --pos 1024x0 &&
  xrandr --fb 2304x720 &&
  xrandr --query >/dev/null ||
  skip "the dummy server did not take the two monitors"

# The query above polls the outputs: only then does the server report the second one connected
# to clients that read its last state (GDK), which would otherwise leave that monitor out.
"$@"
status=$?
exit "$status"
