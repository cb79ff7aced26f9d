#!/usr/bin/env python3
"""End-to-end tests: Quillon booted on each architecture's firmware under QEMU, judged from outside
the project.

Each scenario is one ctest test: `e2e_test.py SCENARIO --arch ARCH --image-dir DIR --shared DIR
--work DIR`. The oracles are the firmware's own shell (%lasterror% gives the exit status),
ImageMagick (it decodes the saved file) and the bytes on the FAT disk image after QEMU has exited.
The typical x64 run leaves its logo in the shared folder; every other architecture's must be the
same bytes, as Debian's firmware packages carry the same logo.
"""

import os
import re
import subprocess
import sys

from support import (BGRT_MADE, HEADER_LINES, LOGO_LINES, LOGO_SAVED, ONE_LOGO_SAVED, SAVED_LINE, bitmap, boot, check,
                     check_root_holds, crafted_tables, identify, image_tree_arguments, match_block, qemu_run, report_lines, run_scenario, saved_file,
                     scenario_parser, scenarios_in, typical_file, verdict_blocks)
from quillon_run.verdict_texts import says, words  # noqa: E402

OVMF_2M = "/usr/share/OVMF/OVMF_CODE.fd"
# OVMF's shell shows an error's code without the error bit: bit 63, or bit 31 on IA32.
ERROR_BITS = (1 << 63) | (1 << 31)
WRITE_PROTECTED = 8
VOLUME_FULL = 11
COMPROMISED_DATA = 33  # a table or bitmap outside readable memory
# The line CraftTables prints for each BGRT it builds: where, its image, and the image's size.


def check_typical_report(arguments, result, name):
    """The report of a machine with OVMF's own logo: checked against the file and ImageMagick."""
    lines = report_lines(result)
    match_block(lines, HEADER_LINES, 0)
    fields = match_block(lines, LOGO_LINES, len(HEADER_LINES))
    check(lines[len(HEADER_LINES) + len(LOGO_LINES)] == SAVED_LINE, "no saved-logo line after the bitmap lines")
    check(result.exit_status == 0, f"exit status {result.exit_status}, not 0")
    check(fields["image"] == fields["image_again"], "the two image address lines differ")
    check(result.logo is not None, "no BIOSLogo.bmp on the disk")
    check(result.logo[:2] == b"BM", "the saved file does not start with BM")
    check(len(result.logo) == fields["size"], f"the file has {len(result.logo)} bytes, the report says {fields['size']}")
    width, height, depth, size = identify(saved_file(arguments, name + ".bmp", result.logo))
    check((width, height) == (fields["width"], fields["height"]),
          f"ImageMagick sees {width} x {height}, the report says {fields['width']} x {fields['height']}")
    check(depth * 3 == fields["bpp"], f"ImageMagick sees {depth} bits per channel, the report {fields['bpp']} bpp")
    check(size == len(result.logo), "ImageMagick's size differs from the file's")
    return fields


def check_files(arguments, result, expected):
    """The disk's root holds exactly these files besides Quillon and the script: no scratch or
    backup file of a save is left."""
    check_root_holds(result, [os.path.basename(arguments.image), "startup.nsh", *expected])


def check_error_status(result, code):
    # OVMF's shell keeps the error's code in %lasterror% but drops the error bit itself.
    check(result.exit_status is not None, "the script did not show the exit status")
    check(result.exit_status & ~ERROR_BITS == code, f"exit status {result.exit_status:#x}, not error {code}")


def typical_file(arguments):
    """The logo of the typical x64 run."""
    path = os.path.join(arguments.shared, "typical.bmp")
    check(os.path.exists(path), "the typical run left no file to compare with")
    with open(path, "rb") as handle:
        return handle.read()


def scenario_typical(arguments):
    result = boot(arguments, "typical")
    check_typical_report(arguments, result, "typical")
    check_files(arguments, result, [qemu_run.LOGO_NAME])
    if arguments.arch == "x64":
        os.makedirs(arguments.shared, exist_ok=True)
        with open(os.path.join(arguments.shared, "typical.bmp"), "wb") as handle:
            handle.write(result.logo)
    else:
        check(result.logo == typical_file(arguments), "the logo differs from the x64 firmware's")


