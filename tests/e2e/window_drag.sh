#!/usr/bin/env bash
# Dragging the title strip or the label moves the window by the drag
# distance; a drag on the surface does not. A right click on the close button
# ends the demo with exit code 0.
source "$(dirname "$0")/lib.sh"
orb_require
orb_start_x 1280 1024
orb_start_demo
read -r wx wy _ _ <<<"$(orb_geometry)"
[ "$wx $wy" = "128 272" ] || fail "window at ($wx, $wy) before dragging"

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
orb_pixels expect "$orb_tmp/shot.ppm" "95 95 95" $((wx + 993)),$((wy + 1)) $((wx + 1022)),$((wy + 30)) ||
  fail "close glyph not drawn after the move"
orb_pixels expect "$orb_tmp/shot.ppm" "18 19 21" $((wx)),$((wy)) $((wx + 1023)),$((wy + 479)) ||
  fail "background not drawn after the move"

xdotool mousemove $((wx + 1008)) $((wy + 16)) click 3
orb_wait_exit 30 || fail "the demo still runs 30 s after a right click on its close button"
[ "$orb_exit_code" = 0 ] || fail "exit code $orb_exit_code, expected 0"
echo PASS
