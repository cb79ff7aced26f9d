#!/usr/bin/env python3
"""End-to-end tests of the USB stick: the stick image booted as a USB stick by each firmware's boot
manager, which starts Debian's shim, which starts the stick program.

Each scenario is one ctest test: `stick_test.py SCENARIO --arch ARCH --image-dir DIR --shared DIR
--work DIR`. The oracles are the bytes on the stick and on any internal disk after QEMU has
exited, fsck.fat, the firmware logo the typical x64 run saved, the Authenticode hash computed here
(which MokManager must show), and the firmware's and shim's own words on the console.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import authenticode  # noqa: E402
import qemu_run  # noqa: E402
from quillon_run import mok  # noqa: E402

import firmware_keys  # noqa: E402

from e2e_test import (HEADER_LINES, LOGO_LINES, SAVED_LINE, Failure, bitmap, check, match_block,  # noqa: E402
                      report_lines, run_scenario, saved_file, scenario_parser, typical_file)

BOOT_SECONDS = 150
REPORT_NAME = "Quillon-report.txt"
FIRST_LINE = "Quillon 1.0: the boot logo out of this machine's firmware."
LOGO_ON_STICK = "Quillon: the logo is on this stick as BIOSLogo.bmp, in its top folder."
REPORT_KEPT = "Quillon: this report is on the stick too, as Quillon-report.txt."
NO_BGRT = "Quillon: this firmware publishes no boot logo (no BGRT): nothing to save."
READ_ONLY = "Quillon: this stick is read-only (a switch on its side?): nothing was saved."
REPORT_NOT_KEPT = "Quillon: the report could not be kept on the stick."
NEXT = "Next: take the stick out, then press any key to restart the machine."
PROGRAM = {"x64": "grubx64.efi", "ia32": "grubia32.efi", "aa64": "grubaa64.efi"}


def boot(arguments, name, **settings):
    settings.setdefault("stick", arguments.stick)
    options = qemu_run.Options(arch=arguments.arch, timeout=BOOT_SECONDS, work=os.path.join(arguments.work, name),
                               **settings)
    result = qemu_run.boot(options)
    print(f"{name}: boot took {result.seconds:.1f} s")
    if result.problem:
        raise Failure(f"{result.problem}\n--- console ---\n{result.console}")
    return result


def tree(disk):
    """Every file on a FAT disk, by its path, with its bytes."""
    with tempfile.TemporaryDirectory(prefix="quillon-tree-") as folder:
        subprocess.run(["mcopy", "-s", "-n", "-i", disk, "::/", folder], check=True, stdout=subprocess.DEVNULL)
        files = {}
        for root, _, names in os.walk(folder):
            for name in names:
                path = os.path.join(root, name)
                with open(path, "rb") as handle:
                    files[os.path.relpath(path, folder)] = handle.read()
        return files


def check_stick_clean(result, uboot=False):
    """fsck.fat finds nothing wrong with the stick. U-Boot's FAT driver leaves FAT32's free-cluster
    count, a hint that readers check and recompute, as it was: on U-Boot that alone is no fault."""
    clean, said = qemu_run.check_fat(result.disk)
    complaints = [line for line in said.splitlines()[1:] if line.strip() and not line.startswith(
        ("  Auto-correcting", "Leaving filesystem unchanged", "/"))]
    if uboot and complaints and all(line.startswith("Free cluster summary wrong") for line in complaints):
        return
    check(clean, f"fsck.fat finds the stick damaged:\n{said}")


def check_only_added(arguments, result, added, uboot=False):
    """The stick after the boot: every file it was made with, unchanged, and besides them only
    the files named in `added`; fsck.fat finds nothing wrong."""
    before, after = tree(qemu_run.volume_of(arguments.stick)), tree(result.disk)
    for path, data in before.items():
        check(after.get(path) == data, f"the stick's {path} changed or went")
    new = sorted(set(after) - set(before))
    check(new == sorted(added), f"the boot left {new} on the stick, not {sorted(added)}")
    check_stick_clean(result, uboot)


def check_unchanged(arguments, result):
    with open(arguments.stick, "rb") as made, open(qemu_run.disk_file(result.disk), "rb") as used:
        check(made.read() == used.read(), "the stick changed")


def check_started_from_stick(result):
    """The boot manager started the stick, and no shell ran at any time."""
    started = re.findall(r'BdsDxe: starting Boot\d+ "([^"]*)" from (\S+)', result.console)
    check(started and "USB" in started[-1][0] and "/USB(" in started[-1][1],
          f"the boot manager did not start the stick, but {started}")
    check("Shell>" not in result.console and "UEFI Interactive Shell" not in result.console, "a shell ran")


def program_lines(result):
    """The program's lines, from its first to its last, which asks for the key it waits for."""
    lines = result.lines()
    check(FIRST_LINE in lines, f"the stick program did not run:\n{result.console}")
    check(NEXT in lines, f"the program did not say what to do next:\n{result.console}")
    # After it, only the firmware's own words as it restarts the machine.
    after = [line for line in lines[lines.index(NEXT) + 1:] if line.strip() and not line.startswith("resetting")]
    check(not after, f"lines after the program's last: {after}")
    plain = lines[lines.index(FIRST_LINE):lines.index(NEXT) + 1]
    words = plain[next(i for i, line in enumerate(plain) if line.startswith("Quillon: Secure Boot")):]
    check(all(len(line) < 80 for line in words), f"a line of the plain words is 80 columns or wider: {words}")
    return lines[lines.index(FIRST_LINE):lines.index(NEXT) + 1]