def scenario_typical_ovmf_13(arguments):
    # Debian 13's OVMF, a newer build of the same firmware, runs Quillon from its own shell: the same
    # report, the same logo byte for byte as Debian 12's, and the same verdict on it.
    result = boot(arguments, "typical_ovmf_13", code=qemu_run.OVMF_13_PLAIN)
    # Debian 13's build names itself as Debian's own in the shell's banner; Debian 12's does not.
    check(re.search(r"^UEFI v[\d.]+ \(Debian distribution of ", result.console, re.MULTILINE) is not None,
          "the shell is not Debian 13's OVMF's")
    check_typical_report(arguments, result, "typical_ovmf_13")
    check_files(arguments, result, [qemu_run.LOGO_NAME])
    check(result.logo == typical_file(arguments), "the logo differs from Debian 12's firmware's")
    blocks = verdict_blocks(result)
    check(len(blocks) == 1, f"{len(blocks)} verdicts")
    check_firmware_logo_verdict(blocks[0], (1280, 800), ("WouldRedraw",))


def scenario_stale(arguments):
    stale = saved_file(arguments, "stale.bmp", b"BM" + bytes([0xAA]) * 200000)
    result = boot(arguments, "stale", put=[(stale, qemu_run.LOGO_NAME)])
    check_typical_report(arguments, result, "stale")
    check(result.logo == typical_file(arguments), "the file differs from the one of a clean disk")
    check_files(arguments, result, [qemu_run.LOGO_NAME])


def scenario_read_only(arguments):
    result = boot(arguments, "read_only", read_only=True)
    lines = report_lines(result)
    match_block(lines, HEADER_LINES + LOGO_LINES, 0)
    check("Error Open NULL  [Write Protected]" in lines, "no write-protected message")
    check(SAVED_LINE not in lines, "a saved-logo line on a read-only disk")
    check_error_status(result, WRITE_PROTECTED)
    check_files(arguments, result, [])


def free_bytes(disk):
    listing = subprocess.run(["mdir", "-i", disk, "::/"], check=True, stdout=subprocess.PIPE).stdout.decode()
    found = re.search(r"([\d ]+) bytes free", listing)
    return int(found.group(1).replace(" ", ""))


def filler(arguments, put):
    """A file that leaves about 8 KiB free on a 1 MiB disk that holds Quillon, the script and `put`."""
    options = qemu_run.Options(image=arguments.image, arch=arguments.arch, disk_kib=1024, put=put,
                               work=os.path.join(arguments.work, "measure"))
    os.makedirs(options.work, exist_ok=True)
    free = free_bytes(qemu_run.make_disk(options, options.work))
    return saved_file(arguments, "filler.bin", bytes(free - 8192))


def scenario_volume_full(arguments):
    # Fill a small disk so that about 8 KiB stay free once Quillon and startup.nsh are on it.
    result = boot(arguments, "volume_full", disk_kib=1024, put=[(filler(arguments, []), "filler.bin")])
    lines = report_lines(result)
    fields = match_block(lines, HEADER_LINES + LOGO_LINES, 0)
    check(fields["size"] > 8192, "the logo would fit; the test proves nothing")
    check("Error Write  [Volume Full]" in lines, f"no volume-full message in {lines}")
    check(SAVED_LINE not in lines, "a saved-logo line on a full volume")
    check_error_status(result, VOLUME_FULL)
    check_files(arguments, result, ["filler.bin"])


def scenario_full_with_older(arguments):
    # An older logo and a filler leave about 8 KiB free: too little for the new logo beside it.
    older = bitmap(40, 30, 5)
    older_path = saved_file(arguments, "older.bmp", older)
    put = [(older_path, qemu_run.LOGO_NAME)]
    result = boot(arguments, "full_with_older", disk_kib=1024, put=put + [(filler(arguments, put), "filler.bin")])
    lines = report_lines(result)
    fields = match_block(lines, HEADER_LINES + LOGO_LINES, 0)
    check(fields["size"] > 8192, "the logo would fit; the test proves nothing")
    check(lines[len(HEADER_LINES) + len(LOGO_LINES):] == ["Error Write  [Volume Full]"],
          f"not one volume-full line after the bitmap lines: {lines}")
    check_error_status(result, VOLUME_FULL)
    check(result.logo == older, "the older logo did not survive the failed save byte for byte")
    check_files(arguments, result, [qemu_run.LOGO_NAME, "filler.bin"])


