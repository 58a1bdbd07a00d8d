#!/usr/bin/env python3
"""Writes gui/ledgerly.ico, the program's icon, from the pixel drawings below.

The icon is a ledger with a spreadsheet page (green header row, grid lines
and entries) and a radio antenna sending waves from its top. The file holds
two images, 32 by 32 and 16 by 16 pixels, each with the 16 colours of the
standard Windows palette (4 bits per pixel) and a transparency mask.

Each drawing is one text row per pixel row, top row first; each character is
one pixel, named in PALETTE ("." or " " is transparent). Change a drawing
and run `python3 gui/icon/make_icon.py` to rebuild the .ico file.
"""
import os
import struct
import sys

# The standard 16-colour palette: character, (red, green, blue).
PALETTE = [
    ("k", (0, 0, 0)),  # black
    ("r", (128, 0, 0)),  # maroon
    ("g", (0, 128, 0)),  # green
    ("y", (128, 128, 0)),  # olive
    ("b", (0, 0, 128)),  # navy
    ("m", (128, 0, 128)),  # purple
    ("c", (0, 128, 128)),  # teal
    ("s", (192, 192, 192)),  # silver
    ("d", (128, 128, 128)),  # grey
    ("R", (255, 0, 0)),  # red
    ("G", (0, 255, 0)),  # lime
    ("Y", (255, 255, 0)),  # yellow
    ("B", (0, 0, 255)),  # blue
    ("M", (255, 0, 255)),  # magenta
    ("C", (0, 255, 255)),  # cyan
    ("w", (255, 255, 255)),  # white
]
TRANSPARENT = " ."

ICON_32 = [
    "                                ",
    "                       R     R  ",
    "                      R R   R R ",
    "                      R R R R R ",
    "                      R R k R R ",
    "                       R  k  R  ",
    "                          k     ",
    "                         kkk    ",
    "  bbbbbbbbbbbbbbbbbbbbbbbbbbbb  ",
    "  bBBBbggggggggggggggggggggggb  ",
    "  bBBBbggggggggggggggggggggggb  ",
    "  bBYBbggggggggggggggggggggggb  ",
    "  bBBBbwwwwwwwswwwwwwwswwwwwwb  ",
    "  bBBBbwddddwwswddddwwswdddwwb  ",
    "  bBBBbssssssssssssssssssssssb  ",
    "  bBYBbwwwwwwwswwwwwwwswwwwwwb  ",
    "  bBBBbwwwwwwwswwwwwwwswwwwwwb  ",
    "  bBBBbwddddwwswddddwwswdddwwb  ",
    "  bBBBbssssssssssssssssssssssb  ",
    "  bBYBbwwwwwwwswwwwwwwswwwwwwb  ",
    "  bBBBbwwwwwwwswwwwwwwswwwwwwb  ",
    "  bBBBbwddddwwswddddwwswdddwwb  ",
    "  bBBBbssssssssssssssssssssssb  ",
    "  bBYBbwwwwwwwswwwwwwwswwwwwwb  ",
    "  bBBBbwwwwwwwswwwwwwwswwwwwwb  ",
    "  bBBBbwddddwwswddddwwswdddwwb  ",
    "  bBBBbssssssssssssssssssssssb  ",
    "  bBYBbwwwwwwwswwwwwwwswwwwwwb  ",
    "  bBBBbwwwwwwwswwwwwwwswwwwwwb  ",
    "  bBBBbwwwwwwwswwwwwwwswwwwwwb  ",
    "  bbbbbbbbbbbbbbbbbbbbbbbbbbbb  ",
    "                                ",
]

ICON_16 = [
    "                ",
    "          R R R ",
    "          R k R ",
    "            k   ",
    " bbbbbbbbbbbbbb ",
    " bBbggggggggggb ",
    " bBbggggggggggb ",
    " bBbwwwwswwwwwb ",
    " bBbwddwswddwwb ",
    " bBbssssssssssb ",
    " bBbwwwwswwwwwb ",
    " bBbwddwswddwwb ",
    " bBbssssssssssb ",
    " bBbwwwwswwwwwb ",
    " bBbwddwswddwwb ",
    " bbbbbbbbbbbbbb ",
]


def row_bytes(bits_per_row):
    """Bytes of one bitmap row: rows are padded to whole 32-bit words."""
    return (bits_per_row + 31) // 32 * 4


def icon_image(drawing):
    """Returns the icon image (BITMAPINFOHEADER, palette, colour bits, mask)."""
    size = len(drawing)
    index_of = {char: index for index, (char, _) in enumerate(PALETTE)}
    for number, row in enumerate(drawing):
        if len(row) != size:
            sys.exit(f"row {number} of the {size}x{size} drawing has {len(row)} pixels")
        for char in row:
            if char not in index_of and char not in TRANSPARENT:
                sys.exit(f"unknown colour {char!r} in row {number} of the {size}x{size} drawing")
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", blue, green, red, 0)
                       for _, (red, green, blue) in PALETTE)
    colours = b""
    mask = b""
    for row in reversed(drawing):  # bitmaps are stored bottom row first
        nibbles = [index_of.get(char, 0) for char in row]
        packed = bytes(high << 4 | low for high, low in zip(nibbles[0::2], nibbles[1::2]))
        colours += packed.ljust(row_bytes(size * 4), b"\0")
        mask_bits = 0
        for char in row:
            mask_bits = mask_bits << 1 | (char in TRANSPARENT)
        mask_row = mask_bits.to_bytes((size + 7) // 8, "big")
        mask += mask_row.ljust(row_bytes(size), b"\0")
    return header + palette + colours + mask


def icon_file(drawings):
    """Returns the .ico file: directory, one entry per image, the images."""
    images = [icon_image(drawing) for drawing in drawings]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = len(data) + 16 * len(images)
    for drawing, image in zip(drawings, images):
        size = len(drawing)
        data += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    return data + b"".join(images)


def main():
    target = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ledgerly.ico")
    if len(sys.argv) > 1:
        target = sys.argv[1]
    with open(target, "wb") as out:
        out.write(icon_file([ICON_32, ICON_16]))


if __name__ == "__main__":
    main()
