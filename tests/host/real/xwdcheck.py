#!/usr/bin/env python3
"""xwdcheck.py SHOT.xwd OUT.png MIN_WIDTH MIN_HEIGHT

Reads an X window dump (xwd), writes it as a PNG, and checks that it is at least the given
size and shows a picture rather than an empty window: many distinct colours, and no single
colour covering almost everything. Prints the figures; exits 1 when a check fails."""
import struct
import sys
import zlib


def read_xwd(path):
    data = open(path, "rb").read()
    fields = struct.unpack(">25I", data[:100])
    header_size, version = fields[0], fields[1]
    if version != 7:
        raise ValueError("not an X11 window dump")
    width, height = fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    masks = fields[14:17]
    ncolors = fields[19]
    if bits_per_pixel not in (24, 32):
        raise ValueError("unsupported pixel size %d" % bits_per_pixel)
    offset = header_size + 12 * ncolors
    step = bits_per_pixel // 8
    order = "little" if byte_order == 0 else "big"

    def shift(mask):
        return (mask & -mask).bit_length() - 1

    shifts = [shift(m) for m in masks]
    rows = []
    for y in range(height):
        line = data[offset + y * bytes_per_line: offset + y * bytes_per_line + width * step]
        row = bytearray()
        for x in range(width):
            p = int.from_bytes(line[x * step:(x + 1) * step], order)
            row += bytes(((p & m) >> s) & 0xFF for m, s in zip(masks, shifts))
        rows.append(bytes(row))
    return width, height, rows


def write_png(path, width, height, rows):
    raw = b"".join(b"\x00" + row for row in rows)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(raw, 6)))
        out.write(chunk(b"IEND", b""))


def main():
    shot, png, min_width, min_height = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    width, height, rows = read_xwd(shot)
    write_png(png, width, height, rows)
    counts = {}
    for row in rows:
        for x in range(0, len(row), 3):
            key = row[x:x + 3]
            counts[key] = counts.get(key, 0) + 1
    commonest = max(counts.values()) / float(width * height)
    print("window %dx%d, %d colours, commonest colour covers %.0f%%" % (width, height, len(counts), 100 * commonest))
    ok = width >= min_width and height >= min_height and len(counts) >= 50 and commonest < 0.9
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