def scenario_i440fx(arguments):
    result = boot(arguments, "i440fx", machine="pc", code=OVMF_2M)
    check_typical_report(arguments, result, "i440fx")
    check(result.logo == typical_file(arguments), "the file differs from the q35 one")


def scenario_crafted(arguments):
    # A 64-bit firmware with more than 4 GiB reads tables and a bitmap above 4 GiB; a 32-bit one
    # cannot reach them and must refuse the second BGRT's image rather than read through a cut
    # pointer, which would find a real bitmap 4 GiB lower.
    memory = "256M" if arguments.arch == "ia32" else "6G"
    result = boot(arguments, "crafted", memory=memory, before=[arguments.craft])
    built = [(int(bgrt, 16), int(image, 16), int(size)) for bgrt, image, size in re.findall(BGRT_MADE, result.console)]
    check(len(built) == 3, f"CraftTables did not build its tables:\n{result.console}")
    check(built[1][1] >= 1 << 32, "the second logo is not above 4 GiB; the test proves nothing")
    lines = report_lines(result)
    match_block(lines, HEADER_LINES, 0)
    at = len(HEADER_LINES)
    refused = False
    for index, (bgrt, image, size) in enumerate(built):
        if image == 0:
            fields = match_block(lines, LOGO_LINES[:3] + [r"  No logo image"], at)
            at += 4
        elif arguments.arch == "ia32" and image >= 1 << 32:
            fields = match_block(lines, LOGO_LINES[:3] + [re.escape(f"  Can't read logo image @[0x{image:X}]")], at)
            at += 4
            refused = True
        else:
            fields = match_block(lines, LOGO_SAVED, at)
            at += len(LOGO_LINES) + 1
            check(fields["size"] == size, f"BGRT {index + 1}: size {fields['size']:#x}, built {size:#x}")
        check(fields["bgrt"] == bgrt, f"BGRT {index + 1} printed at {fields['bgrt']:#x}, built at {bgrt:#x}")
        check(fields["image"] == image, f"BGRT {index + 1}: image {fields['image']:#x}, built at {image:#x}")
    check(at == len(lines), f"lines after the last BGRT: {lines[at:]}")
    if refused:
        check_error_status(result, COMPROMISED_DATA)
        check(result.logo == bitmap(64, 32, 1), "the file is not exactly the first logo")
    else:
        check(result.exit_status == 0, f"exit status {result.exit_status}")
        check(result.logo == bitmap(16, 8, 2), "the file is not exactly the second, shorter logo")
        width, height, _, _ = identify(saved_file(arguments, "crafted.bmp", result.logo))
        check((width, height) == (16, 8), f"ImageMagick sees {width} x {height}")


def boot_crafted(arguments, name, mode, tables, **settings):
    """A boot that runs CraftTables in `mode` before Quillon, which must build `tables` tables:
    the result, and what CraftTables made."""
    result = boot(arguments, name, before=[f"{arguments.craft} {mode}"], **settings)
    made = crafted_tables(result)
    check(len(made) == tables, f"CraftTables did not build its table{'s' if tables > 1 else ''}:\n{result.console}")
    return result, made


def scenario_broken_bgrts(arguments):
    result, made = boot_crafted(arguments, "broken_bgrts", "broken", 6)
    lines = report_lines(result)
    match_block(lines, ONE_LOGO_SAVED, 0)
    at = len(ONE_LOGO_SAVED)
    for item in made:
        if item[0] == "entry":
            match_block(lines, [re.escape(f"  Can't read table @[0x{item[1]:X}]")], at)
            at += 1
            continue
        _, bgrt, image, size = item
        if size == 0:
            fields = match_block(lines, LOGO_LINES[:3] + [re.escape(f"  Can't read logo image @[0x{image:X}]")], at)
            at += 4
        else:
            refusal = re.escape(f"  Can't read logo image @[0x{image:X}] of [0x{size:X}] bytes")
            fields = match_block(lines, LOGO_LINES + [refusal], at)
            at += len(LOGO_LINES) + 1
            check(fields["size"] == size, f"size {fields['size']:#x}, built {size:#x}")
        check(fields["bgrt"] == bgrt and fields["image"] == image, f"BGRT at {bgrt:#x} reported as {fields}")
    check(at == len(lines), f"lines after the last BGRT: {lines[at:]}")
    check_error_status(result, COMPROMISED_DATA)
    check(result.logo == typical_file(arguments), "the file is not the firmware's logo")
    check_files(arguments, result, [qemu_run.LOGO_NAME, os.path.basename(arguments.craft)])


