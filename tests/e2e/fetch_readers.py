#!/usr/bin/env python3
"""Fetches into the package cache, ahead of the boots that need them, the readers the end-to-end
tests boot after Quillon: Debian's kernels, busybox, Plymouth and its libraries, and the kernel's
DRM modules, for each release and architecture readers_test.py boots. Run as ctest's fixture before
those boots, so that one test waits on the archive while the rest of the suite goes on, rather than
every readers boot waiting on the cache's lock at once."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from quillon_run import linux, plymouth  # noqa: E402

# (release, architecture, with Plymouth)
READERS = [("13", "x64", True), ("13", "aa64", False), ("12", "x64", True)]


def main():
    for debian, arch, with_plymouth in READERS:
        print(f"fetch-readers: Debian {debian} {arch}: {linux.fetch_kernel(arch, debian)}", flush=True)
        linux.fetch_busybox(arch, debian)
        if with_plymouth:
            plymouth.fetch_packages(debian)
            plymouth.fetch_modules(debian)
    return 0


if __name__ == "__main__":
    sys.exit(main())
