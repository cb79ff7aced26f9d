"""Boots Quillon on UEFI firmware under QEMU and brings back what it showed and saved.

    disks     the FAT disks, sticks and internal disks a boot uses, and reading them afterwards
    machines  each architecture's firmware (with or without Secure Boot) and QEMU's command line
    variables the firmware's variables, read from its variable-store file after a boot
    stores    variable stores as people's machines have them, made for the Secure Boot tests
    console   the serial console: its text, keys sent to it, and screens answered as they come
    screen    pictures of the display, through QEMU's monitor
    boot      one boot from start to power-off, and what it left
    cli       the command line behind `make run` (tools/qemu_run.py)
"""
