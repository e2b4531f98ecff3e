#!/usr/bin/env bash
# The demo's shader program on Mesa: the shader tests that need a GL context,
# then the demo itself: its scene compiles and links without a log, the
# surface shows the ray-marched picture (not the fixed pipeline's white), the
# title carries the frame rate, and the close button still ends it.
ORB_DEMO=${ORB_BINARY_DIR:-build}/app/orb2k16
source "$(dirname "$0")/lib.sh"
orb_require
shader_test=${ORB_BINARY_DIR:-build}/tests/app_tests
orb_start_x 1280 1024

if [ -x "$shader_test" ]; then
  "$shader_test" --gtest_brief=1 --gtest_filter="ShaderOnContext.*:GlVersion.*" >"$orb_tmp/unit.log" 2>&1 || { cat "$orb_tmp/unit.log"; fail "the shader tests on a context"; }
  grep -q "SKIPPED" "$orb_tmp/unit.log" && fail "the shader tests skipped its GL tests: $(cat "$orb_tmp/unit.log")"
else
  echo "note: $shader_test not built"
fi

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

# The surface (1022 x 447 at (1, 32)) after at least one frame: thousands
# of colours and next to no white.
sleep 2
orb_shot "$orb_tmp/shot.ppm"
python3 -c '
import sys
sys.path.insert(0, sys.argv[1])
from pixels import read_ppm
px = read_ppm(sys.argv[2])
x0, y0 = int(sys.argv[3]), int(sys.argv[4])
colours, white = set(), 0
for y in range(y0, y0 + 447):
    for x in range(x0, x0 + 1022):
        c = px(x, y)
        colours.add(c)
        white += c == (255, 255, 255)
print(f"{len(colours)} colours, {white} white pixels")
sys.exit(0 if len(colours) > 2000 and white < 1022 * 447 // 100 else 1)
' "$(dirname "$0")" "$orb_tmp/shot.ppm" $((wx + 1)) $((wy + 32)) || fail "the surface does not show the scene"

xdotool mousemove $((wx + 1008)) $((wy + 16)) click 1
orb_wait_exit 90 || fail "the demo still runs 90 s after its close button was clicked"
[ "$orb_exit_code" = 0 ] || fail "exit code $orb_exit_code, expected 0"
echo PASS
