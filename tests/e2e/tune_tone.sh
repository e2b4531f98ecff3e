#!/usr/bin/env bash
# The test tune (a 440 Hz sine from its first frame to its end at 10 s,
# written by the playback test) through `tune render` and `tune play`.
# Render, as a listener measures it: pitch and length hold at 44,100, 48,000
# and 96,000 Hz; by default the file rings out after the tune's end until it
# has been quiet for 100 ms, while --exact stops at the tune's last frame (the
# length `tune inspect` reports); the extension picks WAV, FLAC or Ogg Vorbis.
# Play, through SDL's disk audio driver (the stream's ring goes to a file
# exactly as a sound card would play it), stopped with SIGINT after two
# seconds: one ring length of silence, then the tone without gaps. Bad
# invocations fail with one line.

bin=${ORB_BINARY_DIR:-build}
writer=$bin/tests/player_tests
tool=$bin/tools/tune
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
tmp=$orb_tmp
orb_need python3 "$writer" "$tool"

ORB_PLAY_TUNE_OUT="$tmp/tone.tune" "$writer" --gtest_filter='PlaybackImage.*' >"$tmp/writer.log" 2>&1 ||
  { cat "$tmp/writer.log" >&2; fail "the playback image test failed"; }
end=$("$tool" inspect "$tmp/tone.tune" --events | tail -n1)
frames=$(echo "$end" | awk '$1 == "end" { print $2 }')
[ -n "$frames" ] || fail "no end line from inspect: '$end'"

render() { "$tool" render "$tmp/tone.tune" "$@" 2>"$tmp/render.log" || { cat "$tmp/render.log" >&2; fail "render $*"; }; }
render "$tmp/exact44.wav" --exact --float
render "$tmp/exact48.wav" --exact --float --rate 48000
render "$tmp/exact96.wav" --exact --float --rate 96000
render "$tmp/ring44.wav" --float
render "$tmp/tone.flac" --seconds 1
render "$tmp/tone.ogg" --seconds 1
[ "$(head -c 4 "$tmp/tone.flac")" = fLaC ] || fail "the .flac output is not FLAC"
[ "$(head -c 4 "$tmp/tone.ogg")" = OggS ] || fail "the .ogg output is not Ogg"

python3 - "$tmp" "$frames" <<'PY' || fail "rendered sound check failed"
import array, struct, sys

tmp, tune_frames = sys.argv[1], int(sys.argv[2])

def read(name):
    data = open(f"{tmp}/{name}", "rb").read()
    pos, rate, bits, samples = 12, None, None, None
    while pos + 8 <= len(data):
        tag, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        if tag == b"fmt ":
            _, channels, rate, _, _, bits = struct.unpack("<HHIIHH", data[pos + 8:pos + 24])
            assert channels == 2, f"{name}: {channels} channels"
        elif tag == b"data":
            samples = data[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    left = array.array("f" if bits == 32 else "h", samples)[0::2]
    return rate, left

def pitch(rate, left, start_s, end_s):
    a, b = int(start_s * rate), int(end_s * rate)
    ups = [i for i in range(a + 1, b) if left[i - 1] < 0 <= left[i]]
    return (len(ups) - 1) * rate / (ups[-1] - ups[0])

lengths = {}
for name, want_rate in (("exact44.wav", 44100), ("exact48.wav", 48000), ("exact96.wav", 96000)):
    rate, left = read(name)
    assert rate == want_rate, f"{name}: rate {rate}"
    seconds = len(left) / rate
    lengths[rate] = seconds
    f = pitch(rate, left, 1.0, 9.0)
    assert abs(f - 440.0) < 0.5, f"{name}: {f:.2f} Hz, not 440"
    tail = max(abs(v) for v in left[-rate // 10:])
    assert tail > 0.1, f"{name}: quiet before the tune's end ({tail})"
    print(f"{name}: {len(left)} frames, {seconds:.4f} s, {f:.2f} Hz")
assert len(read("exact44.wav")[1]) == tune_frames, "the exact render is not the tune's length"
assert abs(lengths[48000] - lengths[96000]) < 0.003, f"lengths differ: {lengths}"
assert abs(lengths[44100] - lengths[96000]) < 0.003, f"lengths differ: {lengths}"

quiet = 10 ** (-90 / 20)
rate, left = read("ring44.wav")
extra = len(left) / rate - lengths[rate]
assert 0.1 <= extra <= 30.0, f"ring44.wav: rings out {extra:.3f} s"
tail = max(abs(v) for v in left[-rate // 10:])
assert tail < quiet, f"ring44.wav: last 100 ms peak {tail}"
before = max(abs(v) for v in left[-rate // 10 - 10:-rate // 10])
assert before >= quiet, "ring44.wav: quiet for longer than 100 ms before the end"
print(f"ring44.wav: rings out {extra:.3f} s")
PY

# Errors: one line on stderr, non-zero status.
expect_error() {
  local what=$1
  shift
  if "$tool" play "$@" >"$tmp/err.out" 2>"$tmp/err.log"; then fail "$what: exit status 0"; fi
  [ "$(wc -l <"$tmp/err.log")" -eq 1 ] || { cat "$tmp/err.log" >&2; fail "$what: not one line"; }
}
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
echo PASS
