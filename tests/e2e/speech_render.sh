#!/usr/bin/env bash
# A singing tune through `tune render`: the test image (a text on channel 15
# sung in step with its notes) is written by the speech tune test, rendered
# offline to a float WAV, and the samples are checked: long enough, all
# finite, voiced while the notes sound and never clipping wildly.

bin=${ORB_BINARY_DIR:-build}
writer=$bin/tests/speech_tests
tool=$bin/tools/tune
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
tmp=$orb_tmp
orb_need python3 "$writer" "$tool"

"$tool" render --help >/dev/null 2>&1 || { echo "SKIP: tune render not available"; exit 77; }

ORB_SPEECH_TUNE_OUT="$tmp/sing.tune" "$writer" --gtest_filter='SpeechTune.*' >"$tmp/writer.log" 2>&1 ||
  { cat "$tmp/writer.log" >&2; fail "the speech tune test failed"; }
[ -s "$tmp/sing.tune" ] || fail "no tune image written"

"$tool" render "$tmp/sing.tune" "$tmp/sing.wav" --float --seconds 4 2>"$tmp/render.log" ||
  { cat "$tmp/render.log" >&2; fail "tune render failed"; }

python3 - "$tmp/sing.wav" <<'PY' || fail "rendered speech check failed"
import math, struct, sys

data = open(sys.argv[1], 'rb').read()
if data[:4] != b'RIFF' or data[8:12] != b'WAVE':
    sys.exit("not a WAV file")
pos, fmt, samples = 12, None, None
while pos + 8 <= len(data):
    tag, size = data[pos:pos + 4], struct.unpack('<I', data[pos + 4:pos + 8])[0]
    body = data[pos + 8:pos + 8 + size]
    if tag == b'fmt ':
        fmt = struct.unpack('<HHIIHH', body[:16])
        if fmt[0] == 0xFFFE:  # extensible: the format is the sub-format's first two bytes
            fmt = (struct.unpack('<H', body[24:26])[0],) + fmt[1:]
    elif tag == b'data':
        samples = body
    pos += 8 + size + (size & 1)
if fmt is None or samples is None:
    sys.exit("missing fmt or data chunk")
tag, channels, rate, _, _, bits = fmt
if (tag, channels, rate, bits) != (3, 2, 44100, 32):
    sys.exit(f"expected 32-bit float stereo at 44100 Hz, got {fmt}")
values = struct.unpack(f'<{len(samples) // 4}f', samples)
left = values[0::2]
# 120 beats per minute, 128 ticks per quarter: one tick is 172.27 frames.
tick = 44100 * 0.5 / 128
if len(left) < 880 * tick:
    sys.exit(f"only {len(left)} frames: the render stops before the last note ends")
if not all(math.isfinite(v) for v in values):
    sys.exit("non-finite samples")

def rms(a, b):
    seg = left[a:b]
    return math.sqrt(sum(v * v for v in seg) / len(seg))

for on, off in ((64, 160), (256, 352), (448, 640), (768, 864)):
    level = rms(int(on * tick), int(off * tick))
    if level < 0.005:
        sys.exit(f"silent while the note at tick {on} sounds (rms {level:.5f})")
peak = max(abs(v) for v in values)
if peak > 4.0:
    sys.exit(f"peak {peak:.2f}: the voice is out of control")
print(f"speech render: peak {peak:.3f}")
PY
echo "PASS"
