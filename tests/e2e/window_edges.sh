#!/usr/bin/env bash
# On a screen smaller than 1024x480 the window keeps its size and stands at
# the screen's left and top edges; run without any fonts, its title label
# stays empty and the demo runs on. Where the GL surface cannot be made (a
# driver without framebuffer objects), the demo shows its "no shader support"
# message box instead of its window and ends with exit code 0 once the box
# is closed.
source "$(dirname "$0")/lib.sh"
orb_require
mkdir -p "$orb_tmp/fontcache"
cat >"$orb_tmp/fonts.conf" <<CONF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig><cachedir>$orb_tmp/fontcache</cachedir></fontconfig>
CONF
export FONTCONFIG_FILE="$orb_tmp/fonts.conf"
orb_start_x 800 400
orb_start_demo
read -r wx wy ww wh <<<"$(orb_geometry)"
[ "$ww x $wh" = "1024 x 480" ] || fail "window is ${ww}x${wh}, expected 1024x480"
[ "$wx $wy" = "0 0" ] || fail "window at ($wx, $wy), expected (0, 0)"
orb_shot "$orb_tmp/shot.ppm"
orb_pixels expect "$orb_tmp/shot.ppm" "18 19 21" 0,0 700,15 0,300 || fail "background colour"
orb_pixels blank "$orb_tmp/shot.ppm" 0 0 800 32 || fail "title strip without fonts"
orb_running || fail "the demo ended on its own"
kill "$orb_demo_pid"
wait "$orb_demo_pid" 2>/dev/null
orb_demo_pid=

export MESA_GL_VERSION_OVERRIDE=2.1 MESA_EXTENSION_OVERRIDE=-GL_ARB_framebuffer_object
"$ORB_DEMO" >"$orb_tmp/demo.log" 2>&1 &
orb_demo_pid=$!
orb_wait_box
if [ -n "$box" ]; then
  # Press Return in the box. There is no window manager, and the first
  # demo's window had the keyboard focus when it closed, so give it to the box.
  xdotool windowfocus --sync "$(awk '{print $1}' <<<"$box")" key Return
elif ! grep -q "Unsupported Device?: No Shader Support Available" "$orb_tmp/demo.log"; then
  fail "neither a message box nor the message on stderr"
else
  echo "note: no message box could be shown here; the message went to stderr"
fi
[ -z "$(orb_geometry)" ] || fail "the demo window was shown"
orb_wait_exit 20 || fail "the demo still runs 20 s after the message"
[ "$orb_exit_code" = 0 ] || fail "exit code $orb_exit_code, expected 0"
echo PASS
