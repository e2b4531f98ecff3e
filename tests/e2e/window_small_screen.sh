#!/usr/bin/env bash
# On a screen smaller than 1024x480 the window keeps its size and stands at
# the screen's left and top edges. Run without any fonts, the title label
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
echo PASS
