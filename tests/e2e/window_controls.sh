#!/usr/bin/env bash
# Only the close button ends the demo: clicks on the surface and the title
# label, key presses and a window manager's close request leave it running;
# a click on the close button ends it with exit code 0.
source "$(dirname "$0")/lib.sh"
orb_require
orb_start_x 1280 1024
orb_start_demo
read -r wx wy _ _ <<<"$(orb_geometry)"
click() { xdotool mousemove $((wx + $1)) $((wy + $2)) click "${3:-1}"; }

click 500 250        # the GL surface
click 500 250 3      # right button on the surface
click 100 15         # the title label (lets the press through to the window)
click 900 15         # the bare title strip
xdotool mousemove $((wx + 500)) $((wy + 250)) key a Escape Return alt+F4 space
# A window manager's close request: ignored, the demo ends only by its button.
if cc -o "$orb_tmp/wm_close" "$(dirname "$0")/wm_close.c" -lX11 2>/dev/null; then
  "$orb_tmp/wm_close" "$(xdotool search --onlyvisible --class '^orb2k16$' | head -n1)" ||
    fail "could not send the close request"
else
  echo "note: no C compiler with X11 headers; close request not sent"
fi
sleep 3
orb_running || { orb_wait_exit 1; fail "the demo ended without its close button (exit $orb_exit_code)"; }
[ "$(orb_geometry)" = "$wx $wy 1024 480" ] || fail "the window moved or changed: $(orb_geometry)"

click 1008 16        # the close button
orb_wait_exit 30 || fail "the demo still runs 30 s after its close button was clicked"
[ "$orb_exit_code" = 0 ] || fail "exit code $orb_exit_code after the close button, expected 0"
echo PASS
