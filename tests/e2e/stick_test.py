#!/usr/bin/env python3
"""End-to-end tests of the USB stick: the stick image booted as a USB stick by each firmware's boot
manager, which starts Debian's shim, which starts the stick program.

Each scenario is one ctest test: `stick_test.py SCENARIO --arch ARCH --image-dir DIR --shared DIR
--work DIR`. The oracles are the bytes on the stick and on any internal disk after QEMU has
exited, fsck.fat, the firmware logo the typical x64 run saved, the Authenticode hash computed here
(which MokManager must show), the firmware's and shim's own words on the console, and the
machine's own clock.
"""

import os
import re
import shutil
import struct
import sys

# support first: it puts tools/ on the path, for the imports after it.
from support import (Failure, bitmap, boot, check, check_only_added, check_stick_clean, check_unchanged, identify,
                     pixels, qemu_run, run_scenario, saved_file, scenarios_in, typical_file)
from stick_support import (FIRST_LINE, LAST_LINE, LOGO_ON_STICK, NO_BGRT, PROGRAM, READ_ONLY, REPORT_NAME,
                           REPORT_NOT_KEPT, SCREEN_NAME, check_internal_unchanged, check_logo_saved, check_report_kept,
                           check_started_from_stick, internal_disk, program_lines, read_picture, stick_arguments,
                           stick_program_hash)
from quillon_run import mok
from quillon_run.disks import partition_offset
import firmware_keys
import pe_image

# How long the program is left waiting for its key, in the machine's seconds: a minute past the
# five-minute watchdog the boot manager arms before it starts shim.
LEFT_WAITING = 360
# An x64 call through the boot services' SetWatchdogTimer slot, call [register + 0x100], and a
# no-op of the same six bytes.
WATCHDOG_CALL = re.compile(rb"\xff[\x90-\x93\x95-\x97]\x00\x01\x00\x00")
SIX_BYTE_NOP = b"\x66\x0f\x1f\x44\x00\x00"


def check_hidden_sectors(stick):
    """The FAT boot sector counts as hidden the sectors before it, where the MBR starts the
    partition: readers that place the file system by its own account find it there too."""
    first = partition_offset(stick) // 512
    with open(stick, "rb") as handle:
        handle.seek(first * 512 + 0x1C)
        (hidden,) = struct.unpack("<I", handle.read(4))
    check(hidden == first, f"the boot sector counts {hidden} hidden sectors; the partition starts at sector {first}")


def scenario_stick(arguments):
    # Secure Boot off: the boot manager starts shim, and shim the program, without a word.
    check_hidden_sectors(arguments.stick)
    result = boot(arguments, "stick")
    check_started_from_stick(result)
    check_logo_saved(arguments, result, secure_boot=False)
    check("Verification failed" not in result.console, "shim refused the program with Secure Boot off")
    if arguments.pictures and arguments.arch == "x64":
        # The README's picture of the screen the firmware left, as Screen.png holds it.
        shutil.copyfile(os.path.join(arguments.work, SCREEN_NAME), os.path.join(arguments.pictures, "x64-screen.png"))


def scenario_stick_screens(arguments):
    # The screen at other sizes the display device may prefer, from a small one to a large laptop
    # panel's: the picture at each size, the logo in it where the BGRT says.
    for width, height in ((640, 480), (1920, 1080), (2560, 1600)):
        result = boot(arguments, f"stick_{width}x{height}", screen=f"{width}x{height}")
        check_logo_saved(arguments, result, secure_boot=False, screen=(width, height))


def scenario_stick_boot_menu(arguments):
    # The stick chosen from the firmware's own Boot Manager, reached by holding Esc. OVMF draws its
    # menu at 640 x 480 over the logo; starting the stick it goes back to 1280 x 800, which clears
    # the screen, and clears the BGRT's displayed bit too. The program finds the logo gone, as the
    # bit says, and its picture is the cleared screen, not the menu.
    answers = [qemu_run.Answer("Boot Maintenance Manager", ["Down", "Down", "Enter"]),
               qemu_run.Answer("Boot Manager Menu", ["Enter"], "boot-manager.png")]
    result = boot(arguments, "stick_boot_menu", hold=("Esc", "Device Manager"), answers=answers)
    lines = program_lines(result)
    check("  Status: not displayed, rotated 0 degrees" in lines, "the firmware still marks its logo displayed")
    check("Screen: 1280 x 800 as the firmware left it, saved as Screen.png" in lines and
          "  BGRT 1: 0% of pixels in place, as marked not displayed; not seen elsewhere" in lines,
          f"the program does not say the logo is gone from the screen:\n{result.console}")
    menu = os.path.join(arguments.work, "stick_boot_menu", "boot-manager.png")
    check(identify(menu)[:2] == (640, 480) and len(set(pixels(menu))) > 2, "the Boot Manager was not on the screen")
    _, size, taken, _ = read_picture(arguments, result, SCREEN_NAME)
    check(size == (1280, 800) and not any(taken), "Screen.png is not the cleared 1280 x 800 screen the stick was started on")


