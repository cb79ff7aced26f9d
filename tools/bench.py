#!/usr/bin/env python3
"""Runs the format benchmarks and prints what `make bench` reports.

usage: bench.py BENCH_BUILD_DIR IMAGE_DIR

1. Google Benchmark, repeated, in one run: the median ns per call of each way for the report and
   each single case, with the ratios of the compiled path and of the runtime path to snprintf and
   to {fmt}; then the report and one character through ConsolePrint end to end, on a firmware
   whose pool and console cost nothing.
2. Instructions per whole report of each way, counted by callgrind on a small driver (the same
   number on a busy machine as on an idle one).
3. The size of each image (its bound is the image check's, tools/check-image.sh).
4. The stick's PNG files of screens beside zlib's compress2 at levels 1 and 6 on the same filtered
   rows: bytes and milliseconds (png_bench prints the table).
5. Which goals are met.
"""

import json
import os
import re
import subprocess
import sys
import tempfile

WAYS = ["runtime-8bit", "runtime-ucs2", "compiled", "snprintf", "fmt", "memcpy"]
COUNTED = WAYS + ["console"]
REPORTS_COUNTED = 1000
# Instructions per report of the runtime engine before formats were parsed while compiling
# (`make bench` at that commit): runtime formats may not get slower than this.
RUNTIME_BEFORE = {"runtime-8bit": 8727, "runtime-ucs2": 9047}
IMAGES = ["Quillon.efi", "QuillonAA64.efi", "QuillonIA32.efi"]


def benchmark_medians(build):
    output = subprocess.run(
        [os.path.join(build, "bench", "format_bench"), "--benchmark_repetitions=9",
         "--benchmark_report_aggregates_only=true", "--benchmark_min_time=0.05", "--benchmark_format=json",
         # Repetitions of all cases interleaved, so a slow spell of a shared machine falls on every way alike.
         "--benchmark_enable_random_interleaving=true"],
        check=True, stdout=subprocess.PIPE).stdout
    # Cases in the order the benchmark registers them, whatever order the interleaved runs had.
    listed = subprocess.run([os.path.join(build, "bench", "format_bench"), "--benchmark_list_tests=true"],
                            check=True, stdout=subprocess.PIPE).stdout.decode().splitlines()
    medians = {name.rsplit("/", 1)[0]: {} for name in listed}
    for entry in json.loads(output)["benchmarks"]:
        if entry.get("aggregate_name") != "median":
            continue
        case, way = entry["run_name"].rsplit("/", 1)
        scale = {"ns": 1.0, "us": 1e3, "ms": 1e6}[entry["time_unit"]]
        medians[case][way] = entry["real_time"] * scale
    return medians


def callgrind_instructions(build, way, count):
    with tempfile.NamedTemporaryFile(suffix=".callgrind") as profile:
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={profile.name}",
                        os.path.join(build, "bench", "report_driver"), way, str(count)],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(profile.name) as handle:
            for line in handle:
                found = re.match(r"(summary|totals):\s+(\d+)", line)
                if found:
                    return int(found.group(2))
    raise RuntimeError("callgrind wrote no total")


def main():
    build, image_dir = sys.argv[1], sys.argv[2]
    medians = benchmark_medians(build)

    print("Median ns per call (one run; ratios below 1.0 mean ours is faster)")
    header = f"{'case':<14}" + "".join(f"{way:>13}" for way in WAYS) + \
        f"{'comp/snpr':>11}{'comp/fmt':>10}{'ucs2/snpr':>11}{'ucs2/fmt':>10}"
    print(header)
    print("-" * len(header))
    for case, times in medians.items():
        if "compiled" not in times:
            continue
        row = f"{case:<14}" + "".join(f"{times[way]:>13.1f}" for way in WAYS)
        row += f"{times['compiled'] / times['snprintf']:>11.2f}{times['compiled'] / times['fmt']:>10.2f}"
        row += f"{times['runtime-ucs2'] / times['snprintf']:>11.2f}{times['runtime-ucs2'] / times['fmt']:>10.2f}"
        print(row)

    print()
    print("Through ConsolePrint, end to end, with a pool and console that cost nothing")
    print(f"{'case':<14}{'console':>13}{'snprintf':>13}{'fmt':>13}{'cons/snpr':>11}{'cons/fmt':>10}")
    for case in ("report", "one character"):
        console, snprintf, fmt = medians[case]["console"], medians[case]["snprintf"], medians[case]["fmt"]
        print(f"{case:<14}{console:>13.1f}{snprintf:>13.1f}{fmt:>13.1f}{console / snprintf:>11.2f}{console / fmt:>10.2f}")

    print()
    print(f"Instructions per whole report (callgrind, {REPORTS_COUNTED} reports less the driver's own start)")
    counts = {}
    for way in COUNTED:
        baseline = callgrind_instructions(build, way, 0)
        total = callgrind_instructions(build, way, REPORTS_COUNTED)
        counts[way] = (total - baseline) / REPORTS_COUNTED
        print(f"  {way:<13} {counts[way]:>10,.0f}")

    one = {way: (callgrind_instructions(build, way, REPORTS_COUNTED) - callgrind_instructions(build, way, 0))
           / REPORTS_COUNTED for way in ("console-one", "compiled-one")}
    print()
    print(f"One character through ConsolePrint: {one['console-one']:,.0f} instructions, of which the engine's "
          f"FormatProgram {one['compiled-one']:,.0f} (bounds, argument cursor, one step, terminator) and the "
          f"rest the print's own: pool, console and their checks")

    print()
    for name in IMAGES:
        size = os.path.getsize(os.path.join(image_dir, name))
        print(f"{name}: {size} bytes ({size / 1024:.1f} KiB; the image check holds it to 32 KiB)")

    print()
    sys.stdout.flush()
    subprocess.run([os.path.join(build, "bench", "png_bench")], check=True)

    report = medians["report"]
    singles = {case: times for case, times in medians.items() if case not in ("report", "one character")}
    print()
    print("Goals")
    goals = [
        ("report, compiled: <= 0.5 x snprintf", report["compiled"] <= 0.5 * report["snprintf"]),
        ("report, compiled: <= 0.5 x {fmt}", report["compiled"] <= 0.5 * report["fmt"]),
        ("report, compiled: <= 5,800 instructions", counts["compiled"] <= 5800),
        ("report through ConsolePrint: <= 0.6 x snprintf", report["console"] <= 0.6 * report["snprintf"]),
        ("report through ConsolePrint: <= 1.0 x {fmt}", report["console"] <= report["fmt"]),
        ("no single directive slower than snprintf, compiled or runtime",
         all(max(times["compiled"], times["runtime-8bit"], times["runtime-ucs2"]) <= times["snprintf"]
             for times in singles.values())),
        ("runtime formats no slower than before (instructions per report)",
         all(counts[way] <= before for way, before in RUNTIME_BEFORE.items())),
    ]
    for name, met in goals:
        print(f"  {'met   ' if met else 'MISSED'} {name}")


if __name__ == "__main__":
    main()