def scenario_long_xsdt(arguments):
    typical = saved_file(arguments, "typical.bmp", typical_file(arguments))
    result = boot(arguments, "long_xsdt", before=[arguments.craft + " long-xsdt"],
                  put=[(typical, qemu_run.LOGO_NAME)])
    lines = report_lines(result)
    fields = match_block(lines, HEADER_LINES, 0)
    entries = re.fullmatch(r" Entry 0 @\[0x([0-9A-F]+)\]", lines[4]).group(1)
    check(lines[len(HEADER_LINES):] == [f" Can't read XSDT entries @[0x{entries}] of Length [0xFFFFFFF0]"],
          f"not one refusal after the XSDT lines: {lines}")
    check_error_status(result, COMPROMISED_DATA)
    check(result.logo == typical_file(arguments), "the saved logo changed")
    check(result.seconds < 60, f"the run took {result.seconds:.0f} s")


def scenario_not_bitmaps(arguments):
    # After the firmware's own logo: a small bitmap whose size field claims 16 MiB of the RAM behind
    # it, and an image that is no bitmap. Neither is written out.
    result, made = boot_crafted(arguments, "not_bitmaps", "not-bitmaps", 2)
    lines = report_lines(result)
    match_block(lines, ONE_LOGO_SAVED, 0)
    at = len(ONE_LOGO_SAVED)
    reasons = ["size field past the bitmap's own bytes", "no BM signature"]
    for (_, bgrt, image, size), reason in zip(made, reasons):
        refusal = re.escape(f"  Won't save logo image @[0x{image:X}]: {reason}")
        fields = match_block(lines, LOGO_LINES + [refusal], at)
        at += len(LOGO_LINES) + 1
        check((fields["bgrt"], fields["image"], fields["size"]) == (bgrt, image, size),
              f"BGRT at {bgrt:#x} reported as {fields}")
    check(at == len(lines), f"lines after the last BGRT: {lines[at:]}")
    check_error_status(result, COMPROMISED_DATA)
    check(result.logo == typical_file(arguments), "the file is not the firmware's logo")
    check_files(arguments, result, [qemu_run.LOGO_NAME, os.path.basename(arguments.craft)])


def odd_bitmap():
    """The bitmap CraftTables' odd-bitmap mode builds: 5 x 3 at 32 bits, a 124-byte header with bit
    fields, two bytes of padding counted in the size field."""
    header_end = 14 + 124
    size = header_end + 5 * 3 * 4 + 2
    header = bytearray(header_end)
    header[0:2] = b"BM"
    for offset, value, width in [(2, size, 4), (10, header_end, 4), (14, 124, 4), (18, 5, 4), (22, 3, 4), (26, 1, 2),
                                 (28, 32, 2), (30, 3, 4), (34, 60, 4), (54, 0x00FF0000, 4), (58, 0x0000FF00, 4),
                                 (62, 0x000000FF, 4), (66, 0xFF000000, 4), (70, 0x73524742, 4), (122, 4, 4)]:
        header[offset:offset + width] = value.to_bytes(width, "little")
    return bytes(header) + bytes((index * 31 + 5) & 0xFF for index in range(header_end, size))


