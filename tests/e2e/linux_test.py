#!/usr/bin/env python3
"""End-to-end tests: Debian's Linux kernel, booted right after Quillon on the same machine with the
same tables, judges what the verdict says Linux's efi-bgrt does with the BGRT.

Each scenario is one ctest test: `linux_test.py SCENARIO --arch ARCH --image-dir DIR --shared DIR
--work DIR`. A scenario runs CraftTables in one of its modes (or nothing, for the firmware's own
tables), then Quillon, then the kernel as an EFI-stub program (tools/quillon_run/linux.py). Linux
reads only the first BGRT in the XSDT, so every mode changes the firmware's BGRT where it stands.
The oracle is the kernel itself: /sys/firmware/acpi/bgrt present or not, its fields and image, and
the kernel's "Ignoring BGRT" message. Where the verdict and the kernel disagree the test fails; the
verdict is what gets mended.

Debian's kernel cannot judge the redraw: efifb draws the logo again only in kernels built with
CONFIG_FRAMEBUFFER_CONSOLE_DEFERRED_TAKEOVER, which Debian leaves off. Each scenario checks that
this still holds, so that a kernel that starts drawing is noticed.
"""

import hashlib
import re
import sys

# support first: it puts tools/ on the path, for the imports after it.
from support import (Failure, all_report_lines, boot, check, crafted_tables, image_tree_arguments, run_scenario,
                     scenario_parser, verdict_blocks)
from quillon_run import linux  # noqa: E402

# Scenario: the CraftTables mode that makes the case (None: the firmware's own tables), and what the
# kernel does with the first BGRT: None when it keeps the table, else the start of its "Ignoring
# BGRT" message. In second_bgrt a BGRT follows the firmware's, which Linux never reads.
CASES = {
    "firmware_logo": (None, None),
    "version_0": ("bgrt-version-0", None),
    "version_2": ("bgrt-version-2", "invalid version 2"),
    "null_image": ("bgrt-no-image", "null image address"),
    "not_boot_services_data": ("bgrt-acpi-memory", "invalid image address"),
    "bad_bm": ("bgrt-bad-bm", "Incorrect BMP magic number 0x424d"),
    "type_1": ("bgrt-type-1", "invalid image type 1"),
    "length_40": ("bgrt-length-40", "invalid length 40"),
    "rotated": ("bgrt-rotated", None),
    "32_bit": ("bgrt-32-bit", None),
    "off_centre": ("bgrt-off-centre", None),
    "bad_checksum": ("bgrt-bad-checksum", None),
    "second_bgrt": ("off-centre", None),
}

def same_reason(verdict, kernel):
    """The verdict gives the kernel's own words for why it ignores a BGRT, numbers in the engine's
    upper-case hexadecimal, and may add what it knows in brackets after them."""
    return verdict.lower() == kernel.lower() or verdict.lower().startswith(kernel.lower() + " (")


def efi_bgrt_says(block):
    """What the verdict says Linux's efi-bgrt does with the BGRT: (kept, reason), the reason None
    when it keeps it."""
    start = "  Linux efi-bgrt: "
    line = next((line for line in block if line.startswith(start)), None)
    if line is None:
        raise Failure(f"the verdict has no line about Linux's efi-bgrt: {block}")
    said = line[len(start):]
    if said == "kept":
        return True, None
    for way in ("ignored: ", "never read: "):
        if said.startswith(way):
            return False, said[len(way):]
    raise Failure(f"the verdict's line says neither kept nor ignored: {line!r}")


def verdict_fields(block):
    """The BGRT's fields as the verdict shows them, under the names of the kernel's sysfs files."""
    fields = {}
    for pattern in (r"  Length \d+!?, revision \d+!?, version (?P<version>\d+)!?, type (?P<type>\d+)!?, "
                    r"status 0x(?P<status>[0-9A-F]{2})",
                    r"  Across: at (?P<xoffset>\d+) of \d+: .*", r"  Down: at (?P<yoffset>\d+) of \d+, .*"):
        found = next((re.fullmatch(pattern, line) for line in block if re.fullmatch(pattern, line)), None)
        check(found is not None, f"no line /{pattern}/ in the verdict: {block}")
        fields.update({name: int(value, 16 if name == "status" else 10) for name, value in found.groupdict().items()})
    return fields


