#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehavior-
# Sanitizer, into build-fuzz/ or $ORB_FUZZ_BUILD_DIR), writes a seed corpus from
# the test tunes and runs each target for a fixed time.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS per target (default 60); TARGET names without the _fuzz suffix
# (default all: tune_image pipeline events finite_output speech_text).
# ORB_FUZZ_JOBS targets run side by side (default 1), niced. Each target's
# corpus grows in $ORB_FUZZ_WORK/<target>/corpus (default build-fuzz/work);
# findings land in $ORB_FUZZ_WORK/<target>/ as crash-*, leak-* or timeout-*
# files: replay one with build-fuzz/<target>_fuzz FILE, and keep it under
# tests/fuzz-regressions/<target>/ once fixed. Exits 1 when any target found
# something.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(tune_image pipeline events finite_output speech_text)
build=${ORB_FUZZ_BUILD_DIR:-$root/build-fuzz}
work=${ORB_FUZZ_WORK:-$build/work}
jobs=${ORB_FUZZ_JOBS:-1}

command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ is not installed (apt-get install clang)" >&2; exit 1; }
CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$build" >/dev/null
cmake --build "$build" -j2 >/dev/null

# Seeds: the demo's tune, the tunes make_seeds writes, and the kept findings.
image=$(sed -n 's/^ORB_TUNE_IMAGE:INTERNAL=//p' "$build/CMakeCache.txt")
"$build/make_seeds" "$work/seeds" ${image:+"$image"} >/dev/null

run_target() {
  local t=$1 dir=$work/$1
  mkdir -p "$dir/corpus"
  local kept=$root/tests/fuzz-regressions/$t
  local extra=()
  [ -d "$kept" ] && extra+=("$kept")
  (cd "$dir" && nice -n 10 "$build/${t}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
    -timeout=20 -rss_limit_mb=2048 -max_len=16384 \
    corpus "$work/seeds/$t" "${extra[@]}" >"$dir/log" 2>&1)
}

status=0
pids=()
names=()
for t in "${targets[@]}"; do
  [ -x "$build/${t}_fuzz" ] || { echo "fuzz.sh: no target '$t'" >&2; exit 2; }
  echo "fuzzing $t for $seconds s"
  run_target "$t" &
  pids+=($!)
  names+=("$t")
  if [ ${#pids[@]} -ge "$jobs" ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done

for t in "${targets[@]}"; do
  log=$work/$t/log
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  finds=$(find "$work/$t" -maxdepth 1 \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  printf '%-14s %12s executions  %s findings  (%s)\n' "$t" "${runs:-?}" "$finds" "$log"
  [ "$finds" -eq 0 ] || status=1
done
exit $status
