#!/usr/bin/env python3
"""End-to-end tests: Plymouth's bgrt theme, shown by Debian's kernel right after Quillon on the same
machine with the same tables, judges what the verdict's Plymouth line says.

Each scenario is one ctest test: `plymouth_test.py SCENARIO --image-dir DIR --shared DIR --work DIR`,
on x64 OVMF. A scenario runs CraftTables in one of its modes (or nothing, for the firmware's own
tables), then Quillon, then the kernel with Plymouth in its initramfs (tools/quillon_run/plymouth.py),
which shows the bgrt splash while the runner takes a picture of the screen. The oracle is Plymouth
itself: its debug log's "using WxH bgrt image centered at XxY for WxH screen" or "bgrt orientation
mismatch", and the picture, on which the logo Quillon saved is looked for pixel for pixel. Where the
verdict's line and Plymouth disagree the test fails; the verdict is what gets mended.
"""

import os
import re
import sys

# support first: it puts tools/ on the path, for the imports after it.
from support import (boot, check, crafted_tables, identify, image_tree_arguments, pixels, run_scenario, saved_file,
                     scenario_parser, verdict_blocks)
from quillon_run import console, linux, plymouth  # noqa: E402

# Scenario: the CraftTables mode that makes the case (None: the firmware's own tables), and what
# Plymouth does with the logo:
#   kept      draws it where the firmware did
#   moved     draws it elsewhere: centred across, its centre 38.2% down
#   off       says it uses it at a place off the screen, and draws nothing
#   turned    refuses it for a panel turned otherwise
#   refused   draws nothing, and says nothing of it
#   dropped   the kernel has dropped the table: nothing to draw
CASES = {
    "firmware_logo": (None, "kept"),
    "off_centre": ("bgrt-off-centre", "moved"),
    "one_right": ("bgrt-one-right", "moved"),
    "38_2_down": ("bgrt-38.2-down", "kept"),
    "past_screen": ("bgrt-past-screen", "off"),
    "tall": ("bgrt-tall", "off"),
    "32_bit": ("bgrt-32-bit", "refused"),
    "8_bit": ("bgrt-8-bit", "refused"),
    "rotated": ("bgrt-rotated", "turned"),
    "version_2": ("bgrt-version-2", "dropped"),
}

USING = re.compile(r".*: using (\d+)x(\d+) bgrt image centered at (-?\d+)x(-?\d+) for (\d+)x(\d+) screen")
MISMATCH = re.compile(r".*: bgrt orientation mismatch, (.*)")
SHOWING = ": showing splash screen"


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


def plymouth_says(block):
    line = next((line for line in block if line.startswith("  Plymouth: ")), None)
    check(line is not None, f"the verdict has no line about Plymouth: {block}")
    return line[len("  Plymouth: "):]


def moved_so(used):
    """Whether Plymouth's place for the logo is centred across with the logo's centre 38.2% down,
    each within a pixel."""
    width, height, x, y, screen_width, screen_height = used
    return abs(2 * x + width - screen_width) <= 2 and abs(y + height / 2 - 0.382 * screen_height) <= 1


def compare(arguments, name, mode, plymouth_does):
    before = [f"{arguments.craft} {mode}"] if mode else []
    answers = [console.Answer(plymouth.SHOWN, ["Enter"], picture="screen.png")]
    result = boot(arguments, name, before=before, kernel="debian", plymouth=True, answers=answers)
    if mode:
        check(len(crafted_tables(result)) == 1, f"CraftTables did not change the BGRT:\n{result.console}")
    blocks = verdict_blocks(result)
    check(len(blocks) == 1, f"{len(blocks)} verdicts, not 1")
    block = blocks[0]
    check(result.logo is not None, "Quillon saved no logo to look for on the screen")
    log = plymouth.read_log(result.console)
    check(any(SHOWING in line for line in log), f"Plymouth never showed its splash:\n" + "\n".join(log))
    kept = linux.read_report(result.console).bgrt
    used = next((tuple(int(value) for value in found.groups()) for found in map(USING.fullmatch, log) if found), None)
    turned = next((found.group(1) for found in map(MISMATCH.fullmatch, log) if found), None)

    screen = Picture(os.path.join(arguments.work, name, "screen.png"))
    logo = Picture(saved_file(arguments, "logo.bmp", result.logo))
    seen, drawn = places(screen, logo), lit(screen)
    print("\n".join(block))
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
        did = "turned" if turned else "refused" if kept else "dropped"
    if did not in ("kept", "moved"):
        check(drawn < logo.width * logo.height // 10, f"Plymouth drew something on the screen, {drawn} pixels "
                                                       f"not black, yet not the logo")
    check(did == plymouth_does, f"Plymouth's outcome is {did!r}, not {plymouth_does!r} as the case says")

    # What the verdict says, against it.
    says = plymouth_says(block)
    if did == "kept":
        check(says == "shows it where the firmware did", f"the verdict says {says!r}; Plymouth draws the logo "
                                                          f"where the firmware did")
    elif did == "moved":
        check(moved_so(used), f"Plymouth moves the logo to {used[2]}, {used[3]}: not centred across at 38.2%")
        check(says == "shows it centred across, 38.2% down", f"the verdict says {says!r}; Plymouth draws the "
                                                               f"logo at {used[2]}, {used[3]}")
    elif did == "off":
        check(moved_so(used), f"Plymouth moves the logo to {used[2]}, {used[3]}: not centred across at 38.2%")
        check(says == "won't show it: off the screen when moved 38.2% down",
              f"the verdict says {says!r}; Plymouth moves the logo off the screen to {used[2]}, {used[3]} and "
              f"draws nothing")
    elif did == "turned":
        check(says == "shows it only on a panel turned the same way", f"the verdict says {says!r}; Plymouth said "
                                                                       f"\"bgrt orientation mismatch, {turned}\"")
    elif did == "dropped":
        check(says == "won't show it: efi-bgrt ignores the table", f"the verdict says {says!r}; the kernel kept no "
                                                                    f"BGRT for Plymouth")
    else:
        found = re.search(r"\n           BPP   \[0x([0-9A-F]+)\]", result.console)
        check(found is not None, "the report gives no BPP")
        bits = int(found.group(1), 16)
        why = "won't show it: not 24 bits" if bits != 24 else "won't show it: no bitmap it can read"
        check(says == why, f"the verdict says {says!r}; Plymouth draws nothing of a {bits}-bit logo")


def scenario(name, mode, plymouth_does):
    return lambda arguments: compare(arguments, name, mode, plymouth_does)


SCENARIOS = {name: scenario(name, mode, plymouth_does) for name, (mode, plymouth_does) in CASES.items()}


def main():
    return run_scenario(SCENARIOS, image_tree_arguments(scenario_parser(SCENARIOS)))


if __name__ == "__main__":
    sys.exit(main())