def reported(lines, pattern):
    """The hexadecimal value of the report's first line matching pattern, or None."""
    found = next((re.fullmatch(pattern, line) for line in lines if re.fullmatch(pattern, line)), None)
    return None if found is None else int(found.group(1), 16)


def compare(arguments, name, mode, kernel_says):
    before = [f"{arguments.craft} {mode}"] if mode else []
    result = boot(arguments, name, before=before, kernel="debian")
    if mode:
        check(len(crafted_tables(result)) == 1, f"CraftTables did not change the BGRT:\n{result.console}")
    blocks = verdict_blocks(result)
    bgrts = 2 if name == "second_bgrt" else 1
    check(len(blocks) == bgrts, f"{len(blocks)} verdicts, not {bgrts}")
    kernel = linux.read_report(result.console)
    check(kernel.ended, f"the init script did not finish:\n{result.console}")
    block, lines = blocks[0], all_report_lines(result)
    print("\n".join(block))
    print("\n".join(f"kernel: {key} {value}" for key, value in kernel.bgrt.items()))
    print("\n".join(f"kernel: {message}" for message in kernel.messages))

    # The kernel read the BGRT Quillon reported first.
    found = reported(lines, r"  Found BGRT @\[0x([0-9A-F]+)\]")
    read = next((int(found.group(1), 16) for found in (re.match(r"ACPI: BGRT 0x([0-9A-F]+) ", message)
                                                      for message in kernel.messages) if found), None)
    check(read == found, f"the kernel read the BGRT at {read}, Quillon reported {found}")

    # The case is what it says: the kernel keeps the table, or ignores it for the reason named.
    ignored = kernel.ignored()
    kept = bool(kernel.bgrt)
    check(kept != bool(ignored), f"the kernel neither kept nor ignored the BGRT, or did both: {kernel}")
    if kernel_says is None:
        check(kept, f"the kernel ignored the BGRT: {ignored}")
    else:
        check(not kept and ignored[0].startswith(kernel_says), f"the kernel did not say {kernel_says!r}: {ignored}")

    quillon_kept, reason = efi_bgrt_says(block)
    if kept:
        check(quillon_kept, f"the verdict says efi-bgrt drops the table ({reason}); the kernel kept it")
        quillon = verdict_fields(block)
        shown = {name: kernel.bgrt[name] for name in quillon}
        check(shown == quillon, f"the kernel shows {shown}, the verdict {quillon}")
        size = reported(lines, r"     Image size  \[0x([0-9A-F]+)\]")
        check(kernel.bgrt["image-bytes"] == size, f"the kernel maps {kernel.bgrt['image-bytes']} image bytes, "
                                                  f"the report says {size}")
        if result.logo is not None and bgrts == 1:
            check(kernel.bgrt["image-sha256"] == hashlib.sha256(result.logo).hexdigest(),
                  "the kernel's image differs from the logo Quillon saved")
    else:
        check(not quillon_kept, f"the verdict says efi-bgrt keeps the table; the kernel said "
                                f"\"Ignoring BGRT: {ignored[0]}\"")
        check(same_reason(reason, ignored[0]), f"the verdict says efi-bgrt ignores the table for {reason!r}; the "
                                               f"kernel said \"Ignoring BGRT: {ignored[0]}\"")

    # Linux reads only the first BGRT in the XSDT (acpi_table_parse); the others it never sees.
    for number, later in enumerate(blocks[1:], 2):
        check(not efi_bgrt_says(later)[0], f"the verdict says efi-bgrt keeps BGRT {number}, which Linux never reads: "
                                            f"it takes only the first BGRT in the XSDT")

    # Debian's efifb binds the framebuffer but has no code to draw the logo again.
    drawn = [message for message in kernel.messages if "boot graphics" in message or
             message.startswith("efifb: Ignoring BGRT")]
    check(not drawn, f"Debian's kernel now has efifb's boot graphics: {drawn}; the redraw can be judged on it")


def scenario(name, mode, kernel_says):
    return lambda arguments: compare(arguments, name, mode, kernel_says)


SCENARIOS = {name: scenario(name, mode, kernel_says) for name, (mode, kernel_says) in CASES.items()}


def main():
    return run_scenario(SCENARIOS, image_tree_arguments(scenario_parser(SCENARIOS)))


if __name__ == "__main__":
    sys.exit(main())
