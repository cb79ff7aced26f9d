#!/usr/bin/env python3
"""End-to-end tests: the readers Quillon's verdict speaks for, booted right after Quillon on the same
machine with the same tables, judge what its lines say. One boot serves both: Debian's kernel, whose
efi-bgrt keeps or ignores the BGRT, and Plymouth's bgrt theme in its initramfs, which shows the logo
the kernel kept (tools/quillon_run/linux.py and plymouth.py).

Each scenario is one ctest test: `readers_test.py SCENARIO --arch ARCH --image-dir DIR --shared DIR
--work DIR`. A scenario runs CraftTables in one of its modes (or nothing, for the firmware's own
tables), then Quillon, then the kernel. Linux reads only the first BGRT in the XSDT, so every mode
changes the firmware's BGRT where it stands.

The oracles are the readers themselves:
- the kernel: /sys/firmware/acpi/bgrt present or not, its fields and image, and its "Ignoring BGRT"
  message;
- Plymouth: its debug log's "using WxH bgrt image centered at XxY for WxH screen" or "bgrt
  orientation mismatch", and a picture of the screen, on which the logo Quillon saved is looked for
  pixel for pixel.
Where the verdict and a reader disagree the test fails; the verdict is what gets mended.

On x64 the same initramfs then runs the Linux command, quillon, built statically (--linux-command),
as root on the kernel the verdict spoke for and, in the Plymouth boots, once Plymouth has quit: its
report of the first BGRT must be Quillon's line for line, its efi-bgrt line the kernel's own
decision and words, its Plymouth line what Plymouth did on the display it names, and its
BIOSLogo.bmp the kernel's image, which is Quillon's file.

The readers are Debian 13's (kernel 6.12, Plymouth 24.004). Plymouth places the logo by what its
renderer knows of the display: its DRM renderer, on QEMU's standard VGA through the kernel's bochs
driver, gives Plymouth 24 panel properties (the first display's, where no laptop panel is), so the
verdict's line for a panel holds there; its frame-buffer renderer, on the firmware's framebuffer
with no DRM driver, gives none, and the line for a monitor holds. Plymouth 22 (Debian 12) gives panel
properties to a laptop's own panel alone, so on QEMU's display its DRM renderer places the logo as on
a monitor: the one case where the two generations differ on QEMU is kept on Debian 12 too.

Debian's kernels cannot judge the redraw: efifb draws the logo again only in kernels built with
CONFIG_FRAMEBUFFER_CONSOLE_DEFERRED_TAKEOVER, which Debian leaves off. Each scenario checks that this
still holds, so that a kernel that starts drawing is noticed.
"""

import dataclasses
import hashlib
import os
import re
import sys

# support first: it puts tools/ on the path, for the imports after it.
from support import (LOGO_LINES, SAVED_LINE, Failure, all_report_lines, boot, check, crafted_tables, identify,
                     image_tree_arguments, pixels, run_scenario, saved_file, scenario_parser, verdict_blocks)
from quillon_run import console, linux, plymouth  # noqa: E402
from quillon_run.verdict_texts import reader_prefix, says  # noqa: E402


@dataclasses.dataclass(frozen=True)
class Case:
    mode: str | None  # the CraftTables mode that makes the case; None: the firmware's own tables
    kernel: str | None  # the start of the kernel's "Ignoring BGRT" message; None: it keeps the table
    plymouth: str | None  # what Plymouth does with the logo (below); None: no Plymouth in the boot
    why: str = "None"  # for "refused", the reason the verdict must give, as its table names it
    debian: str = "13"
    display: str = "drm"  # Plymouth's renderer: "drm" (QEMU's VGA through bochs) or "framebuffer"


