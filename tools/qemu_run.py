#!/usr/bin/env python3
"""Boots Quillon on UEFI firmware under QEMU and brings back what it printed and saved.

Makes a FAT disk image (mtools, no root, no loop devices) holding the image and a startup.nsh,
boots QEMU with the architecture's firmware (OVMF for x64 and IA32, AAVMF for AArch64; code
read-only, a fresh copy of the variable store, serial console captured, no network, a hard time
bound, power-off when the script is done) and copies the results out of the disk image. With
`--firmware u-boot` the firmware is Debian's U-Boot for QEMU instead, a second UEFI implementation
with no shell of its own: the disk is then partitioned and carries the UEFI Shell taken from
Debian's firmware packages as its removable-media boot file. With `--stick` the machine boots the
stick image instead, attached as a USB stick, perhaps behind an internal disk (`--internal`), and
the stick's own script runs. Used by `make run` and by the end-to-end tests, which import `boot`
from this file.
"""

import argparse
import dataclasses
import os
import re
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import uuid
import zlib

import uefi_shell

OVMF_DIR = "/usr/share/OVMF"
AAVMF_DIR = "/usr/share/AAVMF"
LOGO_NAME = "BIOSLogo.bmp"
EXIT_MARKER = "QUILLON-EXIT"
DONE_MARKER = "QUILLON-SCRIPT-DONE"
# The stick's script ends with this line, and leaves the shell waiting for a command.
STICK_DONE = b"Quillon: done."
# What each firmware prints when the processor faults: x64 and IA32 OVMF, AAVMF, and U-Boot.
EXCEPTION_MARKERS = (b"!!!! X64 Exception", b"!!!! IA32 Exception", b"Synchronous Exception at",
                     b"Synchronous Abort", b"### ERROR ###")
# Debian's U-Boot builds for QEMU, by architecture; "--firmware u-boot" chooses them.
UBOOT = {"x64": "/usr/lib/u-boot/qemu-x86_64/u-boot.rom", "aa64": "/usr/lib/u-boot/qemu_arm64/u-boot.bin"}
# Where the FAT file system starts on a partitioned disk, as mtools names it.
PARTITION_OFFSET = 1024 * 1024
ESCAPE_SEQUENCE = re.compile(rb"\x1b\[[0-9;=?]*[A-Za-z]")


@dataclasses.dataclass(frozen=True)
class Arch:
    qemu: str
    machine: str  # the default machine type
    code: str  # the firmware's code, Debian's build
    vars_template: str  # its variable store
    image: str  # the image's name in build/image
    boot_name: str  # what the boot manager starts from \EFI\BOOT


ARCHES = {
    "x64": Arch("qemu-system-x86_64", "q35", os.path.join(OVMF_DIR, "OVMF_CODE_4M.fd"), "",
                "Quillon.efi", "BOOTX64.EFI"),
    # Debian's only IA32 build has Secure Boot, which needs SMM; no keys are enrolled, so nothing is enforced.
    "ia32": Arch("qemu-system-i386", "q35", os.path.join(OVMF_DIR, "OVMF32_CODE_4M.secboot.fd"),
                 os.path.join(OVMF_DIR, "OVMF32_VARS_4M.fd"), "QuillonIA32.efi", "BOOTIA32.EFI"),
    "aa64": Arch("qemu-system-aarch64", "virt", os.path.join(AAVMF_DIR, "AAVMF_CODE.fd"),
                 os.path.join(AAVMF_DIR, "AAVMF_VARS.fd"), "QuillonAA64.efi", "BOOTAA64.EFI"),
}


@dataclasses.dataclass
class Options:
    image: str
    arch: str = "x64"
    machine: str = ""  # empty: the architecture's default
    code: str = ""  # empty: the architecture's firmware
    vars_template: str = ""  # empty: the template that goes with the code file
    memory: str = "256M"
    read_only: bool = False
    no_display: bool = False
    boot_manager: bool = False  # started as \EFI\BOOT\BOOT<arch>.EFI by the boot manager
    put: list = dataclasses.field(default_factory=list)  # (host path, name on the disk)
    before: list = dataclasses.field(default_factory=list)  # "program [arguments]" run before Quillon
    disk_kib: int = 32768
    timeout: float = 120.0
    work: str = ""  # empty: a fresh temporary folder
    echo: bool = False  # show the console as it comes
    stick: str = ""  # a stick image to boot from, attached as a USB stick (a copy of it is used)
    internal: str = ""  # an internal disk image (a copy is used), ahead of the stick in the boot order
    internal_bus: str = "sata"  # sata or nvme
    screen: str = ""  # WxH: the display device's preferred size; empty: QEMU's default

    def uboot(self):
        return self.code == "u-boot"


