"""Reading the greyscale PNG files the receiver dumps, without any imaging library."""

import struct
import zlib


def read_grey_png(path):
    """(width, height, rows of luma) of an 8-bit greyscale PNG."""
    with open(path, "rb") as png:
        data = png.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    width, height, depth, colour = header[:4]
    assert (depth, colour) == (8, 0), f"{path}: depth {depth} colour type {colour}"
    raw = zlib.decompress(idat)
    rows, previous = [], bytearray(width)
    for y in range(height):
        kind = raw[y * (width + 1)]
        row = bytearray(raw[y * (width + 1) + 1:(y + 1) * (width + 1)])
        for x in range(width):
            left = row[x - 1] if x else 0
            up = previous[x]
            corner = previous[x - 1] if x else 0
            if kind == 1:
                row[x] = (row[x] + left) & 0xFF
            elif kind == 2:
                row[x] = (row[x] + up) & 0xFF
            elif kind == 3:
                row[x] = (row[x] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                guess = left if pa <= pb and pa <= pc else up if pb <= pc else corner
                row[x] = (row[x] + guess) & 0xFF
        rows.append(row)
        previous = row
    return width, height, rows
