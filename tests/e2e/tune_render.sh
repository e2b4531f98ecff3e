#!/usr/bin/env bash
# `tune render` as a listener measures it: the test tune (a 440 Hz sine from
# its first frame to its end at 10 s, written by the playback test) keeps its
# pitch and its length at 44,100, 48,000 and 96,000 Hz; by default the file
# rings out after the tune's end until it has been quiet for 100 ms, while
# --exact stops at the tune's last frame (the length `tune inspect` reports);
# the extension picks WAV, FLAC or Ogg Vorbis.

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
render "$tmp/ring96.wav" --float --rate 96000
render "$tmp/two.wav" --seconds 2 --rate 22050
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
for name, rate in (("ring44.wav", 44100), ("ring96.wav", 96000)):
    r, left = read(name)
    exact = lengths[rate] * rate
    extra = (len(left) - exact) / rate
    assert 0.1 <= extra <= 30.0, f"{name}: rings out {extra:.3f} s"
    tail = max(abs(v) for v in left[-rate // 10:])
    assert tail < quiet, f"{name}: last 100 ms peak {tail}"
    before = max(abs(v) for v in left[-rate // 10 - 10:-rate // 10])
    assert before >= quiet, f"{name}: quiet for longer than 100 ms before the end"
    print(f"{name}: rings out {extra:.3f} s")

rate, left = read("two.wav")
assert (rate, len(left)) == (22050, 44100), f"two.wav: {rate} Hz, {len(left)} frames"
PY
echo "PASS"