@dataclasses.dataclass
class Result:
    console: str  # the serial console, escape sequences removed, lines ended by "\n"
    exit_status: int | None  # %lasterror% after Quillon, when the script got that far
    script_done: bool
    powered_off: bool
    exception: bool
    seconds: float
    disk: str  # the disk as mtools names it: the image, and the partition's offset where it has one
    logo: bytes | None  # BIOSLogo.bmp from the disk afterwards
    files: list  # the names in the disk's root afterwards
    problem: str  # empty when the boot went as planned
    internal: str = ""  # the internal disk as mtools names it, when there was one

    def lines(self):
        return self.console.split("\n")


def say(message):
    print(f"quillon-run: {message}", flush=True)


def run(command, **kwargs):
    return subprocess.run(command, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)


def firmware_files(options):
    """The firmware's code and variable-store template for these options."""
    arch = ARCHES[options.arch]
    code = options.code or arch.code
    if options.vars_template:
        return code, options.vars_template
    if code == arch.code and arch.vars_template:
        return code, arch.vars_template
    # An x64 OVMF: the 4 MiB code file pairs with the 4 MiB variable store, the 2 MiB one with the 2 MiB store.
    folder = os.path.dirname(code)
    name = "OVMF_VARS_4M.fd" if "_4M" in os.path.basename(code) else "OVMF_VARS.fd"
    return code, os.path.join(folder, name)


def program_and_arguments(command):
    """A --before item: the program's path, then its arguments as the script passes them."""
    program, _, arguments = command.partition(" ")
    return program, arguments


def startup_script(options):
    # On U-Boot the disk is FS0: as well, as the firmware has no other file system.
    lines = ["@echo -off", "fs0:"]
    for command in options.before:
        program, arguments = program_and_arguments(command)
        lines.append(f"{os.path.basename(program)} {arguments}".rstrip())
    if not options.boot_manager:
        lines.append(os.path.basename(options.image))
        lines.append(f"echo {EXIT_MARKER} %lasterror%")
    lines.append(f"echo {DONE_MARKER}")
    # U-Boot's x64 reset hangs when asked to power off; a plain reset ends QEMU all the same.
    lines.append("reset" if options.uboot() else "reset -s")
    return "\r\n".join(lines) + "\r\n"


def write_mbr(path, total_bytes, partition_offset, signature=0x51554C4E):
    """An MBR with one FAT partition (type 0x0C, addressed by LBA) from partition_offset to the end of the disk."""
    mbr = bytearray(512)
    struct.pack_into("<I", mbr, 440, signature)
    first, count = partition_offset // 512, (total_bytes - partition_offset) // 512
    # Boot flag, CHS start (unused: LBA), type 0x0C, CHS end (unused), first sector, sector count.
    mbr[446:462] = struct.pack("<B3sB3sII", 0, b"\xfe\xff\xff", 0x0C, b"\xfe\xff\xff", first, count)
    mbr[510:512] = b"\x55\xaa"
    with open(path, "r+b") as handle:
        handle.write(mbr)


def disk_file(disk):
    """The image file of a disk as mtools names it."""
    return disk.split("@@")[0]


