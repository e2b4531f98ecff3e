"""Checks a scene still written by orb2k16-capture (24-bit BMP):

  capture_check.py FILE W H upper|lower MIN

The image is W x H; the energy band's warm light lies (almost) only in the
named half, on at least MIN pixels; rays leaving the scene away from the
light show the graded background colour on at least 1 % of the frame.
"""
import struct
import sys

# The scene's ambient colour and colour grade (gamma, brightness, saturation).
AMBIENT_COLOR, GAMMA, BRIGHTNESS, SATURATION = (0.3, 0.9, 1.0), 2.1, 0.9, 0.9


def graded(colour):
    c = [pow(v, GAMMA) * BRIGHTNESS for v in colour]
    grey = sum(v * v for v in c) ** 0.5
    return tuple(round(255 * (grey + (v - grey) * SATURATION)) for v in c)


def main(path, width, height, half, least):
    data = open(path, "rb").read()
    offset, w, h, bits = struct.unpack("<I4xii2xH", data[10:30])
    if (w, abs(h), bits) != (int(width), int(height), 24):
        sys.exit(f"{path}: {w}x{abs(h)} at {bits} bits, expected {width}x{height} at 24")
    stride = (3 * w + 3) & ~3
    # A ray leaving the scene shows 0.5 * 1.2 * AMBIENT_COLOR, graded.
    want = graded([0.6 * a for a in AMBIENT_COLOR])
    upper = lower = background = 0
    for row in range(abs(h)):
        y = row if h < 0 else abs(h) - 1 - row  # rows are stored bottom-up
        line = data[offset + row * stride:offset + row * stride + 3 * w]
        for x in range(w):
            b, g, r = line[3 * x:3 * x + 3]
            # The band's light is warm and bright; the rest is cool blue-green.
            if r > 150 and r > b + 60 and g > b:
                if y < abs(h) // 2:
                    upper += 1
                else:
                    lower += 1
            background += max(abs(r - want[0]), abs(g - want[1]), abs(b - want[2])) <= 1
    print(f"warm pixels: {upper} upper, {lower} lower; background {background}")
    inside, outside = (upper, lower) if half == "upper" else (lower, upper)
    if inside < int(least) or outside * 20 > inside:
        sys.exit(f"{path}: band light {inside} pixels in the {half} half, {outside} outside")
    if background < 0.01 * w * abs(h):
        sys.exit(f"{path}: background colour {want} on only {background} pixels")


if __name__ == "__main__":
    main(*sys.argv[1:])
