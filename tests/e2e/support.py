"""What the end-to-end test files share: a scenario's command line and verdict, one boot under the
runner, Quillon's report read back from the console, and the files a boot left on its disk.

Importing it puts tools/ on the path, for the runner (qemu_run and its quillon_run package).
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import qemu_run  # noqa: E402
from quillon_run.verdict_texts import reader_prefix  # noqa: E402

BOOT_SECONDS = 150

HEADER_LINES = [
    r"RSDP address \[[0-9A-F]+\]",
    r"XSDT address \[[0-9A-F]+\]",
    r"XSDT information",
    r" Signature \[XSDT\]",
    r" Entry 0 @\[0x[0-9A-F]+\]",
]
LOGO_LINES = [
    r"  Found BGRT @\[0x(?P<bgrt>[0-9A-F]+)\]",
    r"  Image address @\[0x(?P<image>[0-9A-F]+)\]",
    r"     \[0x(?P<image_again>[0-9A-F]+)\]",
    r"     Image size  \[0x(?P<size>[0-9A-F]+)\]",
    r"     Data offset \[0x(?P<offset>[0-9A-F]+)\]",
    r"     Header size \[0x(?P<header>[0-9A-F]+)\]",
    r"           Width \[0x(?P<width>[0-9A-F]+)\]",
    r"           Height\[0x(?P<height>[0-9A-F]+)\]",
    r"           Planes\[0x(?P<planes>[0-9A-F]+)\]",
    r"           BPP   \[0x(?P<bpp>[0-9A-F]+)\]",
]
SAVED_LINE = "BIOS logo has been saved to 'BIOSLogo.bmp'"
# A BGRT whose logo was saved; and a report of nothing else.
LOGO_SAVED = LOGO_LINES + [re.escape(SAVED_LINE)]
ONE_LOGO_SAVED = HEADER_LINES + LOGO_SAVED


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


# Scenarios and their verdict.

def scenarios_in(namespace):
    """A test file's scenarios, by name: its functions named scenario_NAME."""
    return {name[len("scenario_"):]: function for name, function in namespace.items()
            if name.startswith("scenario_")}


def scenario_parser(scenarios):
    """The arguments every scenario takes; a test file adds its own, and sets the image its shell
    runs or the stick it boots."""
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=sorted(scenarios))
    parser.add_argument("--arch", default="x64", choices=sorted(qemu_run.ARCHES))
    parser.add_argument("--shared", required=True, help="folder where the typical x64 run leaves its file")
    parser.add_argument("--work", required=True)
    parser.set_defaults(image="", stick="")
    return parser


def image_tree_arguments(parser):
    """The image tree's argument, and from it the paths of Quillon and the test-only programs for
    the architecture: arguments.image, .craft and .fat_rename."""
    parser.add_argument("--image-dir", required=True, help="the image tree: Quillon and the test-only programs")
    arguments = parser.parse_args()
    suffix = {"x64": "", "ia32": "IA32", "aa64": "AA64"}[arguments.arch]
    arguments.image = os.path.join(arguments.image_dir, qemu_run.ARCHES[arguments.arch].image)
    arguments.craft = os.path.join(arguments.image_dir, f"CraftTables{suffix}.efi")
    arguments.fat_rename = os.path.join(arguments.image_dir, "FatRename.efi")
    return arguments


def run_scenario(scenarios, arguments):
    """Runs the chosen scenario in a work folder of its own; says PASS, or FAIL and why."""
    arguments.work = os.path.join(arguments.work, arguments.arch, arguments.scenario)
    os.makedirs(arguments.work, exist_ok=True)
    try:
        scenarios[arguments.scenario](arguments)
    except Failure as failure:
        print(f"FAIL {arguments.scenario}: {failure}")
        print(f"console logs and disk images are in {arguments.work}")
        return 1
    print(f"PASS {arguments.scenario}")
    return 0


def boot(arguments, name, **settings):
    """One boot of the test's image or stick, unless the settings name another, in a work folder
    of its own; a boot that goes wrong fails the test, with its console."""
    settings = {"image": arguments.image, "stick": arguments.stick, **settings}
    options = qemu_run.Options(arch=arguments.arch, timeout=BOOT_SECONDS, work=os.path.join(arguments.work, name),
                               **settings)
    result = qemu_run.boot(options)
    print(f"{name}: boot took {result.seconds:.1f} s")
    if result.problem:
        raise Failure(f"{result.problem}\n--- console ---\n{result.console}")
    return result


# Quillon's report, read back from the console.