def make_disk(options, work):
    disk = os.path.join(work, "disk.img")
    if os.path.exists(disk):
        os.remove(disk)
    if options.uboot():
        # U-Boot's x64 build finds no file system on a disk without a partition table.
        with open(disk, "wb") as handle:
            handle.truncate(options.disk_kib * 1024)
        write_mbr(disk, options.disk_kib * 1024, PARTITION_OFFSET)
        blocks = (options.disk_kib * 1024 - PARTITION_OFFSET) // 1024
        run(["mkfs.fat", "-F", "16", "--offset", str(PARTITION_OFFSET // 512), "-n", "QUILLON", disk, str(blocks)])
        disk = f"{disk}@@{PARTITION_OFFSET}"
    else:
        run(["mkfs.fat", "-C", "-n", "QUILLON", disk, str(options.disk_kib)])
    script = os.path.join(work, "startup.nsh")
    with open(script, "w", newline="") as handle:
        handle.write(startup_script(options))

    def copy(source, name):
        run(["mcopy", "-o", "-i", disk, source, "::/" + name])

    # Files a test puts there first come first, so they take the space they would on a used disk.
    for source, name in options.put:
        copy(source, name)
    if options.boot_manager:
        run(["mmd", "-i", disk, "::/EFI", "::/EFI/BOOT"])
        copy(options.image, "EFI/BOOT/" + ARCHES[options.arch].boot_name)
    else:
        copy(options.image, os.path.basename(options.image))
    for command in options.before:
        program, _ = program_and_arguments(command)
        copy(program, os.path.basename(program))
    if options.uboot():
        # The shell runs the startup.nsh beside it, in the removable-media boot folder.
        arch = ARCHES[options.arch]
        shell = uefi_shell.extract(options.arch, work)
        run(["mmd", "-i", disk, "::/EFI", "::/EFI/BOOT"])
        copy(shell, "EFI/BOOT/" + arch.boot_name)
        copy(script, "EFI/BOOT/startup.nsh")
    else:
        copy(script, "startup.nsh")
    return disk


def partition_offset(path):
    """Where the first partition of a disk image starts (MBR or GPT), or 0 for a bare file system."""
    with open(path, "rb") as handle:
        sectors = handle.read(1024)
    if sectors[510:512] != b"\x55\xaa" or sectors[450] == 0:
        return 0
    if sectors[450] == 0xEE:  # GPT: the first entry's first LBA
        with open(path, "rb") as handle:
            handle.seek(1024)
            (first,) = struct.unpack_from("<Q", handle.read(128), 32)
        return first * 512
    (first,) = struct.unpack_from("<I", sectors, 454)
    return first * 512


def volume_of(path):
    """A disk image's file system as mtools names it."""
    offset = partition_offset(path)
    return f"{path}@@{offset}" if offset else path


def write_gpt(path, total_bytes, first_lba=2048):
    """A GPT with one EFI System Partition from first_lba to the last usable sector, and the
    protective MBR before it; fixed identifiers, so the same disk comes out every time."""
    sectors = total_bytes // 512
    last_usable = sectors - 34
    entry = bytearray(128)
    entry[0:16] = uuid.UUID("C12A7328-F81F-11D2-BA4B-00A0C93EC93B").bytes_le
    entry[16:32] = uuid.UUID("51554C4E-0000-4000-8000-000000000001").bytes_le
    struct.pack_into("<QQQ", entry, 32, first_lba, last_usable, 0)
    entry[56:56 + 20] = "EFI System".encode("utf-16-le")
    entries = bytes(entry) + bytes(127 * 128)
    entries_crc = zlib.crc32(entries)

    def header(current, backup, entries_lba):
        fields = bytearray(struct.pack("<8sIIIIQQQQ16sQIII", b"EFI PART", 0x00010000, 92, 0, 0, current, backup, 34,
                                       last_usable, uuid.UUID("51554C4E-0000-4000-8000-000000000000").bytes_le,
                                       entries_lba, 128, 128, entries_crc))
        struct.pack_into("<I", fields, 16, zlib.crc32(fields))
        return bytes(fields) + bytes(512 - len(fields))

    mbr = bytearray(512)
    mbr[446:462] = struct.pack("<B3sB3sII", 0, b"\x00\x02\x00", 0xEE, b"\xff\xff\xff", 1, min(sectors - 1, 0xFFFFFFFF))
    mbr[510:512] = b"\x55\xaa"
    with open(path, "r+b") as handle:
        handle.write(mbr + header(1, sectors - 1, 2) + entries)
        handle.seek((sectors - 33) * 512)
        handle.write(entries + header(sectors - 1, 1, sectors - 33))


def make_internal_disk(path, files, total_bytes=64 * 1024 * 1024):
    """An internal disk as an installed system has one: GPT, a FAT EFI System Partition holding
    these files ((host path, name) pairs). Returns its file system as mtools names it."""
    with open(path, "wb") as handle:
        handle.truncate(total_bytes)
    write_gpt(path, total_bytes)
    blocks = (total_bytes - 2048 * 512 - 34 * 512) // 1024
    run(["mkfs.fat", "--offset", "2048", "-n", "INTERNAL", path, str(blocks)])
    volume = volume_of(path)
    for source, name in files:
        run(["mcopy", "-o", "-i", volume, source, "::/" + name])
    return volume


def qemu_command(options, disk, vars_copy):
    arch = ARCHES[options.arch]
    machine = options.machine or arch.machine
    if machine == "i440fx":
        machine = "pc"
    disk = disk_file(disk)
    command = [
        arch.qemu,
        "-m", options.memory,
        "-display", "none",
        "-chardev", "stdio,id=console,signal=off",
        "-serial", "chardev:console",
        "-monitor", "none",
        "-nic", "none",
        "-no-reboot",
    ]
    if options.uboot():
        command += ["-bios", UBOOT[options.arch]]
    else:
        code, _ = firmware_files(options)
        command += ["-drive", f"if=pflash,format=raw,unit=0,readonly=on,file={code}",
                    "-drive", f"if=pflash,format=raw,unit=1,file={vars_copy}"]
    if options.arch == "aa64":
        # The virt machine has no display of its own: without one the firmware publishes no BGRT.
        command += ["-machine", f"{machine},accel=tcg", "-cpu", "cortex-a57"]
        if not options.no_display:
            command += ["-device", "virtio-gpu-pci" + screen_size(options)]
    else:
        smm = ",smm=on" if options.arch == "ia32" else ""
        command += ["-machine", f"{machine}{smm},accel=tcg"]
        if options.no_display:
            command += ["-vga", "none"]
        elif options.screen:
            command += ["-vga", "none", "-device", "VGA" + screen_size(options)]
        else:
            command += ["-vga", "std"]
        if options.arch == "ia32" and not options.uboot():
            command += ["-global", "driver=cfi.pflash01,property=secure,value=on"]
    if options.stick:
        # The stick on a USB 3 controller, behind the internal disk in the boot order when there is one.
        command += ["-device", "qemu-xhci,id=xhci",
                    "-drive", f"if=none,id=stick,file={disk_file(disk)},format=raw{',readonly=on' if options.read_only else ''}",
                    "-device", f"usb-storage,bus=xhci.0,drive=stick,bootindex={1 if options.internal else 0}"]
        if options.internal:
            internal = disk_file(options_internal_copy(options))
            command += ["-drive", f"if=none,id=internal,file={internal},format=raw"]
            if options.internal_bus == "nvme":
                command += ["-device", "nvme,serial=QUILLON-INTERNAL,drive=internal,bootindex=0"]
            else:
                command += ["-device", "ide-hd,drive=internal,bus=ide.0,bootindex=0"]
        return command
    if options.read_only or options.arch == "aa64":
        # QEMU's default AHCI and IDE disks refuse readonly=on, and virt has neither; virtio-blk serves both.
        read_only = ",readonly=on" if options.read_only else ""
        command += ["-drive", f"if=none,id=disk,file={disk},format=raw{read_only}",
                    "-device", "virtio-blk-pci,drive=disk"]
    else:
        command += ["-drive", f"file={disk},format=raw"]
    return command


def screen_size(options):
    """The display device's properties for a preferred size, which the firmware starts in."""
    if not options.screen:
        return ""
    width, _, height = options.screen.partition("x")
    return f",xres={int(width)},yres={int(height)}"


def options_internal_copy(options):
    """Where the boot's copy of the internal disk lies."""
    return os.path.join(options.work, "internal.img")


def clean(raw):
    text = ESCAPE_SEQUENCE.sub(b"", raw).decode("latin-1")
    # U-Boot's console turns the shell's CR LF into CR CR LF.
    return text.replace("\r\r\n", "\n").replace("\r\n", "\n").replace("\r", "\n")


class ConsoleEcho:
    """Shows finished console lines as they arrive, without the terminal's escape sequences."""

    def __init__(self, enabled):
        self.enabled = enabled
        self.shown = 0

    def update(self, raw, final=False):
        if not self.enabled:
            return
        text = clean(raw)
        end = len(text) if final else text.rfind("\n") + 1
        if end > self.shown:
            sys.stdout.write(text[self.shown:end])
            if final and not text.endswith("\n"):
                sys.stdout.write("\n")
            sys.stdout.flush()
            self.shown = end


def boot(options):
    """Runs one boot and returns what it showed and saved. Never raises for a failed boot."""
    for tool in (ARCHES[options.arch].qemu, "mkfs.fat", "mcopy"):
        if shutil.which(tool) is None:
            raise SystemExit(f"quillon-run: {tool} is missing; run tools/install-deps.sh")
    if options.uboot() and options.arch not in UBOOT:
        raise SystemExit(f"quillon-run: Debian has no U-Boot for QEMU's {options.arch}; only for {', '.join(UBOOT)}")
    work = options.work = options.work or tempfile.mkdtemp(prefix="quillon-qemu-")
    os.makedirs(work, exist_ok=True)
    internal = ""
    if options.stick:
        # Copies, so that a boot never changes the images it was given.
        shutil.copyfile(options.stick, os.path.join(work, "stick.img"))
        disk = volume_of(os.path.join(work, "stick.img"))
        if options.internal:
            shutil.copyfile(options.internal, options_internal_copy(options))
            internal = volume_of(options_internal_copy(options))
    else:
        disk = make_disk(options, work)
    vars_copy = os.path.join(work, "vars.fd")
    if not options.uboot():
        shutil.copyfile(firmware_files(options)[1], vars_copy)

    command = qemu_command(options, disk, vars_copy)
    started = time.monotonic()
    process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    raw = b""
    errors = b""
    key_sent = False
    autoboot_stopped = False
    bootargs_cleared = False
    powered_off_asked = False
    exception = False
    timed_out = False
    echo = ConsoleEcho(options.echo)
    streams = [process.stdout, process.stderr]
    last_output = started
    while streams:
        remaining = options.timeout - (time.monotonic() - started)
        if remaining <= 0:
            timed_out = True
            break
        readable, _, _ = select.select(streams, [], [], min(remaining, 1.0))
        for stream in readable:
            chunk = os.read(stream.fileno(), 65536)
            if not chunk:
                streams.remove(stream)
            elif stream is process.stdout:
                raw += chunk
                last_output = time.monotonic()
            else:
                errors += chunk
        echo.update(raw)
        if options.echo and time.monotonic() - last_output >= 10:
            say(f"no console output for 10 s; still waiting ({time.monotonic() - started:.0f} s of "
                f"{options.timeout:.0f} s)")
            last_output = time.monotonic()
        # U-Boot on x64 hands its kernel command line to the shell, which then skips startup.nsh:
        # stop the autoboot countdown, clear the command line and boot as before.
        if options.uboot() and not autoboot_stopped and b"Hit any key to stop autoboot" in raw:
            process.stdin.write(b" ")
            process.stdin.flush()
            autoboot_stopped = True
        if autoboot_stopped and not bootargs_cleared and raw.rstrip().endswith(b"=>"):
            process.stdin.write(b"setenv bootargs\r")
            process.stdin.flush()
            time.sleep(0.2)
            process.stdin.write(b"boot\r")
            process.stdin.flush()
            bootargs_cleared = True
        # The stick's script leaves the shell at its prompt for the person; the runner powers off.
        if options.stick and not powered_off_asked and STICK_DONE in raw and clean(raw).rstrip().endswith(">"):
            process.stdin.write(b"reset -s\r")
            process.stdin.flush()
            powered_off_asked = True
        # The shell waits five seconds before running startup.nsh unless a key other than ESC comes.
        if not key_sent and b"startup.nsh" in raw and b"any other key" in raw:
            process.stdin.write(b"\r")
            process.stdin.flush()
            key_sent = True
        if any(marker in raw for marker in EXCEPTION_MARKERS):
            exception = True
            time.sleep(0.5)  # let the register dump arrive
            break
    if process.poll() is None:
        process.kill()
    process.wait()
    seconds = time.monotonic() - started
    echo.update(raw, final=True)

    console = clean(raw)
    with open(os.path.join(work, "console.raw"), "wb") as handle:
        handle.write(raw)
    with open(os.path.join(work, "console.log"), "w") as handle:
        handle.write(console)

    exit_status = None
    marker = "Quillon: exit status" if options.stick else EXIT_MARKER
    found = re.search(marker + r" (0x[0-9A-Fa-f]+|[0-9]+)", console)
    if found:
        exit_status = int(found.group(1), 0)
    script_done = (STICK_DONE.decode() if options.stick else DONE_MARKER) in console
    powered_off = not timed_out and not exception and process.returncode == 0

    problem = ""
    if exception:
        problem = "the firmware reported a processor exception"
    elif timed_out:
        problem = f"the machine did not power off within {options.timeout:.0f} s"
    elif process.returncode != 0:
        problem = f"QEMU failed (status {process.returncode}): {errors.decode(errors='replace').strip()}"
    elif not script_done:
        problem = "the machine powered off before startup.nsh finished"

    logo = None
    files = root_files(disk)
    if LOGO_NAME.lower() in (name.lower() for name in files):
        copied = os.path.join(work, LOGO_NAME)
        run(["mcopy", "-o", "-n", "-i", disk, "::/" + LOGO_NAME, copied])
        with open(copied, "rb") as handle:
            logo = handle.read()
    return Result(console, exit_status, script_done, powered_off, exception, seconds, disk, logo, files, problem,
                  internal)


def root_files(disk):
    """The names in the root of a FAT disk image, long names where the files have them."""
    listing = subprocess.run(["mdir", "-b", "-i", disk, "::/"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    return [line.strip().removeprefix("::/") for line in listing.stdout.decode(errors="replace").splitlines()
            if line.strip()]


def check_fat(disk):
    """fsck.fat's verdict on the disk's file system, changing nothing: (clean, what it said)."""
    path, _, offset = disk.partition("@@")
    with tempfile.TemporaryDirectory(prefix="quillon-fsck-") as work:
        if offset:
            # fsck.fat reads a file system from its first byte; the partition's bytes alone.
            volume = os.path.join(work, "volume.img")
            with open(path, "rb") as source, open(volume, "wb") as target:
                source.seek(int(offset))
                shutil.copyfileobj(source, target)
            path = volume
        done = subprocess.run(["fsck.fat", "-n", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return done.returncode == 0, done.stdout.decode(errors="replace")


def bitmap_header(data):
    """(width, height, bits per pixel) from a BMP file's headers."""
    if len(data) < 30 or data[:2] != b"BM":
        return None
    width, height = struct.unpack_from("<ii", data, 18)
    (bits,) = struct.unpack_from("<H", data, 28)
    return width, abs(height), bits


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--arch", default="x64", choices=sorted(ARCHES),
                        help="the firmware's architecture: x64 (OVMF), ia32 (32-bit OVMF) or aa64 (AAVMF)")
    parser.add_argument("--image", default="", help="the image to boot (default: the architecture's in build/image)")
    parser.add_argument("--out", default="out", help="folder for console.log, BIOSLogo.bmp and BIOSLogo.png")
    parser.add_argument("--machine", default="", choices=["", "q35", "pc", "i440fx", "virt"],
                        help="QEMU machine type (default q35, or virt on aa64)")
    parser.add_argument("--firmware", default="",
                        help="firmware code file (any build; default Debian's build for the architecture), "
                             "or u-boot for Debian's U-Boot (x64 and aa64) with the UEFI Shell on the disk")
    parser.add_argument("--vars", default="", help="variable-store template (default: the one beside the code)")
    parser.add_argument("--memory", default="256M", help="guest memory, as QEMU's -m takes it")
    parser.add_argument("--read-only", action="store_true", help="attach the disk read-only (virtio-blk)")
    parser.add_argument("--no-display", action="store_true", help="boot without a display device")
    parser.add_argument("--screen", default="", metavar="WxH",
                        help="the display device's preferred size, such as 640x480 or 1920x1080")
    parser.add_argument("--boot-manager", action="store_true",
                        help="install Quillon as \\EFI\\BOOT\\BOOTX64.EFI for the boot manager instead of the shell")
    parser.add_argument("--put", action="append", default=[], metavar="FILE[=NAME]",
                        help="put FILE on the disk first (as NAME)")
    parser.add_argument("--before", action="append", default=[], metavar="'EFI [ARGS]'",
                        help="an EFI program to run from startup.nsh before Quillon, with its arguments")
    parser.add_argument("--disk-kib", type=int, default=32768, help="size of the FAT disk image in KiB")
    parser.add_argument("--stick", default="", metavar="IMAGE",
                        help="boot this stick image (make stick) as a USB stick instead of a disk made here")
    parser.add_argument("--internal", default="", metavar="IMAGE",
                        help="with --stick: an internal disk image ahead of the stick in the boot order")
    parser.add_argument("--internal-bus", default="sata", choices=["sata", "nvme"], help="the internal disk's bus")
    parser.add_argument("--timeout", type=float, default=120.0, help="seconds before a boot counts as hung")
    parser.add_argument("--work", default="", help="keep the disk image and logs in this folder")
    parser.add_argument("--quiet", action="store_true", help="do not show the console as it comes")
    return parser.parse_args(argv)


def main(argv):
    arguments = parse_arguments(argv)
    if not arguments.image:
        arguments.image = os.path.join("build", "image", ARCHES[arguments.arch].image)
    if not os.path.isfile(arguments.image):
        say(f"{arguments.image} does not exist; build it with `make image`")
        return 1
    put = []
    for item in arguments.put:
        source, _, name = item.partition("=")
        put.append((source, name or os.path.basename(source)))
    options = Options(image=arguments.image, arch=arguments.arch, machine=arguments.machine, code=arguments.firmware,
                      vars_template=arguments.vars, memory=arguments.memory, read_only=arguments.read_only,
                      no_display=arguments.no_display, boot_manager=arguments.boot_manager, put=put,
                      before=arguments.before, disk_kib=arguments.disk_kib, timeout=arguments.timeout,
                      work=arguments.work, echo=not arguments.quiet, stick=arguments.stick,
                      internal=arguments.internal, internal_bus=arguments.internal_bus, screen=arguments.screen)

    if options.stick:
        say(f"booting from {options.stick} as a USB stick" + (f", behind {options.internal}" if options.internal else ""))
    else:
        say(f"making a {options.disk_kib} KiB FAT disk with {os.path.basename(options.image)} and startup.nsh")
    code = UBOOT.get(options.arch, "u-boot") if options.uboot() else firmware_files(options)[0]
    machine = options.machine or ARCHES[options.arch].machine
    say(f"booting {os.path.basename(code)} on QEMU's {options.arch} {machine} machine under software "
        f"emulation; the firmware takes a few seconds before the shell starts (bound {options.timeout:.0f} s)")
    result = boot(options)

    os.makedirs(arguments.out, exist_ok=True)
    for name in ("console.log", LOGO_NAME, "BIOSLogo.png"):
        path = os.path.join(arguments.out, name)
        if os.path.exists(path):
            os.remove(path)
    console_path = os.path.join(arguments.out, "console.log")
    with open(console_path, "w") as handle:
        handle.write(result.console)

    if result.problem:
        say(f"boot failed after {result.seconds:.1f} s: {result.problem}; console in {console_path}")
        return 1
    say(f"powered off after {result.seconds:.1f} s; Quillon's exit status {result.exit_status:#x}"
        if result.exit_status is not None else f"powered off after {result.seconds:.1f} s")
    if result.logo is None:
        say(f"no {LOGO_NAME} was saved; console in {console_path}")
        return 0 if result.exit_status == 0 else 2
    logo_path = os.path.join(arguments.out, LOGO_NAME)
    with open(logo_path, "wb") as handle:
        handle.write(result.logo)
    png_path = os.path.join(arguments.out, "BIOSLogo.png")
    # Debian's ImageMagick, by its full path where it is there, ahead of any other convert on PATH.
    convert = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"
    converted = subprocess.run([convert, logo_path, png_path], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    shape = bitmap_header(result.logo)
    described = f"{shape[0]} x {shape[1]}, {shape[2]} bits per pixel" if shape else "not a BMP"
    png_note = f", PNG {png_path}" if converted.returncode == 0 else " (ImageMagick could not convert it)"
    say(f"console {console_path}; logo {logo_path} ({described}, {len(result.logo)} bytes){png_note}")
    return 0 if result.exit_status == 0 else 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
