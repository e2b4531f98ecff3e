#!/usr/bin/env bash
# Builds and runs the test suite. Without a display it runs the suite under a
# virtual X server (Xvfb), which the end-to-end tests use.
#
#   scripts/test.sh [CTEST ARGS]    everything, in build/ (or $ORB_BUILD_DIR)
#   ORB_SANITIZE=address scripts/test.sh
#       the suite under AddressSanitizer + UndefinedBehaviorSanitizer in
#       build-asan/: synthesizer, player, audio stream and tools with their
#       unit and end-to-end tests. The demo program (window, GL, shaders) and
#       the benchmarks are not built there, which keeps CI within its time:
#       the GL driver dominates those tests' time under the sanitizer and
#       keeps allocations of its own for the life of the process.
#   ORB_SANITIZE=thread scripts/test.sh
#       the audio stream and playback tests (the hand-over stress test among
#       them) under ThreadSanitizer in build-tsan/
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

run_under_display() {
  if [ -z "${DISPLAY:-}" ]; then
    xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$@"
  else
    "$@"
  fi
}

sanitized_configure() {
  bash "$root/scripts/deps.sh"
  cmake -S "$root" -B "$1" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORB_SANITIZE="$2" \
    -DORB_BUILD_BENCH=OFF -DORB_WERROR=ON "${@:3}" >/dev/null
}

case "${ORB_SANITIZE:-}" in
  "")
    bash "$root/scripts/build.sh" -DORB_WERROR=ON
    build=${ORB_BUILD_DIR:-$root/build}
    run_under_display ctest --test-dir "$build" --output-on-failure -j"$jobs" "$@"
    ;;
  address)
    build=${ORB_BUILD_DIR:-$root/build-asan}
    sanitized_configure "$build" address -DORB_BUILD_APP=OFF
    cmake --build "$build" -j"$jobs"
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
    export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:strict_string_checks=1:detect_leaks=1}
    # The session bus library that SDL loads keeps a buffer when an audio
    # driver fails to open; that is not ours to free.
    printf 'leak:libdbus-1.so\n' >"$build/lsan.supp"
    export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$build/lsan.supp:print_suppressions=0}
    # Without the demo program its end-to-end tests report themselves skipped.
    run_under_display ctest --test-dir "$build" --output-on-failure -j"$jobs" "$@"
    ;;
  thread)
    build=${ORB_BUILD_DIR:-$root/build-tsan}
    sanitized_configure "$build" thread -DORB_BUILD_APP=OFF
    cmake --build "$build" -j"$jobs" --target player_tests audio_tests
    export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
    "$build/tests/audio_tests" "$@"
    "$build/tests/player_tests" --gtest_filter="Playback*" "$@"
    ;;
  *)
    echo "test.sh: ORB_SANITIZE must be empty, 'address' or 'thread'" >&2
    exit 2
    ;;
esac
