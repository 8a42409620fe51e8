#!/usr/bin/env python3
"""Draws Vastrel's four tray icons and writes them as .ico files.

    usage: make-icons.py OUTDIR [--png]

Every icon holds 16, 20, 24, 32 and 48 pixel images (32-bit BGRA with an AND
mask, stored as a BMP inside the ICO): the small-icon and icon sizes of 100 %
to 200 % scaling, so Windows picks an image instead of stretching one. The globe is drawn procedurally: an
orthographic view of a sphere with a few land masses, a grid of meridians and
parallels, soft light from the upper left and a dark rim. Each size is
rendered on its own with supersampling, so the small one stays crisp instead
of being a blurred copy of the large one.

With --png, PNG previews of every image are written next to the icons.
"""

import math
import os
import struct
import sys
import zlib

SIZES = (16, 20, 24, 32, 48)
SUPERSAMPLE = 8

# The view: centred on the Atlantic side, so Africa, Europe and South America
# show as large, recognisable shapes even at 16 pixels.
VIEW_LAT = math.radians(18.0)
VIEW_LON = math.radians(-12.0)

# Land as unions of spherical caps: (latitude, longitude, radius) in degrees.
# Coarse on purpose; at tray size only the big masses survive anyway.
LAND = [
    # Africa
    (6, 20, 22), (20, 8, 18), (-14, 26, 15), (-26, 24, 9), (10, -6, 12),
    # Europe
    (48, 12, 11), (56, 28, 13), (63, 14, 8),
    # South America
    (-8, -56, 18), (-26, -58, 12), (-40, -66, 7), (4, -68, 10),
    # North America, cut by the upper left rim
    (46, -92, 22), (56, -70, 14), (30, -84, 9),
    # Greenland
    (72, -40, 9),
]
LAND_CAPS = [(math.radians(a), math.radians(o), math.cos(math.radians(r)))
             for a, o, r in LAND]

# Per-size drawing choices: rim width and grid line width in pixels, and which
# grid lines to draw (fewer at 16 pixels, where every line costs a pixel row).
# Meridians are given in degrees east of the view's centre.
STYLE = {
    16: dict(rim=1.05, line=0.75, parallels=(0,), meridians=(-45, 45)),
    20: dict(rim=1.1, line=0.8, parallels=(0,), meridians=(-45, 45)),
    24: dict(rim=1.2, line=0.85, parallels=(-40, 0, 40), meridians=(-50, 0, 50)),
    32: dict(rim=1.35, line=0.9, parallels=(-40, 0, 40),
             meridians=(-80, -40, 0, 40, 80)),
    48: dict(rim=1.7, line=1.1, parallels=(-60, -30, 0, 30, 60),
             meridians=(-90, -60, -30, 0, 30, 60, 90)),
}

# Colours per look: ocean, land, grid, rim (RGB, 0..255).
PALETTES = {
    "normal":   dict(ocean=(36, 110, 222), land=(58, 176, 62),
                     grid=(214, 236, 255), rim=(14, 36, 92)),
    "failed":   dict(ocean=(206, 36, 30), land=(255, 150, 122),
                     grid=(255, 220, 210), rim=(92, 8, 8)),
    "disabled": dict(ocean=(112, 112, 112), land=(200, 200, 200),
                     grid=(232, 232, 232), rim=(58, 58, 58)),
}

# The icons: resource file name, palette, striped.
ICONS = [
    ("globe.ico", "normal", False),          # 124: enabled
    ("globe-busy.ico", "normal", True),      # 125: update in progress
    ("globe-failed.ico", "failed", False),   # 126: failure blink
    ("globe-disabled.ico", "disabled", False),  # 128: updates off
]


def normalise(v):
    n = math.sqrt(sum(c * c for c in v))
    return tuple(c / n for c in v)


LIGHT = normalise((-0.45, 0.55, 0.70))  # up, to the left, towards the viewer


def is_land(lat, lon):
    sl, cl = math.sin(lat), math.cos(lat)
    for clat, clon, cos_r in LAND_CAPS:
        # cosine of the angular distance to the cap's centre
        d = sl * math.sin(clat) + cl * math.cos(clat) * math.cos(lon - clon)
        if d >= cos_r:
            return True
    return False


