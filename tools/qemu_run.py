#!/usr/bin/env python3
"""Boots Quillon on UEFI firmware under QEMU and brings back what it printed and saved.

Makes a FAT disk image holding the image and a startup.nsh, boots QEMU with the architecture's
firmware (OVMF for x64 and IA32, AAVMF for AArch64; code read-only, a fresh copy of the variable
store, serial console captured, no network, a hard time bound, power-off when the script is done)
and copies the results out of the disk image. With `--firmware u-boot` the firmware is Debian's
U-Boot for QEMU instead, with the UEFI Shell from Debian's firmware packages on the disk. With
`--stick` the machine boots the stick image instead, attached as a USB stick, perhaps behind an
internal disk (`--internal`), and with `--secure-boot` on firmware that enforces Secure Boot with
Microsoft's keys, or `--store NAME` with the keys of a variable store as people's machines have it.
Used by `make run`; the end-to-end tests import the pieces from the quillon_run package, which
this file gathers under one name.
"""

import sys

from quillon_run.boot import Options, boot, boot_with  # noqa: F401
from quillon_run.cli import main
from quillon_run.console import Answer  # noqa: F401
from quillon_run.disks import (LOGO_NAME, check_fat, disk_file, folder_files, make_internal_disk, put,  # noqa: F401
                               read_file, volume_of)
from quillon_run.machines import ARCHES, OVMF_13_PLAIN, OVMF_13_STRICT_NX  # noqa: F401
from quillon_run.shell import EXIT_MARKER, make_disk  # noqa: F401

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:], __doc__.split("\n\n")[0]))
