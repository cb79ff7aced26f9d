#!/usr/bin/env python3
"""The image check against a copy of a built image with one fault that strict-NX firmware wants
absent: NX_COMPAT cleared, sections aligned to less than a page, the code section made writable,
the data section made executable; or, as the control, no fault at all.

    image_check_faults.py FAULT CHECK READOBJ IMAGE ARCH MOST_BYTES COPY

writes the copy, runs the check (tools/check-image.sh) on it and ends with the check's status; the
test names the words the check must refuse the copy with.
"""

import os
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import pe_image  # noqa: E402


def or_section(name, bits):
    """Sets bits in the named section's characteristics."""
    def fault(image):
        entry = dict(pe_image.section_headers(image))[name] + pe_image.SECTION_CHARACTERISTICS_AT
        characteristics, = struct.unpack_from("<I", image, entry)
        struct.pack_into("<I", image, entry, characteristics | bits)
    return fault


def without_nx_compat(image):
    at = pe_image.optional_header(image) + pe_image.DLL_CHARACTERISTICS_AT
    characteristics, = struct.unpack_from("<H", image, at)
    struct.pack_into("<H", image, at, characteristics & ~pe_image.IMAGE_DLLCHARACTERISTICS_NX_COMPAT)


def sections_aligned_to_512(image):
    struct.pack_into("<I", image, pe_image.optional_header(image) + pe_image.SECTION_ALIGNMENT_AT, 512)


FAULTS = {
    "none": lambda image: None,
    "no_nx_compat": without_nx_compat,
    "small_alignment": sections_aligned_to_512,
    "writable_code": or_section(".text", pe_image.IMAGE_SCN_MEM_WRITE),
    "executable_data": or_section(".data", pe_image.IMAGE_SCN_MEM_EXECUTE),
}


def main(argv):
    fault, check, readobj, image, arch, most, copy = argv
    with open(image, "rb") as handle:
        data = bytearray(handle.read())
    FAULTS[fault](data)
    os.makedirs(os.path.dirname(copy), exist_ok=True)
    with open(copy, "wb") as handle:
        handle.write(data)
    return subprocess.run([check, readobj, copy, arch, most]).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