def scenario_odd_bitmap(arguments):
    result, _ = boot_crafted(arguments, "odd_bitmap", "odd-bitmap", 1)
    lines = report_lines(result)
    match_block(lines, ONE_LOGO_SAVED, 0)
    at = len(ONE_LOGO_SAVED)
    fields = match_block(lines, LOGO_SAVED, at)
    check(at + len(LOGO_SAVED) == len(lines), f"lines after the last BGRT: {lines[at + len(LOGO_SAVED):]}")
    check((fields["header"], fields["bpp"], fields["size"]) == (124, 32, len(odd_bitmap())), f"reported as {fields}")
    check(result.exit_status == 0, f"exit status {result.exit_status}")
    check(result.logo == odd_bitmap(), "the file is not the bitmap byte for byte")
    width, height, _, _ = identify(saved_file(arguments, "odd.bmp", result.logo))
    check((width, height) == (5, 3), f"ImageMagick sees {width} x {height}")


LOGO_SIZE = (193, 58)  # the logo every firmware package here carries


def check_firmware_logo_verdict(block, screen, efifb):
    """The verdict on the firmware's own logo, centred on the screen it drew it on: which mode it
    judged against, that the logo fits and is centred both ways, and what each reader makes of it;
    efifb's line is the screen's to say."""
    width, height = screen
    x, y = (width - LOGO_SIZE[0]) // 2, (height - LOGO_SIZE[1]) // 2
    print("\n".join(block))
    check(block[:4] == [f"  BGRT 1 checksum {words('ChecksumRight')}",
                        "  Length 56, revision 1, version 1, type 0, status 0x01",
                        "  Status: displayed, rotated 0 degrees", f"  Image memory: type 4, {words('BootServicesData')}"],
          f"the table's lines are {block[:4]}")
    check(re.fullmatch(rf"  Screen now: {width} x {height}, mode \d+ of \d+", block[4]) is not None,
          f"not judged against {width} x {height}: {block[4]}")
    modes = " ".join(line for line in block if line.startswith("  Modes: "))
    check(f"{width} x {height}" in modes, f"the modes offered do not include the current one: {modes}")
    tail = [line for line in block if not line.startswith(("  Modes: ", "  Pixels: "))][5:]
    check(tail == [f"  Across: at {x} of {width}: {words('FitsCentred')}",
                   f"  Down: at {y} of {height}, centre 50.0%: {words('Centred')}",
                   f"  Size: {LOGO_SIZE[0] * 100 // width}% of the width, {LOGO_SIZE[1] * 100 // height}% of the "
                   f"height: {words('WithinLargest')}", says("LinuxEfiBgrt", "Kept"), says("LinuxEfifb", *efifb),
                   says("Plymouth", "ShowsWhereFirmwareDid"), says("Windows", "Shows")],
          f"the logo is not judged fitting and centred: {tail}")


def scenario_verdict(arguments):
    # The firmware's own logo judged against the screen it drew it on: on x64 OVMF at QEMU's default
    # size and at two others the display device prefers; on AArch64 once, where virtio-gpu's output
    # only blits and so leaves Linux's efifb no framebuffer.
    if arguments.arch == "aa64":
        result = boot(arguments, "verdict")
        blocks = verdict_blocks(result)
        check(len(blocks) == 1, f"{len(blocks)} verdicts")
        check("  Pixels: format 3, 1280 a scan line" in blocks[0], f"not a blit-only screen: {blocks[0]}")
        check_firmware_logo_verdict(blocks[0], (1280, 800), ("WontRedraw", "NoFramebuffer"))
        return
    for screen in ("", "640x480", "1920x1080"):
        result = boot(arguments, "verdict-" + (screen or "default"), screen=screen)
        blocks = verdict_blocks(result)
        check(len(blocks) == 1, f"{len(blocks)} verdicts")
        size = tuple(int(side) for side in screen.split("x")) if screen else (1280, 800)
        check("  Pixels: format 1, %d a scan line" % size[0] in blocks[0], f"not a BGR framebuffer: {blocks[0]}")
        check_firmware_logo_verdict(blocks[0], size, ("WouldRedraw",))
        check(result.exit_status == 0, f"exit status {result.exit_status}")


