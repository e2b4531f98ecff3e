"""Checks on scene stills written by orb2k16-capture (8-bit RGB PNG files).

  capture_check.py size FILE W H             the image is W x H
  capture_check.py differ FILE FILE MIN      mean channel difference above MIN
  capture_check.py band FILE upper|lower [MIN]  the energy band's warm light
                                             lies (almost) only in that half
                                             (at least MIN pixels, default 100)
  capture_check.py background FILE SHARE     the graded background colour of
                                             rays leaving away from the light
                                             covers at least SHARE of the frame
"""
import struct
import sys
import zlib

# Scene constants the checks derive their colours from.
AMBIENT_COLOR = (0.3, 0.9, 1.0)
GAMMA = 2.1
BRIGHTNESS = 0.9
SATURATION = 0.9


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG file")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour != 2 or interlace != 0:
        sys.exit(f"{path}: expected 8-bit RGB without interlacing")
    raw = zlib.decompress(idat)
    stride = width * 3
    rows, prev = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 3] if i >= 3 else 0
            b = prev[i]
            c = prev[i - 3] if i >= 3 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 0xFF
        rows.append(bytes(line))
        prev = line
    return width, height, rows


def pixels(rows):
    for y, row in enumerate(rows):
        for x in range(0, len(row), 3):
            yield x // 3, y, row[x], row[x + 1], row[x + 2]


def size(path, width, height):
    w, h, _ = read_png(path)
    if (w, h) != (int(width), int(height)):
        sys.exit(f"{path}: {w}x{h}, expected {width}x{height}")


def differ(path_a, path_b, least):
    _, _, a = read_png(path_a)
    _, _, b = read_png(path_b)
    total = sum(abs(p - q) for ra, rb in zip(a, b) for p, q in zip(ra, rb))
    mean = total / (len(a) * len(a[0]))
    print(f"mean difference {mean:.2f}")
    if mean <= float(least):
        sys.exit(f"{path_a} and {path_b} differ by {mean:.2f} on average, expected > {least}")


def band(path, half, least=100):
    # The band's light is warm (red well above blue) and bright; the rest of
    # the scene is lit in cool blue-green.
    _, height, rows = read_png(path)
    upper = lower = 0
    for _, y, r, g, b in pixels(rows):
        if r > 150 and r > b + 60 and g > b:
            if y < height // 2:
                upper += 1
            else:
                lower += 1
    print(f"warm pixels: {upper} upper, {lower} lower")
    want, other = (upper, lower) if half == "upper" else (lower, upper)
    if want < int(least):
        sys.exit(f"{path}: only {want} pixels of band light in the {half} half")
    if other * 20 > want:
        sys.exit(f"{path}: {other} pixels of band light outside the {half} half")


def graded(colour):
    """The frame's colour grade: gamma, brightness, then saturation."""
    c = [pow(v, GAMMA) * BRIGHTNESS for v in colour]
    grey = sum(v * v for v in c) ** 0.5
    return tuple(round(255 * (grey + (v - grey) * SATURATION)) for v in c)


def background(path, share):
    # Looking away from the light, a ray that leaves the scene shows
    # 0.5 * 1.2 * AMBIENT_COLOR, graded.
    want = graded([0.6 * a for a in AMBIENT_COLOR])
    _, _, rows = read_png(path)
    count = total = 0
    for _, _, r, g, b in pixels(rows):
        total += 1
        if max(abs(r - want[0]), abs(g - want[1]), abs(b - want[2])) <= 1:
            count += 1
    print(f"background {want}: {count} of {total} pixels")
    if count < float(share) * total:
        sys.exit(f"{path}: background colour {want} on {count} pixels, expected {share} of {total}")


if __name__ == "__main__":
    checks = {"size": size, "differ": differ, "band": band, "background": background}
    if len(sys.argv) < 2 or sys.argv[1] not in checks:
        sys.exit(__doc__)
    checks[sys.argv[1]](*sys.argv[2:])
