#!/usr/bin/env python3
"""Makes the USB stick image: one disk image that boots on x64, IA32 and AArch64 UEFI firmware,
with Secure Boot on or off, runs Quillon's stick program and leaves the logo and the report on the
stick.

The layout is an MBR with one FAT32 partition (type 0x0C) from 1 MiB to the end. MBR rather than
GPT: a raw image written to a larger stick leaves a GPT's backup header in the middle of the stick,
where firmware and operating systems take it for a damaged table; an MBR has nothing at the end.
FAT32 because it is what firmware is surely tested with, and what Windows and macOS open, so the
person can take the logo off the stick on any computer. The disk holds:

    \\EFI\\BOOT\\grubx64.efi, grubaa64.efi, grubia32.efi   the stick program, which shim starts
    \\EFI\\BOOT\\BOOTX64.EFI, BOOTAA64.EFI, BOOTIA32.EFI   Debian's shim, signed for Microsoft's UEFI CA
    \\EFI\\BOOT\\mmx64.efi, mmaa64.efi, mmia32.efi         MokManager, which enrols the program's hash
    \\EFI\\Quillon\\QuillonX64.efi, ...IA32, ...AA64       Quillon, for people who have a shell
    \\README.TXT                                         for a person who opens the stick
    \\LICENSES\\                                          the shim packages' copyright files

Shim starts grub<arch>.efi from its own folder; under Secure Boot it asks MokManager to enrol the
program's hash first. MokManager lists a folder in the order its files were written, so the
programs go first, x64's at the top, where most people look. No fb<arch>.efi: shim runs its
fallback loader instead of the program when that is there. shim and MokManager come from Debian's
packages at build time (tools/shim_packages.py).

The image is reproducible: fixed disk signature and volume serial, SOURCE_DATE_EPOCH for every
time stamp (taken from the last commit when not set), files written in a fixed order.

    make_stick.py IMAGE_DIR OUTPUT      writes OUTPUT and prints its SHA-256 and the Authenticode
                                        SHA-256 of each stick program, as MokManager shows it
"""

import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import authenticode  # noqa: E402
import pe_image  # noqa: E402
import shim_packages  # noqa: E402
from quillon_run import disks  # noqa: E402

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
STICK_BYTES = 48 * 1024 * 1024
PARTITION_OFFSET = 1024 * 1024
DISK_SIGNATURE = 0x51554C4E  # "QULN"
VOLUME_SERIAL = "51554C4E"
LABEL = "QUILLON"
# Architecture, Quillon's image and its name on the stick, the stick program; x64 first, then
# AArch64, the two with Secure Boot on most machines.
ARCHES = [("x64", "Quillon.efi", "QuillonX64.efi", "QuillonStick.efi"),
          ("aa64", "QuillonAA64.efi", "QuillonAA64.efi", "QuillonStickAA64.efi"),
          ("ia32", "QuillonIA32.efi", "QuillonIA32.efi", "QuillonStickIA32.efi")]
# Debian's packages, kept between builds; never part of the repository.
PACKAGE_CACHE = os.environ.get("QUILLON_PACKAGE_CACHE", os.path.join(SOURCE, "build", "debian-packages"))


def stick_programs(image_dir):
    """(architecture, the stick program's path) for each architecture."""
    return [(arch, os.path.join(image_dir, program)) for arch, _, _, program in ARCHES]


def run(command, **kwargs):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, **kwargs)


def source_date_epoch():
    if "SOURCE_DATE_EPOCH" in os.environ:
        return os.environ["SOURCE_DATE_EPOCH"]
    done = subprocess.run(["git", "-C", SOURCE, "log", "-1", "--format=%ct"], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL)
    stamp = done.stdout.decode().strip()
    return stamp if done.returncode == 0 and stamp else "1700000000"


def crlf(source, target, **fields):
    """A text file with CR LF line ends, as Windows reads them; @NAME@ replaced by fields[NAME]."""
    with open(source, newline="") as handle:
        text = handle.read().replace("\r\n", "\n")
    for name, value in fields.items():
        text = text.replace(f"@{name}@", value)
    with open(target, "w", newline="") as handle:
        handle.write(text.replace("\n", "\r\n"))


def hash_lines(image_dir):
    """Each stick program's Authenticode SHA-256 as MokManager shows it: pairs, 16 a line."""
    lines = []
    for arch, program in stick_programs(image_dir):
        with open(program, "rb") as handle:
            pairs = [pair.upper() for pair in re.findall("..", authenticode.digest(handle.read()))]
        lines.append(f"  grub{arch}.efi:")
        lines += ["    " + " ".join(pairs[:16]), "    " + " ".join(pairs[16:])]
    return "\n".join(lines)


