# Shared helpers for the Windows demo's end-to-end tests: the programs run
# under Wine on a private virtual X server (tests/e2e/lib.sh), and what they
# play reaches ALSA's default device, which records it (Wine's DirectSound
# plays there). Source it; every process it starts is ended on exit.
ORB_DEMO=${ORB_WINDOWS_BINARY_DIR:-build-windows}/app/orb2k16-plain.exe
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/lib.sh"
orb_recorder_pid=

win_cleanup() {
  if [ -n "$orb_recorder_pid" ]; then kill "$orb_recorder_pid" 2>/dev/null; fi
  orb_cleanup
}
trap win_cleanup EXIT

# Skips (exit 77) without Wine, the X tools or the program $ORB_DEMO.
win_require() {
  command -v "${ORB_WINE:-wine}" >/dev/null || { echo "SKIP: Wine not installed"; exit 77; }
  local tool
  for tool in Xvfb xdotool xwininfo xprop python3; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
  done
  [ -f "$ORB_DEMO" ] || { echo "SKIP: $ORB_DEMO not built"; exit 77; }
}

# ALSA's default device records what it plays into $1, as 32-bit float stereo
# at 48,000 Hz (the rate Wine's mixer runs at, so nothing is converted on the
# way): through a pipe to a reader that takes it at the pace of real time, so
# the program plays as fast as it would on a sound card.
win_record_audio() {
  mkfifo "$orb_tmp/pcm"
  cat >"$orb_tmp/asound.conf" <<CONF
pcm.!default {
  type plug
  slave { pcm "record"; format FLOAT_LE; rate 48000; channels 2 }
}
pcm.record {
  type file
  slave.pcm "discard"
  file "$orb_tmp/pcm"
  format "raw"
}
pcm.discard { type null }
CONF
  export ALSA_CONFIG_PATH=$orb_tmp/asound.conf
  python3 "$(dirname "${BASH_SOURCE[0]}")/pace.py" "$orb_tmp/pcm" "$1" 384000 &
  orb_recorder_pid=$!
}

# "X Y WIDTH HEIGHT" of the shown top-level window of the program $1 (its
# file name, which is the window's class under Wine); nothing while none is shown.
win_geometry() {
  local id
  for id in $(xdotool search --onlyvisible --class "^$1\$" 2>/dev/null); do
    xwininfo -id "$id" 2>/dev/null | awk '
      /Absolute upper-left X:/ { x = $NF } /Absolute upper-left Y:/ { y = $NF }
      /^ *Width:/ { w = $NF } /^ *Height:/ { h = $NF }
      /Map State: IsViewable/ { shown = 1 }
      END { if (shown && w > 1) print x, y, w, h }'
  done | head -n1
}

# Starts the Windows program $ORB_DEMO under Wine and waits (up to 60 s: Wine
# starts slowly) until its window is shown at full size and stays put.
win_start_demo() {
  local name last= now
  name=$(basename "$ORB_DEMO")
  "${ORB_WINE:-wine}" "$ORB_DEMO" >"$orb_tmp/demo.log" 2>&1 &
  orb_demo_pid=$!
  for _ in $(seq 600); do
    orb_running || fail "the demo ended during start-up"
    now=$(win_geometry "$name")
    if [ -n "$now" ] && [ "$now" = "$last" ] && [ "${now#* * }" = "1024 480" ]; then
      return 0
    fi
    last=$now
    sleep 0.1
  done
  fail "no demo window appeared (last geometry: '$last')"
}
