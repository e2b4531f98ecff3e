#!/usr/bin/env bash
# The Windows demo under Wine, with its shader scene: the window comes up at
# the centre of the screen at 1024 x 480, its title carries the frame rate,
# and a click on the close button ends it with exit code 0.
source "$(dirname "$0")/lib.sh"
ORB_DEMO=${ORB_WINDOWS_BINARY_DIR:-build-windows}/app/orb2k16.exe
win_require
orb_start_x 1280 1024
win_start_demo
read -r wx wy w h <<<"$(win_geometry orb2k16.exe)"
[ "$wx $wy $w $h" = "128 272 1024 480" ] || fail "window at $wx $wy, $w x $h; expected 128 272, 1024 x 480"

title=
for _ in $(seq 300); do
  id=$(xdotool search --onlyvisible --class '^orb2k16\.exe$' 2>/dev/null | head -n1)
  title=$(xprop -id "$id" WM_NAME 2>/dev/null | sed -n 's/^WM_NAME(STRING) = "\(.*\)"$/\1/p')
  [[ "$title" =~ FPS:\ [0-9]+$ ]] && break
  sleep 0.1
done
[[ "$title" =~ FPS:\ [0-9]+$ ]] || fail "the title does not carry the frame rate: '$title'"

# A frame takes a while on a software renderer, and the loop takes one
# message per frame: the click's messages need some turns.
xdotool mousemove $((wx + 1008)) $((wy + 16)) click 1
orb_wait_exit 90 || fail "the demo still runs 90 s after its close button was clicked"
[ "$orb_exit_code" = 0 ] || fail "exit code $orb_exit_code, expected 0"
echo "PASS: window at $wx $wy, title '$title', exit code 0"
