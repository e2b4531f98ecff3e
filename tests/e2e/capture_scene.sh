#!/usr/bin/env bash
# Stills of the scene from orb2k16-capture: the surface's size, the same
# picture for the same time, different pictures for different times, and the
# scene's landmarks where its geometry puts them. The camera's path climbs
# from 3.11 to 3.41 and back (period about 99 s): at 20 s it flies at 3.12,
# well below the energy band at 3.35, which then lights the upper half of the
# frame; at 70 s it flies at 3.40, above the band, which then lies below.
set -uo pipefail
capture=${ORB_BINARY_DIR:-build}/app/orb2k16-capture
check="python3 $(dirname "$0")/capture_check.py"
[ -x "$capture" ] || { echo "SKIP: $capture not built"; exit 77; }
command -v python3 >/dev/null || { echo "SKIP: python3 not installed"; exit 77; }
tmp=$(mktemp -d "${TMPDIR:-/tmp}/orb-capture.XXXXXX")
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A virtual X server where there is one; SDL's off-screen driver otherwise.
if command -v Xvfb >/dev/null; then
  Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp -noreset 9>"$tmp/display" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -n1 "$tmp/display")"
fi
export LIBGL_ALWAYS_SOFTWARE=1

shoot() { "$capture" --time "$1" --out "$2" "${@:3}" || fail "capture at $1 s failed"; }
shoot 20 "$tmp/a.png"
shoot 20 "$tmp/b.png"
shoot 70 "$tmp/c.png"
# Another size with the resolution to match frames the same view.
shoot 20 "$tmp/small.png" --size 320x150

$check size "$tmp/a.png" 1022 447 || fail "size"
cmp -s "$tmp/a.png" "$tmp/b.png" || fail "two stills at 20 s differ"
$check differ "$tmp/a.png" "$tmp/c.png" 10 || fail "stills at 20 s and 70 s are alike"
$check band "$tmp/a.png" upper || fail "energy band at 20 s"
$check band "$tmp/c.png" lower || fail "energy band at 70 s"
$check size "$tmp/small.png" 320 150 || fail "--size"
$check band "$tmp/small.png" upper 10 || fail "energy band at 20 s, 320x150"
# Rays that leave the scene show the background colour.
$check background "$tmp/a.png" 0.01 || fail "background at 20 s"
$check background "$tmp/c.png" 0.01 || fail "background at 70 s"
echo PASS
