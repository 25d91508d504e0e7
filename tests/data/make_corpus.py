#!/usr/bin/env python3
"""Writes the small image-file corpus of the reader tests into this folder.

Every file is made here from first principles (struct and zlib), so the
readers are checked against an encoder that is not their own.  The valid
files hold the 4 x 3 test picture below in several encodings; the
malformed ones are each broken in one way.  Run it again after a change:
    python3 tests/data/make_corpus.py
"""

import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 4, 3
# Grey ramp: value of pixel (x, y).
GREY = [[(x * 60 + y * 20) % 256 for x in range(W)] for y in range(H)]
# Colour picture, (R, G, B) of pixel (x, y); alpha of pixel (x, y).
RGB = [[(10 * x + 1, 20 * y + 2, 30 + x + y) for x in range(W)] for y in range(H)]
ALPHA = [[255 - 40 * x - 10 * y for x in range(W)] for y in range(H)]
# Bilevel picture: 1 = white.
BITS = [[(x + y) % 2 for x in range(W)] for y in range(H)]


def save(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


# ---- PNG -----------------------------------------------------------------------


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def png(colour_type, depth, rows, interlace=0, extra=b"", width=W, height=H):
    """rows: per row the packed sample bytes (no filter byte); with interlace
    the rows are split into the seven Adam7 passes."""
    ihdr = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, interlace)
    if interlace:
        raw = adam7(rows, colour_type, depth, width, height)
    else:
        raw = b"".join(b"\0" + r for r in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra + chunk(b"IDAT", zlib.compress(raw))
            + chunk(b"IEND", b""))


def adam7(rows, colour_type, depth, width, height):
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour_type]
    bpp = channels * depth // 8  # whole bytes only (depth 8 or 16)
    out = b""
    for x0, y0, dx, dy in ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
                           (0, 1, 1, 2)):
        for y in range(y0, height, dy):
            line = b"".join(rows[y][x * bpp:(x + 1) * bpp] for x in range(x0, width, dx))
            if line:
                out += b"\0" + line
    return out


def grey_rows(scale16=False):
    if scale16:
        return [b"".join(struct.pack(">H", v * 257) for v in r) for r in GREY]
    return [bytes(r) for r in GREY]


def rgb_rows():
    return [b"".join(bytes(p) for p in r) for r in RGB]


def rgba_rows():
    return [b"".join(bytes(RGB[y][x]) + bytes([ALPHA[y][x]]) for x in range(W)) for y in range(H)]


def write_png():
    save("grey.png", png(0, 8, grey_rows()))
    save("grey16.png", png(0, 16, grey_rows(True)))
    save("grey-alpha.png", png(4, 8, [b"".join(bytes([GREY[y][x], ALPHA[y][x]]) for x in range(W))
                                      for y in range(H)]))
    save("rgb.png", png(2, 8, rgb_rows()))
    save("rgba.png", png(6, 8, rgba_rows()))
    save("rgb-interlaced.png", png(2, 8, rgb_rows(), interlace=1))
    # 16-bit colour: every sample v * 257 + 200 reduces to v when rounded.
    save("rgb16.png", png(2, 16, [b"".join(struct.pack(">HHH", *(c * 257 + 100 for c in p)) for p in r)
                                 for r in RGB]))
    # Palette of the colour picture's pixels; index = x + y * W; transparency
    # for the first two entries.
    palette = b"".join(bytes(RGB[y][x]) for y in range(H) for x in range(W))
    indices = [bytes(x + y * W for x in range(W)) for y in range(H)]
    save("palette.png", png(3, 8, indices, extra=chunk(b"PLTE", palette)))
    save("palette-trns.png", png(3, 8, indices, extra=chunk(b"PLTE", palette) + chunk(b"tRNS", b"\x00\x80")))
    # 1-bit grey: the bilevel picture, 1 = white (255 after expansion).
    save("grey1.png", png(0, 1, [bytes([sum(b << (7 - x) for x, b in enumerate(r))]) for r in BITS]))

    good = png(2, 8, rgb_rows())
    save("bad-truncated.png", good[: len(good) - 30])
    save("bad-crc.png", good[:20] + bytes([good[20] ^ 0xFF]) + good[21:])
    save("bad-huge.png", png(0, 8, grey_rows(), width=100000, height=100000))
    save("bad-zero-width.png", png(0, 8, grey_rows(), width=0))
    save("bad-signature-only.png", good[:8])
    save("bad-idat-garbage.png", good[:33] + chunk(b"IDAT", b"\x78\x9c garbage that is not deflate")
         + chunk(b"IEND", b""))


# ---- PNM -----------------------------------------------------------------------