def scenario_verdict_off_centre(arguments):
    # A BGRT the test program adds after the firmware's: a 64 x 32 logo drawn turned 90 degrees at
    # 100, 50, off centre both ways. Linux never reads it, as it reads the first BGRT alone.
    result, _ = boot_crafted(arguments, "verdict_off_centre", "off-centre", 1)
    blocks = verdict_blocks(result)
    check(len(blocks) == 2, f"{len(blocks)} verdicts")
    print("\n".join(blocks[1]))
    crafted = [line for line in blocks[1] if not line.startswith(("  Modes: ", "  Pixels: ", "  Screen now: "))]
    # Turned, the logo is 32 across and 64 down: its centre (50 + 32) of 800 from the top, 10.3%.
    check(crafted == [f"  BGRT 2 checksum {words('ChecksumRight')}",
                      "  Length 56, revision 1, version 1, type 0, status 0x03",
                      "  Status: displayed, rotated 90 degrees", f"  Image memory: type 4, {words('BootServicesData')}",
                      f"  Across: at 100 of 1280: {words('FitsNotCentred')}",
                      f"  Down: at 50 of 800, centre 10.3%: {words('NeitherCentredNorGolden')}",
                      f"  Size: 2% of the width, 8% of the height: {words('WithinLargest')}",
                      says("LinuxEfiBgrt", "NeverRead", "NotFirstBgrt"), says("Windows", "Shows"),
                      "  BGRTs: 2, marked displayed: 2, the last BGRT 2",
                      "  BIOSLogo.bmp holds the last logo saved, BGRT 2's (0: none)"],
          f"the crafted BGRT is judged otherwise: {crafted}")


def check_uboot_volume(arguments, result, expected):
    """After a boot on U-Boot: the disk's root holds exactly these files besides Quillon, the
    crafted-table program and the shell's folder, and its file system is clean."""
    check_root_holds(result, [os.path.basename(arguments.image), os.path.basename(arguments.craft), "EFI", *expected])
    clean, said = qemu_run.check_fat(result.disk)
    check(clean, f"fsck.fat finds the file system damaged:\n{said}")


def scenario_uboot_tables(arguments):
    # U-Boot publishes no BGRT: on x64 QEMU's RSDP has no XSDT, on AArch64 there are no ACPI tables.
    # Quillon, built with general registers only, runs to the end where SSE is switched off.
    result = boot(arguments, "uboot_tables", code="u-boot")
    check("UEFI v2.100 (Das U-Boot" in result.console, "the shell does not run on U-Boot")
    lines = report_lines(result)
    if arguments.arch == "x64":
        check(len(lines) == 3 and re.fullmatch(HEADER_LINES[0], lines[0]) and lines[1:] == ["XSDT address [0]",
                                                                                         "Can't find XSDT"],
              f"the report is {lines}")
    else:
        check(lines == ["Can't find Acpi Table"], f"the report is {lines}")
    check(result.exit_status == 0, f"exit status {result.exit_status}")


def uboot_save(arguments, name, put):
    """Quillon on U-Boot with one crafted BGRT: its logo saved whole though the file system will not
    rename, nothing else left behind."""
    result, made = boot_crafted(arguments, name, "one", 1, code="u-boot", put=put)
    lines = report_lines(result)
    fields = match_block(lines, ONE_LOGO_SAVED, 0)
    check(len(lines) == len(ONE_LOGO_SAVED), f"lines after the saved-logo line: {lines}")
    check((fields["bgrt"], fields["image"]) == made[0][1:3], f"reported as {fields}, built as {made[0]}")
    check(result.exit_status == 0, f"exit status {result.exit_status}")
    check(result.logo == bitmap(64, 32, 1), "the file is not the bitmap in memory byte for byte")
    check_uboot_volume(arguments, result, [qemu_run.LOGO_NAME])


