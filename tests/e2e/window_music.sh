#!/usr/bin/env bash
# The music reaches the audio device while the window is shown: SDL's disk
# driver records what the program plays. The stream starts with one ring
# length of exact zeros, then the tune sounds and keeps coming.
source "$(dirname "$0")/lib.sh"
orb_require
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$orb_tmp/audio.raw"
orb_start_x 1280 1024
orb_start_demo
shown=$(stat -c %s "$SDL_DISKAUDIOFILE" 2>/dev/null || echo 0)
sleep 3
orb_running || fail "the demo ended on its own"
later=$(stat -c %s "$SDL_DISKAUDIOFILE" 2>/dev/null || echo 0)

# 16-bit stereo at 44,100 Hz; the ring is 16,384 frames (about 371.5 ms).
python3 - "$SDL_DISKAUDIOFILE" "$shown" "$later" <<'PY' || fail "audio check failed"
import array, math, sys
path, shown, later = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
samples = array.array("h", open(path, "rb").read()[:later - later % 4])
if sys.byteorder == "big":
    samples.byteswap()
frames = len(samples) // 2
def rms(first, last):
    part = samples[2 * first:2 * last]
    return math.sqrt(sum(v * v for v in part) / max(1, len(part)))
ring = 16384
if frames < ring + 44100:
    sys.exit(f"only {frames} frames reached the device")
lead = rms(0, ring - 1024)
if lead > 1:
    sys.exit(f"the first ring length is not silent (RMS {lead:.1f})")
sound = rms(ring + 1024, frames)
if sound < 30:
    sys.exit(f"no music after the first ring length (RMS {sound:.1f})")
after = rms(shown // 4, frames)
grown = (later - shown) // 4
if grown < 44100 or after < 30:
    sys.exit(f"while the window was shown: {grown} frames, RMS {after:.1f}")
print(f"{frames} frames; silent lead RMS {lead:.1f}; music RMS {sound:.0f}; "
      f"{grown} frames while shown")
PY

xdotool mousemove $(( $(orb_geometry | cut -d' ' -f1) + 1008 )) $(( $(orb_geometry | cut -d' ' -f2) + 16 )) click 1
orb_wait_exit 30 || fail "the demo still runs 30 s after its close button was clicked"
[ "$orb_exit_code" = 0 ] || fail "exit code $orb_exit_code, expected 0"
echo PASS