def shim_version(shim):
    """The version shim's .sbat section gives for the package: its last line that names shim."""
    section = pe_image.section(shim, ".sbat") or b""
    fields = [line.split(",") for line in section.decode("ascii", "replace").split("\n")]
    versions = [line[4] for line in fields if len(line) > 4 and line[3] == "shim"]
    return versions[-1] if versions else "?"


def shim_lines(shims):
    """Which shim the stick carries and what it writes to the firmware, from shim's own .sbat and
    .sbatlevel sections, one line for the architectures that agree; and a warning where Debian's
    archive has a newer shim than the pin. Asking the archive never fails the build."""
    said = {}
    for arch, shim in shims.items():
        with open(shim.shim, "rb") as handle:
            data = handle.read()
        level = shim_packages.sbat_levels(data)[0].decode("ascii").strip().split("\n")
        revoked = ", ".join(" ".join(line.split(",")) for line in level[1:]) or "nothing"
        package = dict(shim.versions)["shim-signed"]
        key = (f"shim {shim_version(data)} (shim-signed {package})",
               f"with Secure Boot on it sets the firmware's SbatLevel to {level[0]}: {revoked}")
        said.setdefault(key, []).append(arch)
    lines = [f"make-stick: {shim} for {', '.join(arches)}; {level}" for (shim, level), arches in said.items()]
    for arch in shims:
        for name, pinned, newer in shim_packages.newer_than_pinned(arch, PACKAGE_CACHE):
            lines.append(f"make-stick: warning: Debian's archive has {name} {newer} for {arch}, newer than "
                         f"{pinned}, the version tools/shim_packages.py pins")
    return lines


def make_stick(image_dir, output):
    epoch = source_date_epoch()
    environment = dict(os.environ, SOURCE_DATE_EPOCH=epoch, TZ="UTC")
    shims = {arch: shim_packages.fetch(arch, PACKAGE_CACHE) for arch, _, _, _ in ARCHES}
    for line in shim_lines(shims):
        print(line)
    with tempfile.TemporaryDirectory(prefix="quillon-stick-") as work:
        disk = os.path.join(work, "stick.img")
        with open(disk, "wb") as handle:
            handle.truncate(STICK_BYTES)
        disks.write_mbr(disk, STICK_BYTES, PARTITION_OFFSET, DISK_SIGNATURE)
        blocks = (STICK_BYTES - PARTITION_OFFSET) // 1024
        # One sector a cluster keeps FAT32 above its least cluster count on a small stick. The boot
        # sector's hidden sectors are the sectors before the partition, as the MBR has it.
        run(["mkfs.fat", "-F", "32", "-s", "1", "--invariant", "-i", VOLUME_SERIAL, "-n", LABEL,
             "--offset", str(PARTITION_OFFSET // 512), "-h", str(PARTITION_OFFSET // 512), disk, str(blocks)],
            env=environment)
        volume = f"{disk}@@{PARTITION_OFFSET}"

        def folder(name):
            run(["mmd", "-i", volume, "::/" + name], env=environment)

        def copy(source, name):
            run(["mcopy", "-i", volume, source, "::/" + name], env=environment)

        readme = os.path.join(work, "README.TXT")
        crlf(os.path.join(SOURCE, "stick", "README.TXT"), readme, HASHES=hash_lines(image_dir))

        folder("EFI")
        folder("EFI/BOOT")
        for arch, _, _, program in ARCHES:
            copy(os.path.join(image_dir, program), f"EFI/BOOT/grub{arch}.efi")
        for arch, _, _, _ in ARCHES:
            copy(shims[arch].shim, f"EFI/BOOT/BOOT{arch.upper()}.EFI")
        for arch, _, _, _ in ARCHES:
            copy(shims[arch].mok_manager, f"EFI/BOOT/mm{arch}.efi")
        folder("EFI/Quillon")
        for _, built, name, _ in ARCHES:
            copy(os.path.join(image_dir, built), "EFI/Quillon/" + name)
        copy(readme, "README.TXT")
        folder("LICENSES")
        licences = {}
        for arch, _, _, _ in ARCHES:
            licences.update(shims[arch].licences)
        for package in sorted(licences):
            copy(licences[package], f"LICENSES/{package}.txt")
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
    for arch, program in stick_programs(argv[0]):
        with open(program, "rb") as handle:
            print(f"make-stick: grub{arch}.efi, the hash MokManager shows: {authenticode.digest(handle.read())}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