def scenario_uboot_fat_rename(arguments):
    # What the save's fallback relies on from U-Boot's file system: it refuses any change of name
    # with Access Denied and leaves the file as it was; SetInfo keeping the name, and Delete, work.
    # It will not empty a file through SetInfo either, so there a logo file whose write failed and
    # whose Delete failed too can only be named as cut off.
    result = boot(arguments, "uboot_fat_rename", code="u-boot", before=[arguments.fat_rename])
    answers = [line for line in result.lines() if line.startswith("FatRename: ")]
    expected = [
        "FatRename: create Rename-A.bin [Success]",
        "FatRename: create Rename-B.bin [Success]",
        "FatRename: rename Rename-A.bin to Rename-C.bin [Access Denied]",
        "FatRename: Rename-A.bin holds 'first' [Success]",
        "FatRename: Rename-C.bin holds '' [Not Found]",
        "FatRename: rename Rename-C.bin to Rename-B.bin [Access Denied]",
        "FatRename: Rename-B.bin holds 'second' [Success]",
        "FatRename: Rename-C.bin holds '' [Not Found]",
        "FatRename: rename Rename-C.bin back to Rename-A.bin [Success]",
        "FatRename: Rename-A.bin holds 'first' [Success]",
        "FatRename: empty Rename-B.bin [Access Denied]",
        "FatRename: Rename-B.bin holds 'second' [Success]",
        "FatRename: delete Rename-A.bin [Success]",
        "FatRename: delete Rename-B.bin [Success]",
        "FatRename: Rename-A.bin holds '' [Not Found]",
    ]
    check(answers == expected, "U-Boot's file system answered otherwise:\n" + "\n".join(answers))


def scenario_uboot_empty(arguments):
    uboot_save(arguments, "uboot_empty", [])


def scenario_uboot_older(arguments):
    older = saved_file(arguments, "older.bmp", bitmap(40, 30, 5))
    uboot_save(arguments, "uboot_older", [(older, qemu_run.LOGO_NAME)])


def scenario_fat_rename(arguments):
    # What the save relies on from the FAT driver, answered by the firmware itself.
    result = boot(arguments, "fat_rename", before=[arguments.fat_rename])
    answers = [line for line in result.lines() if line.startswith("FatRename: ")]
    expected = [
        "FatRename: create Rename-A.bin [Success]",
        "FatRename: create Rename-B.bin [Success]",
        "FatRename: rename Rename-A.bin to Rename-C.bin [Success]",
        "FatRename: Rename-A.bin holds '' [Not Found]",
        "FatRename: Rename-C.bin holds 'first' [Success]",
        "FatRename: rename Rename-C.bin to Rename-B.bin [Access Denied]",
        "FatRename: Rename-B.bin holds 'second' [Success]",
        "FatRename: Rename-C.bin holds 'first' [Success]",
        "FatRename: rename Rename-C.bin back to Rename-A.bin [Success]",
        "FatRename: Rename-A.bin holds 'first' [Success]",
        "FatRename: empty Rename-B.bin [Success]",
        "FatRename: Rename-B.bin holds '' [Success]",
        "FatRename: delete Rename-A.bin [Success]",
        "FatRename: delete Rename-B.bin [Success]",
        "FatRename: Rename-A.bin holds '' [Not Found]",
    ]
    check(answers == expected, "the FAT driver answered otherwise:\n" + "\n".join(answers))
    check_files(arguments, result, [qemu_run.LOGO_NAME, os.path.basename(arguments.fat_rename)])


def scenario_boot_manager(arguments):
    result = boot(arguments, "boot_manager", boot_manager=True)
    # The disk is the one boot option on a PCI device; the firmware names it by its kind of disk.
    boot_name = qemu_run.ARCHES[arguments.arch].boot_name
    check(re.search(r'BdsDxe: starting Boot\d+ "UEFI [^"]*" from PciRoot', result.console) is not None,
          f"the boot manager did not start the disk's {boot_name}:\n{result.console}")
    check("RSDP address" not in result.console and "Can't find" not in result.console,
          "Quillon reported without a shell")
    check(result.logo is None, "a file was saved without a shell")


def scenario_no_display(arguments):
    result = boot(arguments, "no_display", no_display=True)
    lines = report_lines(result)
    match_block(lines, HEADER_LINES, 0)
    check(len(lines) == len(HEADER_LINES), f"lines after the XSDT lines: {lines[len(HEADER_LINES):]}")
    check(result.logo is None, "a file was saved without a logo")
    check(result.exit_status == 0, f"exit status {result.exit_status}")


SCENARIOS = scenarios_in(globals())


def main():
    return run_scenario(SCENARIOS, image_tree_arguments(scenario_parser(SCENARIOS)))


if __name__ == "__main__":
    sys.exit(main())