def check_report_kept(result, lines):
    """The report on the stick is what the screen showed from the report to the plain words after
    it, with CR LF line ends."""
    kept = qemu_run.read_file(result.disk, REPORT_NAME)
    check(kept is not None, "no report on the stick")
    check(REPORT_KEPT in lines, "the program does not say the report is on the stick")
    shown = lines[1:lines.index(REPORT_KEPT)]
    check(kept.decode("latin-1") == "\r\n".join(shown) + "\r\n",
          f"the report on the stick differs from the screen's:\n{kept!r}\n{shown!r}")


def check_logo_saved(arguments, result, secure_boot):
    """What every boot that saves the firmware's logo shows and leaves: the report, the plain
    words, the logo and the report on the stick, and nothing else changed."""
    lines = program_lines(result)
    match_block(report_lines(result), HEADER_LINES + LOGO_LINES + [re.escape(SAVED_LINE)], 0)
    said = f"Quillon: Secure Boot is {'on' if secure_boot else 'off'}."
    check(said in lines and LOGO_ON_STICK in lines, f"the program does not say {said!r} and where the logo is")
    check(result.logo == typical_file(arguments), "the stick's BIOSLogo.bmp is not the firmware's logo")
    check_report_kept(result, lines)
    check_only_added(arguments, result, [qemu_run.LOGO_NAME, REPORT_NAME])


def scenario_stick(arguments):
    # Secure Boot off: the boot manager starts shim, and shim the program, without a word.
    result = boot(arguments, "stick")
    check_started_from_stick(result)
    check_logo_saved(arguments, result, secure_boot=False)
    check("Verification failed" not in result.console, "shim refused the program with Secure Boot off")


def stick_behind_internal_disk(arguments, name, bus, stick=None):
    # An installed system's disk, ahead of the stick in the boot order and the firmware's volumes:
    # nothing on it may change.
    notes = saved_file(arguments, "notes.txt", b"notes of the machine's owner\r\n")
    internal = os.path.join(arguments.work, name + "-internal.img")
    qemu_run.make_internal_disk(internal, [(notes, "notes.txt")])
    with open(internal, "rb") as handle:
        before = handle.read()
    result = boot(arguments, name, stick=stick or arguments.stick, internal=internal, internal_bus=bus)
    check(re.search(r'BdsDxe: failed to load Boot\d+ "[^"]*" from PciRoot\([^)]*\)/Pci\([^)]*\)/'
                    + ("NVMe" if bus == "nvme" else "Sata"), result.console) is not None,
          "the firmware did not try the internal disk first")
    check_started_from_stick(result)
    with open(qemu_run.disk_file(result.internal), "rb") as handle:
        check(handle.read() == before, "the internal disk changed")
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


def stick_program_hash(arguments):
    program = qemu_run.read_file(qemu_run.volume_of(arguments.stick), "EFI/BOOT/" + PROGRAM[arguments.arch])
    check(program is not None, f"the stick has no {PROGRAM[arguments.arch]}")
    return authenticode.digest(program)


def scenario_stick_secure_boot(arguments):
    # Secure Boot on, with Microsoft's keys: shim refuses the unknown program and offers MokManager,
    # where the program's hash is enrolled; after the reboot the program runs, Secure Boot still on.
    program = PROGRAM[arguments.arch]
    listed = qemu_run.folder_files(qemu_run.volume_of(arguments.stick), "EFI/BOOT")
    check(program in listed, f"the stick's \\EFI\\BOOT holds {listed}")
    answers = mok.enrolment_answers("QUILLON", program, listed.index(program) + 1, prefix=arguments.arch + "-")
    variables = os.path.join(arguments.work, "vars.fd")
    if os.path.exists(variables):
        os.remove(variables)
    first = boot(arguments, "enrol", secure_boot=True, vars=variables, answers=answers, end="Reboot",
                 pictures=arguments.pictures)
    check(FIRST_LINE not in first.console, "the program ran before its hash was enrolled")
    check_unchanged(arguments, first)
    shown = mok.shown_hash(first.console)
    check(shown == stick_program_hash(arguments), f"MokManager shows the hash {shown}, not the program's")

    # The program's own screen, the last picture of the enrolment.
    finished = [qemu_run.Answer(NEXT, [], arguments.arch + "-12-quillon.png")]
    second = boot(arguments, "after-enrolment", stick=qemu_run.disk_file(first.disk), secure_boot=True, vars=variables,
                  answers=finished, pictures=arguments.pictures)
    check("Verification failed" not in second.console, "shim still refuses the program")
    check_started_from_stick(second)
    check_logo_saved(arguments, second, secure_boot=True)
    firmware_keys.check(program_lines(second), variables)


def scenario_stick_mok_timeout(arguments):
    # Nobody at the keyboard: after the ERROR box, MokManager's ten seconds pass, shim tries the
    # program again and refuses it again. Nothing is enrolled and the stick is as it was.
    result = boot(arguments, "mok_timeout", secure_boot=True, answers=mok.timeout_answers(), stop_at=mok.ERROR_BOX)
    check(FIRST_LINE not in result.console, "the program ran without its hash enrolled")
    check_unchanged(arguments, result)


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


SCENARIOS = {name[len("scenario_"):]: function for name, function in globals().items()
             if name.startswith("scenario_")}


def main():
    parser = scenario_parser(SCENARIOS)
    parser.add_argument("--stick", required=True, help="the stick image")
    parser.add_argument("--pictures", default=os.environ.get("QUILLON_PICTURES", ""),
                        help="keep the pictures of the enrolment's screens here (default: $QUILLON_PICTURES, "
                             "or the test's work folder)")
    return run_scenario(SCENARIOS, parser.parse_args())


if __name__ == "__main__":
    sys.exit(main())
