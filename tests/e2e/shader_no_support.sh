#!/usr/bin/env bash
# On an OpenGL context older than 2.0 (no shader objects) the demo shows the
# "Unsupported Device?" message box, never shows its window, and ends with
# exit code 0 once the box is confirmed.
ORB_DEMO=${ORB_BINARY_DIR:-build}/app/orb2k16
source "$(dirname "$0")/lib.sh"
orb_require
orb_start_x 1280 1024
# Framebuffer objects stay, so the surface itself can be made.
export MESA_GL_VERSION_OVERRIDE=1.5
"$ORB_DEMO" >"$orb_tmp/demo.log" 2>&1 &
orb_demo_pid=$!

orb_wait_box
[ -n "$box" ] || fail "no 'Unsupported Device?' box appeared"
sleep 1
orb_running || fail "the demo ended before the box was confirmed"
[ -z "$(orb_geometry)" ] || fail "the demo window was shown"
# The box is sized to its text: wider than the 200 pixels it takes with a
# short or empty text, as it is for "No Shader Support Available".
read -r width x y <<<"$(sed 's/.* \([0-9]*\)x[0-9]*+\([0-9]*\)+\([0-9]*\) .*/\1 \2 \3/' <<<"$box")"
[ "$width" -gt 200 ] || fail "box only $width pixels wide: its text is missing or short"
# No window manager: the keyboard follows the pointer.
xdotool mousemove $((x + 20)) $((y + 20)) key Return
orb_wait_exit 20 || fail "the demo still runs 20 s after the box was confirmed"
[ "$orb_exit_code" = 0 ] || fail "exit code $orb_exit_code, expected 0"
echo PASS
