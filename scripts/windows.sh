#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 and runs their tests under
# Wine: the synthesizer's exact samples and the audio stream as unit tests,
# the demo itself in a virtual X server.
#
#   scripts/windows.sh [CTEST ARGS]
#
# Builds into build-windows/ (or $ORB_WINDOWS_BUILD_DIR). The native build in
# build/ (or $ORB_BUILD_DIR) provides `tune`, which compiles the tune, and the
# Linux demo the tests compare with; what it lacks of these is built first.
# The Wine prefix lives in the build folder and is made once.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
started=$SECONDS

bash "$root/scripts/deps.sh" --windows

host=${ORB_BUILD_DIR:-$root/build}
if [ ! -x "$host/tools/tune" ] || [ ! -x "$host/app/orb2k16-plain" ]; then
  cmake -S "$root" -B "$host" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$host" -j"$jobs" --target tune orb2k16-plain
fi

build=${ORB_WINDOWS_BUILD_DIR:-$root/build-windows}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DORB_HOST_BUILD_DIR="$host" >/dev/null
cmake --build "$build" -j"$jobs"
built=$SECONDS
echo "windows: cross-build $((built - started)) s"

export WINEPREFIX=$build/wine WINEARCH=win64 WINEDEBUG=-all
# No .NET or HTML engine: nothing here uses them, and their installers are slow.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot --init >"$build/wineboot.log" 2>&1
  wineserver --wait
  echo "windows: Wine prefix made in $((SECONDS - built)) s"
fi
tested=$SECONDS
ctest --test-dir "$build" --output-on-failure "$@"
echo "windows: tests under Wine $((SECONDS - tested)) s; all $((SECONDS - started)) s"