# What Plymouth does with the logo:
#   kept      draws it where the firmware did
#   moved     draws it elsewhere: centred across, its centre 38.2% down
#   off       says it uses it at a place off the screen, and draws nothing
#   turned    refuses it for a panel turned otherwise
#   refused   draws nothing, and says nothing of it: its loader would not take the bitmap
#   dropped   the kernel has dropped the table: nothing to draw
CASES = {
    "firmware_logo": Case(None, None, "kept"),
    "firmware_logo_framebuffer": Case(None, None, "kept", display="framebuffer"),
    "version_0": Case("bgrt-version-0", None, "kept"),
    "version_2": Case("bgrt-version-2", "invalid version 2", "dropped"),
    # No logo Quillon could save, to look for on the screen: the kernel alone.
    "null_image": Case("bgrt-no-image", "null image address", None),
    "not_boot_services_data": Case("bgrt-acpi-memory", "invalid image address", "dropped"),
    "bad_bm": Case("bgrt-bad-bm", "Incorrect BMP magic number 0x424d", None),
    "type_1": Case("bgrt-type-1", "invalid image type 1", "dropped"),
    "length_40": Case("bgrt-length-40", "invalid length 40", "dropped"),
    "bad_checksum": Case("bgrt-bad-checksum", None, "kept"),
    "rotated": Case("bgrt-rotated", None, "turned"),
    "32_bit": Case("bgrt-32-bit", None, "refused", "Not24Bits"),
    "8_bit": Case("bgrt-8-bit", None, "refused", "Not24Bits"),
    "header_124": Case("bgrt-header-124", None, "refused", "HeaderNot40"),
    "reserved": Case("bgrt-reserved", None, "refused", "ReservedNotZero"),
    "off_centre": Case("bgrt-off-centre", None, "moved"),
    "one_right": Case("bgrt-one-right", None, "moved"),
    "38_2_down": Case("bgrt-38.2-down", None, "kept"),
    "10_down": Case("bgrt-10-down", None, "kept"),
    "10_down_framebuffer": Case("bgrt-10-down", None, "moved", display="framebuffer"),
    "10_down_debian_12": Case("bgrt-10-down", None, "moved", debian="12"),
    "past_screen": Case("bgrt-past-screen", None, "off"),
    "tall": Case("bgrt-tall", None, "off"),
    # A BGRT after the firmware's, which Linux never reads. The file holds its logo, not the one
    # Plymouth would show, so the kernel alone is booted.
    "second_bgrt": Case("off-centre", None, None),
    # AArch64: the kernel alone, as QEMU's virt machine has no display Plymouth's theme is tried on here.
    "firmware_logo_kernel": Case(None, None, None),
}

# What Plymouth's log says of the logo.
USING = re.compile(r".*: using (\d+)x(\d+) bgrt image centered at (-?\d+)x(-?\d+) for (\d+)x(\d+) screen")
MISMATCH = re.compile(r".*: bgrt orientation mismatch, (.*)")
SHOWING = ": showing splash screen"


# The kernel's side.

def same_reason(verdict, kernel):
    """The verdict gives the kernel's own words for why it ignores a BGRT, numbers in the engine's
    upper-case hexadecimal, and may add what it knows in brackets after them."""
    return verdict.lower() == kernel.lower() or verdict.lower().startswith(kernel.lower() + " (")


def efi_bgrt_says(block):
    """What the verdict says Linux's efi-bgrt does with the BGRT: (kept, reason), the reason None
    when it keeps it."""
    line = next((line for line in block if line.startswith(reader_prefix("LinuxEfiBgrt"))), None)
    if line is None:
        raise Failure(f"the verdict has no line about Linux's efi-bgrt: {block}")
    if line == says("LinuxEfiBgrt", "Kept"):
        return True, None
    for way in ("Ignored", "NeverRead"):
        start = says("LinuxEfiBgrt", way) + ": "
        if line.startswith(start):
            return False, line[len(start):]
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


