#!/usr/bin/env python3
"""Makes the USB stick image: one disk image that boots on x64, IA32 and AArch64 UEFI firmware,
runs Quillon and leaves the logo and the report on the stick.

The layout is an MBR with one FAT32 partition (type 0x0C) from 1 MiB to the end. MBR rather than
GPT: a raw image written to a larger stick leaves a GPT's backup header in the middle of the stick,
where firmware and operating systems take it for a damaged table; an MBR has nothing at the end.
FAT32 because it is what firmware is surely tested with, and what Windows and macOS open, so the
person can take the logo off the stick on any computer. The disk holds:

    \\EFI\\BOOT\\BOOTX64.EFI, BOOTIA32.EFI, BOOTAA64.EFI   the UEFI Shell from Debian's firmware packages
    \\EFI\\BOOT\\startup.nsh                               the stick's script (stick/startup.nsh)
    \\EFI\\Quillon\\QuillonX64.efi, ...IA32, ...AA64, probe.nsh
    \\README.TXT                                         for a person who opens the stick
    \\LICENSES\\                                          the shell packages' copyright files

The image is reproducible: fixed disk signature and volume serial, SOURCE_DATE_EPOCH for every
time stamp (taken from the last commit when not set), files written in a fixed order.

    make_stick.py IMAGE_DIR OUTPUT      writes OUTPUT and prints its SHA-256
"""

import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qemu_run  # noqa: E402
import uefi_shell  # noqa: E402

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
STICK_BYTES = 48 * 1024 * 1024
PARTITION_OFFSET = 1024 * 1024
DISK_SIGNATURE = 0x51554C4E  # "QULN"
VOLUME_SERIAL = "51554C4E"
LABEL = "QUILLON"
# Build image name, name on the stick, the shell's architecture.
IMAGES = [("Quillon.efi", "QuillonX64.efi", "x64"), ("QuillonIA32.efi", "QuillonIA32.efi", "ia32"),
          ("QuillonAA64.efi", "QuillonAA64.efi", "aa64")]


def run(command, **kwargs):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, **kwargs)


def source_date_epoch():
    if "SOURCE_DATE_EPOCH" in os.environ:
        return os.environ["SOURCE_DATE_EPOCH"]
    done = subprocess.run(["git", "-C", SOURCE, "log", "-1", "--format=%ct"], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL)
    stamp = done.stdout.decode().strip()
    return stamp if done.returncode == 0 and stamp else "1700000000"


def crlf(source, target):
    """A text file with CR LF line ends, as the shell and Windows both read them."""
    with open(source, newline="") as handle:
        text = handle.read().replace("\r\n", "\n")
    with open(target, "w", newline="") as handle:
        handle.write(text.replace("\n", "\r\n"))


def make_stick(image_dir, output):
    epoch = source_date_epoch()
    environment = dict(os.environ, SOURCE_DATE_EPOCH=epoch, TZ="UTC")
    with tempfile.TemporaryDirectory(prefix="quillon-stick-") as work:
        disk = os.path.join(work, "stick.img")
        with open(disk, "wb") as handle:
            handle.truncate(STICK_BYTES)
        qemu_run.write_mbr(disk, STICK_BYTES, PARTITION_OFFSET, DISK_SIGNATURE)
        blocks = (STICK_BYTES - PARTITION_OFFSET) // 1024
        # One sector a cluster keeps FAT32 above its least cluster count on a small stick.
        run(["mkfs.fat", "-F", "32", "-s", "1", "--invariant", "-i", VOLUME_SERIAL, "-n", LABEL,
             "--offset", str(PARTITION_OFFSET // 512), disk, str(blocks)], env=environment)
        volume = f"{disk}@@{PARTITION_OFFSET}"

        def folder(name):
            run(["mmd", "-i", volume, "::/" + name], env=environment)

        def copy(source, name):
            run(["mcopy", "-i", volume, source, "::/" + name], env=environment)

        texts = os.path.join(work, "texts")
        os.makedirs(texts)
        for name in ("startup.nsh", "probe.nsh", "README.TXT"):
            crlf(os.path.join(SOURCE, "stick", name), os.path.join(texts, name))
        shells = os.path.join(work, "shells")

        folder("EFI")
        folder("EFI/BOOT")
        for arch in ("x64", "ia32", "aa64"):
            copy(uefi_shell.extract(arch, shells), f"EFI/BOOT/BOOT{arch.upper()}.EFI")
        copy(os.path.join(texts, "startup.nsh"), "EFI/BOOT/startup.nsh")
        folder("EFI/Quillon")
        for built, name, _ in IMAGES:
            copy(os.path.join(image_dir, built), "EFI/Quillon/" + name)
        copy(os.path.join(texts, "probe.nsh"), "EFI/Quillon/probe.nsh")
        copy(os.path.join(texts, "README.TXT"), "README.TXT")
        folder("LICENSES")
        for arch in ("x64", "ia32", "aa64"):
            copy(uefi_shell.copyright_file(arch), f"LICENSES/UEFI-Shell-{arch.upper()}.txt")
        os.makedirs(os.path.dirname(os.path.abspath(output)), exist_ok=True)
        shutil.copyfile(disk, output)
    with open(output, "rb") as handle:
        return hashlib.sha256(handle.read()).hexdigest()


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().split("\n\n")[-1])
        return 2
    digest = make_stick(argv[0], argv[1])
    print(f"{digest}  {argv[1]}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
