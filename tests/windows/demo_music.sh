#!/usr/bin/env bash
# The Windows demo's music reaches the sound device through DirectSound, and
# what it plays is what the Linux demo plays (SDL's disk driver records that):
# 5 s of both, aligned at the first sound, correlate (>= 0.99). Wine's mixer
# resamples to 48,000 Hz, so the bytes cannot be the same; the comparison
# resamples the Linux music the same way (compare_music.py).
source "$(dirname "$0")/lib.sh"
win_require
linux_demo=${ORB_HOST_BINARY_DIR:-build}/app/orb2k16-plain
orb_need "$linux_demo"
orb_start_x 1280 1024

# The Linux demo for 8 s: one ring length of silence, then the tune.
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$orb_tmp/linux.raw" "$linux_demo" >"$orb_tmp/linux.log" 2>&1 &
linux_pid=$!
sleep 8
kill "$linux_pid" 2>/dev/null
wait "$linux_pid" 2>/dev/null

win_record_audio "$orb_tmp/windows.raw"
win_start_demo
sleep 7
orb_running || fail "the demo ended on its own"
read -r wx wy _ _ <<<"$(win_geometry orb2k16-plain.exe)"
xdotool mousemove $((wx + 1008)) $((wy + 16)) click 1
orb_wait_exit 30 || fail "the demo still runs 30 s after its close button was clicked"
[ "$orb_exit_code" = 0 ] || fail "exit code $orb_exit_code, expected 0"

# Debian's Python, which has NumPy (scripts/deps.sh --windows).
python=/usr/bin/python3
[ -x "$python" ] || python=python3
"$python" "$(dirname "$0")/compare_music.py" "$orb_tmp/linux.raw" "$orb_tmp/windows.raw" ||
  fail "the Windows demo's music differs from the Linux demo's"
echo PASS