def stick_behind_internal_disk(arguments, name, bus, stick=None):
    # An installed system's disk, ahead of the stick in the boot order and the firmware's volumes:
    # nothing on it may change.
    disk, before = internal_disk(arguments, name, bus)
    result = boot(arguments, name, stick=stick or arguments.stick, **disk)
    check(re.search(r'BdsDxe: failed to load Boot\d+ "[^"]*" from PciRoot\([^)]*\)/Pci\([^)]*\)/'
                    + ("NVMe" if bus == "nvme" else "Sata"), result.console) is not None,
          "the firmware did not try the internal disk first")
    check_started_from_stick(result)
    check_internal_unchanged(result, before)
    return result


def scenario_stick_sata(arguments):
    result = stick_behind_internal_disk(arguments, "stick_sata", "sata")
    check_logo_saved(arguments, result, secure_boot=False)


def scenario_stick_nvme(arguments):
    # This time the stick still holds another machine's logo and report from an earlier run: both
    # give way to this machine's.
    stick = os.path.join(arguments.work, "used-stick.img")
    shutil.copyfile(arguments.stick, stick)
    other = saved_file(arguments, "other-machine.bmp", bitmap(40, 30, 5))
    report = saved_file(arguments, "other-report.txt", b"another machine's report\r\n" * 400)
    qemu_run.put(qemu_run.volume_of(stick), other, qemu_run.LOGO_NAME)
    qemu_run.put(qemu_run.volume_of(stick), report, REPORT_NAME)
    result = stick_behind_internal_disk(arguments, "stick_nvme", "nvme", stick=stick)
    lines = program_lines(result)
    check(LOGO_ON_STICK in lines, "the program does not say where the logo is")
    check(result.logo == typical_file(arguments), "the stick's BIOSLogo.bmp is not this machine's logo")
    check_report_kept(result, lines)
    check_stick_clean(result)


def scenario_stick_read_only(arguments):
    # A stick whose write-protect switch is on: the program says so, and nothing changes.
    result = boot(arguments, "stick_read_only", read_only=True)
    lines = program_lines(result)
    check(READ_ONLY in lines and REPORT_NOT_KEPT in lines, f"no plain word on the read-only stick:\n{result.console}")
    check_unchanged(arguments, result)


def enrol_and_run(arguments, code="", vendor="", pictures=""):
    """Secure Boot on, with Microsoft's keys, on the firmware `code` names: shim refuses the unknown
    program and offers MokManager, where the program's hash is enrolled; after the reboot the program
    runs, Secure Boot still on, and names a firmware vendor that begins so, when given. The screens' pictures go
    to `pictures`, or the work folder."""
    program = PROGRAM[arguments.arch]
    listed = qemu_run.folder_files(qemu_run.volume_of(arguments.stick), "EFI/BOOT")
    check(program in listed, f"the stick's \\EFI\\BOOT holds {listed}")
    answers = mok.enrolment_answers("QUILLON", program, listed.index(program) + 1, prefix=arguments.arch + "-")
    variables = os.path.join(arguments.work, "vars.fd")
    if os.path.exists(variables):
        os.remove(variables)
    first = boot(arguments, "enrol", code=code, secure_boot=True, vars=variables, answers=answers, end="Reboot",
                 pictures=pictures)
    check(FIRST_LINE not in first.console, "the program ran before its hash was enrolled")
    check_unchanged(arguments, first)
    shown = mok.shown_hash(first.console)
    check(shown == stick_program_hash(arguments), f"MokManager shows the hash {shown}, not the program's")

    # The program's own screen, the last picture of the enrolment.
    finished = [qemu_run.Answer(LAST_LINE, [], arguments.arch + "-12-quillon.png")]
    second = boot(arguments, "after-enrolment", stick=qemu_run.disk_file(first.disk), code=code, secure_boot=True,
                  vars=variables, answers=finished, pictures=pictures)
    check("Verification failed" not in second.console, "shim still refuses the program")
    check_started_from_stick(second)
    check_logo_saved(arguments, second, secure_boot=True)
    firmware_keys.check(program_lines(second), variables)
    if vendor:
        named = program_lines(second)[1]
        check(named.startswith(f"Firmware: {vendor}"), f"the program ran on other firmware: {named!r}")


def scenario_stick_secure_boot(arguments):
    enrol_and_run(arguments, pictures=arguments.pictures)


