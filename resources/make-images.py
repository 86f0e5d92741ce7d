#!/usr/bin/env python3
"""Draws the program images (window icon, logo, two status lamps) with the standard library only.

Run it from anywhere; it rewrites the files in resources/images/. The images are committed, so the
build does not need Python.
"""
import math
import os
import struct
import zlib

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "images")


def canvas(width, height):
    return [[(0, 0, 0, 0) for _ in range(width)] for _ in range(height)]


def blend(dst, src, coverage):
    a = src[3] / 255.0 * coverage
    if a <= 0.0:
        return dst
    da = dst[3] / 255.0
    out_a = a + da * (1.0 - a)
    mix = [
        (src[i] * a + dst[i] * da * (1.0 - a)) / out_a if out_a > 0 else 0 for i in range(3)
    ]
    return (round(mix[0]), round(mix[1]), round(mix[2]), round(out_a * 255))


def shade(img, inside, colour, samples=4):
    """Paints colour where inside(x, y) holds, antialiased by supersampling each pixel."""
    for y in range(len(img)):
        for x in range(len(img[0])):
            hits = 0
            for sy in range(samples):
                for sx in range(samples):
                    if inside(x + (sx + 0.5) / samples, y + (sy + 0.5) / samples):
                        hits += 1
            if hits:
                img[y][x] = blend(img[y][x], colour, hits / samples / samples)


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r, w):
    return lambda x, y: (r - w) ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def draw_icon(size):
    """Dark blue disc with a white aperture ring and cross hair: a pointing device seen head-on."""
    img = canvas(size, size)
    c = size / 2.0
    s = size / 32.0
    shade(img, disc(c, c, 15.5 * s), (22, 52, 96, 255))
    shade(img, ring(c, c, 10.5 * s, 2.2 * s), (255, 255, 255, 255))
    shade(img, rect(c - 1.0 * s, 3 * s, c + 1.0 * s, 29 * s), (255, 255, 255, 255))
    shade(img, rect(3 * s, c - 1.0 * s, 29 * s, c + 1.0 * s), (255, 255, 255, 255))
    shade(img, disc(c, c, 3.0 * s), (232, 120, 32, 255))
    return img


def draw_lamp(colour):
    img = canvas(16, 16)
    dark = tuple(int(v * 0.55) for v in colour[:3]) + (255,)
    shade(img, disc(8, 8, 7.5), dark)
    shade(img, disc(8, 8, 6.0), colour)
    shade(img, disc(6.0, 5.5, 2.0), (255, 255, 255, 150))
    return img


def draw_logo():
    """Icon mark on the left, three bars standing for the name on the right."""
    width, height = 160, 48
    img = canvas(width, height)
    mark = draw_icon(48)
    for y in range(48):
        for x in range(48):
            img[y][x] = mark[y][x]
    blue = (22, 52, 96, 255)
    shade(img, rect(58, 10, 154, 20), blue)
    shade(img, rect(58, 24, 130, 30), (232, 120, 32, 255))
    shade(img, rect(58, 34, 142, 38), blue)
    return img


def png_bytes(img):
    height, width = len(img), len(img[0])
    raw = b"".join(b"\x00" + bytes(v for px in row for v in px) for row in img)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def ico_bytes(images):
    """Classic ICO with 32-bit BMP entries (bottom-up BGRA and an all-clear AND mask)."""
    entries, blobs = [], []
    offset = 6 + 16 * len(images)
    for img in images:
        size = len(img)
        pixels = b"".join(bytes((b, g, r, a)) for row in reversed(img) for (r, g, b, a) in row)
        mask_row = ((size + 31) // 32) * 4
        mask = b"\x00" * (mask_row * size)
        info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask),
                           0, 0, 0, 0)
        blob = info + pixels + mask
        entries.append(struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob),
                                   offset))
        blobs.append(blob)
        offset += len(blob)
    return struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries) + b"".join(blobs)


def main():
    os.makedirs(HERE, exist_ok=True)
    files = {
        "halvik_icon.ico": ico_bytes([draw_icon(16), draw_icon(32), draw_icon(48)]),
        "halvik_logo.png": png_bytes(draw_logo()),
        "red-on-16.png": png_bytes(draw_lamp((220, 40, 30, 255))),
        "green-on-16.png": png_bytes(draw_lamp((40, 190, 60, 255))),
    }
    for name, data in files.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
