#!/usr/bin/env bash
# Long-run check (not part of CI; about half an hour on two cores):
#
#  1. The demo's audio path simulated offline: the embedded tune through the
#     real playback control and audio stream on a manually clocked ring
#     device, restarted whenever it has stopped playing as the demo restarts
#     it, for ORB_LONGRUN_HOURS hours of audio (default 6, past the 3 h 23 min
#     where 32-bit stream counters would overflow): samples finite, every
#     pass ending exactly at its measured length, the stream position moving
#     by exactly what the device played, resident memory flat
#     (fuzz/longrun_main.cpp).
#  2. The demo itself under Xvfb for ORB_LONGRUN_DEMO_SECONDS (default 600;
#     hours are fine: the audio is counted through a pipe, not stored),
#     playing into SDL's disk audio driver: resident memory sampled every
#     ORB_LONGRUN_SAMPLE_SECONDS (default 30), audio frames delivered against
#     wall time, no output on stdout or stderr, an end within 30 s of SIGTERM.
#
# ORB_LONGRUN_HOURS=0 or ORB_LONGRUN_DEMO_SECONDS=0 leaves that part out;
# ORB_DEMO names a demo program already built (then build/ is not built).
#
# Prints the figures; exits 1 when a check failed. Builds into build-longrun/
# (the offline driver) and build/ (the demo; or $ORB_BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
hours=${ORB_LONGRUN_HOURS:-6}
demo_seconds=${ORB_LONGRUN_DEMO_SECONDS:-600}
sample_every=${ORB_LONGRUN_SAMPLE_SECONDS:-30}
build=${ORB_BUILD_DIR:-$root/build}
longrun_build=$root/build-longrun
tmp=$(mktemp -d "${TMPDIR:-/tmp}/orb-longrun.XXXXXX")
xvfb_pid=
demo_pid=
counter_pid=
status=0

cleanup() {
  [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null && wait "$demo_pid" 2>/dev/null
  [ -n "$counter_pid" ] && kill "$counter_pid" 2>/dev/null && wait "$counter_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }

if [ "$hours" != 0 ]; then
echo "== offline: $hours h of the embedded tune, looped"
cmake -S "$root/fuzz" -B "$longrun_build" -DORB_FUZZ_TARGETS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$longrun_build" -j2 --target orb-longrun >/dev/null
if ! "$longrun_build/orb-longrun" --hours "$hours" 2>"$tmp/offline.err"; then status=1; fi
if [ -s "$tmp/offline.err" ]; then
  echo "FAIL: error output from the offline run:"
  cat "$tmp/offline.err"
  status=1
fi
fi
[ "$demo_seconds" = 0 ] && exit "$status"

echo "== demo: $demo_seconds s under Xvfb"
demo=${ORB_DEMO:-}
if [ -z "$demo" ]; then
  bash "$root/scripts/build.sh" >/dev/null
  demo=$build/app/orb2k16
fi
[ -x "$demo" ] || { echo "FAIL: $demo not built"; exit 1; }
Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp -noreset 9>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb_pid=$!
display=
for _ in $(seq 100); do
  display=$(head -n1 "$tmp/display" 2>/dev/null || true)
  [ -n "$display" ] && break
  sleep 0.1
done
[ -n "$display" ] || { echo "FAIL: Xvfb did not start"; exit 1; }

# The audio goes through a pipe to a counter, so hours of it take no disk.
mkfifo "$tmp/audio.pipe"
python3 -c '
import sys
count = 0
with open(sys.argv[1], "rb", buffering=0) as pipe:
    while True:
        chunk = pipe.read(1 << 16)
        if not chunk:
            break
        count += len(chunk)
with open(sys.argv[2], "w") as out:
    out.write(str(count))
' "$tmp/audio.pipe" "$tmp/audio.bytes" &
counter_pid=$!
DISPLAY=":$display" LIBGL_ALWAYS_SOFTWARE=1 SDL_AUDIODRIVER=disk \
  SDL_DISKAUDIOFILE="$tmp/audio.pipe" "$demo" >"$tmp/demo.out" 2>"$tmp/demo.err" &
demo_pid=$!
started=$(date +%s)
sleep 5
first_rss=$(rss_kib "$demo_pid")
max_rss=$first_rss
echo "   t=5 s  RSS $first_rss KiB"
while :; do
  now=$(date +%s)
  [ $((now - started)) -ge "$demo_seconds" ] && break
  sleep "$sample_every"
  kill -0 "$demo_pid" 2>/dev/null || { echo "FAIL: the demo ended on its own"; status=1; demo_pid=; break; }
  rss=$(rss_kib "$demo_pid")
  [ "$rss" -gt "$max_rss" ] && max_rss=$rss
  echo "   t=$(($(date +%s) - started)) s  RSS $rss KiB"
done
elapsed=$(($(date +%s) - started))
last_rss=0
if [ -n "$demo_pid" ]; then
  last_rss=$(rss_kib "$demo_pid")
  kill -TERM "$demo_pid"
  code=0
  for _ in $(seq 300); do kill -0 "$demo_pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$demo_pid" 2>/dev/null; then
    echo "FAIL: the demo did not end within 30 s of SIGTERM"
    status=1
  else
    wait "$demo_pid" || code=$?
    # 143: ended by the signal itself, which is how the demo takes it.
    case $code in
      0 | 143) ;;
      *) echo "FAIL: the demo exited with $code"; status=1 ;;
    esac
  fi
  demo_pid=
fi
# The counter writes its total once the demo has closed the pipe.
wait "$counter_pid" 2>/dev/null || true
counter_pid=
frames=$(($(cat "$tmp/audio.bytes" 2>/dev/null || echo 0) / 4))
echo "demo wall time:      $elapsed s"
echo "audio delivered:     $frames frames ($(awk -v f="$frames" -v t="$elapsed" 'BEGIN { printf "%.1f", f / (t > 0 ? t : 1) }') frames per wall second)"
echo "memory (RSS):        $first_rss KiB at 5 s, $last_rss KiB at the end, $max_rss KiB at most"
if [ "$last_rss" -gt $((first_rss + 8192)) ]; then
  echo "FAIL: the demo's memory grew by more than 8 MiB"
  status=1
fi
# SDL's disk driver announces itself; anything else is the demo's.
cat "$tmp/demo.out" "$tmp/demo.err" |
  grep -v -e 'using the SDL disk i/o audio driver' -e 'Writing to file \[' >"$tmp/demo.all" || true
if [ -s "$tmp/demo.all" ]; then
  echo "FAIL: output from the demo:"
  head -20 "$tmp/demo.all"
  status=1
fi
[ "$status" -eq 0 ] && echo PASS || echo FAIL
exit "$status"
