#!/usr/bin/env python3
"""Moves a linked EFI image's PE headers up against its DOS header, over the DOS stub, so that the
headers take one file block rather than two: 512 bytes less on every image.

lld-link writes a 64-byte DOS header, its 56-byte "This program cannot be run in DOS mode" stub,
then the PE headers; with four sections the headers end just past 512 bytes, and the file's first
section starts at 1024. No UEFI loader runs the stub: each reads e_lfanew, at 0x3C, to find the PE
signature. Moved to 64, the headers end at 488, SizeOfHeaders becomes 512, and every section's
file data moves 512 bytes down with its PointerToRawData. Nothing at a virtual address changes.
Images whose headers would not fit a block fewer are left as they are.

    compact-headers.py IMAGE
"""

import struct
import sys

import pe_image

DOS_HEADER_BYTES = 64


def main(path):
    with open(path, "rb") as handle:
        image = bytearray(handle.read())
    optional = pe_image.optional_header(image)
    header = optional - 24
    sections = pe_image.section_headers(image)
    file_alignment, = struct.unpack_from("<I", image, optional + 36)
    headers_size, = struct.unpack_from("<I", image, optional + 60)
    headers_end = sections[-1][1] + 40
    moved_end = DOS_HEADER_BYTES + headers_end - header
    compact = -(-moved_end // file_alignment) * file_alignment
    if header <= DOS_HEADER_BYTES or compact >= headers_size:
        return 0
    shift = headers_size - compact
    # Certificates would hold a file offset; these images are signed, if at all, only after this.
    magic, = struct.unpack_from("<H", image, optional)
    directories = optional + (112 if magic == 0x20B else 96)
    _, certificates_size = struct.unpack_from("<II", image, directories + 8 * 4)
    if certificates_size != 0:
        raise SystemExit(f"compact-headers: {path} is signed already; compact it before signing")
    pe_headers = image[header:headers_end]
    rest = image[headers_size:]
    out = bytearray(image[:DOS_HEADER_BYTES]) + pe_headers
    struct.pack_into("<I", out, 0x3C, DOS_HEADER_BYTES)
    out += bytes(compact - len(out))
    struct.pack_into("<I", out, DOS_HEADER_BYTES + 24 + 60, compact)
    for _, entry in sections:
        moved = entry - header + DOS_HEADER_BYTES
        pointer, = struct.unpack_from("<I", out, moved + 20)
        if pointer != 0:
            struct.pack_into("<I", out, moved + 20, pointer - shift)
    with open(path, "wb") as handle:
        handle.write(out + rest)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
