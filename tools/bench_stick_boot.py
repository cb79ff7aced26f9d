#!/usr/bin/env python3
"""How long the stick program takes on a machine whose USB stick writes as slowly as a real one:
the stick booted by each firmware under QEMU with Secure Boot off, its writes held to 2,000,000
bytes a second, at the screen sizes people have. Nobody presses a key; each figure is the median of
several boots.

The stick's own time runs from the boot manager starting the stick to the program's last line. It
splits by when the program's lines arrive on the serial console, each printed as its part ends:
  start+read   shim starting the program, and the program reading the screen back (it prints
               nothing before, or the console would draw over the screen): to its first line
  report       the report and its verdict, with BIOSLogo.bmp written: to the report's last line
  logo png     BIOSLogo.png made and written: to the line that says so
  encode       Screen.png made: the screen's part in a boot with the stick's writes unthrottled
  write        Screen.png written: the rest of the screen's part in the throttled boot
  rest         the report kept on the stick, the plain words: to the last line

    bench_stick_boot.py STICK_IMAGE [BOOTS]      (BOOTS: boots for each figure, default 3)
"""

import os
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qemu_run  # noqa: E402
from quillon_run.stick_words import FIRST_LINE, LAST_LINE  # noqa: E402

# The boot manager's word as it starts a boot option; the stick is the only one that boots.
STARTING = "BdsDxe: starting Boot"
STICK_BYTES_A_SECOND = 2_000_000
# The program's own time may be at most this much, on each of these.
GOAL_SECONDS = 1.0
MACHINES = [("x64", "1280x800"), ("x64", "1920x1080"), ("x64", "2560x1600"), ("aa64", ""), ("ia32", "")]
LOGO_PNG = "Logo: "
SCREEN = "Screen: "
PARTS = ["start+read", "report", "logo png", "screen", "rest"]


def boot_once(stick, arch, screen, bytes_a_second):
    with tempfile.TemporaryDirectory(prefix="quillon-bench-") as work:
        result = qemu_run.boot(qemu_run.Options(arch=arch, stick=stick, timeout=300, work=work, screen=screen,
                                                stick_write_bps=bytes_a_second))
        if result.problem:
            raise RuntimeError(f"{arch} {screen or 'default screen'}: {result.problem}")
        lines = result.lines()
        logo = next((index for index, line in enumerate(lines) if line.startswith(LOGO_PNG)), None)
        if logo is None:
            raise RuntimeError(f"{arch} {screen or 'default screen'}: no BIOSLogo.png line")
        # Each line arrives as the part it ends is done: the report's last line is the one before.
        marks = [STARTING, FIRST_LINE, lines[logo - 1], LOGO_PNG, SCREEN, LAST_LINE]
        times = [result.seconds_to(mark) for mark in marks]
        if None in times:
            raise RuntimeError(f"{arch} {screen or 'default screen'}: the console lacks {marks[times.index(None)]!r}")
        size = next((line.split()[1:4] for line in lines if line.startswith(SCREEN)), ["?"] * 3)
        png = qemu_run.read_file(result.disk, "Screen.png")
    parts = [after - before for before, after in zip(times, times[1:])]
    return parts, " ".join(size), len(png) if png else 0


def measure(stick, arch, screen, boots):
    """The medians of each part, throttled, with the screen's part split by an unthrottled boot."""
    throttled = [boot_once(stick, arch, screen, STICK_BYTES_A_SECOND) for _ in range(boots)]
    free = [boot_once(stick, arch, screen, 0) for _ in range(boots)]
    parts = [statistics.median(run[0][index] for run in throttled) for index in range(len(PARTS))]
    encode = statistics.median(run[0][PARTS.index("screen")] for run in free)
    own = statistics.median(sum(run[0]) for run in throttled)
    return own, parts, encode, throttled[0][1], throttled[0][2]


def main(argv):
    if not argv or len(argv) > 2:
        print(__doc__.strip().split("\n\n")[-1])
        return 2
    stick, boots = argv[0], int(argv[1]) if len(argv) > 1 else 3
    print(f"Stick boot, Secure Boot off, the stick's writes held to {STICK_BYTES_A_SECOND:,} bytes a second "
          f"(median of {boots} boots; seconds)")
    print(f"{'firmware':<9}{'screen':>12}{'Screen.png':>12}{'own':>7}{'start+read':>12}{'report':>8}{'logo png':>10}"
          f"{'encode':>8}{'write':>7}{'rest':>7}")
    missed = []
    for arch, screen in MACHINES:
        own, parts, encode, size, png = measure(stick, arch, screen, boots)
        read, report, logo, shown, rest = parts
        print(f"{arch:<9}{size:>12}{png:>12,}{own:>7.2f}{read:>12.2f}{report:>8.2f}{logo:>10.2f}{encode:>8.2f}"
              f"{max(shown - encode, 0):>7.2f}{rest:>7.2f}")
        if own > GOAL_SECONDS:
            missed.append(f"{arch} {size}: {own - GOAL_SECONDS:.2f} s over")
    print(f"  {'MISSED' if missed else 'met   '} the stick's own time at most {GOAL_SECONDS:.1f} s on each"
          + (f" ({'; '.join(missed)})" if missed else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
