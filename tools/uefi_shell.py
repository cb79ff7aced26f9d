#!/usr/bin/env python3
"""Takes the UEFI Shell application out of Debian's firmware packages, for the stick and for the
firmware that has no shell of its own (U-Boot).

Each of Debian's firmware builds carries the shell inside its firmware volume, as the FFS file the
boot manager calls "EFI Internal Shell". UEFIExtract (Debian's uefitool-cli) writes that file's PE32
section body; the result is checked to be an EFI application for the architecture before it is
used. The shell is the package's, under the licence in the package's copyright file, which goes
wherever the shell goes. Nothing of it is kept in the repository.

    uefi_shell.py FOLDER [x64|ia32|aa64 ...]   writes Shell<ARCH>.efi for each (default: all three)
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile

SHELL_FILE = "7C04A583-9E3E-4F1C-AD65-E05268D0B4D1"
PE32_SECTION = "10"


class Firmware:
    def __init__(self, code, package, machine):
        self.code = code  # the firmware file that carries the shell
        self.package = package  # the Debian package it comes from
        self.machine = machine  # the PE machine type of its applications


FIRMWARE = {
    "x64": Firmware("/usr/share/OVMF/OVMF_CODE_4M.fd", "ovmf", 0x8664),
    "ia32": Firmware("/usr/share/OVMF/OVMF32_CODE_4M.secboot.fd", "ovmf-ia32", 0x014C),
    "aa64": Firmware("/usr/share/AAVMF/AAVMF_CODE.fd", "qemu-efi-aarch64", 0xAA64),
}
EFI_APPLICATION = 10


def shell_name(arch):
    return f"Shell{arch.upper()}.efi"


def copyright_file(arch):
    """The copyright and licence file of the package the shell comes from."""
    return f"/usr/share/doc/{FIRMWARE[arch].package}/copyright"


def pe_machine_and_subsystem(data):
    """(machine, subsystem) of a PE image, or None when the bytes are no PE image."""
    if len(data) < 64 or data[:2] != b"MZ":
        return None
    (header,) = struct.unpack_from("<I", data, 0x3C)
    if header + 0x5E > len(data) or data[header:header + 4] != b"PE\0\0":
        return None
    (machine,) = struct.unpack_from("<H", data, header + 4)
    # The subsystem sits at the same offset in the PE32 and PE32+ optional headers.
    (subsystem,) = struct.unpack_from("<H", data, header + 24 + 68)
    return machine, subsystem


def extract(arch, folder):
    """Writes the architecture's shell to FOLDER and returns its path; raises on any doubt."""
    firmware = FIRMWARE[arch]
    if shutil.which("UEFIExtract") is None:
        raise RuntimeError("UEFIExtract is missing; run tools/install-deps.sh")
    if not os.path.exists(firmware.code):
        raise RuntimeError(f"{firmware.code} is missing; run tools/install-deps.sh")
    os.makedirs(folder, exist_ok=True)
    target = os.path.join(folder, shell_name(arch))
    with tempfile.TemporaryDirectory(prefix="quillon-shell-") as work:
        dump = os.path.join(work, "dump")
        # UEFIExtract prints parse warnings for some volumes and still extracts a good file; its
        # exit status and the check below decide.
        done = subprocess.run(["UEFIExtract", firmware.code, SHELL_FILE, "-o", dump, "-m", "body", "-t", PE32_SECTION],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        bodies = [os.path.join(root, name) for root, _, names in os.walk(dump) for name in names if name == "body.bin"]
        if done.returncode != 0 or len(bodies) != 1:
            raise RuntimeError(f"UEFIExtract found no shell in {firmware.code} (status {done.returncode})")
        with open(bodies[0], "rb") as handle:
            data = handle.read()
    kind = pe_machine_and_subsystem(data)
    if kind != (firmware.machine, EFI_APPLICATION):
        raise RuntimeError(f"the shell from {firmware.code} is not an EFI application for {arch}: {kind}")
    with open(target, "wb") as handle:
        handle.write(data)
    return target


def main(argv):
    if not argv:
        print(__doc__.strip().split("\n\n")[-1])
        return 2
    folder, arches = argv[0], argv[1:] or sorted(FIRMWARE)
    for arch in arches:
        path = extract(arch, folder)
        print(f"uefi-shell: {path} from {FIRMWARE[arch].code} ({FIRMWARE[arch].package}, {os.path.getsize(path)} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
