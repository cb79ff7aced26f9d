#!/usr/bin/env python3
"""The Authenticode SHA-256 of PE images: the digest a signature would sign, and the hash that
MokManager enrols and shows under "View key 0". It covers the headers but the checksum field and
the certificate table's directory entry, then each section's bytes in file order, then whatever
follows the sections but a certificate table.

    authenticode.py IMAGE...      prints each image's digest and name, as sha256sum does
"""

import hashlib
import struct
import sys


def digest(data):
    header = struct.unpack_from("<I", data, 0x3C)[0]
    optional = header + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    pe32_plus = magic == 0x20B
    checksum = optional + 64
    # The data directories follow the fixed fields: the certificate table is the fifth entry.
    directories = optional + (112 if pe32_plus else 96)
    certificate_entry = directories + 4 * 8
    certificate_offset, certificate_size = struct.unpack_from("<II", data, certificate_entry)
    headers_size = struct.unpack_from("<I", data, optional + 60)[0]

    hashed = hashlib.sha256()
    hashed.update(data[:checksum])
    hashed.update(data[checksum + 4:certificate_entry])
    hashed.update(data[certificate_entry + 8:headers_size])
    sections = struct.unpack_from("<H", data, header + 6)[0]
    table = optional + struct.unpack_from("<H", data, header + 20)[0]
    spans = []
    for index in range(sections):
        raw_size, raw_pointer = struct.unpack_from("<II", data, table + 40 * index + 16)
        if raw_size:
            spans.append((raw_pointer, raw_size))
    end = headers_size
    for pointer, size in sorted(spans):
        hashed.update(data[pointer:pointer + size])
        end = max(end, pointer + size)
    tail_end = len(data) - (certificate_size if certificate_offset else 0)
    if tail_end > end:
        hashed.update(data[end:tail_end])
    return hashed.hexdigest()


def main(paths):
    for path in paths:
        with open(path, "rb") as handle:
            print(f"{digest(handle.read())}  {path}")
    return 0


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__.strip().split("\n\n")[-1])
    sys.exit(main(sys.argv[1:]))
