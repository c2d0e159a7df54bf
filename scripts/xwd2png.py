#!/usr/bin/python3
"""Turns the X server's screen dump (XWD, as Xvfb -fbdir keeps it) into a PNG, with the standard
library only: the clean root that takes the screenshot has nothing else to convert it with.

Usage: xwd2png.py SCREEN.xwd OUT.png
Prints the picture's size and its number of distinct colours (a blank screen has one)."""
import struct
import sys
import zlib


def read_xwd(data):
    fields = struct.unpack(">25I", data[:100])
    header_size, version, pixmap_format, depth, width, height = fields[:6]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    red_mask, green_mask, blue_mask = fields[14], fields[15], fields[16]
    ncolors = fields[19]
    if version != 7 or pixmap_format != 2 or bits_per_pixel not in (24, 32):
        raise ValueError("not a true-colour ZPixmap XWD (version %d, format %d, %d bits)"
                         % (version, pixmap_format, bits_per_pixel))
    offset = header_size + ncolors * 12
    step = bits_per_pixel // 8
    order = "<" if byte_order == 0 else ">"
    code = "I" if step == 4 else None

    def shift(mask):
        return (mask & -mask).bit_length() - 1

    rs, gs, bs = shift(red_mask), shift(green_mask), shift(blue_mask)
    rows = []
    colours = set()
    for y in range(height):
        line = data[offset + y * bytes_per_line: offset + y * bytes_per_line + width * step]
        if code:
            pixels = struct.unpack(order + "%d%s" % (width, code), line)
        else:
            pixels = [int.from_bytes(line[i:i + 3], "little" if byte_order == 0 else "big")
                      for i in range(0, len(line), 3)]
        row = bytearray(b"\0")
        for p in pixels:
            rgb = ((p & red_mask) >> rs, (p & green_mask) >> gs, (p & blue_mask) >> bs)
            row += bytes(rgb)
        colours.update(pixels[:: max(1, width // 64)])
        rows.append(bytes(row))
    return width, height, rows, len(colours)


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(b"".join(rows), 9)))
        out.write(chunk(b"IEND", b""))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    width, height, rows, colours = read_xwd(data)
    write_png(sys.argv[2], width, height, rows)
    print("%dx%d, %d colours" % (width, height, colours))


if __name__ == "__main__":
    main()
