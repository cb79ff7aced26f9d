#!/usr/bin/env python3
"""End-to-end tests of the missteps a person makes in MokManager on the stick, and their ways back,
on x64 OVMF with Microsoft's keys and Secure Boot enforced: MokManager's countdown missed, "Enroll
key from disk" chosen by mistake, a wrong file's hash enrolled, and whether MokManager can take a
hash out again.

Each scenario is one ctest test: `mok_test.py SCENARIO --stick IMAGE --shared DIR --work DIR`. The
oracles are shim's, MokManager's and the firmware's own words on the console, the hashes computed
here that MokManager must show, the stick's bytes after each boot, and in the end the program's
report and the firmware's logo on the stick.
"""

import os
import re
import sys

# support first: it puts tools/ on the path, for the imports after it.
from support import boot, check, check_unchanged, qemu_run, run_scenario, scenarios_in
from stick_support import FIRST_LINE, check_logo_saved, stick_arguments
import authenticode
from quillon_run import mok
from quillon_run.console import screen_lines

LABEL = "QUILLON"
PROGRAM = "grubx64.efi"
SHIM = "BOOTX64.EFI"
MOK_MANAGER = "mmx64.efi"


def downs_to(arguments, name):
    """How far below "../" MokManager lists `name` in the stick's \\EFI\\BOOT."""
    listed = qemu_run.folder_files(qemu_run.volume_of(arguments.stick), "EFI/BOOT")
    check(name in listed, f"the stick's \\EFI\\BOOT holds {listed}")
    return listed.index(name) + 1


def file_hash(arguments, name):
    """The Authenticode SHA-256 of a file in the stick's \\EFI\\BOOT, as MokManager shows it."""
    data = qemu_run.read_file(qemu_run.volume_of(arguments.stick), "EFI/BOOT/" + name)
    check(data is not None, f"the stick has no {name}")
    return authenticode.digest(data)


def picture(name):
    """A new screen's picture, beside the README's pictures of the enrolment."""
    return "x64-mok-" + name + ".png"


def show_console(name, result):
    """The console as a person read it, for the test's log."""
    print(f"--- {name}: the screen's lines ---")
    print("\n".join(screen_lines(result.raw)))


def secure_boot(arguments, name, variables, answers, **settings):
    """One boot with Secure Boot on and the test's variable store, from the stick as the boot
    before left it."""
    stick = settings.pop("stick", arguments.stick)
    result = boot(arguments, name, secure_boot=True, vars=variables, answers=answers, stick=stick,
                  pictures=arguments.pictures, **settings)
    show_console(name, result)
    return result


def fresh_variables(arguments):
    """The test's variable store, made afresh from the template by its first boot."""
    variables = os.path.join(arguments.work, "vars.fd")
    if os.path.exists(variables):
        os.remove(variables)
    return variables


def check_screens_in_order(result, titles):
    """The console showed these lines in this order, others between them."""
    lines = screen_lines(result.raw)
    at = 0
    for title in titles:
        check(title in lines[at:], f"no {title!r} after the screens before it in {titles}")
        at = lines.index(title, at) + 1


def check_refused(arguments, result):
    """Shim refused the program: nothing of it ran, and the stick is byte for byte as it was made."""
    check(FIRST_LINE not in result.console, "the program ran without its hash enrolled")
    check_unchanged(arguments, result)


def check_program_runs(arguments, result):
    """Shim started the program at once, Secure Boot on: its report, the firmware's logo, the screen
    and the report on the stick, and nothing else changed."""
    check("Verification failed" not in result.console, "shim still refuses the program")
    check_logo_saved(arguments, result, secure_boot=True)


def scenario_mok_countdown_missed(arguments):
    # Nobody at the keyboard when MokManager counts down, Enter at each ERROR box: shim tries the
    # program again and refuses it, the firmware tries its next entry, which Secure Boot refuses
    # too, then the stick once more, and then it offers its own menu. From its Boot Manager the
    # stick starts again at the ERROR box: nothing was enrolled, and nothing written.
    answers = mok.countdown_missed_answers(picture("no-bootable")) + \
        mok.stick_from_boot_manager_answers()
    result = secure_boot(arguments, "countdown_missed", fresh_variables(arguments), answers, stop_at=mok.ERROR_BOX)
    check_refused(arguments, result)
    check(result.console.count(mok.PROMPT) == 2, "MokManager did not come twice")
    check(re.search(r'BdsDxe: failed to start Boot\d+ "(?!UEFI QEMU QEMU USB)[^"]*" from .*: Security Violation',
                    result.console), "the firmware's next boot entry was not tried")
    check(mok.NO_BOOTABLE in result.console, "the firmware did not say it found nothing to boot")
    seconds = result.seconds_to(mok.BOOT_MANAGER_KEY)
    print(f"countdown_missed: the firmware asked for a key to its menu {seconds:.0f} s after power-on")


