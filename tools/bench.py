#!/usr/bin/env python3
"""Runs the format benchmarks and prints what `make bench` reports.

usage: bench.py BENCH_BUILD_DIR QUILLON_EFI

1. Google Benchmark, repeated, in one run: the median ns per call of each way for each case, and
   the ratios of ours (8-bit and UCS-2) to snprintf and to {fmt}.
2. Instructions per whole report of each way, counted by callgrind on a small driver (the same
   number on a busy machine as on an idle one).
3. The size of Quillon.efi.
"""

import json
import os
import re
import subprocess
import sys
import tempfile

WAYS = ["ours-8bit", "ours-ucs2", "snprintf", "fmt", "memcpy"]
REPORTS_COUNTED = 1000


def benchmark_medians(build):
    output = subprocess.run(
        [os.path.join(build, "bench", "format_bench"), "--benchmark_repetitions=9",
         "--benchmark_report_aggregates_only=true", "--benchmark_min_time=0.05", "--benchmark_format=json"],
        check=True, stdout=subprocess.PIPE).stdout
    medians = {}
    for entry in json.loads(output)["benchmarks"]:
        if entry.get("aggregate_name") != "median":
            continue
        case, way = entry["run_name"].rsplit("/", 1)
        scale = {"ns": 1.0, "us": 1e3, "ms": 1e6}[entry["time_unit"]]
        medians.setdefault(case, {})[way] = entry["real_time"] * scale
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
    build, image = sys.argv[1], sys.argv[2]
    medians = benchmark_medians(build)

    print("Median ns per call (one run; ratios below 1.0 mean ours is faster)")
    header = f"{'case':<14}" + "".join(f"{way:>11}" for way in WAYS) + \
        f"{'8bit/snpr':>11}{'8bit/fmt':>10}{'ucs2/snpr':>11}{'ucs2/fmt':>10}"
    print(header)
    print("-" * len(header))
    for case, times in medians.items():
        row = f"{case:<14}" + "".join(f"{times[way]:>11.1f}" for way in WAYS)
        row += f"{times['ours-8bit'] / times['snprintf']:>11.2f}{times['ours-8bit'] / times['fmt']:>10.2f}"
        row += f"{times['ours-ucs2'] / times['snprintf']:>11.2f}{times['ours-ucs2'] / times['fmt']:>10.2f}"
        print(row)

    print()
    print(f"Instructions per whole report (callgrind, {REPORTS_COUNTED} reports less the driver's own start)")
    counts = {}
    for way in WAYS:
        baseline = callgrind_instructions(build, way, 0)
        total = callgrind_instructions(build, way, REPORTS_COUNTED)
        counts[way] = (total - baseline) / REPORTS_COUNTED
        print(f"  {way:<10} {counts[way]:>10,.0f}")

    size = os.path.getsize(image)
    print()
    print(f"Quillon.efi: {size} bytes ({size / 1024:.1f} KiB)")

    report = medians["report"]
    print()
    print("Goals")
    goals = [
        ("report: ours <= 0.5 x snprintf", max(report["ours-8bit"], report["ours-ucs2"]) <= 0.5 * report["snprintf"]),
        ("report: ours <= 1.0 x {fmt}", max(report["ours-8bit"], report["ours-ucs2"]) <= report["fmt"]),
        ("report: fewer instructions than snprintf and {fmt}",
         max(counts["ours-8bit"], counts["ours-ucs2"]) < min(counts["snprintf"], counts["fmt"])),
        ("no single directive slower than snprintf",
         all(max(times["ours-8bit"], times["ours-ucs2"]) <= times["snprintf"]
             for case, times in medians.items() if case != "report")),
        ("Quillon.efi at most 12 KiB", size <= 12 * 1024),
    ]
    for name, met in goals:
        print(f"  {'met   ' if met else 'MISSED'} {name}")


if __name__ == "__main__":
    main()
