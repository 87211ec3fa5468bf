#!/usr/bin/env bash
# Installs the Debian packages Quelltrine builds, runs and tests with.
# Safe to run again: apt-get skips what is already there.
#   scripts/install-deps.sh              build, run and test
#   scripts/install-deps.sh --package    also build and check the Debian package
set -euo pipefail

PACKAGES=(
  # toolchain
  cmake ninja-build pkg-config g++ clang libclang-rt-14-dev
  # test and bench frameworks
  libgtest-dev libgmock-dev libbenchmark-dev
  # GPU: OpenGL ES 3 through EGL, Mesa's software rasteriser for machines without a GPU
  libepoxy-dev libegl-dev libgles-dev libegl-mesa0 libgl1-mesa-dri glslang-tools
  # windows and the options dialog
  libx11-dev libx11-xcb-dev libxrandr-dev libglib2.0-dev libgtk-3-dev
  # picture decoders
  libturbojpeg0-dev libjpeg62-turbo-dev libpng-dev libtiff-dev libheif-dev libstb-dev libgdk-pixbuf-2.0-dev
  # GUI tests
  xvfb xauth xdotool x11-apps imagemagick x11-xserver-utils
  # install tests: the manual page and the desktop entry
  man-db groff-base desktop-file-utils
)
if [[ "${1:-}" == "--package" ]]; then
  # scripts/package.sh and scripts/check-package.sh
  PACKAGES+=(build-essential debhelper dpkg-dev lintian)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
  exit 0
fi

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
