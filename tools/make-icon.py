#!/usr/bin/env python3
"""Draws the program's icon (a handheld with a download arrow on its screen) and writes it as
a Windows .ico with 16, 32 and 48 pixel images (32-bit BGRA with an AND mask).

    tools/make-icon.py platform/win32/res/ostrevan.ico
"""
import struct
import sys

SAMPLES = 4  # supersampling per axis, for smooth edges


def inside_rounded(x, y, left, top, right, bottom, radius):
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_arrow(x, y):
    # Shaft and head of a down arrow, then the bar it points at (flash being written).
    if 0.44 <= x <= 0.56 and 0.24 <= y <= 0.46:
        return True
    if 0.30 <= y <= 0.62 and y >= 0.46 and abs(x - 0.5) <= (0.62 - y) * 1.05:
        return True
    return 0.34 <= x <= 0.66 and 0.655 <= y <= 0.70


def colour_at(x, y):
    """RGBA of a point of the unit square, or None where the icon is transparent."""
    if not inside_rounded(x, y, 0.17, 0.02, 0.83, 0.98, 0.12):
        return None
    if inside_rounded(x, y, 0.25, 0.12, 0.75, 0.76, 0.04):
        if inside_arrow(x, y):
            return (255, 255, 255, 255)
        shade = int(40 + 60 * y)
        return (20, 120 + shade // 2, 70 + shade, 255)  # screen
    if 0.80 <= y <= 0.92 and inside_rounded(x, y, 0.42, 0.80, 0.58, 0.92, 0.05):
        return (230, 150, 30, 255)  # button
    return (38, 52, 72, 255)  # body


def render(size):
    pixels = []
    for row in range(size):
        line = []
        for col in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (col + (sx + 0.5) / SAMPLES) / size
                    y = (row + (sy + 0.5) / SAMPLES) / size
                    c = colour_at(x, y)
                    if c:
                        for i in range(3):
                            acc[i] += c[i]
                        acc[3] += 255
            n = SAMPLES * SAMPLES
            covered = acc[3] // 255
            if covered == 0:
                line.append((0, 0, 0, 0))
            else:
                line.append(tuple(acc[i] // covered for i in range(3)) + (acc[3] // n,))
        pixels.append(line)
    return pixels


def dib(size):
    pixels = render(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for line in reversed(pixels):  # bottom-up
        for r, g, b, a in line:
            colour += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for line in reversed(pixels):
        row = bytearray(mask_stride)
        for col, (_, _, _, a) in enumerate(line):
            if a == 0:
                row[col // 8] |= 0x80 >> (col % 8)
        mask += row
    return header + bytes(colour) + bytes(mask)


def main():
    sizes = (16, 32, 48)
    images = [dib(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