def write_pnm():
    save("grey.pgm", b"P5\n# a comment\n4 3\n255\n" + b"".join(grey_rows()))
    save("grey-plain.pgm", b"P2\n4 3\n255\n" + " ".join(str(v) for r in GREY for v in r).encode() + b"\n")
    save("grey16.pgm", b"P5\n4 3\n65535\n" + b"".join(grey_rows(True)))
    save("rgb.ppm", b"P6\n4 3\n255\n" + b"".join(rgb_rows()))
    save("rgb-plain.ppm", b"P3 4 3 255\n" + " ".join(str(c) for r in RGB for p in r for c in p).encode())
    # PBM: 1 = black.
    save("bits.pbm", b"P4\n4 3\n" + bytes(sum((1 - b) << (7 - x) for x, b in enumerate(r)) for r in BITS))
    save("bits-plain.pbm", b"P1\n4 3\n" + "\n".join("".join(str(1 - b) for b in r) for r in BITS).encode())
    save("bad-short.pgm", b"P5\n4 3\n255\n" + b"\1\2\3")
    save("bad-header.pgm", b"P5\n4 x\n255\n" + bytes(12))
    save("bad-maxval.pgm", b"P5\n4 3\n70000\n" + bytes(24))
    save("bad-huge.ppm", b"P6\n90000 90000\n255\n" + bytes(16))
    save("bad-sample.pgm", b"P2\n2 1\n100\n5 101\n")


# ---- TIFF (uncompressed, little-endian) --------------------------------------


def tiff(pages):
    """pages: list of (width, height, bits, samples, photometric, strip bytes,
    extra tags {tag: (type, [values])}).  One strip per page."""
    out = bytearray(b"II*\0" + b"\0\0\0\0")
    first_ifd_at = 4
    for width, height, bits, samples, photometric, strip, extra in pages:
        strip_at = len(out)
        out += strip
        if len(out) % 2:
            out += b"\0"
        bits_at = len(out)
        out += struct.pack("<%dH" % samples, *([bits] * samples))
        tags = {256: (4, [width]), 257: (4, [height]), 258: (3, [bits] * samples if samples == 1 else bits_at),
                259: (3, [1]), 262: (3, [photometric]), 273: (4, [strip_at]), 277: (3, [samples]),
                278: (4, [height]), 279: (4, [len(strip)]), 284: (3, [1])}
        tags.update(extra)
        ifd_at = len(out)
        struct.pack_into("<I", out, first_ifd_at, ifd_at)
        out += struct.pack("<H", len(tags))
        for tag in sorted(tags):
            kind, values = tags[tag]
            if isinstance(values, int):  # an offset to values stored earlier
                out += struct.pack("<HHII", tag, kind, samples, values)
            elif kind == 3 and len(values) <= 2:
                out += struct.pack("<HHI", tag, kind, len(values)) + struct.pack("<2H", *(values + [0])[:2])
            else:
                out += struct.pack("<HHII", tag, kind, 1, values[0])
        first_ifd_at = len(out)
        out += b"\0\0\0\0"
    return bytes(out)


def write_tiff():
    grey = (W, H, 8, 1, 1, b"".join(grey_rows()), {})
    rgb = (W, H, 8, 3, 2, b"".join(rgb_rows()), {})
    rgba = (W, H, 8, 4, 2, b"".join(rgba_rows()), {338: (3, [2])})
    # Bilevel, white is zero: a set bit is black.
    bits = (W, H, 1, 1, 0, bytes(sum((1 - b) << (7 - x) for x, b in enumerate(r)) for r in BITS), {})
    save("grey.tif", tiff([grey]))
    save("rgb.tif", tiff([rgb]))
    save("rgba.tif", tiff([rgba]))
    save("bits.tif", tiff([bits]))
    save("pages.tif", tiff([grey, rgb, bits]))
    whole = tiff([rgb])
    save("bad-truncated.tif", whole[:40])
    save("bad-huge.tif", tiff([(200000, 200000, 8, 1, 1, b"\0" * 12, {})]))
    save("bad-small-for-size.tif", tiff([(60000, 4000, 8, 1, 1, b"\0" * 12, {})]))
    save("bad-strip-outside.tif", tiff([(W, H, 8, 1, 1, b"", {273: (4, [1 << 30]), 279: (4, [12])})]))
    save("bad-header.tif", b"II*\0\xff\xff\xff\x7f")


# ---- JPEG (broken files only: the valid ones come from the library's writer) --


def write_jpeg():
    save("bad-markers.jpg", b"\xff\xd8\xff\xe0\x00\x10JFIF\x00" + bytes(40))
    save("bad-empty-after-soi.jpg", b"\xff\xd8\xff")


if __name__ == "__main__":
    write_png()
    write_pnm()
    write_tiff()
    write_jpeg()
