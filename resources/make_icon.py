#!/usr/bin/env python3
"""Draws the program's icon: a red record button on a dark round face with a green level trace,
as one icon group with 32 x 32 and 16 x 16 images in 16 colours."""
import struct
import sys

# The standard 16-colour palette; the drawing uses four of its entries.
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
           (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
           (255, 0, 255), (0, 255, 255), (255, 255, 255)]
DARK, RED, GREEN, WHITE, CLEAR = 0, 9, 10, 15, None


def draw(size):
    """Rows from the top; CLEAR where the desktop shows through."""
    centre = (size - 1) / 2
    face, button = size * 0.48, size * 0.2
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            distance = ((x - centre) ** 2 + (y - centre) ** 2) ** 0.5
            trace = abs((y - centre) - size * 0.12 * ((-1) ** (x // max(1, size // 8)))) < size / 32 + 0.5
            if distance > face:
                row.append(CLEAR)
            elif distance > face - max(1, size / 16):
                row.append(WHITE)
            elif distance <= button:
                row.append(RED)
            elif trace:
                row.append(GREEN)
            else:
                row.append(DARK)
        pixels.append(row)
    return pixels


def image(size):
    pixels = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colour_rows, mask_rows = [], []
    for row in reversed(pixels):  # bitmaps are stored bottom-up
        nibbles = [0 if p is CLEAR else p for p in row]
        colour = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        colour_rows.append(colour + b"\0" * (-len(colour) % 4))
        bits = 0
        for p in row:
            bits = (bits << 1) | (p is CLEAR)
        mask = bits.to_bytes(size // 8, "big")
        mask_rows.append(mask + b"\0" * (-len(mask) % 4))
    return header + palette + b"".join(colour_rows) + b"".join(mask_rows)


def main():
    images = [(size, image(size)) for size in (32, 16)]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries, data = b"", b""
    for size, bits in images:
        entries += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(bits), offset + len(data))
        data += bits
    with open(sys.argv[1], "wb") as icon:
        icon.write(directory + entries + data)


if __name__ == "__main__":
    main()
