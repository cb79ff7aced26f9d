#!/usr/bin/env python3
"""End-to-end tests of the stick under Secure Boot as people's machines have it: firmware whose db
trusts Microsoft's 2023 UEFI CA alone, or the Windows CAs alone, or no Microsoft CA at all; a
revocation level that refuses this shim; and what shim writes to the firmware's variables, read
out of the variable store after QEMU has exited.

Each scenario is one ctest test: `secure_boot_test.py SCENARIO --arch ARCH --stick IMAGE --shared
DIR --work DIR`. The stores are made by the runner (tools/quillon_run/stores.py). The oracles are
the bytes on the stick and the internal disk after QEMU has exited, the variables in the store
file, the firmware's and shim's own words on the console, and the Authenticode hash computed here.
"""

import os
import re
import shutil
import sys

# support first: it puts tools/ on the path, for the imports after it.
from support import boot, check, check_unchanged, qemu_run, run_scenario, scenarios_in
from stick_support import (FIRST_LINE, PROGRAM, check_internal_unchanged, check_logo_saved, check_started_from_stick,
                           internal_disk, program_lines, stick_arguments, stick_program_hash)
import firmware_keys
import shim_packages
from quillon_run import mok, stores, variables

# The firmware's words once it has tried every boot option, and where it waits for a key.
NOTHING_BOOTS = "Press any key to enter the Boot Manager Menu."
# After that key, the firmware starts its own menu program.
MENU_STARTED = '"UiApp"'
SELF_CHECK_FAILED = "SBAT self-check failed"
SHIM_NAME = {"x64": "BOOTX64.EFI", "aa64": "BOOTAA64.EFI"}
# The internal disk's bus: NVMe where the machine has no SATA (AArch64's virt).
INTERNAL_BUS = {"x64": "sata", "aa64": "nvme"}


def shim_variables(store):
    """shim's variables in a store file, by name: (attributes, data)."""
    held = variables.read_store(store)
    return {name: (variable.attributes, variable.data) for (vendor, name), variable in held.items()
            if vendor == variables.SHIM}


def fresh_store(arguments, name):
    path = os.path.join(arguments.work, name + ".fd")
    if os.path.exists(path):
        os.remove(path)
    return path


def firmware_lines(result, first, last):
    """The console from the first line holding `first` to the line holding `last`."""
    lines = result.lines()
    start = next(index for index, line in enumerate(lines) if first in line)
    end = next(index for index, line in enumerate(lines) if index >= start and last in line)
    return lines[start:end + 1]


def scenario_secure_boot_ms2023(arguments):
    # db trusts Microsoft UEFI CA 2023 alone. Shim carries a second signature that chains to it,
    # so the firmware starts shim, and the enrolment goes as with the 2011 CA; the program then
    # names the 2023 CA.
    program = PROGRAM[arguments.arch]
    listed = qemu_run.folder_files(qemu_run.volume_of(arguments.stick), "EFI/BOOT")
    answers = mok.enrolment_answers("QUILLON", program, listed.index(program) + 1, prefix=arguments.arch + "-")
    store = fresh_store(arguments, "vars")
    first = boot(arguments, "enrol", store="ms2023", vars=store, answers=answers, end="Reboot")
    check(FIRST_LINE not in first.console, "the program ran before its hash was enrolled")
    check_unchanged(arguments, first)
    shown = mok.shown_hash(first.console)
    check(shown == stick_program_hash(arguments), f"MokManager shows the hash {shown}, not the program's")

    second = boot(arguments, "after-enrolment", stick=qemu_run.disk_file(first.disk), store="ms2023", vars=store)
    check("Verification failed" not in second.console, "shim still refuses the program")
    check_started_from_stick(second)
    check_logo_saved(arguments, second, secure_boot=True)
    said = firmware_keys.check(program_lines(second), store)
    print("the program's lines on the firmware's keys:\n" + "\n".join(said))


def refused(arguments, store_name):
    """The firmware refuses shim: it goes on to its next boot option and, with none left, waits in
    its boot menu. Nothing changes on the stick, the internal disk or in shim's variables."""
    disk, before = internal_disk(arguments, "machine", INTERNAL_BUS[arguments.arch])
    store = fresh_store(arguments, "vars")
    picture = f"{arguments.arch}-refused-{store_name}.png"
    result = boot(arguments, "refused", store=store_name, vars=store, **disk,
                  answers=[qemu_run.Answer(NOTHING_BOOTS, ["Enter"], picture)], stop_at=MENU_STARTED,
                  pictures=arguments.pictures)
    check(re.search(r'BdsDxe: failed to load Boot\d+ "[^"]*USB[^"]*" from \S+: Access Denied', result.console),
          f"the firmware did not refuse the stick:\n{result.console}")
    check("Verification failed" not in result.console and FIRST_LINE not in result.console,
          "shim or the program ran")
    check_unchanged(arguments, result)
    check_internal_unchanged(result, before)
    check(not shim_variables(store), f"shim's variables in the firmware: {shim_variables(store)}")
    print("the console, from the first boot option to the firmware's menu:\n" +
          "\n".join(firmware_lines(result, "BdsDxe: ", NOTHING_BOOTS)))


def scenario_secure_boot_windows_only(arguments):
    # The third-party CA switched off in setup, as on many business laptops: db trusts Windows alone.
    refused(arguments, "windows-only")


