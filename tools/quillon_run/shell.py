"""Booting an image through the UEFI Shell: the disk made for it, with the image, any programs to
run before it, and a startup.nsh that runs them, shows the exit status and powers off.

OVMF and AAVMF start their own shell when nothing else boots, and it runs the startup.nsh on the
first volume. U-Boot has no shell: the disk is then partitioned and carries the UEFI Shell taken
from Debian's firmware packages as its removable-media boot file, with the script beside it.
"""

import os

import uefi_shell

from . import disks
from . import linux
from . import machines
from . import plymouth

EXIT_MARKER = "QUILLON-EXIT"
DONE_MARKER = "QUILLON-SCRIPT-DONE"


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
    if options.kernel:
        lines.append(linux.shell_command(options))
    lines.append(f"echo {DONE_MARKER}")
    # U-Boot's x64 reset hangs when asked to power off; a plain reset ends QEMU all the same.
    lines.append("reset" if options.uboot() else "reset -s")
    return "\r\n".join(lines) + "\r\n"


def make_disk(options, work):
    """The boot's disk, as mtools names it."""
    # A kernel and its initramfs get room of their own, beside what the disk is asked to hold.
    kernel_files = (plymouth if options.plymouth else linux).files(options, work) if options.kernel else []
    kib = options.disk_kib + sum(os.path.getsize(source) // 1024 + 64 for source, _ in kernel_files)
    # U-Boot's x64 build finds no file system on a disk without a partition table.
    disk = disks.make_fat(os.path.join(work, "disk.img"), kib, partitioned=options.uboot())
    script = os.path.join(work, "startup.nsh")
    with open(script, "w", newline="") as handle:
        handle.write(startup_script(options))
    # Files a test puts there first come first, so they take the space they would on a used disk.
    for source, name in options.put:
        disks.put(disk, source, name)
    boot_name = machines.ARCHES[options.arch].boot_name
    if options.boot_manager:
        disks.make_folder(disk, "EFI")
        disks.make_folder(disk, "EFI/BOOT")
        disks.put(disk, options.image, "EFI/BOOT/" + boot_name)
    else:
        disks.put(disk, options.image, os.path.basename(options.image))
    for command in options.before:
        program, _ = program_and_arguments(command)
        disks.put(disk, program, os.path.basename(program))
    for source, name in kernel_files:
        disks.put(disk, source, name)
    if options.uboot():
        # The shell runs the startup.nsh beside it, in the removable-media boot folder.
        shell = uefi_shell.extract(options.arch, work)
        disks.make_folder(disk, "EFI")
        disks.make_folder(disk, "EFI/BOOT")
        disks.put(disk, shell, "EFI/BOOT/" + boot_name)
        disks.put(disk, script, "EFI/BOOT/startup.nsh")
    else:
        disks.put(disk, script, "startup.nsh")
    return disk
