#!/usr/bin/env python3
"""Marks the sections of a linked EFI image that have no bytes in the file as uninitialised data.

lld-link gives zero-initialised globals a section with no file data (and a file offset of 0), but
flags it as initialised data. A strict loader such as shim then takes the section to lie inside
the image's headers and refuses the image. Flagged as uninitialised data, which is what it is, the
section is zero-filled by every loader, and the image keeps its size: file data for it would cost
a whole file block. The optional header's sizes of initialised and uninitialised data follow.

    mark-uninitialised.py IMAGE
"""

import struct
import sys

INITIALISED = 0x40
UNINITIALISED = 0x80


def main(path):
    with open(path, "r+b") as handle:
        image = bytearray(handle.read())
        header = struct.unpack_from("<I", image, 0x3C)[0]
        sections = struct.unpack_from("<H", image, header + 6)[0]
        optional = header + 24
        optional_bytes = struct.unpack_from("<H", image, header + 20)[0]
        file_alignment = struct.unpack_from("<I", image, optional + 36)[0]
        initialised = uninitialised = 0
        for index in range(sections):
            entry = optional + optional_bytes + 40 * index
            virtual_size, _, raw_size, raw_pointer = struct.unpack_from("<IIII", image, entry + 8)
            flags = struct.unpack_from("<I", image, entry + 36)[0]
            if raw_size == 0 and raw_pointer == 0 and flags & INITIALISED:
                flags = flags & ~INITIALISED | UNINITIALISED
                struct.pack_into("<I", image, entry + 36, flags)
            if flags & UNINITIALISED:
                uninitialised += -(-virtual_size // file_alignment) * file_alignment
            elif flags & INITIALISED:
                initialised += raw_size
        struct.pack_into("<II", image, optional + 8, initialised, uninitialised)
        handle.seek(0)
        handle.write(image)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().split("\n\n")[-1])
    main(sys.argv[1])
