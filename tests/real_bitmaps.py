#!/usr/bin/env python3
"""Holds the bitmap rule against bitmaps real writers made: ImageMagick writes each header form,
depth and compression it knows into a scratch folder, beside any bitmaps named on the command line
(the firmware's own logo, once an end-to-end run has saved it); every one must be judged a sound
bitmap. ImageMagick writes no top-down bitmaps, so one of its files is turned top-down here.

    real_bitmaps.py JUDGE WORK [BITMAP...]
"""

import os
import struct
import subprocess
import sys

# (file name, ImageMagick arguments after the input, output prefix): small images, every variant.
VARIANTS = [
    ("core-1bit.bmp", ["-colors", "2", "-type", "Palette"], "BMP2"),
    ("core-4bit.bmp", ["-colors", "16", "-type", "Palette"], "BMP2"),
    ("core-8bit.bmp", ["-colors", "200", "-type", "Palette"], "BMP2"),
    ("core-24bit.bmp", ["-type", "TrueColor"], "BMP2"),
    ("info-1bit.bmp", ["-colors", "2", "-type", "Palette"], "BMP3"),
    ("info-4bit.bmp", ["-colors", "16", "-type", "Palette"], "BMP3"),
    ("info-8bit.bmp", ["-colors", "200", "-type", "Palette"], "BMP3"),
    ("info-8bit-rle.bmp", ["-colors", "200", "-type", "Palette", "-compress", "RLE"], "BMP3"),
    ("info-24bit.bmp", ["-type", "TrueColor"], "BMP3"),
    ("info-32bit-alpha.bmp", ["-alpha", "on", "-channel", "A", "-evaluate", "set", "60%", "+channel"], "BMP3"),
    ("v5-8bit.bmp", ["-colors", "200", "-type", "Palette"], "BMP"),
    ("v5-16bit-565.bmp", ["-define", "bmp:subtype=RGB565"], "BMP"),
    ("v5-16bit-555.bmp", ["-define", "bmp:subtype=RGB555"], "BMP"),
    ("v5-24bit.bmp", ["-type", "TrueColor"], "BMP"),
    ("v5-32bit-alpha.bmp", ["-alpha", "on", "-channel", "A", "-evaluate", "set", "60%", "+channel"], "BMP"),
    ("v4-24bit.bmp", ["-type", "TrueColor", "-define", "bmp:format=bmp4"], "BMP"),
]


def convert():
    # Debian's ImageMagick by its full path, ahead of any other convert on PATH.
    return "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"


def top_down(source, target):
    """The same bitmap stored top-down: negative height, rows in the other order."""
    data = bytearray(open(source, "rb").read())
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    bits, = struct.unpack_from("<H", data, 28)
    row = ((width * bits + 31) // 32) * 4
    rows = [data[offset + row * index:offset + row * (index + 1)] for index in range(height)]
    data[offset:offset + row * height] = b"".join(reversed(rows))
    struct.pack_into("<i", data, 22, -height)
    open(target, "wb").write(bytes(data))


def main(argv):
    judge, work, given = argv[1], argv[2], argv[3:]
    os.makedirs(work, exist_ok=True)
    source = os.path.join(work, "source.png")
    # 37 x 11: odd widths pad every row, at every depth.
    subprocess.run([convert(), "-size", "37x11", "gradient:red-blue", "(", "-size", "37x11", "gradient:", "-rotate", "90",
                    "-resize", "37x11!", ")", "-compose", "multiply", "-composite", source], check=True)
    files = []
    for name, options, prefix in VARIANTS:
        path = os.path.join(work, name)
        subprocess.run([convert(), source, *options, f"{prefix}:{path}"], check=True)
        files.append(path)
    flipped = os.path.join(work, "info-24bit-top-down.bmp")
    top_down(os.path.join(work, "info-24bit.bmp"), flipped)
    files.append(flipped)
    missing = [path for path in given if not os.path.exists(path)]
    if missing:
        print(f"missing: {missing}")
        return 1
    return subprocess.run([judge, *files, *given]).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv))