def check_kernel(result, case, blocks):
    """The kernel did with the first BGRT what the case says, and the verdict's efi-bgrt line agrees;
    returns whether the kernel kept it."""
    kernel = linux.read_report(result.console)
    check(kernel.ended, f"the init script did not finish:\n{result.console}")
    block, lines = blocks[0], all_report_lines(result)
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
    if case.kernel is None:
        check(kept, f"the kernel ignored the BGRT: {ignored}")
    else:
        check(not kept and ignored[0].startswith(case.kernel), f"the kernel did not say {case.kernel!r}: {ignored}")

    quillon_kept, reason = efi_bgrt_says(block)
    if kept:
        check(quillon_kept, f"the verdict says efi-bgrt drops the table ({reason}); the kernel kept it")
        quillon = verdict_fields(block)
        shown = {name: kernel.bgrt[name] for name in quillon}
        check(shown == quillon, f"the kernel shows {shown}, the verdict {quillon}")
        size = reported(lines, r"     Image size  \[0x([0-9A-F]+)\]")
        check(kernel.bgrt["image-bytes"] == size, f"the kernel maps {kernel.bgrt['image-bytes']} image bytes, "
                                                  f"the report says {size}")
        if result.logo is not None and len(blocks) == 1:
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
    return kept


# Plymouth's side.

class Picture:
    """An image's pixels, three bytes each, red first, a row after another."""

    def __init__(self, path):
        self.width, self.height = identify(path)[:2]
        self.data = pixels(path)

    def row(self, y, x=0, count=None):
        count = self.width - x if count is None else count
        start = (y * self.width + x) * 3
        return self.data[start:start + 3 * count]


def matching(screen, logo, x, y):
    """(pixels of the logo at x, y the same on the screen, pixels of it on the screen at all)."""
    same = seen = 0
    left, right = max(0, -x), min(logo.width, screen.width - x)
    for row in range(max(0, -y), min(logo.height, screen.height - y)):
        if right <= left:
            break
        want, have = logo.row(row, left, right - left), screen.row(y + row, x + left, right - left)
        seen += right - left
        same += right - left if want == have else sum(want[i:i + 3] == have[i:i + 3] for i in range(0, len(want), 3))
    return same, seen


