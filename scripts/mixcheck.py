#!/usr/bin/env python3
"""Mix figures of a rendered tune: a 16-bit stereo WAV from `tune render`.

Prints peak, clamp hits, DC offset, the side-to-mid energy ratio and the
longest silent stretch, and checks them against the demo's mix targets.
With ffmpeg on the PATH it also measures integrated loudness (EBU R128).

usage: scripts/mixcheck.py FILE.wav
Exit status 0 when every target is met, 1 when one is missed, 2 on bad input.
"""
import array
import math
import re
import shutil
import subprocess
import sys
import wave

CLAMP = 32600            # the audio stream clamps converted samples here
FULL_SCALE = 32768.0
PEAK_LIMIT_DB = -1.0
LOUDNESS_RANGE = (-16.0, -11.0)
DC_LIMIT = 0.001         # mean of each side, as a fraction of full scale
SIDE_MIN = 0.05          # side energy at least this share of mid energy
SILENCE_DB = -60.0       # a window quieter than this counts as silent
SILENCE_WINDOW_S = 0.05
SILENCE_MAX_S = 2.0


def read_wav(path):
    with wave.open(path, 'rb') as w:
        if w.getsampwidth() != 2 or w.getnchannels() != 2:
            sys.exit('mixcheck: %s is not 16-bit stereo' % path)
        rate = w.getframerate()
        data = array.array('h', w.readframes(w.getnframes()))
    if sys.byteorder == 'big':
        data.byteswap()
    return rate, data[0::2], data[1::2]


def loudness(path):
    if not shutil.which('ffmpeg'):
        return None
    run = subprocess.run(['ffmpeg', '-hide_banner', '-nostats', '-i', path, '-af', 'ebur128',
                          '-f', 'null', '-'], capture_output=True, text=True)
    found = re.findall(r'I:\s+(-?[0-9.]+|-inf) LUFS', run.stderr)
    return float(found[-1]) if found else None


def longest_silence(left, right, rate):
    window = max(1, int(rate * SILENCE_WINDOW_S))
    threshold = FULL_SCALE * 10 ** (SILENCE_DB / 20)
    longest = run = 0
    for start in range(0, len(left), window):
        loud = max(max(map(abs, left[start:start + window])),
                   max(map(abs, right[start:start + window])))
        run = run + 1 if loud < threshold else 0
        longest = max(longest, run)
    return longest * window / rate


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    path = sys.argv[1]
    rate, left, right = read_wav(path)
    n = len(left)
    if n == 0:
        sys.exit('mixcheck: %s holds no frames' % path)
    peak = max(max(map(abs, left)), max(map(abs, right)))
    peak_db = 20 * math.log10(max(peak, 1) / FULL_SCALE)
    clamped = sum(1 for s in left if abs(s) >= CLAMP) + sum(1 for s in right if abs(s) >= CLAMP)
    dc = (sum(left) / n / FULL_SCALE, sum(right) / n / FULL_SCALE)
    mid = side = 0.0
    for l, r in zip(left, right):
        mid += (l + r) * (l + r)
        side += (l - r) * (l - r)
    side_share = side / mid if mid else 0.0
    silence = longest_silence(left, right, rate)
    lufs = loudness(path)

    checks = [
        ('length', '%.1f s (%d:%04.1f)' % (n / rate, n // rate // 60, n / rate % 60), True),
        ('peak', '%.2f dBFS (%d)' % (peak_db, peak), peak_db <= PEAK_LIMIT_DB),
        ('samples at the clamp', str(clamped), clamped == 0),
        ('DC offset', 'left %+.5f right %+.5f' % dc, max(map(abs, dc)) < DC_LIMIT),
        ('side / mid energy', '%.1f %%' % (100 * side_share), side_share >= SIDE_MIN),
        ('longest silence', '%.2f s' % silence, silence <= SILENCE_MAX_S),
    ]
    if lufs is None:
        checks.append(('integrated loudness', 'not measured (no ffmpeg)', True))
    else:
        checks.append(('integrated loudness', '%.1f LUFS' % lufs,
                       LOUDNESS_RANGE[0] <= lufs <= LOUDNESS_RANGE[1]))
    ok = True
    for name, value, passed in checks:
        print('%-22s %-32s %s' % (name, value, 'ok' if passed else 'MISSED'))
        ok = ok and passed
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
