#!/usr/bin/env bash
# Pointer moves do not hold up a click: with the scene drawing about one frame
# a second on llvmpipe and the main loop handling one event per frame, 300
# moves over the surface followed by a click on the close button end the demo
# within 15 s. Pointer moves waiting one after another are taken as one.
ORB_DEMO=${ORB_BINARY_DIR:-build}/app/orb2k16
source "$(dirname "$0")/lib.sh"
orb_require
orb_start_x 1280 1024
orb_start_demo
read -r wx wy _ _ <<<"$(orb_geometry)"

# The window's own start-up events (shown, focus, enter, size, expose) take
# one frame each; let them pass so that only the moves stand before the click.
sleep 30
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
