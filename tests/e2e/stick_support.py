"""What the end-to-end tests of the stick share: the stick program's words, and the checks of what a
boot through shim showed and left on the stick."""

import os
import re

# support first: it puts tools/ on the path, for the imports after it.
from support import (scenario_parser, ONE_LOGO_SAVED, check, check_only_added, identify, match_block, pixels, qemu_run,
                     report_lines, saved_file, typical_file)
import authenticode
from png_reader import read_png
from quillon_run.stick_words import FIRST_LINE, LAST_LINE

REPORT_NAME = "Quillon-report.txt"
LOGO_ON_STICK = "Quillon: the logo is on this stick as BIOSLogo.bmp, in its top folder."
# The logo every firmware package here carries, in the program's own words.
LOGO_SHAPE = "  The logo: 193 x 58 pixels, 24 bits a pixel, 33,694 bytes."
LOGO_PICTURE = "  BIOSLogo.png beside it is the same picture, for sharing."
LOGO_PICTURE_NAME = "BIOSLogo.png"
REPORT_KEPT = "Quillon: this report is on the stick too, as Quillon-report.txt."
SCREEN_NAME = "Screen.png"
SCREEN_ON_STICK = "Quillon: the screen as the firmware left it is on the stick as Screen.png."
NO_BGRT = "Quillon: this firmware publishes no boot logo (no BGRT): nothing to save."
READ_ONLY = "Quillon: this stick is read-only (a switch on its side?): nothing was saved."
REPORT_NOT_KEPT = "Quillon: the report could not be kept on the stick."
PROGRAM = {"x64": "grubx64.efi", "ia32": "grubia32.efi", "aa64": "grubaa64.efi"}


def check_started_from_stick(result):
    """The boot manager started the stick, and no shell ran at any time."""
    started = re.findall(r'BdsDxe: starting Boot\d+ "([^"]*)" from (\S+)', result.console)
    check(started and "USB" in started[-1][0] and "/USB(" in started[-1][1],
          f"the boot manager did not start the stick, but {started}")
    check("Shell>" not in result.console and "UEFI Interactive Shell" not in result.console, "a shell ran")


def program_lines(result):
    """The program's lines, from its first to its last, which asks for the key it waits for. A
    firmware menu may leave the cursor mid-line, and the first line then follows its text."""
    lines = [FIRST_LINE if line.endswith(FIRST_LINE) else line for line in result.lines()]
    check(FIRST_LINE in lines, f"the stick program did not run:\n{result.console}")
    check(LAST_LINE in lines, f"the program did not say what to do next:\n{result.console}")
    # After it, only the firmware's own words as it restarts the machine.
    after = [line for line in lines[lines.index(LAST_LINE) + 1:] if line.strip() and not line.startswith("resetting")]
    check(not after, f"lines after the program's last: {after}")
    plain = lines[lines.index(FIRST_LINE):lines.index(LAST_LINE) + 1]
    words = plain[next(i for i, line in enumerate(plain) if line.startswith("Quillon: Secure Boot")):]
    check(all(len(line) < 80 for line in words), f"a line of the plain words is 80 columns or wider: {words}")
    return plain


def check_report_kept(result, lines):
    """The report on the stick is what the screen showed from the program's first line to the plain
    words after the report, with CR LF line ends; it begins by saying which Quillon wrote it, on
    which firmware, and when."""
    kept = qemu_run.read_file(result.disk, REPORT_NAME)
    check(kept is not None, "no report on the stick")
    check(REPORT_KEPT in lines, "the program does not say the report is on the stick")
    shown = lines[:lines.index(REPORT_KEPT)]
    check(kept.decode("latin-1") == "\r\n".join(shown) + "\r\n",
          f"the report on the stick differs from the screen's:\n{kept!r}\n{shown!r}")
    check(shown[0] == FIRST_LINE and re.fullmatch(r"Firmware: .+, revision 0x[0-9A-F]{8}", shown[1]) and
          re.fullmatch(r"Time: (\d{4}-\d\d-\d\d \d\d:\d\d by the firmware's clock|the firmware's clock does not say)",
                       shown[2]), f"the report does not begin with Quillon, the firmware and the time: {shown[:3]}")
    print("The report's first lines:\n" + "\n".join(shown[:5]))


def read_picture(arguments, result, name):
    """A picture the stick keeps, as ImageMagick and Python's zlib both read it, which must agree:
    its path here, its size and its pixels."""
    data = qemu_run.read_file(result.disk, name)
    check(data is not None, f"no {name} on the stick")
    path = saved_file(arguments, name, data)
    try:
        width, height, decoded = read_png(data)
    except ValueError as fault:
        check(False, f"{name} is no PNG Python's zlib reads: {fault}")
    check(identify(path)[:2] == (width, height), f"ImageMagick does not read {name} as {width} x {height}")
    check(pixels(path) == decoded, f"ImageMagick and Python's zlib read other pixels in {name}")
    return path, (width, height), decoded, len(data)