def places(screen, logo):
    """Where on the screen at least half of the logo's pixels there are its own: found from a piece
    of its middle row, then compared whole."""
    row, x = logo.height // 2, max(0, logo.width // 2 - 8)
    piece = logo.row(row, x, min(16, logo.width - x))
    found = []
    for y in range(screen.height):
        line = screen.row(y)
        at = line.find(piece)
        while at >= 0:
            if at % 3 == 0:
                place = (at // 3 - x, y - row)
                same, seen = matching(screen, logo, *place)
                if place not in found and seen and same * 2 >= seen:
                    found.append(place)
            at = line.find(piece, at + 1)
    return found


def lit(screen):
    """How many of the screen's pixels are not black, Plymouth's background here."""
    data = screen.data
    return sum(1 for i in range(0, len(data), 3) if data[i] or data[i + 1] or data[i + 2])


def verdict_place(block):
    """The BGRT's offsets as the verdict gives them."""
    across = next((re.fullmatch(r"  Across: at (\d+) of \d+: .*", line) for line in block
                   if line.startswith("  Across: ")), None)
    down = next((re.fullmatch(r"  Down: at (\d+) of \d+, .*", line) for line in block if line.startswith("  Down: ")),
                None)
    check(across is not None and down is not None, f"the verdict gives no place: {block}")
    return int(across.group(1)), int(down.group(1))


def moved_so(used):
    """Whether Plymouth's place for the logo is centred across with the logo's centre 38.2% down,
    each within a pixel."""
    width, height, x, y, screen_width, screen_height = used
    return abs(2 * x + width - screen_width) <= 2 and abs(y + height / 2 - 0.382 * screen_height) <= 1


def display_kind(case):
    """Which of the verdict's Plymouth lines holds for the boot's display: Plymouth 24's DRM renderer
    gives panel properties for QEMU's display, its frame-buffer renderer and Plymouth 22 none."""
    return "Panel" if case.debian == "13" and case.display == "drm" else "Monitor"


def check_plymouth_line(block, case, outcome, reason="None"):
    """The verdict's Plymouth line for this display says the outcome: its one line, or where it gives
    a panel's and a monitor's, the one for this display."""
    lines = [line for line in block if line.startswith(("  Plymouth: ", "  Plymouth on "))]
    reader = "Plymouth" if len(lines) == 1 else f"PlymouthOn{display_kind(case)}"
    wanted = says(reader, outcome, reason)
    check(wanted in lines, f"the verdict says {lines}; on this display Plymouth's line is {wanted!r}")


def check_plymouth(arguments, name, result, case, block, kernel_kept):
    log = plymouth.read_log(result.console)
    check(any(SHOWING in line for line in log), "Plymouth never showed its splash:\n" + "\n".join(log))
    renderer = plymouth.renderer(log)
    wanted = "drm" if case.display == "drm" else "frame-buffer"
    check(renderer == wanted, f"Plymouth opened the {renderer or 'no'} renderer, not {wanted}")
    used = next((tuple(int(value) for value in found.groups()) for found in map(USING.fullmatch, log) if found), None)
    turned = next((found.group(1) for found in map(MISMATCH.fullmatch, log) if found), None)

    screen = Picture(os.path.join(arguments.work, name, "screen.png"))
    logo = Picture(saved_file(arguments, "logo.bmp", result.logo))
    seen, drawn = places(screen, logo), lit(screen)
    print("Plymouth: " + "; ".join(line.split(": ", 1)[-1] for line in log if "bgrt" in line and "/bgrt" not in line))
    print(f"the picture: the logo at {seen or 'no place'}; {drawn} pixels not black")

    # What Plymouth did, as its log and the picture agree on it.
    if used is not None:
        width, height, x, y, screen_width, screen_height = used
        check((width, height) == (logo.width, logo.height), f"Plymouth uses a {width}x{height} image, Quillon "
                                                            f"saved a {logo.width}x{logo.height} one")
        on_screen = x >= 0 and y >= 0 and x + width <= screen_width and y + height <= screen_height
        same, shown = matching(screen, logo, x, y)
        if on_screen:
            check(same >= shown * 95 // 100, f"Plymouth says it draws the logo at {x}, {y}; the picture shows "
                                             f"{same} of its {shown} pixels there, and the logo at {seen}")
            did = "kept" if (x, y) == verdict_place(block) else "moved"
        else:
            check(not seen and same < shown // 20, f"Plymouth places the logo off the screen at {x}, {y}, yet the "
                                                    f"picture shows {same} of its {shown} pixels there, and the "
                                                    f"logo at {seen}")
            did = "off"
    else:
        check(not seen, f"Plymouth's log names no place, yet the picture shows the logo at {seen}")
        did = "turned" if turned else "refused" if kernel_kept else "dropped"
    if did not in ("kept", "moved"):
        check(drawn < logo.width * logo.height // 10, f"Plymouth drew something on the screen, {drawn} pixels "
                                                       f"not black, yet not the logo")
    check(did == case.plymouth, f"Plymouth's outcome is {did!r}, not {case.plymouth!r} as the case says")

    # What the verdict says, against it.
    if did in ("moved", "off"):
        check(moved_so(used), f"Plymouth moves the logo to {used[2]}, {used[3]}: not centred across at 38.2%")
    outcome = {"kept": ("ShowsWhereFirmwareDid",), "moved": ("ShowsCentredGolden",),
               "off": ("WontShow", "OffScreenWhenMoved"), "turned": ("ShowsOnTurnedPanel",),
               "dropped": ("WontShow", "EfiBgrtIgnores"), "refused": ("WontShow", case.why)}[did]
    check_plymouth_line(block, case, *outcome)
    return outcome, used


# The Linux command's side: quillon, run by the same initramfs once the kernel and Plymouth are done.

# The lines that say where the table and its logo lie and what the table holds: the command prints
# them from the kernel's copies, at the firmware's addresses, as Quillon printed them from the
# firmware's memory.
TABLE_LINES = LOGO_LINES[:3] + [r"  BGRT \d+ checksum .*", r"  Length .*", r"  Status: .*"]
# The bitmap's header and the save, which the command reads from the copy the kernel kept.
BITMAP_LINES = LOGO_LINES[3:] + [re.escape(SAVED_LINE)]
# The place on the screen, where the command's display has the size Quillon's screen had.
PLACE_LINES = [r"  Across: .*", r"  Down: .*", r"  Size: .*"]
# The command's Plymouth line names the display it judged on: "  Plymouth (Virtual-1, 1280 x 800 panel): ".
COMMAND_PLYMOUTH = re.compile(re.escape(reader_prefix("Plymouth")[:-2]) + r" \(([^,]+), (\d+) x (\d+) (\w+)\): ")


def first_bgrt(lines):
    """The lines about the first BGRT: from its "Found BGRT" line to the next one."""
    starts = [i for i, line in enumerate(lines) if line.startswith("  Found BGRT @")]
    check(starts, f"no BGRT in these lines: {lines}")
    return lines[starts[0]:starts[1] if len(starts) > 1 else len(lines)]


def picked(lines, patterns):
    return [line for line in lines if any(re.fullmatch(pattern, line) for pattern in patterns)]


def check_command_lines(quillon, command, patterns, what):
    want, have = picked(quillon, patterns), picked(command, patterns)
    check(want and have == want, f"the command's lines for {what} are {have}, Quillon's {want}")


def check_command(result, case, blocks, kernel_kept, plymouth_did):
    """The Linux command, run as root on the kernel Quillon's verdict spoke for, reports the first
    BGRT as Quillon did, says the kernel's own decision, judges Plymouth as Plymouth behaved on this
    display (plymouth_did: its outcome and its log's place and screen, None without Plymouth), and
    saves the logo the kernel kept, the bytes Quillon saved."""
    run = linux.read_command(result.console)
    check(run.ended, f"the init script did not finish the command:\n{result.console}")
    print("\n".join(f"quillon: {line}" for line in run.lines))
    print(f"quillon: exit status {run.status}; saved {run.saved}")
    kernel = linux.read_report(result.console)
    quillon = first_bgrt(all_report_lines(result))

    # The kernel shows a table as long as its length says: one shorter than a BGRT the command
    # cannot read whole, and says so in one line, where Quillon read on in the firmware's memory.
    length = next(int(found.group(1)) for found in (re.match(r"  Length (\d+)", line) for line in blocks[0]) if found)
    if length < 56:
        check(run.status == 1 and len(run.lines) == 1 and "/sys/firmware/acpi/tables/BGRT" in run.lines[0]
              and not run.saved, f"a BGRT of {length} bytes; the command's exit status is {run.status}, not 1 "
                                 f"with one line naming the table")
        return
    command = first_bgrt(run.lines)

    check_command_lines(quillon, command, TABLE_LINES, "the table")
    quillon_kept, quillon_reason = efi_bgrt_says(blocks[0])
    kept, reason = efi_bgrt_says(command)
    check(kept == kernel_kept, f"the command says efi-bgrt {'kept' if kept else 'ignored'} the table; the kernel "
                               f"{'kept' if kernel_kept else 'ignored'} it")
    check(kept == quillon_kept, f"the command says efi-bgrt kept the table: {kept}; Quillon: {quillon_kept}")
    if not kept:
        check(reason == kernel.ignored()[0], f"the command gives {reason!r} for efi-bgrt; the kernel said "
                                             f"{kernel.ignored()[0]!r}")
        check(same_reason(quillon_reason, reason), f"the command gives {reason!r} for efi-bgrt; Quillon gave "
                                                   f"{quillon_reason!r}")

    # The logo: the kernel's copy, saved; none where the kernel kept none.
    if kept:
        check(run.status == 0, f"the command's exit status is {run.status}, not 0, with the kernel's logo to save")
        check_command_lines(quillon, command, BITMAP_LINES, "the bitmap")
        check(run.saved.get("BIOSLogo.bmp") == kernel.bgrt["image-sha256"],
              f"the command's BIOSLogo.bmp is not the kernel's image: {run.saved}")
        if result.logo is not None and len(blocks) == 1:
            check(run.saved["BIOSLogo.bmp"] == hashlib.sha256(result.logo).hexdigest(),
                  "the command's BIOSLogo.bmp differs from the one Quillon saved")
        bits = reported(quillon, r"           BPP   \[0x([0-9A-F]+)\]")
        check(("BIOSLogo.png" in run.saved) == (bits in (24, 32)),
              f"a {bits}-bit logo, and the command saved {sorted(run.saved)}")
    else:
        check(run.status == 3 and not run.saved, f"the kernel kept no logo, yet the command's exit status is "
                                                 f"{run.status} and it saved {run.saved}")

    # The display: Plymouth's, judged on as Plymouth used it. The kernel alone loads no DRM driver,
    # and no Plymouth runs to compare with.
    if plymouth_did is None:
        return
    plymouth_line = next((line for line in command if COMMAND_PLYMOUTH.match(line)), None)
    check(plymouth_line is not None, f"Plymouth drew through its {case.display} renderer; the command has no "
                                     f"Plymouth line for a display: {command}")
    display = COMMAND_PLYMOUTH.match(plymouth_line)
    size = (int(display.group(2)), int(display.group(3)))
    screen = next((tuple(int(value) for value in found.groups()) for found in
                   (re.fullmatch(r"  Screen now: (\d+) x (\d+), .*", line) for line in blocks[0]) if found), None)
    if size == screen and kept:
        check_command_lines(blocks[0], command, PLACE_LINES, "the logo's place")
    outcome, used = plymouth_did
    if used is not None:
        check(size == used[4:], f"the command judges Plymouth on a {size[0]} x {size[1]} display; Plymouth used "
                                f"{used[4]} x {used[5]}")
    said = reader_prefix("Plymouth") + plymouth_line[display.end():]
    if case.debian == "13":
        wanted = says("Plymouth", *outcome)
    else:
        # The command judges as Plymouth 24 does, which gives QEMU's display panel properties; Plymouth
        # 22 does not. Its line is then Quillon's for Plymouth 24's DRM renderer on this display.
        quillon_lines = [line for line in blocks[0] if line.startswith(("  Plymouth: ", "  Plymouth on "))]
        panel = reader_prefix("Plymouth" if len(quillon_lines) == 1 else "PlymouthOnPanel")
        wanted = next((reader_prefix("Plymouth") + line[len(panel):] for line in quillon_lines
                       if line.startswith(panel)), None)
    check(said == wanted, f"the command says {plymouth_line!r}; on this display it should say {wanted!r}")


def compare(arguments, name, case):
    check(case.plymouth is None or arguments.arch == "x64", "Plymouth is booted on x64 alone")
    before = [f"{arguments.craft} {case.mode}"] if case.mode else []
    shown = case.plymouth is not None
    answers = [console.Answer(plymouth.SHOWN, ["Enter"], picture="screen.png")] if shown else []
    if arguments.linux_command:
        check(os.path.isfile(arguments.linux_command), f"no Linux command at {arguments.linux_command}: `make host` "
                                                        f"builds it")
    result = boot(arguments, name, before=before, kernel="debian", plymouth=shown, debian=case.debian,
                  display=case.display, answers=answers, linux_command=arguments.linux_command)
    if case.mode:
        check(len(crafted_tables(result)) == 1, f"CraftTables did not change the BGRT:\n{result.console}")
    blocks = verdict_blocks(result)
    bgrts = 2 if case.mode == "off-centre" else 1
    check(len(blocks) == bgrts, f"{len(blocks)} verdicts, not {bgrts}")
    print("\n".join(blocks[0]))
    kept = check_kernel(result, case, blocks)
    plymouth_did = None
    if shown:
        check(result.logo is not None, "Quillon saved no logo to look for on the screen")
        plymouth_did = check_plymouth(arguments, name, result, case, blocks[0], kept)
    if arguments.linux_command:
        check_command(result, case, blocks, kept, plymouth_did)


def scenario(name, case):
    return lambda arguments: compare(arguments, name, case)


SCENARIOS = {name: scenario(name, case) for name, case in CASES.items()}


def main():
    parser = scenario_parser(SCENARIOS)
    parser.add_argument("--linux-command", default="", help="a static build of the Linux command, quillon, which the "
                                                            "kernel's initramfs runs and the test judges too")
    return run_scenario(SCENARIOS, image_tree_arguments(parser))


if __name__ == "__main__":
    sys.exit(main())