def scenario_secure_boot_no_microsoft_ca(arguments):
    # A db with no Microsoft CA at all (Debian's snakeoil store): shim is no more trusted than any
    # other program.
    refused(arguments, "none")


def scenario_secure_boot_shim_revoked(arguments):
    # A revocation level that refuses shim generation 4, this shim's: the firmware starts shim,
    # which refuses itself, says so and restarts the machine. Nothing is written.
    disk, before = internal_disk(arguments, "machine", INTERNAL_BUS[arguments.arch])
    store = fresh_store(arguments, "vars")
    template = stores.store_file("shim-revoked", arguments.arch, qemu_run.boot_with)
    held_before = shim_variables(template)
    picture = f"{arguments.arch}-shim-revoked.png"
    result = boot(arguments, "revoked", store="shim-revoked", vars=store, **disk, end=SELF_CHECK_FAILED,
                  answers=[qemu_run.Answer(SELF_CHECK_FAILED, [], picture)], pictures=arguments.pictures)
    check(FIRST_LINE not in result.console, "the program ran")
    check_unchanged(arguments, result)
    check_internal_unchanged(result, before)
    check(shim_variables(store) == held_before,
          f"shim's variables changed: {held_before} before, {shim_variables(store)} after")
    print("what shim printed:\n" + "\n".join(firmware_lines(result, "Verifying shim SBAT", SELF_CHECK_FAILED)))


def scenario_sbat_level(arguments):
    # What shim writes to the firmware's variables on a first boot of the stick: with Secure Boot
    # on, the revocation level it carries; with it off, a level that revokes nothing, even over a
    # level an earlier boot with Secure Boot on had raised, or one that revokes shim itself.
    shim = qemu_run.read_file(qemu_run.volume_of(arguments.stick), "EFI/BOOT/" + SHIM_NAME[arguments.arch])
    automatic, _ = shim_packages.sbat_levels(shim)
    measured = []

    on = fresh_store(arguments, "on")
    check(not shim_variables(stores.store_file("ms2011", arguments.arch, qemu_run.boot_with)),
          "Debian's store already holds shim's variables")
    boot(arguments, "secure-boot-on", store="ms2011", vars=on, answers=mok.first_boot_answers(), stop_at=mok.PROMPT)
    written = shim_variables(on)
    measured.append(("Secure Boot on, a store shim never met", "none", written))
    check(written == {"SbatLevel": (variables.NON_VOLATILE | variables.BOOT_SERVICE, automatic)},
          f"with Secure Boot on shim wrote {written}, not SbatLevel {automatic!r}")

    off = fresh_store(arguments, "off")
    result = boot(arguments, "secure-boot-off", vars=off)
    check("Quillon: Secure Boot is off." in program_lines(result), "Secure Boot was not off")
    written = shim_variables(off)
    measured.append(("Secure Boot off, no keys enrolled", "none", written))
    check(set(written) == {"SbatLevel"} and revokes_nothing(written["SbatLevel"][1]),
          f"with Secure Boot off shim wrote {written}")
    base = written["SbatLevel"][1]

    # The same machine as the first boot, with Secure Boot switched off in its setup, which keeps
    # the switch in a variable of its own.
    variables.overwrite(on, "SecureBootEnable", variables.SECURE_BOOT_SWITCH, b"\0")
    result = boot(arguments, "switched-off", secure_boot=True, vars=on)
    lines = program_lines(result)
    check("Quillon: Secure Boot is off." in lines, "Secure Boot was not switched off")
    written = shim_variables(on)
    measured.append(("Secure Boot switched off after the first", repr(automatic), written))
    check(written == {"SbatLevel": (variables.NON_VOLATILE | variables.BOOT_SERVICE, base)},
          f"with Secure Boot switched off shim left {written}")
    firmware_keys.check(lines, on)

    # A machine whose level revokes this shim, with Secure Boot switched off: shim starts, the
    # program runs, and the level goes back to the first one.
    revoked = fresh_store(arguments, "revoked")
    shutil.copyfile(stores.store_file("shim-revoked", arguments.arch, qemu_run.boot_with), revoked)
    before = shim_variables(revoked)["SbatLevel"][1]
    variables.overwrite(revoked, "SecureBootEnable", variables.SECURE_BOOT_SWITCH, b"\0")
    result = boot(arguments, "revoked-switched-off", secure_boot=True, vars=revoked)
    check("Quillon: Secure Boot is off." in program_lines(result), "Secure Boot was not switched off")
    written = shim_variables(revoked)
    measured.append(("Secure Boot switched off under a level that revokes shim", repr(before), written))
    check(written == {"SbatLevel": (variables.NON_VOLATILE | variables.BOOT_SERVICE, base)},
          f"with Secure Boot switched off under a revoking level shim left {written}")
    for when, before, after in measured:
        print(f"{when}: SbatLevel before {before}, shim's variables after {after}")


def revokes_nothing(level):
    """A level's text holds its first line alone."""
    return len(level.decode("ascii").strip("\0\n").split("\n")) == 1


SCENARIOS = scenarios_in(globals())


def main():
    return run_scenario(SCENARIOS, stick_arguments(SCENARIOS))


if __name__ == "__main__":
    sys.exit(main())
