#!/usr/bin/env python3
"""Makes the folder handed to people: the three images, the stick image and an xz-compressed copy,
a README.TXT, the hash MokManager shows for each stick program (ENROL-HASHES.TXT), and SHA256SUMS
over all of them. Reproducible as its inputs are: xz runs on one
thread, whose output depends on nothing but the input and the settings.

    make_dist.py IMAGE_DIR STICK_IMAGE OUTPUT_DIR
"""

import hashlib
import os
import shutil
import subprocess
import sys

import authenticode
import make_stick

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
IMAGES = ["Quillon.efi", "QuillonIA32.efi", "QuillonAA64.efi"]


def enrol_hashes(image_dir):
    """The text that lists each stick program's Authenticode SHA-256, as MokManager shows it."""
    lines = ["The hash MokManager shows under \"View key 0\" when you enrol the stick program of",
             "this release, for each kind of machine. Check it before you choose Yes.", ""]
    for arch, program in make_stick.stick_programs(image_dir):
        with open(program, "rb") as handle:
            lines.append(f"{authenticode.digest(handle.read())}  \\EFI\\BOOT\\grub{arch}.efi")
    return "\n".join(lines) + "\n"


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().split("\n\n")[-1])
        return 2
    image_dir, stick, output = argv
    if os.path.isdir(output):
        shutil.rmtree(output)
    os.makedirs(output)
    for name in IMAGES:
        shutil.copyfile(os.path.join(image_dir, name), os.path.join(output, name))
    shutil.copyfile(stick, os.path.join(output, "Quillon-stick.img"))
    with open(os.path.join(output, "Quillon-stick.img.xz"), "wb") as packed:
        subprocess.run(["xz", "-9", "--threads=1", "--stdout", stick], stdout=packed, check=True)
    with open(os.path.join(SOURCE, "stick", "DIST-README.TXT"), newline="") as source:
        text = source.read().replace("\r\n", "\n")
    with open(os.path.join(output, "README.TXT"), "w", newline="") as target:
        target.write(text.replace("\n", "\r\n"))
    with open(os.path.join(output, "ENROL-HASHES.TXT"), "w", newline="") as target:
        target.write(enrol_hashes(image_dir).replace("\n", "\r\n"))
    names = sorted(name for name in os.listdir(output))
    sums = []
    for name in names:
        with open(os.path.join(output, name), "rb") as handle:
            sums.append(f"{hashlib.sha256(handle.read()).hexdigest()}  {name}\n")
    with open(os.path.join(output, "SHA256SUMS"), "w") as handle:
        handle.writelines(sums)
    sys.stdout.writelines(sums)
    for name in ("Quillon-stick.img", "Quillon-stick.img.xz"):
        print(f"make-dist: {name}: {os.path.getsize(os.path.join(output, name)):,} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