def check_screen_kept(arguments, result, lines, size):
    """The screen as the firmware left it: kept on the stick as Screen.png, which ImageMagick and
    Python's zlib read at the screen's size, with the firmware's logo at the place its BGRT gives;
    and the program says the logo is all there, as the BGRT marks it displayed."""
    width, height = size
    check(f"Screen: {width} x {height} as the firmware left it, saved as Screen.png" in lines and
          "  BGRT 1: 100% of pixels in place, as marked displayed" in lines and SCREEN_ON_STICK in lines,
          f"the program does not say the screen is kept and the logo in place:\n{result.console}")
    screen_file, read_size, _, size_bytes = read_picture(arguments, result, SCREEN_NAME)
    check(read_size == (width, height), f"Screen.png is {read_size}, not {width} x {height}")
    across = next(int(line.split()[2]) for line in lines if line.startswith("  Across: at "))
    down = next(int(line.split()[2]) for line in lines if line.startswith("  Down: at "))
    logo_file = saved_file(arguments, "logo.bmp", result.logo)
    logo_width, logo_height, _, _ = identify(logo_file)
    on_screen = pixels(screen_file, f"{logo_width}x{logo_height}+{across}+{down}")
    check(on_screen == pixels(logo_file), f"Screen.png does not hold the logo at {across}, {down}")
    print(f"Screen.png: {width} x {height}, {size_bytes:,} bytes, the logo at {across}, {down}")


def check_logo_picture_kept(arguments, result):
    """BIOSLogo.png beside BIOSLogo.bmp: the same pixels, as both readers see them."""
    _, _, decoded, size_bytes = read_picture(arguments, result, LOGO_PICTURE_NAME)
    check(decoded == pixels(saved_file(arguments, "logo.bmp", result.logo)),
          "BIOSLogo.png does not hold BIOSLogo.bmp's pixels")
    print(f"BIOSLogo.png: {size_bytes:,} bytes, BIOSLogo.bmp's pixels")


def check_logo_saved(arguments, result, secure_boot, screen=(1280, 800)):
    """What every boot that saves the firmware's logo shows and leaves: the report, the plain
    words, the logo, the screen and the report on the stick, and nothing else changed."""
    lines = program_lines(result)
    match_block(report_lines(result), ONE_LOGO_SAVED, 0)
    said = f"Quillon: Secure Boot is {'on' if secure_boot else 'off'}."
    check(said in lines and LOGO_ON_STICK in lines, f"the program does not say {said!r} and where the logo is")
    check(lines[lines.index(LOGO_ON_STICK) + 1:lines.index(LOGO_ON_STICK) + 3] == [LOGO_SHAPE, LOGO_PICTURE],
          "the program does not say the logo's size in words, and that BIOSLogo.png is beside it")
    check(result.logo == typical_file(arguments), "the stick's BIOSLogo.bmp is not the firmware's logo")
    check_logo_picture_kept(arguments, result)
    check_screen_kept(arguments, result, lines, screen)
    check_report_kept(result, lines)
    check_only_added(arguments, result, [qemu_run.LOGO_NAME, LOGO_PICTURE_NAME, SCREEN_NAME, REPORT_NAME])


def stick_program_hash(arguments):
    program = qemu_run.read_file(qemu_run.volume_of(arguments.stick), "EFI/BOOT/" + PROGRAM[arguments.arch])
    check(program is not None, f"the stick has no {PROGRAM[arguments.arch]}")
    return authenticode.digest(program)




def internal_disk(arguments, name, bus):
    """An installed system's disk, ahead of the stick in the boot order, with a file of its owner's:
    the boot settings that attach it on `bus`, and its bytes before the boot."""
    notes = saved_file(arguments, "notes.txt", b"notes of the machine's owner\r\n")
    internal = os.path.join(arguments.work, name + "-internal.img")
    qemu_run.make_internal_disk(internal, [(notes, "notes.txt")])
    with open(internal, "rb") as handle:
        return {"internal": internal, "internal_bus": bus}, handle.read()


def check_internal_unchanged(result, before):
    with open(qemu_run.disk_file(result.internal), "rb") as handle:
        check(handle.read() == before, "the internal disk changed")


def stick_arguments(scenarios):
    """The arguments of a stick test: the stick image, and where the screens' pictures go."""
    parser = scenario_parser(scenarios)
    parser.add_argument("--stick", required=True, help="the stick image")
    parser.add_argument("--pictures", default=os.environ.get("QUILLON_PICTURES", ""),
                        help="keep the pictures of the screens here (default: $QUILLON_PICTURES, or the test's "
                             "work folder)")
    return parser.parse_args()