# The verdict's lines after each BGRT begin so, and no other line of the report does.
READERS = ("LinuxEfiBgrt", "LinuxEfifb", "Plymouth", "PlymouthOnPanel", "PlymouthOnMonitor", "Windows")
VERDICT_STARTS = ("  BGRT ", "  Length ", "  Status: ", "  Image memory: ", "  Screen", "  Pixels: ", "  Modes: ",
                  "  Across: ", "  Down: ", "  Size: ", "  BGRTs: ", "  BIOSLogo.bmp holds ",
                  *(reader_prefix(reader) for reader in READERS))


def all_report_lines(result):
    """Quillon's lines: from the RSDP line to the exit marker."""
    lines = result.lines()
    start = next((i for i, line in enumerate(lines) if line.startswith("RSDP address") or
                  line.startswith("Can't find")), None)
    end = next((i for i, line in enumerate(lines) if line.startswith(qemu_run.EXIT_MARKER)), len(lines))
    return [] if start is None else lines[start:end]


def report_lines(result):
    """Quillon's lines but the verdict's, which verdict_blocks reads."""
    return [line for line in all_report_lines(result) if not line.startswith(VERDICT_STARTS)]


def verdict_blocks(result):
    """The verdict's lines after each BGRT, one list a BGRT; the lines about several BGRTs last."""
    blocks = []
    for line in all_report_lines(result):
        if line.startswith("  BGRT "):
            blocks.append([])
        if line.startswith(VERDICT_STARTS) and blocks:
            blocks[-1].append(line)
    return blocks


# CraftTables' line for each BGRT it made.
BGRT_MADE = r"CraftTables: BGRT \[([0-9A-F]+)\] image \[([0-9A-F]+)\] bytes \[(\d+)\]"


def crafted_tables(result):
    """What CraftTables made, in XSDT order: ("bgrt", address, image, size) or ("entry", address)."""
    made = []
    for line in result.lines():
        found = re.fullmatch(BGRT_MADE, line)
        if found:
            made.append(("bgrt", int(found.group(1), 16), int(found.group(2), 16), int(found.group(3))))
        found = re.fullmatch(r"CraftTables: entry \[([0-9A-F]+)\]", line)
        if found:
            made.append(("entry", int(found.group(1), 16)))
    return made


def match_block(lines, patterns, at):
    """Matches consecutive lines against patterns from index `at`; returns the named fields."""
    fields = {}
    for offset, pattern in enumerate(patterns):
        check(at + offset < len(lines), f"the report ends before /{pattern}/")
        found = re.fullmatch(pattern, lines[at + offset])
        check(found is not None, f"line {at + offset + 1} of the report is {lines[at + offset]!r}, not /{pattern}/")
        fields.update({name: int(value, 16) for name, value in found.groupdict().items()})
    return fields


# Files: made for a boot, and what a boot left on its disk.

def saved_file(arguments, name, data):
    path = os.path.join(arguments.work, name)
    with open(path, "wb") as handle:
        handle.write(data)
    return path


def typical_file(arguments):
    """The logo of the typical x64 run."""
    path = os.path.join(arguments.shared, "typical.bmp")
    check(os.path.exists(path), "the typical run left no file to compare with")
    with open(path, "rb") as handle:
        return handle.read()


def bitmap(width, height, offset):
    """The bitmap CraftTables builds: headers, then (index * 31 + offset) bytes."""
    row = ((width * 24 + 31) // 32) * 4
    size = 54 + row * height
    header = bytearray(54)
    header[0:2] = b"BM"
    header[2:6] = size.to_bytes(4, "little")
    header[10:14] = (54).to_bytes(4, "little")
    header[14:18] = (40).to_bytes(4, "little")
    header[18:22] = width.to_bytes(4, "little")
    header[22:26] = height.to_bytes(4, "little")
    header[26:28] = (1).to_bytes(2, "little")
    header[28:30] = (24).to_bytes(2, "little")
    header[34:38] = (row * height).to_bytes(4, "little")
    return bytes(header) + bytes((index * 31 + offset) & 0xFF for index in range(54, size))


def identify(path):
    """ImageMagick's width, height, per-channel depth and the file's byte size."""
    output = subprocess.run(["identify", "-format", "%w %h %z %B", path], check=True,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE).stdout.decode().split()
    return tuple(int(value) for value in output[:4])


def pixels(path, crop=""):
    """An image's pixels as ImageMagick decodes them, three bytes each, red first; of the rectangle
    crop (WxH+X+Y) only, when given."""
    command = ["convert", path] + (["-crop", crop, "+repage"] if crop else []) + ["-depth", "8", "rgb:-"]
    return subprocess.run(command, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE).stdout


def check_root_holds(result, expected):
    """The disk's root holds exactly these files and folders, whatever their case."""
    names = {name.lower() for name in result.files}
    wanted = {name.lower() for name in expected}
    check(names == wanted, f"the disk holds {sorted(names)}, not {sorted(wanted)}")


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
