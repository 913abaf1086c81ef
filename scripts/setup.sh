#!/usr/bin/env bash
# Installs the Debian 12 packages Pelorin builds and tests with. Idempotent: it only calls
# apt-get when a package is missing, and refreshes the package lists first in that case.
# `scripts/setup.sh --bench` also installs the reference tools the benchmark drivers run beside
# Pelorin, `--fuzz` the compiler scripts/fuzz.sh builds with (the tests need neither).
set -euo pipefail

PACKAGES=(
  build-essential g++ cmake ninja-build lld pkg-config ccache git clang-format
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libicu-dev libssl-dev uuid-dev libffi-dev zlib1g-dev
  libsqlite3-dev libxml2-dev libprotobuf-c-dev protobuf-c-compiler
  nlohmann-json3-dev libplist-dev libplist-utils libasio-dev
  libcurl4-openssl-dev libcpp-httplib-dev libjpeg-dev
  libcairo2-dev libpango1.0-dev libfontconfig-dev libgdk-pixbuf-2.0-dev fonts-dejavu-core
  fonts-noto-core fonts-noto-cjk
  libsystemd-dev dbus dbus-daemon xdg-utils libavahi-client-dev avahi-daemon avahi-utils
  iproute2 util-linux mount
  libgtk-3-dev libx11-dev libxtst-dev xvfb xauth xclip x11-utils xdotool libwebkit2gtk-4.1-dev
  bubblewrap
  openbox xfwm4 mutter xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils
  ffmpeg libmpv-dev curl libxml2-utils python3
)
case "${1:-}" in
  --bench) PACKAGES+=(nginx-light wrk mpv imagemagick) ;;  # imagemagick: player_screen_bench's screenshots
  --fuzz) PACKAGES+=(clang-14 libclang-rt-14-dev) ;;  # the clang build and libFuzzer of scripts/fuzz.sh
esac

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