def scenario_stick_secure_boot_strict_nx(arguments):
    # The same on Debian 13's OVMF, its strict-NX Secure Boot build (the memory-attribute protocol on)
    # with its own store of Microsoft's keys: Debian 12's shim and MokManager run there, and so does
    # the program. The README's pictures stay Debian 12's.
    enrol_and_run(arguments, code=qemu_run.OVMF_13_PLAIN, vendor="Debian distribution of ")


def scenario_stick_mok_timeout(arguments):
    # Nobody at the keyboard: after the ERROR box, MokManager's ten seconds pass, shim tries the
    # program again and refuses it again. Nothing is enrolled and the stick is as it was.
    result = boot(arguments, "mok_timeout", secure_boot=True, answers=mok.timeout_answers(), stop_at=mok.ERROR_BOX)
    check(FIRST_LINE not in result.console, "the program ran without its hash enrolled")
    check_unchanged(arguments, result)


def without_watchdog_disarm(program):
    """The x64 stick program as it was before it disarmed the watchdog: its one call to
    SetWatchdogTimer made a no-op, every other byte the same."""
    span = pe_image.section_span(program, ".text")
    if span is None:
        raise Failure("the program has no code section")
    start, end = span
    calls = [found.start() for found in WATCHDOG_CALL.finditer(program, start, end)]
    check(len(calls) == 1, f"the program's code holds {len(calls)} calls through the SetWatchdogTimer slot, not one")
    return program[:calls[0]] + SIX_BYTE_NOP + program[calls[0] + len(SIX_BYTE_NOP):]


def scenario_stick_waits(arguments):
    # Nobody at the keyboard for six minutes of the machine's time, which passes in seconds here:
    # the program still waits, and a key then restarts the machine. The control is the same
    # program with its call that disarms the firmware's watchdog made a no-op: with no key, the
    # firmware restarts the machine by itself, as the program did before it disarmed the watchdog.
    control_stick = os.path.join(arguments.work, "control-stick.img")
    shutil.copyfile(arguments.stick, control_stick)
    program = qemu_run.read_file(qemu_run.volume_of(arguments.stick), "EFI/BOOT/grubx64.efi")
    control_program = saved_file(arguments, "grubx64-watchdog-armed.efi", without_watchdog_disarm(program))
    qemu_run.put(qemu_run.volume_of(control_stick), control_program, "EFI/BOOT/grubx64.efi")
    control = boot(arguments, "watchdog_armed", stick=control_stick, restart_after=LEFT_WAITING)
    program_lines(control)
    check(not control.restart_pressed and control.powered_off,
          f"the control waited {control.restart_waited} s of the machine's time for its key: the watchdog did not fire")
    print(f"watchdog_armed: the machine was still on {control.restart_waited} s of its time after the program's "
          "last line, and went off by itself before the next look at its clock")
    check(control.restart_waited is not None and control.restart_waited >= 120,
          f"the control's machine went off {control.restart_waited} s of its time after the program's last line: "
          "too soon for the watchdog")

    result = boot(arguments, "stick_waits", restart_after=LEFT_WAITING)
    check(result.restart_pressed and result.restart_waited >= LEFT_WAITING,
          f"the machine went off by itself {result.restart_waited} s of its time after the program's last line")
    print(f"stick_waits: the key came {result.restart_waited} s of the machine's time after the program's last line")
    check_started_from_stick(result)
    check_logo_saved(arguments, result, secure_boot=False)


def scenario_stick_uboot(arguments):
    # U-Boot, a second UEFI implementation, with the stick on USB 2: shim starts the program, which
    # finds no BGRT, as U-Boot publishes none, and keeps its report.
    result = boot(arguments, "stick_uboot", code="u-boot")
    check(re.search(r"Booting /efi\\boot\\boot" + arguments.arch + r"\.efi", result.console, re.IGNORECASE),
          "U-Boot did not start the stick's shim")
    lines = program_lines(result)
    check(NO_BGRT in lines, f"the program does not say there is no BGRT:\n{result.console}")
    check(result.logo is None, "a logo was saved")
    check_report_kept(result, lines)
    check_only_added(arguments, result, [REPORT_NAME], uboot=True)


def scenario_stick_uboot_resets(arguments):
    # U-Boot's x64 build starts programs with SSE switched off, and shim uses SSE: the machine
    # resets as shim starts, before the program. The README sends people with such firmware to a
    # shell and \EFI\Quillon\QuillonX64.efi.
    started = "Booting /efi\\boot\\bootx64.efi"
    result = boot(arguments, "stick_uboot_resets", code="u-boot", end=started)
    after = result.console[result.console.index(started) + len(started):]
    check(not after.strip(), f"the machine went on after shim started:\n{after}")
    check(FIRST_LINE not in result.console, "the program ran")
    check_unchanged(arguments, result)


SCENARIOS = scenarios_in(globals())


def main():
    return run_scenario(SCENARIOS, stick_arguments(SCENARIOS))


if __name__ == "__main__":
    sys.exit(main())
