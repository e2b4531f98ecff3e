#!/usr/bin/env bash
# orb2k16-capture refuses bad arguments with one clear line and a non-zero
# status, before it opens a window, and writes no file then.
set -uo pipefail
capture=${ORB_BINARY_DIR:-build}/app/orb2k16-capture
[ -x "$capture" ] || { echo "SKIP: $capture not built"; exit 77; }
tmp=$(mktemp -d "${TMPDIR:-/tmp}/orb-capture.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# No display: anything that got as far as rendering would fail differently.
unset DISPLAY WAYLAND_DISPLAY
export SDL_VIDEODRIVER=none

# refuses EXPECTED-STATUS MESSAGE-PATTERN ARGS...
refuses() {
  local status=$1 pattern=$2
  shift 2
  "$capture" "$@" >"$tmp/out" 2>"$tmp/err"
  local got=$?
  [ "$got" = "$status" ] || fail "'$*' ended with $got, expected $status"
  grep -q -- "$pattern" "$tmp/err" || fail "'$*' said: $(cat "$tmp/err")"
  [ ! -s "$tmp/out" ] || fail "'$*' wrote to stdout"
}
refuses 2 "--time SECONDS is required"
refuses 2 "--time SECONDS is required" --out "$tmp/x.png"
refuses 2 "--out FILE.png is required" --time 3
refuses 2 "--time needs a value" --out "$tmp/x.png" --time
refuses 2 "not 'soon'" --time soon --out "$tmp/x.png"
refuses 2 "not '3s'" --time 3s --out "$tmp/x.png"
refuses 2 "not 'inf'" --time inf --out "$tmp/x.png"
refuses 2 "not 'nan'" --time nan --out "$tmp/x.png"
refuses 2 "unknown argument '--frame'" --frame 3 --out "$tmp/x.png"
refuses 2 "'vertex' or 'fragment'" --print-source geometry
refuses 1 "cannot write '$tmp/missing/x.png'" --time 3 --out "$tmp/missing/x.png"
[ -z "$(ls "$tmp" | grep -v '^out$\|^err$')" ] || fail "files left behind: $(ls "$tmp")"
# Without a display the tool says so and leaves no file.
refuses 1 "no display available" --time 3 --out "$tmp/x.png"
[ ! -e "$tmp/x.png" ] || fail "a failed capture left its file"

"$capture" --help | grep -q "usage: orb2k16-capture --time SECONDS --out FILE.png" ||
  fail "--help"
[ "$("$capture" --print-source vertex | wc -c)" = 176 ] || fail "vertex text length"
echo PASS
