#!/usr/bin/env bash
# The demo window on a large screen: centred, 1024x480, dark strip and
# margins, the close glyph's pixels and the title text inside its label box.
source "$(dirname "$0")/lib.sh"
orb_require
orb_start_x 1280 1024
orb_start_demo

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

orb_running || fail "the demo ended on its own"
echo PASS
