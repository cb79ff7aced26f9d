"""The stick program's first line, with its version, and its last line, read from its C++ source:
the runner presses the restart key on the last line, the end-to-end tests find the program's words
between the two, and the boot-time benchmark times the last. A change of words in stick/Words.h,
or of version in stick/Stick.h, reaches them all."""

import os
import re

from . import RunnerError

STICK_SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "stick")


def defined(header, name):
    """The string literal a header's `#define NAME u"..."` gives, as Python text."""
    with open(os.path.join(STICK_SOURCE, header)) as handle:
        found = re.search(rf'^#define {name} u?"((?:[^"\\]|\\.)*)"$', handle.read(), re.MULTILINE)
    if found is None:
        raise RunnerError(f"quillon-run: stick/{header} defines no {name} as one literal")
    return found.group(1).encode().decode("unicode_escape")


VERSION = defined("Stick.h", "QUILLON_STICK_VERSION")
# The program prints its version for the first line's one directive.
FIRST_LINE = defined("Words.h", "QUILLON_STICK_FIRST_LINE").replace("%a", VERSION).rstrip("\n")
LAST_LINE = defined("Words.h", "QUILLON_STICK_LAST_LINE").rstrip("\n")
