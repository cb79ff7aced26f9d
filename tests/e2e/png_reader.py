"""A PNG file's pixels by Python's own zlib: a second reader beside ImageMagick for the pictures the
stick keeps, which are 8-bit RGB, not interlaced. It checks every chunk's CRC."""

import struct
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"


def paeth(a, b, c):
    guess = a + b - c
    pa, pb, pc = abs(guess - a), abs(guess - b), abs(guess - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def read_png(data):
    """(width, height, pixels): three bytes a pixel, red first, rows from the top. Raises ValueError
    where the file is no such PNG."""
    if not data.startswith(SIGNATURE):
        raise ValueError("no PNG signature")
    at, header, compressed = len(SIGNATURE), None, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        (crc,) = struct.unpack(">I", data[at + 8 + length:at + 12 + length])
        if zlib.crc32(kind + body) != crc:
            raise ValueError(f"{kind.decode()}: CRC does not match")
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            compressed += body
        elif kind == b"IEND":
            break
        at += 12 + length
    if header is None or header[2:] != (8, 2, 0, 0, 0):
        raise ValueError(f"not 8-bit RGB, plainly compressed and filtered, not interlaced: {header}")
    width, height = header[:2]
    raw = zlib.decompress(compressed)
    stride = 3 * width
    if len(raw) != height * (1 + stride):
        raise ValueError(f"{len(raw)} bytes of rows, not {height * (1 + stride)}")
    pixels, above = bytearray(), bytearray(stride)
    for y in range(height):
        kind, row = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride if kind else 0):
            a = row[x - 3] if x >= 3 else 0
            b, c = above[x], above[x - 3] if x >= 3 else 0
            guess = (0, a, b, (a + b) // 2, paeth(a, b, c))[kind] if kind <= 4 else None
            if guess is None:
                raise ValueError(f"row {y}: filter {kind}")
            row[x] = (row[x] + guess) & 0xFF
        pixels += row
        above = row
    return width, height, bytes(pixels)
