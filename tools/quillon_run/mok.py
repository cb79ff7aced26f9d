"""Shim's first boot of an unknown program under Secure Boot, answered as a person would: the
ERROR box, MokManager's prompt, and the enrolment of the program's hash from the stick; and the
missteps a person makes there, with their ways back. Screens are pictured as they first show,
before their keys, where an answer names a picture.

MokManager lists a folder's files in the order they were written; `downs` is how far down the
list a file is, counted from the "../" at its top."""

import re

from .console import Answer

ERROR_BOX = "Verification failed: (0x1A) Security Violation"
PROMPT = "Press any key to perform MOK management"
COUNTDOWN_END = "Booting in 1 second"
# "Perform MOK management": Continue boot, Enroll key from disk, Enroll hash from disk.
MENU_TITLE = "Perform MOK management"
MENU_ENTRIES = ["Continue boot", "Enroll key from disk", "Enroll hash from disk"]
HASH_TITLE = "SHA256 hash"
ENROL_QUESTION = "Enroll the key(s)?"
# "Enroll key from disk" takes certificates only: its file screen, and what it says of a program.
SELECT_KEY = "Select Key"
UNSUPPORTED = "Unsupported Format"
# What MokManager says when "Enroll the key(s)?" is answered No.
HASH_ABORTED = "Hash failed (did you select a valid EFI binary?): (0x15) Aborted"
# OVMF once it has tried every boot entry, and the entries of its own menu.
NO_BOOTABLE = "No bootable option or device was found."
BOOT_MANAGER_KEY = "Press any key to enter the Boot Manager Menu."
FRONT_PAGE_LAST = "Boot Maintenance Manager"
BOOT_MANAGER_MENU = "Boot Manager Menu"


def picture(prefix, name):
    """A picture's name, or none when the boot takes no pictures (prefix None)."""
    return "" if prefix is None else prefix + name


def first_boot_answers(prefix=""):
    """The ERROR box, which waits for Enter; MokManager's prompt follows."""
    return [Answer(ERROR_BOX, ["Enter"], picture(prefix, "1-error.png"))]


def menu_answers(prefix=""):
    """From the ERROR box to MokManager's menu, with a key within its ten seconds."""
    return first_boot_answers(prefix) + [Answer(PROMPT, ["Enter"], picture(prefix, "2-press-a-key.png"))]


def file_answers(label, name, downs, prefix=""):
    """On a file screen of MokManager: the volume labelled `label`, then \\EFI\\BOOT, then the
    file `name`, `downs` entries below "../"."""
    return [
        Answer(label, ["Enter"], picture(prefix, "4-volume.png")),
        Answer("EFI/", ["Enter"], picture(prefix, "5-efi.png")),
        Answer("BOOT/", ["Down", "Enter"], picture(prefix, "6-boot.png")),
        Answer(name, ["Down"] * downs + ["Enter"], picture(prefix, "7-program.png")),
    ]


def hash_answers(label, name, downs, enrol=True, prefix=""):
    """At MokManager's menu: "Enroll hash from disk", a file picked, its hash viewed, and Yes to
    "Enroll the key(s)?", or No when not `enrol`."""
    return [Answer(MENU_ENTRIES[-1], ["Down", "Down", "Enter"], picture(prefix, "3-menu.png"))] + \
        file_answers(label, name, downs, prefix) + [
            Answer("View key 0", ["Enter"], picture(prefix, "8-enroll-mok.png")),
            Answer(HASH_TITLE, ["Enter"], picture(prefix, "9-hash.png")),
            Answer("View key 0", ["Down", "Enter"]),
            Answer(ENROL_QUESTION, ["Down", "Enter"] if enrol else ["Enter"],
                   picture(prefix, "10-enroll-the-keys.png")),
        ]


def reboot_answers(prefix=""):
    """MokManager's menu after an enrolment, with Reboot on it."""
    return [Answer("Reboot", ["Enter"], picture(prefix, "11-reboot.png"))]


def enrolment_answers(label, program, downs, prefix=""):
    """From the ERROR box to MokManager's reboot: the program's hash enrolled from the volume
    labelled `label`, in \\EFI\\BOOT, where the program is `downs` entries below "../"."""
    return menu_answers(prefix) + hash_answers(label, program, downs, prefix=prefix) + reboot_answers(prefix)


def timeout_answers(prefix=""):
    """The ERROR box answered, MokManager's prompt left alone until its ten seconds pass."""
    return first_boot_answers(prefix) + [Answer(COUNTDOWN_END, [])]


def countdown_missed_answers(picture_name=""):
    """Nobody at MokManager's prompt, Enter at each ERROR box, as OVMF goes on: shim refuses the
    program again, the firmware tries its other entries, then the stick once more, and then asks
    for a key to its own menu, which is given."""
    missed = [Answer(ERROR_BOX, ["Enter"]), Answer(COUNTDOWN_END, []), Answer(ERROR_BOX, ["Enter"])]
    return missed + missed + [Answer(BOOT_MANAGER_KEY, ["Enter"], picture_name)]


def stick_from_boot_manager_answers():
    """OVMF's front page: Boot Manager, then the first entry, which is the stick."""
    return [Answer(FRONT_PAGE_LAST, ["Down", "Down", "Enter"]), Answer(BOOT_MANAGER_MENU, ["Enter"])]


def key_by_mistake_answers(label, program, downs, pictures=None):
    """At MokManager's menu, "Enroll key from disk" instead of hash: its "Select Key" screen left
    with Esc; chosen again, the program picked there, and "Unsupported Format" answered with
    Enter. Both lead back to the menu. `pictures` names the two new screens' pictures."""
    select_key, unsupported = pictures or ("", "")
    return [
        Answer(MENU_ENTRIES[-1], ["Down", "Enter"]),
        Answer(SELECT_KEY, ["Esc"], select_key),
        Answer(MENU_ENTRIES[-1], ["Down", "Enter"]),
    ] + file_answers(label, program, downs, prefix=None) + [Answer(UNSUPPORTED, ["Enter"], unsupported)]


def shown_hashes(console):
    """Every hash MokManager showed under "View key 0", in order, as lowercase hex."""
    hashes = []
    at = console.find(HASH_TITLE)
    while at >= 0:
        pairs = re.findall(r"(?<![0-9A-Za-z])[0-9A-F]{2}(?![0-9A-Za-z])", console[at + len(HASH_TITLE):at + 2000])
        if len(pairs) >= 32:
            hashes.append("".join(pairs[:32]).lower())
        at = console.find(HASH_TITLE, at + len(HASH_TITLE))
    return hashes


def shown_hash(console):
    """The hash MokManager showed under "View key 0", as lowercase hex, or None."""
    hashes = shown_hashes(console)
    return hashes[0] if hashes else None

