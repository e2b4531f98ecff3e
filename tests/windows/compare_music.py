#!/usr/bin/env python3
"""compare_music.py LINUX.raw WINDOWS.raw

Compares what the Windows demo played (32-bit float stereo at 48,000 Hz,
resampled there by the system's mixer) with what the Linux demo played
(16-bit stereo at 44,100 Hz): the Linux music is brought to 48,000 Hz by
windowed-sinc interpolation, aligned to a fraction of a sample at the first
sound, and 5 s of both are correlated."""
import sys
import numpy as np

LINUX_RATE, WINDOWS_RATE, SECONDS, TAPS = 44100, 48000, 5.0, 32

linux = np.fromfile(sys.argv[1], dtype="<i2").astype(np.float64) / 32768.0
windows = np.fromfile(sys.argv[2], dtype="<f4").astype(np.float64)
linux = linux[: len(linux) // 2 * 2].reshape(-1, 2).mean(axis=1)
windows = windows[: len(windows) // 2 * 2].reshape(-1, 2).mean(axis=1)

def first_sound(x):
    loud = np.nonzero(np.abs(x) >= 8 / 32768.0)[0]
    return int(loud[0]) if len(loud) else None

starts = [first_sound(linux), first_sound(windows)]
if None in starts:
    sys.exit(f"no sound: first sound at {starts} (Linux, Windows)")
span = int(SECONDS * WINDOWS_RATE)
if len(windows) - starts[1] < span + 200 or (len(linux) - starts[0]) / LINUX_RATE < SECONDS + 0.1:
    sys.exit(f"too little music after the first sound ({len(linux) - starts[0]} Linux frames, "
             f"{len(windows) - starts[1]} Windows frames)")

def linux_at(times):
    """The Linux music at fractional frame positions (Hann-windowed sinc)."""
    base = np.floor(times).astype(np.int64)
    frac = times - base
    out = np.zeros(len(times))
    for k in range(-TAPS // 2 + 1, TAPS // 2 + 1):
        d = frac - k
        w = np.sinc(d) * (0.5 + 0.5 * np.cos(np.pi * d / (TAPS / 2)))
        idx = np.clip(base + k, 0, len(linux) - 1)
        out += linux[idx] * w
    return out

def correlation(shift, count):
    """Windows frames from its first sound against the Linux music `shift`
    Windows frames later than the first-sound alignment."""
    j = np.arange(count, dtype=np.float64)
    times = starts[0] + (j + shift) * LINUX_RATE / WINDOWS_RATE
    a = linux_at(times)
    b = windows[starts[1]: starts[1] + count]
    return float(np.dot(a, b) / np.sqrt(np.dot(a, a) * np.dot(b, b)))

# Whole frames first, then eighths of a frame around the best.
coarse = max(range(-48, 49), key=lambda s: correlation(s, WINDOWS_RATE // 2))
shift = max((coarse + f / 8 for f in range(-8, 9)), key=lambda s: correlation(s, WINDOWS_RATE // 2))
r = correlation(shift, span)
print(f"first sound at Linux frame {starts[0]}, Windows frame {starts[1]} (shift {shift:+.3f}); "
      f"5 s correlation {r:.6f}")
if r < 0.99:
    sys.exit(f"correlation {r:.4f} < 0.99")
