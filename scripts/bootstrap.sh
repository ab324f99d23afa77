#!/usr/bin/env bash
# Installs, with apt, every Debian package Vanto needs to build, test and run its
# headless desktop. Safe to run again: apt skips what is already there.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config git
  # the Debian package: dpkg-shlibdeps finds its dependencies; its menu entry is checked
  dpkg-dev desktop-file-utils
  # the sanitizer tree and its fuzz targets: clang and its fuzzer runtime
  clang libclang-rt-14-dev
  # the linker both trees use, for speed
  lld
  nlohmann-json3-dev libgtest-dev libgmock-dev libutf8proc-dev
  # linux backend
  libcurl4-openssl-dev
  libx11-dev libxrandr-dev libxtst-dev libxcb1-dev libxkbcommon-dev libglib2.0-dev
  # the owning process of a window that does not name it (X-Resource extension)
  libxres-dev
  # recording and screenshots: X11 capture, FFmpeg's libraries (x264, x265), libpng
  libxext-dev libxfixes-dev libxcomposite-dev libpng-dev
  libavcodec-dev libavformat-dev libswscale-dev libavutil-dev
  # the desktop panels
  qt6-base-dev
  # ffprobe reads the recorded movies in the e2e tests; the ffmpeg CLI is only the
  # recording benchmark's yardstick
  ffmpeg
  # the accessibility tree: AT-SPI constants and libdbus for the calls
  libatspi2.0-dev libdbus-1-dev
  # the test application the e2e tests drive
  libgtk-3-dev
  # the local stand-in service
  libcpp-httplib-dev libssl-dev
  # headless desktop for e2e tests and the demo
  xvfb x11-utils dbus dbus-daemon at-spi2-core openbox
  # ps: the desktop script checks which of its processes still run
  procps
  # a real application for the e2e tests
  chromium
  # only the yardstick the input benchmark measures the XTest sink against
  xdotool
  # only the yardstick the accessibility benchmark measures snapshots against
  python3-pyatspi
  # only the yardstick the upload benchmark measures against; the demo reads answers
  # with python3
  curl python3
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "bootstrap: all packages present"
  exit 0
fi

echo "bootstrap: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
