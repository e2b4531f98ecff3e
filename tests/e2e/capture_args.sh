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
refuses 2 "--out FILE is required" --time 3
refuses 2 "--time needs a number of seconds" --out "$tmp/x.png" --time
refuses 2 "not 'soon'" --time soon --out "$tmp/x.png"
refuses 2 "not 'inf'" --time inf --out "$tmp/x.png"
refuses 2 "unknown option '--frame'" --frame 3 --out "$tmp/x.png"
refuses 2 "'vertex' or 'fragment'" --print-source geometry
refuses 2 "the extension picks the format, .png, .jpg or .bmp" --time 3 --out "$tmp/x.gif"
refuses 2 "the extension picks the format, .mp4 (H.264 + AAC) or .mkv" --video "$tmp/x.avi" --fps 10
refuses 2 "needs --fps" --video "$tmp/x.mkv"
refuses 2 "--fps needs a whole number of frames per second, 1 to 240, not '0'" --video "$tmp/x.mkv" --fps 0
refuses 2 "in whole milliseconds, 0 to 86400, not '1.0005'" --video "$tmp/x.mkv" --fps 10 --from 1.0005
refuses 2 "--time and --out are for stills" --video "$tmp/x.mkv" --fps 10 --time 3
refuses 2 "--size needs WxH, each side 1 to 8192, not '0x10'" --time 3 --out "$tmp/x.png" --size 0x10
refuses 1 "cannot write '$tmp/missing/x.png'" --time 3 --out "$tmp/missing/x.png"
# Without a display the tool says so, leaves no file and keeps an existing one.
refuses 1 "no display available" --video "$tmp/x.mp4" --fps 10 --seconds 1
[ -z "$(ls -A "$tmp" | grep -v '^out$\|^err$')" ] || fail "a failed capture left files: $(ls -A "$tmp")"
echo keep >"$tmp/x.bmp"
refuses 1 "no display available" --time 3 --out "$tmp/x.bmp"
[ "$(cat "$tmp/x.bmp")" = keep ] || fail "a failed capture changed the existing file"
# A video of the whole tune from past its end has nothing to show.
refuses 1 "past the tune's end" --video "$tmp/x.mkv" --fps 10 --from 86400

"$capture" --help | grep -q "usage: orb2k16-capture --time SECONDS --out FILE" || fail "--help"
"$capture" --version | grep -Eqx "orb2k16-capture [0-9]+\.[0-9]+\.[0-9]+ \(.+\)" ||
  fail "--version said: $("$capture" --version)"
echo PASS
