#!/usr/bin/env python3
"""The loop seam of a tune: how much louder its last 0.1 s is than the first
0.5 s it restarts with. The demo restarts its tune at the start the moment
it ends, with the synthesizer reset, so a large step there is heard as a cut.

Takes a render that stops at the tune's end:
  build/tools/tune render build/assets/tune.img /tmp/exact.wav --exact
  scripts/seamcheck.py /tmp/exact.wav

Prints the RMS level of both stretches (both channels, dBFS) and the step,
and checks the step against the demo's target. Exit status 0 when it is met,
1 when it is missed, 2 on bad input.
"""
import array
import math
import sys
import wave

FULL_SCALE = 32768.0
TAIL_S = 0.1
HEAD_S = 0.5
STEP_LIMIT_DB = 6.0


def read_wav(path):
    try:
        with wave.open(path, 'rb') as w:
            if w.getsampwidth() != 2 or w.getnchannels() != 2:
                sys.exit('seamcheck: %s is not 16-bit stereo' % path)
            rate = w.getframerate()
            data = array.array('h', w.readframes(w.getnframes()))
    except (OSError, wave.Error, EOFError) as e:
        print('seamcheck: cannot read %s: %s' % (path, e), file=sys.stderr)
        sys.exit(2)
    if sys.byteorder == 'big':
        data.byteswap()
    return rate, data


def rms_db(samples):
    if not samples:
        return -math.inf
    power = sum(s * s for s in samples) / len(samples)
    return 10 * math.log10(power / FULL_SCALE ** 2) if power > 0 else -math.inf


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    rate, data = read_wav(sys.argv[1])
    frames = len(data) // 2
    tail = int(rate * TAIL_S)
    head = int(rate * HEAD_S)
    if frames < head + tail:
        print('seamcheck: %s is shorter than %.1f s' % (sys.argv[1], HEAD_S + TAIL_S),
              file=sys.stderr)
        return 2
    tail_db = rms_db(data[2 * (frames - tail):])
    head_db = rms_db(data[:2 * head])
    step = tail_db - head_db
    ok = step <= STEP_LIMIT_DB
    print('last %.1f s   %7.1f dBFS RMS' % (TAIL_S, tail_db))
    print('first %.1f s  %7.1f dBFS RMS' % (HEAD_S, head_db))
    print('step         %+7.1f dB        %s (target <= %+.0f dB)' %
          (step, 'ok' if ok else 'MISSED', STEP_LIMIT_DB))
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
