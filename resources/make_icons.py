#!/usr/bin/env python3
"""Draws the three 32 x 32 RGBA window icons of r9-update.

Standard library only: shapes are rendered with 4 x 4 supersampling and
written as PNG with zlib. Run it from anywhere; it writes next to itself.
"""
import math
import os
import struct
import zlib

SIZE = 32
SS = 4  # supersampling factor per axis


def blend(dst, src):
    sr, sg, sb, sa = src
    dr, dg, db, da = dst
    a = sa + da * (1 - sa)
    if a == 0:
        return (0.0, 0.0, 0.0, 0.0)
    mix = lambda s, d: (s * sa + d * da * (1 - sa)) / a
    return (mix(sr, dr), mix(sg, dg), mix(sb, db), a)


class Canvas:
    def __init__(self):
        n = SIZE * SS
        self.px = [[(0.0, 0.0, 0.0, 0.0)] * n for _ in range(n)]

    def paint(self, inside, colour):
        """colour: (r, g, b, a) in 0..1, or a function (x, y) -> colour."""
        n = SIZE * SS
        for j in range(n):
            y = (j + 0.5) / SS
            row = self.px[j]
            for i in range(n):
                x = (i + 0.5) / SS
                if inside(x, y):
                    c = colour(x, y) if callable(colour) else colour
                    row[i] = blend(row[i], c)

    def png(self):
        raw = bytearray()
        for y in range(SIZE):
            raw.append(0)
            for x in range(SIZE):
                acc = [0.0, 0.0, 0.0, 0.0]
                for j in range(SS):
                    for i in range(SS):
                        r, g, b, a = self.px[y * SS + j][x * SS + i]
                        acc[0] += r * a
                        acc[1] += g * a
                        acc[2] += b * a
                        acc[3] += a
                a = acc[3] / (SS * SS)
                if acc[3] > 0:
                    rgb = [acc[k] / acc[3] for k in range(3)]
                else:
                    rgb = [0, 0, 0]
                raw += bytes(int(round(max(0, min(1, v)) * 255)) for v in rgb + [a])

        def chunk(tag, data):
            body = tag + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_out, r_in):
    return lambda x, y: r_in * r_in <= (x - cx) ** 2 + (y - cy) ** 2 <= r_out * r_out


def thick_line(ax, ay, bx, by, w):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
        px, py = ax + t * dx, ay + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= (w / 2) ** 2
    return inside


def vertical(top, bottom, y0, y1):
    def colour(x, y):
        t = max(0.0, min(1.0, (y - y0) / (y1 - y0)))
        return tuple(top[k] + (bottom[k] - top[k]) * t for k in range(4))
    return colour


RGB = lambda h, a=1.0: (int(h[1:3], 16) / 255, int(h[3:5], 16) / 255, int(h[5:7], 16) / 255, a)


def draw_folder(c, dx=0.0, dy=0.0, scale=1.0):
    s = lambda v: v * scale
    # back sheet with the tab
    c.paint(rounded_rect(dx + s(2), dy + s(6), dx + s(13), dy + s(12), s(1.5)), RGB("#c98a12"))
    c.paint(rounded_rect(dx + s(2), dy + s(8), dx + s(30), dy + s(27), s(2)), RGB("#d99a1e"))
    # paper peeking out
    c.paint(rounded_rect(dx + s(4), dy + s(10), dx + s(28), dy + s(22), s(1)), RGB("#fbfbf7"))
    # front sheet
    c.paint(rounded_rect(dx + s(2), dy + s(13), dx + s(30), dy + s(27.5), s(2)),
            vertical(RGB("#ffd766"), RGB("#f0a81c"), dy + s(13), dy + s(27.5)))
    c.paint(lambda x, y: dy + s(13) <= y <= dy + s(13.8) and dx + s(3) <= x <= dx + s(29),
            RGB("#fff2b8", 0.9))


def folder_icon():
    c = Canvas()
    draw_folder(c)
    return c.png()


def folder_explorer_icon():
    c = Canvas()
    draw_folder(c, dx=-1, dy=-2, scale=0.95)
    # magnifier: glass, rim, handle
    c.paint(circle(20, 20, 6.2), RGB("#d8f0ff", 0.75))
    c.paint(ring(20, 20, 7.4, 5.6), RGB("#2f4f6f"))
    c.paint(thick_line(25.2, 25.2, 30, 30, 3.6), RGB("#2f4f6f"))
    c.paint(thick_line(17, 17.5, 18.8, 15.8, 1.3), RGB("#ffffff", 0.9))
    return c.png()


def ftp_icon():
    c = Canvas()
    # globe
    c.paint(circle(16, 16, 14), vertical(RGB("#4fa3e3"), RGB("#1c5c9e"), 2, 30))
    line = RGB("#e8f4ff", 0.85)
    c.paint(lambda x, y: circle(16, 16, 13.2)(x, y) and abs(y - 16) < 0.55, line)
    c.paint(lambda x, y: circle(16, 16, 13.2)(x, y) and abs(y - 9.5) < 0.45, line)
    c.paint(lambda x, y: circle(16, 16, 13.2)(x, y) and abs(y - 22.5) < 0.45, line)
    c.paint(lambda x, y: circle(16, 16, 13.2)(x, y) and abs(x - 16) < 0.55, line)
    c.paint(lambda x, y: circle(16, 16, 13.2)(x, y)
            and abs(math.hypot((x - 16) / 6.5, (y - 16) / 13.2) - 1) < 0.07, line)
    # two transfer arrows: down (green) and up (orange)
    c.paint(lambda x, y: 7 <= x <= 11 and 6 <= y <= 16, RGB("#37b24d"))
    c.paint(lambda x, y: y >= 15 and y <= 22 and abs(x - 9) <= (22 - y) * 0.85, RGB("#37b24d"))
    c.paint(lambda x, y: 21 <= x <= 25 and 16 <= y <= 26, RGB("#f08c00"))
    c.paint(lambda x, y: y <= 17 and y >= 10 and abs(x - 23) <= (y - 10) * 0.85, RGB("#f08c00"))
    return c.png()


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, draw in (("folder_explorer.png", folder_explorer_icon),
                       ("folder.png", folder_icon),
                       ("ftp.png", ftp_icon)):
        with open(os.path.join(here, name), "wb") as out:
            out.write(draw())


if __name__ == "__main__":
    main()
