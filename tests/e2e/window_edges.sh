#!/usr/bin/env bash
# On a screen smaller than 1024x480 the window keeps its size and stands at
# the screen's left and top edges; run without any fonts, its title label
# stays empty and the demo runs on.
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

# Where the GL surface cannot be made (no framebuffer objects) or the context
# has no shader objects (before 2.0), the message box, sized to its text,
# comes instead of the window; Return in the box ends the demo with code 0.
demo=${ORB_BINARY_DIR:-build}/app/orb2k16
for gl in "2.1 -GL_ARB_framebuffer_object" "1.5"; do
  read -r version extensions <<<"$gl"
  MESA_GL_VERSION_OVERRIDE=$version MESA_EXTENSION_OVERRIDE=$extensions \
    "$demo" >"$orb_tmp/demo.log" 2>&1 &
  orb_demo_pid=$!
  orb_wait_box
  [ -n "$box" ] || fail "GL $gl: no 'Unsupported Device?' box appeared"
  [ -z "$(orb_geometry)" ] || fail "GL $gl: the demo window was shown"
  read -r id width <<<"$(sed 's/^ *\(0x[0-9a-f]*\) .* \([0-9]*\)x[0-9]*+.*/\1 \2/' <<<"$box")"
  [ "$width" -gt 200 ] || fail "GL $gl: box only $width pixels wide: its text is missing or short"
  # No window manager: give the box the keyboard.
  xdotool windowfocus --sync "$id" key Return
  orb_wait_exit 20 || fail "GL $gl: the demo still runs 20 s after the box was confirmed"
  [ "$orb_exit_code" = 0 ] || fail "GL $gl: exit code $orb_exit_code, expected 0"
done
echo PASS
