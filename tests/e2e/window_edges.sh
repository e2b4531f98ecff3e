#!/usr/bin/env bash
# The demo at its edges. Its command line, with no display at all: --help and
# --version answer and exit 0 without opening anything, any other argument is
# one line on stderr and exit status 2, and without a display the demo says so
# in one line and exits 1 instead of running unseen. On a screen smaller than
# 1024x480 the window keeps its size and stands at the screen's left and top
# edges; run without any fonts, its title label stays empty and the demo runs
# on.
source "$(dirname "$0")/lib.sh"
orb_require
demo=${ORB_BINARY_DIR:-build}/app/orb2k16
[ -x "$demo" ] || { echo "SKIP: $demo not built"; exit 77; }

# run EXPECTED-STATUS ARGS...: no display; sets out and err.
run() {
  local expected=$1 status
  shift
  env -u DISPLAY -u WAYLAND_DISPLAY "${ORB_ENV[@]}" timeout 20 "$demo" "$@" >"$orb_tmp/out" 2>"$orb_tmp/err"
  status=$?
  out=$(cat "$orb_tmp/out")
  err=$(cat "$orb_tmp/err")
  [ "$status" = "$expected" ] || fail "'$*': exit status $status, expected $expected (stderr: $err)"
}
one_line() { [ -n "$1" ] && [ "$(printf '%s\n' "$1" | wc -l)" = 1 ]; }

# A forced X11 driver would fail at once if SDL were brought up.
ORB_ENV=(SDL_VIDEODRIVER=x11)
run 0 --version
[[ "$out" =~ ^orb2k16\ [0-9]+\.[0-9]+\.[0-9]+\ \(.+\)$ ]] || fail "--version printed '$out'"
[ -z "$err" ] || fail "--version wrote to stderr: $err"
run 0 --help
for word in Usage: --help --version "close button" "Exit status"; do
  grep -qF -- "$word" <<<"$out" || fail "--help does not mention '$word'"
done
[ -z "$err" ] || fail "--help wrote to stderr: $err"
for args in "--bogus" "file.txt" "--help --version"; do
  # shellcheck disable=SC2086
  run 2 $args
  [ -z "$out" ] || fail "'$args' wrote to stdout"
  one_line "$err" || fail "'$args': not one line on stderr: $err"
done

# No display: one line, naming the display, not the shader message.
ORB_ENV=()
run 1
[ -z "$out" ] || fail "no display: wrote to stdout"
one_line "$err" || fail "no display: not one line on stderr: $err"
grep -qi display <<<"$err" || fail "no display: the line does not say so: $err"
grep -qi shader <<<"$err" && fail "no display: blames the shaders: $err"

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
