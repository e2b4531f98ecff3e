#!/usr/bin/env bash
# Builds everything and runs the whole test suite. Without a display it runs
# the suite under a virtual X server (Xvfb), which the end-to-end tests use.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"
build=${ORB_BUILD_DIR:-$root/build}
run_tests() { ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "$@"; }
if [ -z "${DISPLAY:-}" ]; then
  export -f run_tests
  export build
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash -c 'run_tests "$@"' run_tests "$@"
fi
run_tests "$@"