def scenario_mok_key_by_mistake(arguments):
    # "Enroll key from disk" instead of "Enroll hash from disk": its screen, "Select Key", is left
    # with Esc; chosen again and the program picked there, MokManager says "Unsupported Format",
    # and Enter brings its menu back. Then the enrolment as the README gives it, and the program runs.
    downs = downs_to(arguments, PROGRAM)
    pictures = (picture("select-key"), picture("unsupported"))
    answers = mok.menu_answers(None) + mok.key_by_mistake_answers(LABEL, PROGRAM, downs, pictures) + \
        mok.hash_answers(LABEL, PROGRAM, downs, prefix=None) + mok.reboot_answers(None)
    variables = fresh_variables(arguments)
    first = secure_boot(arguments, "key_by_mistake", variables, answers, end="Reboot")
    check_refused(arguments, first)
    check_screens_in_order(first, [mok.MENU_TITLE, mok.SELECT_KEY, mok.MENU_TITLE, mok.SELECT_KEY, mok.UNSUPPORTED,
                                   mok.MENU_TITLE, "Select Binary", mok.HASH_TITLE])
    check(mok.shown_hashes(first.console) == [file_hash(arguments, PROGRAM)],
          f"MokManager showed {mok.shown_hashes(first.console)}, not the program's hash once")

    second = secure_boot(arguments, "after_enrolment", variables, [], stick=qemu_run.disk_file(first.disk))
    check_program_runs(arguments, second)


def scenario_mok_wrong_file(arguments):
    # Shim's own file enrolled instead of the program: after Reboot the ERROR box is back. MokManager
    # has no way to take that hash out: its menu is as before, three entries. This time MokManager's
    # own file is picked first, its hash differs from the README's, and "Enroll the key(s)?" is
    # answered No: MokManager says "Hash failed ... Aborted", and Enter brings its menu back. Then
    # the program's hash, and the program runs.
    variables = fresh_variables(arguments)
    answers = mok.menu_answers(None) + mok.hash_answers(LABEL, SHIM, downs_to(arguments, SHIM), prefix=None) + \
        mok.reboot_answers(None)
    first = secure_boot(arguments, "shim_enrolled", variables, answers, end="Reboot")
    check_refused(arguments, first)
    check(mok.shown_hashes(first.console) == [file_hash(arguments, SHIM)],
          f"MokManager showed {mok.shown_hashes(first.console)}, not shim's hash")

    answers = mok.menu_answers(None) + \
        mok.hash_answers(LABEL, MOK_MANAGER, downs_to(arguments, MOK_MANAGER), enrol=False, prefix=None) + \
        [qemu_run.Answer(mok.HASH_ABORTED, ["Enter"], picture("hash-aborted"))] + \
        mok.hash_answers(LABEL, PROGRAM, downs_to(arguments, PROGRAM), prefix=None) + mok.reboot_answers(None)
    second = secure_boot(arguments, "program_enrolled", variables, answers, end="Reboot",
                         stick=qemu_run.disk_file(first.disk))
    check(mok.ERROR_BOX in second.console, "the ERROR box did not come back after the wrong enrolment")
    check_refused(arguments, second)
    lines = screen_lines(second.raw)
    menu = lines[lines.index(mok.MENU_TITLE) + 1:lines.index("Select Binary")]
    check(menu == mok.MENU_ENTRIES, f"MokManager's menu after a wrong enrolment offers {menu}, not {mok.MENU_ENTRIES}")
    check(mok.shown_hashes(second.console) == [file_hash(arguments, MOK_MANAGER), file_hash(arguments, PROGRAM)],
          f"MokManager showed {mok.shown_hashes(second.console)}, not MokManager's hash and then the program's")

    third = secure_boot(arguments, "program_runs", variables, [], stick=qemu_run.disk_file(second.disk))
    check_program_runs(arguments, third)


SCENARIOS = scenarios_in(globals())


def main():
    arguments = stick_arguments(SCENARIOS)
    if arguments.arch != "x64":
        raise SystemExit("MokManager's missteps are tested on x64")
    return run_scenario(SCENARIOS, arguments)


if __name__ == "__main__":
    sys.exit(main())