def on_grid(lat, lon, style, width):
    """True when the point lies on one of the size's grid lines; width is the
    line's half width in radians."""
    for p in style["parallels"]:
        if abs(lat - math.radians(p)) < width:
            return True
    for m in style["meridians"]:
        # A meridian's distance on the sphere shrinks towards the poles.
        dl = (lon - VIEW_LON - math.radians(m) + math.pi) % (2 * math.pi) - math.pi
        if abs(dl) * math.cos(lat) < width:
            return True
    return False


def sample(x, y, size, style, pal):
    """Colour (r, g, b, a) of one sample point in pixel coordinates."""
    centre = size / 2.0
    radius = size / 2.0 - 0.25
    dx = (x - centre) / radius
    dy = (centre - y) / radius
    r2 = dx * dx + dy * dy
    if r2 > 1.0:
        return (0.0, 0.0, 0.0, 0.0)
    if math.sqrt(r2) > 1.0 - style["rim"] / radius:
        return pal["rim"] + (1.0,)

    dz = math.sqrt(1.0 - r2)
    # Rotate the view vector into the globe's frame: tilt about x, then
    # the longitude offset.
    cy, sy = math.cos(VIEW_LAT), math.sin(VIEW_LAT)
    wy = dy * cy + dz * sy
    wz = -dy * sy + dz * cy
    lat = math.asin(max(-1.0, min(1.0, wy)))
    lon = math.atan2(dx, wz) + VIEW_LON

    colour = pal["land"] if is_land(lat, lon) else pal["ocean"]
    if on_grid(lat, lon, style, style["line"] / 2.0 / radius):
        colour = mix(colour, pal["grid"], 0.55)

    # Diffuse light with a generous ambient part, so the dark side still
    # reads as ocean and land rather than as a shadow.
    lum = dx * LIGHT[0] + dy * LIGHT[1] + dz * LIGHT[2]
    shade = 0.72 + 0.42 * max(0.0, lum)
    colour = tuple(min(255.0, c * shade) for c in colour)
    return colour + (1.0,)


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def render(size, palette, striped):
    """Rows of (r, g, b, a) tuples, top row first, 0..255 each."""
    style = STYLE[size]
    pal = PALETTES[palette]
    n = SUPERSAMPLE
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(n):
                for sx in range(n):
                    r, g, b, a = sample(px + (sx + 0.5) / n, py + (sy + 0.5) / n,
                                        size, style, pal)
                    # accumulate premultiplied, so the edge does not darken
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            if acc[3] == 0.0:
                row.append((0, 0, 0, 0))
                continue
            rgb = [c / acc[3] for c in acc[:3]]
            alpha = acc[3] / (n * n)
            if striped and busy_row(py, size):
                # The "off" stripes: the globe washed out and half see-through.
                rgb = mix(rgb, (255.0, 255.0, 255.0), 0.6)
                alpha *= 0.45
            row.append(tuple(int(round(c)) for c in rgb) + (int(round(alpha * 255)),))
        rows.append(row)
    return rows


def busy_row(y, size):
    """Every other band of rows is washed out: one pixel bands at 16, two at 32."""
    band = max(1, size // 16)
    return (y // band) % 2 == 1


def bmp_image(rows):
    """One ICO image: BITMAPINFOHEADER, BGRA pixels bottom-up, AND mask."""
    size = len(rows)
    xor = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            # Only fully clear pixels are masked out: where the mask is set,
            # a renderer without alpha XORs the colour in, so it must be black.
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(mask)


def ico_file(images):
    """images: list of (size, rows)."""
    blobs = [bmp_image(rows) for _, rows in images]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for (size, _), blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32,
                           len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    return bytes(out)


def png_file(rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    size = len(rows)
    raw = bytearray()
    for row in rows:
        raw.append(0)  # no filter
        for pixel in row:
            raw += bytes(pixel)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def write(path, data):
    # Write beside and rename, so an interrupted build never leaves half a file.
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def main(argv):
    args = [a for a in argv[1:] if a != "--png"]
    if len(args) != 1:
        sys.stderr.write("usage: make-icons.py OUTDIR [--png]\n")
        return 2
    outdir = args[0]
    previews = "--png" in argv[1:]
    os.makedirs(outdir, exist_ok=True)
    for name, palette, striped in ICONS:
        images = [(size, render(size, palette, striped)) for size in SIZES]
        write(os.path.join(outdir, name), ico_file(images))
        if previews:
            stem = os.path.splitext(name)[0]
            for size, rows in images:
                write(os.path.join(outdir, "%s-%d.png" % (stem, size)), png_file(rows))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
