#!/usr/bin/env bash
# Installs every Debian 12 package Clefwork needs to build, test and run.  Run as root.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps.sh: run as root (sudo bash scripts/install-deps.sh)" >&2
  exit 1
fi
packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libgl-dev libqt6sql6-sqlite libsqlite3-dev
  qt6-charts-dev libqt6opengl6-dev   # Qt Charts' CMake files need Qt OpenGL's, which Debian 12 does not pull in
  libfluidsynth-dev librtmidi-dev librtaudio-dev libaubio-dev aubio-tools fluid-soundfont-gm timgm6mb-soundfont
  googletest libgtest-dev libgmock-dev
  clang clang-format libclang-rt-14-dev
  fp-utils-3.2.2
  xvfb xdotool x11-utils imagemagick sox xdg-utils
  appstream dpkg-dev file desktop-file-utils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
