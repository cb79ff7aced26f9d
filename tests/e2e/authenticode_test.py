#!/usr/bin/env python3
"""The Authenticode SHA-256 that `make stick` prints and MokManager must show, against pesign's:
for the stick programs and Quillon's images, which carry no signature, and for Debian's shim and
MokManager, whose signature the hash must leave out.

    authenticode_test.py IMAGE_DIR      (the shim packages from `make stick`'s cache)
"""

import glob
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import authenticode  # noqa: E402
import make_stick  # noqa: E402
import shim_packages  # noqa: E402


def pesign_digest(path):
    done = subprocess.run(["pesign", "-h", "-i", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=True)
    return done.stdout.decode().split("hash:")[1].split()[0]


def main(image_dir, cache=make_stick.PACKAGE_CACHE):
    images = sorted(glob.glob(os.path.join(image_dir, "Quillon*.efi")))
    signed = []
    for arch in shim_packages.DEBIAN_ARCH:
        shim = shim_packages.fetch(arch, cache)
        signed += [shim.shim, shim.mok_manager]
    failures = 0
    for path in images + signed:
        with open(path, "rb") as handle:
            ours = authenticode.digest(handle.read())
        theirs = pesign_digest(path)
        verdict = "same" if ours == theirs else "DIFFERENT"
        failures += ours != theirs
        print(f"{verdict}: {ours} {theirs} {os.path.basename(path)}")
    if len(images) < 6:
        print(f"FAIL: only {len(images)} of Quillon's images and stick programs in {image_dir}")
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().split("\n\n")[-1])
    sys.exit(main(sys.argv[1]))
