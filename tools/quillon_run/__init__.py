"""Boots Quillon on UEFI firmware under QEMU and brings back what it showed and saved.

    disks        the FAT disks, sticks and internal disks a boot uses, and reading them afterwards
    machines     each architecture's firmware (with or without Secure Boot) and QEMU's command line
    variables    the firmware's variables, read from its variable-store file after a boot
    stores       variable stores as people's machines have them, made for the Secure Boot tests
    console      the serial console: its text, when it came, and keys sent to it
    screen       QEMU's monitor: pictures of the display, and the machine's clock
    mok          shim's and MokManager's screens, answered as a person would
    stick_words  the stick program's first and last lines, read from its C++ source
    linux        Debian's Linux kernel, booted after Quillon to judge the verdict's Linux lines
    plymouth     an initramfs for that kernel that shows Plymouth's bgrt splash, to judge the
                 verdict's Plymouth line
    elf_file     the libraries and loader an ELF program asks for, and a kernel module's depends=
    watchers     what a boot's console is watched for, one quirk each: screens answered, U-Boot's
                 autoboot, the shell's key, the stick's restart key (at once, or after
                 minutes of the machine's time), a planned stop, a fault
    boot         one boot from start to power-off, its loop feeding the watchers, and what it left
    cli          the command line behind `make run` (tools/qemu_run.py), the one place a
                 RunnerError becomes a message and an exit status
"""


class RunnerError(Exception):
    """What the runner cannot do as asked: a tool missing, a machine Debian has no firmware for, a
    variable store it could not make. Library code raises it; the command lines turn it into their
    one line and exit status."""
