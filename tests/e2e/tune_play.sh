#!/usr/bin/env bash
# `tune play` through SDL's disk audio driver: the stream's ring goes to a
# file exactly as a sound card would play it. The test tune (a 440 Hz sine
# from its first frame, written by the playback test) is played and stopped
# with SIGINT after two seconds; the file must hold one ring length of
# silence, then the tone without gaps. Bad invocations fail with one line.

bin=${ORB_BINARY_DIR:-build}
writer=$bin/tests/player_tests
tool=$bin/tools/tune
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
tmp=$orb_tmp
orb_need python3 "$writer" "$tool"

ORB_PLAY_TUNE_OUT="$tmp/tone.tune" "$writer" --gtest_filter='PlaybackImage.*' >"$tmp/writer.log" 2>&1 ||
  { cat "$tmp/writer.log" >&2; fail "the playback image test failed"; }
[ -s "$tmp/tone.tune" ] || fail "no tune image written"

"$tool" play --help | grep -q "usage: tune play" || fail "tune play --help prints no usage"

# Errors: one line on stderr, non-zero status.
expect_error() {
  local what=$1
  shift
  if "$tool" play "$@" >"$tmp/err.out" 2>"$tmp/err.log"; then fail "$what: exit status 0"; fi
  [ "$(wc -l <"$tmp/err.log")" -eq 1 ] || { cat "$tmp/err.log" >&2; fail "$what: not one line"; }
}
expect_error "missing file" "$tmp/missing.tune"
head -c 20 "$tmp/tone.tune" >"$tmp/short.tune"
expect_error "truncated image" "$tmp/short.tune"
expect_error "bad option" "$tmp/tone.tune" --seconds -3
SDL_AUDIODRIVER=no-such-driver expect_error "no audio device" "$tmp/tone.tune"
# ALSA's library keeps its own diagnostics to itself: still one line.
SDL_AUDIODRIVER=alsa AUDIODEV=hw:99 expect_error "no such sound card" "$tmp/tone.tune"

# Play, then Ctrl-C. --seconds only guards against a missed signal.
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$tmp/out.raw"
"$tool" play "$tmp/tone.tune" --seconds 8 >"$tmp/play.out" 2>"$tmp/play.log" &
pid=$!
sleep 2
kill -INT "$pid"
wait "$pid"
status=$?
[ "$status" -eq 0 ] || { cat "$tmp/play.log" >&2; fail "tune play exited with $status after SIGINT"; }
grep -q "length 0:10.0" "$tmp/play.out" || { cat "$tmp/play.out" >&2; fail "length not shown"; }
grep -q "^stopped at" "$tmp/play.out" || { cat "$tmp/play.out" >&2; fail "not stopped by SIGINT"; }
[ -s "$tmp/out.raw" ] || fail "the disk driver wrote nothing"

python3 - "$tmp/out.raw" <<'PY' || fail "played audio check failed"
import math, struct, sys

RING = 65536          # bytes: one ring length of silence comes first
RATE = 44100
data = open(sys.argv[1], 'rb').read()
frames = len(data) // 4
samples = struct.unpack('<%dh' % (frames * 2), data[:frames * 4])
left, right = samples[0::2], samples[1::2]

if frames < RING // 4 + RATE:
    sys.exit("only %d frames written in two seconds" % frames)
if any(samples[:RING // 2]):
    sys.exit("the first ring length is not silent")
first = next(i for i, s in enumerate(samples) if s) // 2
if first > RING // 4 + RATE // 10:
    sys.exit("sound starts %d frames after the ring of silence" % (first - RING // 4))

tone = left[first:first + RATE]      # one second of the tune
if max(abs(a - b) for a, b in zip(left[first:], right[first:])) > 2:
    sys.exit("a centred voice differs between left and right")
peak = max(abs(s) for s in tone)
if peak > 32600:
    sys.exit("peak %d beyond the converter's clamp" % peak)
block = 1024
for start in range(0, len(tone) - block, block):
    rms = math.sqrt(sum(s * s for s in tone[start:start + block]) / block)
    if rms < 3000:
        sys.exit("a gap: rms %.0f at frame %d of the tone" % (rms, start))
rising = [i for i in range(1, len(tone)) if tone[i - 1] < 0 <= tone[i]]
freq = (len(rising) - 1) * RATE / (rising[-1] - rising[0])
if abs(freq - 440.0) > 3.0:
    sys.exit("tone at %.1f Hz, not 440" % freq)
print("ok: %d frames, sound from frame %d, %.1f Hz, peak %d" % (frames, first, freq, peak))
PY
