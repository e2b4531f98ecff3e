#!/usr/bin/env bash
# The demo with its shader scene on Mesa: the scene compiles and links without
# a log, the surface shows the ray-marched picture (not the fixed pipeline's
# white), the title carries the frame rate; and pointer moves do not hold up a
# click: with the scene drawing about one frame a second and the main loop
# handling one event per frame, 300 moves over the surface followed by a
# click on the close button end the demo within 15 s (moves waiting one after
# another are taken as one), with exit code 0.
ORB_DEMO=${ORB_BINARY_DIR:-build}/app/orb2k16
source "$(dirname "$0")/lib.sh"
orb_require
orb_start_x 1280 1024
started=$SECONDS
orb_start_demo
read -r wx wy _ _ <<<"$(orb_geometry)"
title=
for _ in $(seq 100); do
  title=$(xdotool search --onlyvisible --class '^orb2k16$' getwindowname 2>/dev/null | head -n1)
  [[ "$title" =~ ^"GLSL Testing - QX 07/06/2014 - FPS: "[1-9][0-9]*$ ]] && break
  sleep 0.2
done
[[ "$title" =~ ^"GLSL Testing - QX 07/06/2014 - FPS: "[1-9][0-9]*$ ]] || fail "title '$title'"
if grep -qi "shader\|link" "$orb_tmp/demo.log"; then fail "the shader program logged"; fi

# The surface (1022 x 447 at (1, 32)) once a frame of the scene is drawn
# (about a second each on a busy machine): thousands of colours, next to no
# white.
for _ in $(seq 10); do
  sleep 2
  orb_shot "$orb_tmp/shot.ppm"
  orb_pixels scene "$orb_tmp/shot.ppm" $((wx + 1)) $((wy + 32)) 1022 447 && break
done || fail "the surface does not show the scene"

# The window's own start-up events (shown, focus, enter, size, expose) take
# one frame each; let them pass so that only the moves stand before the click.
[ $((SECONDS - started)) -lt 30 ] && sleep $((30 - (SECONDS - started)))
orb_running || fail "the demo ended by itself"
# One xdotool process sends every move, so they all wait in the queue at once.
moves=()
for i in $(seq 300); do
  moves+=(mousemove $((wx + 100 + (i * 7) % 800)) $((wy + 60 + (i * 13) % 380)))
done
xdotool "${moves[@]}"
start=$SECONDS
xdotool mousemove $((wx + 1008)) $((wy + 16)) click 1
orb_wait_exit 15 || fail "the demo still runs 15 s after the close button was clicked behind 300 moves"
[ "$orb_exit_code" = 0 ] || fail "exit code $orb_exit_code, expected 0"
echo "PASS (ended $((SECONDS - start)) s after the click)"
