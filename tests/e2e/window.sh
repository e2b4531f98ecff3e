#!/usr/bin/env bash
# The demo window on a large screen, as a user meets it: centred at 1024x480
# with its dark strip, close glyph and title; the music reaching the audio
# device (SDL's disk driver records it) while the window is shown; clicks, keys
# and a window manager's close request leave it running; dragging the strip or
# the label moves it by the drag distance, a drag on the surface does not; its
# close button ends it with exit code 0.
source "$(dirname "$0")/lib.sh"
orb_require
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$orb_tmp/audio.raw"
orb_start_x 1280 1024
orb_start_demo
shown=$(stat -c %s "$SDL_DISKAUDIOFILE" 2>/dev/null || echo 0)

read -r wx wy ww wh <<<"$(orb_geometry)"
[ "$ww x $wh" = "1024 x 480" ] || fail "window is ${ww}x${wh}, expected 1024x480"
# Centred: ((1280 - 1024) / 2, (1024 - 480) / 2).
[ "$wx $wy" = "128 272" ] || fail "window at ($wx, $wy), expected (128, 272)"
orb_shot "$orb_tmp/shot.ppm"
# Window coordinates of a point, as screen coordinates.
at() { while [ $# -gt 0 ]; do echo "$((wx + $1)),$((wy + $2))"; shift 2; done; }
# Background: the strip around label and button, and the one-pixel margin
# left, right and below the surface.
orb_pixels expect "$orb_tmp/shot.ppm" "18 19 21" $(at 0 0  700 15  985 20  1023 0  600 29 \
  600 31  5 31  12 29  0 200  1023 200  500 479  0 479  1023 479) ||
  fail "background colour"
# Close glyph at (993, 1): a dark cross on grey.
orb_pixels expect "$orb_tmp/shot.ppm" "18 19 21" $(at 999 7  1016 24  999 24  1016 7 \
  1008 16  1007 16) || fail "dark pixels of the close glyph"
orb_pixels expect "$orb_tmp/shot.ppm" "95 95 95" $(at 993 1  998 6  1017 25  1008 17 \
  1022 30  1022 1) || fail "grey pixels of the close glyph"
orb_pixels title "$orb_tmp/shot.ppm" "$wx" "$wy" || fail "title text"

# Only the close button ends the demo.
click() { xdotool mousemove $((wx + $1)) $((wy + $2)) click "${3:-1}"; }
click 500 250        # the GL surface
click 500 250 3      # right button on the surface
click 100 15         # the title label (lets the press through to the window)
click 900 15         # the bare title strip
xdotool mousemove $((wx + 500)) $((wy + 250)) key a Escape Return alt+F4 space
if cc -o "$orb_tmp/wm_close" "$(dirname "$0")/wm_close.c" -lX11 2>/dev/null; then
  "$orb_tmp/wm_close" "$(xdotool search --onlyvisible --class '^orb2k16$' | head -n1)" ||
    fail "could not send the close request"
else
  echo "note: no C compiler with X11 headers; close request not sent"
fi
sleep 3
orb_running || { orb_wait_exit 1; fail "the demo ended without its close button (exit $orb_exit_code)"; }
[ "$(orb_geometry)" = "$wx $wy 1024 480" ] || fail "the window moved or changed: $(orb_geometry)"

# 16-bit stereo at 44,100 Hz: at least a second of music written while the
# window was shown.
later=$(stat -c %s "$SDL_DISKAUDIOFILE" 2>/dev/null || echo 0)
python3 - "$SDL_DISKAUDIOFILE" "$shown" "$later" <<'PY' || fail "no music while the window was shown"
import array, sys
sound = array.array("h", open(sys.argv[1], "rb").read()[int(sys.argv[2]) // 4 * 4:int(sys.argv[3]) // 4 * 4])
sys.exit(len(sound) < 2 * 44100 or max(map(abs, sound)) < 1000)
PY

# drag X Y DX DY: press at window point (X, Y), move in two steps, release.
drag() {
  local x=$((wx + $1)) y=$((wy + $2))
  xdotool mousemove $x $y mousedown 1
  sleep 0.3
  xdotool mousemove $((x + $3 / 2)) $((y + $4 / 2))
  sleep 0.3
  xdotool mousemove $((x + $3)) $((y + $4))
  sleep 0.3
  xdotool mouseup 1
}
drag 700 15 60 40    # the bare title strip
orb_wait_position 188 312 20 || fail "strip drag: window at $(orb_geometry), expected 188 312"
wx=188 wy=312
drag 100 15 -50 -30  # the title label
orb_wait_position 138 282 20 || fail "label drag: window at $(orb_geometry), expected 138 282"
wx=138 wy=282
drag 500 250 80 80   # the GL surface: no move
sleep 2
[ "$(orb_geometry)" = "138 282 1024 480" ] || fail "surface drag moved the window: $(orb_geometry)"
# The window is drawn at its new place.
orb_shot "$orb_tmp/shot.ppm"
orb_pixels expect "$orb_tmp/shot.ppm" "95 95 95" $(at 993 1  1022 30) ||
  fail "close glyph not drawn after the move"
orb_pixels expect "$orb_tmp/shot.ppm" "18 19 21" $(at 0 0  1023 479) ||
  fail "background not drawn after the move"

click 1008 16        # the close button
orb_wait_exit 30 || fail "the demo still runs 30 s after its close button was clicked"
[ "$orb_exit_code" = 0 ] || fail "exit code $orb_exit_code after the close button, expected 0"
echo PASS
