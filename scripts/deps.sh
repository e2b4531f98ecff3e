#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need.
# As root it installs them; otherwise it prints the one command to run and stops.
#
#   scripts/deps.sh              what scripts/demo.sh and scripts/test.sh use
#   scripts/deps.sh --optional   also the tools behind the README's other
#                                commands: sox (spectrogram),
#                                fluidsynth + fluid-soundfont-gm and timidity
#                                (reference renders), /usr/bin/time (timings)
#   scripts/deps.sh --windows    also the Windows cross-build (mingw-w64,
#                                GoogleTest's sources) and Wine to test it
#   scripts/deps.sh --list [--optional] [--windows]   prints the package names and stops
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libsdl2-dev libsdl2-ttf-dev libfontconfig-dev libgl-dev libgl1-mesa-dri libx11-dev
  libsndfile1-dev libstb-dev
  # Man pages are made from the programs' --help at build time.
  help2man
  # Videos from the capture tool; ffmpeg and ffprobe judge them in the tests.
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg
  libgtest-dev libgmock-dev libbenchmark-dev
  # xvfb-run needs xauth, which Xvfb only recommends.
  xvfb xauth xdotool x11-utils x11-apps imagemagick glslang-tools fonts-dejavu-core xfonts-base
  python3
  clang
)
optional=(sox fluidsynth fluid-soundfont-gm timidity time)
windows=(g++-mingw-w64-x86-64-posix googletest wine64 wine python3-numpy)

list=0
for arg in "$@"; do
  case "$arg" in
    --optional) packages+=("${optional[@]}") ;;
    --windows) packages+=("${windows[@]}") ;;
    --list) list=1 ;;
    *)
      echo "usage: deps.sh [--optional] [--windows] [--list]" >&2
      exit 2
      ;;
  esac
done
if [ $list -eq 1 ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run as root:" >&2
  echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
