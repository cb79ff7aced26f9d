"""The verdict's words, read from its C++ table (app/VerdictTexts.h): the end-to-end tests build
the lines they expect from them, so that a change of words in the table reaches them all.

    TEXTS["ShowsWhereFirmwareDid"]                      the words as the table holds them
    words("InvalidLength", 40, 56)                      'invalid length 40 (expected 56)'
    says("LinuxEfiBgrt", "Ignored", "InvalidLength", 40, 56)
                                                        '  Linux efi-bgrt: ignored: invalid length ...'
"""

import os
import re

TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "app", "VerdictTexts.h")


def read_texts(path=TABLE):
    with open(path) as handle:
        found = re.findall(r'^\s*VERDICT_TEXT\((\w+), "((?:[^"\\]|\\.)*)"\)', handle.read(), re.MULTILINE)
    if not found:
        raise RuntimeError(f"quillon-run: {path} holds no VERDICT_TEXT(Name, \"words\")")
    return {name: text.encode().decode("unicode_escape") for name, text in found}


TEXTS = read_texts()


def words(name, *numbers):
    """A text with the numbers in its %u and %X, in order, and %% a percent sign."""
    values = iter(numbers)

    def directive(found):
        kind = found.group(1)
        return "%" if kind == "%" else str(next(values)) if kind == "u" else f"{next(values):X}"

    return re.sub(r"%([%uX])", directive, TEXTS[name])


def says(reader, outcome, reason="None", *numbers):
    """A reader's line: who, what it does, and why."""
    line = f"  {words(reader)}: {words(outcome)}"
    return line if reason == "None" else f"{line}: {words(reason, *numbers)}"


def reader_prefix(reader):
    """How a reader's line begins."""
    return f"  {words(reader)}: "
