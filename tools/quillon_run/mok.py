"""Shim's first boot of an unknown program under Secure Boot, answered as a person would: the
ERROR box, MokManager's prompt, and the enrolment of the program's hash from the stick. Each
screen's picture is taken as it first shows, before its keys.

MokManager lists a folder's files in the order they were written; `downs` is how far down the
list the program is, counted from the "../" at its top."""

import re

from .console import Answer

ERROR_BOX = "Verification failed: (0x1A) Security Violation"
PROMPT = "Press any key to perform MOK management"
COUNTDOWN_END = "Booting in 1 second"
HASH_TITLE = "SHA256 hash"


def first_boot_answers(prefix=""):
    """The ERROR box, which waits for Enter; MokManager's prompt follows."""
    return [Answer(ERROR_BOX, ["Enter"], prefix + "1-error.png")]


def enrolment_answers(label, program, downs, prefix=""):
    """From the ERROR box to MokManager's reboot: the program's hash enrolled from the volume
    labelled `label`, in \\EFI\\BOOT, where the program is `downs` entries below "../"."""
    return first_boot_answers(prefix) + [
        Answer(PROMPT, ["Enter"], prefix + "2-press-a-key.png"),
        Answer("Enroll hash from disk", ["Down", "Down", "Enter"], prefix + "3-menu.png"),
        Answer(label, ["Enter"], prefix + "4-volume.png"),
        Answer("EFI/", ["Enter"], prefix + "5-efi.png"),
        Answer("BOOT/", ["Down", "Enter"], prefix + "6-boot.png"),
        Answer(program, ["Down"] * downs + ["Enter"], prefix + "7-program.png"),
        Answer("View key 0", ["Enter"], prefix + "8-enroll-mok.png"),
        Answer(HASH_TITLE, ["Enter"], prefix + "9-hash.png"),
        Answer("View key 0", ["Down", "Enter"]),
        Answer("Enroll the key(s)?", ["Down", "Enter"], prefix + "10-enroll-the-keys.png"),
        Answer("Reboot", ["Enter"], prefix + "11-reboot.png"),
    ]


def timeout_answers(prefix=""):
    """The ERROR box answered, MokManager's prompt left alone until its ten seconds pass."""
    return first_boot_answers(prefix) + [Answer(COUNTDOWN_END, [])]


def shown_hash(console):
    """The hash MokManager showed under "View key 0", as lowercase hex, or None."""
    at = console.find(HASH_TITLE)
    if at < 0:
        return None
    pairs = re.findall(r"(?<![0-9A-Za-z])[0-9A-F]{2}(?![0-9A-Za-z])", console[at + len(HASH_TITLE):at + 2000])
    return "".join(pairs[:32]).lower() if len(pairs) >= 32 else None
