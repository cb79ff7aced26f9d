"""The serial console: the text that comes out of it, and keys sent into it.

Firmware draws its screens on the serial console too, with terminal escape sequences; the text
here is what is left without them. Keys go in as a terminal sends them: OVMF and AAVMF take Down as
ESC [ B and Enter as CR.
"""

import dataclasses
import re
import sys
import time

ESCAPE_SEQUENCE = re.compile(rb"\x1b\[[0-9;=?]*[A-Za-z]")
KEYS = {"Enter": b"\r", "Down": b"\x1b[B", "Up": b"\x1b[A", "Space": b" ", "Esc": b"\x1b"}
# Pauses that let firmware take each key apart from the next, and finish drawing a screen before
# a key or a picture comes.
BETWEEN_KEYS = 0.3
SETTLE = 0.5


def clean(raw):
    """The console's bytes as text: escape sequences removed, lines ended by a plain newline."""
    text = ESCAPE_SEQUENCE.sub(b"", raw).decode("latin-1")
    # U-Boot's console turns the shell's CR LF into CR CR LF.
    return text.replace("\r\r\n", "\n").replace("\r\n", "\n").replace("\r", "\n")


CURSOR_MOVE = re.compile(rb"\x1b\[[0-9]+;[0-9]+H")
# The code page 437 box drawing that firmware and MokManager frame their screens with.
BOX_DRAWING = dict.fromkeys(map(ord, "\xb3\xb4\xba\xbb\xbc\xbf\xc0\xc1\xc2\xc3\xc4\xc5\xc8\xc9\xcd\xd9\xda"), " ")


def screen_lines(raw):
    """The console's bytes as the lines a person reads on the screen: each cursor move starts a
    line, box drawing goes, spaces are squeezed, and up to four lines drawn again right after
    themselves (a menu redrawn at each key) are kept once; a whole screen shown again stays."""
    text = clean(CURSOR_MOVE.sub(b"\n", raw)).translate(BOX_DRAWING)
    lines = []
    for line in text.split("\n"):
        line = " ".join(line.split())
        if not line:
            continue
        lines.append(line)
        for length in range(1, min(4, len(lines) // 2) + 1):
            if lines[-length:] == lines[-2 * length:-length]:
                del lines[-length:]
                break
    return lines


@dataclasses.dataclass
class Answer:
    """Once `text` shows on the console, after the screen the answer before it waited for: take a
    picture of the screen when `picture` names one, then send `keys` (names from KEYS, or plain
    text)."""
    text: str
    keys: list = dataclasses.field(default_factory=list)
    picture: str = ""


class Console:
    """Reads what the firmware writes, notes when each piece came, shows it as it comes when asked,
    and sends keys."""

    def __init__(self, process, echo, started):
        self.process = process
        self.raw = b""
        self.started = started  # time.monotonic() at power-on
        self.arrivals = []  # (seconds since power-on, len(raw) by then)
        self.echo = echo
        self.shown = 0

    def text(self, since=0):
        return clean(self.raw[since:])

    def take(self, chunk):
        self.raw += chunk
        self.arrivals.append((time.monotonic() - self.started, len(self.raw)))
        self.show()

    def show(self, final=False):
        """Shows finished lines as they arrive, without the terminal's escape sequences."""
        if not self.echo:
            return
        text = clean(self.raw)
        end = len(text) if final else text.rfind("\n") + 1
        if end > self.shown:
            sys.stdout.write(text[self.shown:end])
            if final and not text.endswith("\n"):
                sys.stdout.write("\n")
            sys.stdout.flush()
            self.shown = end

    def send(self, *keys, pause=BETWEEN_KEYS):
        """Sends keys one by one, `pause` seconds apart; none once the machine has gone, as it may
        while they are sent."""
        for key in keys:
            try:
                self.process.stdin.write(KEYS.get(key, key.encode() if isinstance(key, str) else key))
                self.process.stdin.flush()
            except BrokenPipeError:
                return
            time.sleep(pause)
