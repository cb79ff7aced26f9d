#!/usr/bin/env python3
"""How long the stick takes, from power-on, on each architecture's firmware under QEMU with
Secure Boot off: until the boot manager starts the stick, and until the stick program's last
line. The difference is the stick's own time: shim, the program, the report and the save.
Nobody presses a key; each figure is the median of several boots.

    bench_stick_boot.py STICK_IMAGE [BOOTS]      (BOOTS: how many boots an architecture, default 5)
"""

import os
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qemu_run  # noqa: E402
from quillon_run.stick_words import LAST_LINE  # noqa: E402

# The boot manager's word as it starts a boot option; the stick is the only one that boots.
STARTING = "BdsDxe: starting Boot"
# The stick's own time on x64 OVMF may be at most this much.
GOAL_SECONDS = 1.0


def measure(stick, arch, boots):
    started, finished = [], []
    for _ in range(boots):
        with tempfile.TemporaryDirectory(prefix="quillon-bench-") as work:
            result = qemu_run.boot(qemu_run.Options(arch=arch, stick=stick, timeout=150, work=work))
        if result.problem:
            raise SystemExit(f"bench-stick-boot: {arch}: {result.problem}")
        started.append(result.seconds_to(STARTING))
        finished.append(result.seconds_to(LAST_LINE))
    return statistics.median(started), statistics.median(finished)


def main(argv):
    if not argv or len(argv) > 2:
        print(__doc__.strip().split("\n\n")[-1])
        return 2
    stick, boots = argv[0], int(argv[1]) if len(argv) > 1 else 5
    print(f"Stick boot, Secure Boot off, nobody at the keyboard (median of {boots} boots; seconds from power-on)")
    print(f"{'firmware':<10}{'stick started':>15}{'last line':>11}{'stick own':>11}")
    figures = {}
    for arch in ("x64", "ia32", "aa64"):
        started, finished = measure(stick, arch, boots)
        figures[arch] = finished - started
        print(f"{arch:<10}{started:>15.2f}{finished:>11.2f}{finished - started:>11.2f}")
    met = figures["x64"] <= GOAL_SECONDS
    print(f"  {'met   ' if met else 'MISSED'} x64: last line at most {GOAL_SECONDS:.0f} s after the stick starts")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
