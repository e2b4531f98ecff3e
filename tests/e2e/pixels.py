"""Pixel checks on binary PPM screenshots for the window end-to-end tests.

  pixels.py expect FILE "R G B" X,Y ...   every listed pixel has that colour
  pixels.py title FILE WX WY              the title text of the window at (WX, WY)
  pixels.py blank FILE X Y W H            the box holds only the background colour
  pixels.py scene FILE X Y W H            the box shows a picture: over 2,000
                                          colours, under 1 % white
"""
import sys

BACKGROUND = (18, 19, 21)


def read_ppm(path):
    data = open(path, "rb").read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    if fields[0] != b"P6" or int(fields[3]) != 255:
        sys.exit(f"{path}: not an 8-bit binary PPM")
    width = int(fields[1])
    pixels = data[pos + 1:]

    def px(x, y):
        i = (y * width + x) * 3
        return tuple(pixels[i:i + 3])

    return px


def expect(path, colour, *points):
    px = read_ppm(path)
    want = tuple(int(v) for v in colour.split())
    bad = []
    for point in points:
        x, y = (int(v) for v in point.split(","))
        if px(x, y) != want:
            bad.append(f"({x},{y}) is {px(x, y)}")
    if bad:
        sys.exit(f"expected {want}: " + "; ".join(bad))


def title(path, wx, wy):
    """Grey text only inside the label box (x 11..577, rows 1..28), vertically
    centred, after two leading spaces, about as wide as a 10-point title."""
    px = read_ppm(path)
    wx, wy = int(wx), int(wy)
    ink = [(x, y) for y in range(0, 32) for x in range(0, 990)
           if px(wx + x, wy + y) != BACKGROUND]
    if len(ink) < 150:
        sys.exit(f"only {len(ink)} text pixels in the title strip")
    outside = [p for p in ink if not (11 <= p[0] <= 577 and 1 <= p[1] <= 28)]
    if outside:
        sys.exit(f"text pixels outside the label box, e.g. {outside[:3]}")
    brightest = max(max(px(wx + x, wy + y)) for x, y in ink)
    if not 80 <= brightest <= 100:
        sys.exit(f"brightest text channel is {brightest}, expected the grey 95")
    rows = [y for _, y in ink]
    columns = [x for x, _ in ink]
    if abs((min(rows) + max(rows)) / 2 - 14.5) > 3:
        sys.exit(f"text rows {min(rows)}..{max(rows)} are not centred in rows 1..28")
    if min(columns) < 11 + 4:
        sys.exit(f"text starts at x {min(columns)}: the leading spaces are missing")
    if not 120 <= max(columns) - min(columns) <= 320:
        sys.exit(f"text spans x {min(columns)}..{max(columns)}: not a 10-point title")
    print(f"title: {len(ink)} pixels, x {min(columns)}..{max(columns)}, "
          f"rows {min(rows)}..{max(rows)}")


def blank(path, x, y, w, h):
    px = read_ppm(path)
    x, y, w, h = int(x), int(y), int(w), int(h)
    ink = [(i, j) for j in range(y, y + h) for i in range(x, x + w) if px(i, j) != BACKGROUND]
    if ink:
        sys.exit(f"{len(ink)} pixels differ from the background, e.g. {ink[:3]}")


def scene(path, x, y, w, h):
    px = read_ppm(path)
    x, y, w, h = int(x), int(y), int(w), int(h)
    box = [px(i, j) for j in range(y, y + h) for i in range(x, x + w)]
    colours, white = len(set(box)), box.count((255, 255, 255))
    print(f"{colours} colours, {white} white pixels")
    if colours <= 2000 or white >= len(box) // 100:
        sys.exit("not a picture of the scene")


if __name__ == "__main__":
    {"expect": expect, "title": title, "blank": blank, "scene": scene}[sys.argv[1]](*sys.argv[2:])
