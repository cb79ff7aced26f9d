"""What watches the console during a boot: one watcher for each quirk of the firmware, the shell
or the stick program that the runner answers or stops on. The boot's loop shows each watcher the
console every time it has read it (and at least twice a second); a watcher may send keys, and may
end the boot. A new quirk is one more watcher here, and one more line in boot.watchers_for.
"""

import dataclasses
import os
import time

from . import console as consoles
from .stick_words import LAST_LINE


@dataclasses.dataclass(frozen=True)
class Stop:
    """A watcher's say-so to end the boot now: as planned, or for the problem it names."""
    problem: str = ""


PLANNED = Stop()
EXCEPTION = Stop("the firmware reported a processor exception")
# What each firmware prints when the processor faults: x64 and IA32 OVMF, AAVMF, and U-Boot.
EXCEPTION_MARKERS = (b"!!!! X64 Exception", b"!!!! IA32 Exception", b"Synchronous Exception at",
                     b"Synchronous Abort", b"### ERROR ###")


class Watcher:
    """Looks at the console after each read, and every `period` seconds when nothing comes."""
    period = 0.5

    def see(self, console):
        """Acts on what the console shows by now; returns a Stop to end the boot, else None."""
        return None

    def awaited(self):
        """The text this watcher still waited for when the boot ended, or None."""
        return None


class SilenceNotice(Watcher):
    """With the console shown as it comes: says so when nothing has come for ten seconds, so that a
    person sees the runner still waits."""

    def __init__(self, timeout, started):
        self.timeout = timeout
        self.started = started
        self.heard = 0  # how much of the console had come when last seen
        self.since = started  # when something last came, or the notice was last given

    def see(self, console):
        now = time.monotonic()
        if len(console.raw) != self.heard:
            self.heard, self.since = len(console.raw), now
        if now - self.since >= 10:
            print(f"quillon-run: no console output for 10 s; still waiting ({now - self.started:.0f} s "
                  f"of {self.timeout:.0f} s)", flush=True)
            self.since = now
        return None


class Answers(Watcher):
    """Screens answered in the order they come (console.Answer): each looked for in what came after
    the screen before it, pictured if it says so, then given its keys."""

    def __init__(self, answers, monitor, pictures):
        self.answers = answers
        self.monitor = monitor
        self.pictures = pictures  # the folder for the screens' pictures
        self.given = 0
        self.given_at = 0  # where the console stood when the last answer was given

    def done(self):
        return self.given == len(self.answers)

    def see(self, console):
        if self.done():
            return None
        answer = self.answers[self.given]
        if answer.text in console.text(self.given_at):
            time.sleep(consoles.SETTLE)
            if answer.picture:
                os.makedirs(self.pictures, exist_ok=True)
                self.monitor.picture(os.path.join(self.pictures, answer.picture))
            console.send(*answer.keys)
            self.given, self.given_at = self.given + 1, len(console.raw)
        return None

    def awaited(self):
        return None if self.done() else self.answers[self.given].text


class HoldKey(Watcher):
    """A key held down from power-on, as a person holds Esc to reach the firmware's own menu:
    pressed over and over, as a keyboard repeats it, until `until` shows. Firmware looks for it only
    for a moment as it starts."""
    period = 0.1

    def __init__(self, key, until):
        self.key = key
        self.until = until
        self.held = True

    def see(self, console):
        if self.held and self.until in console.text():
            self.held = False
        if self.held:
            console.send(self.key, pause=0)
        return None

    def awaited(self):
        return self.until if self.held else None


class UBootAutoboot(Watcher):
    """U-Boot on x64 hands its kernel command line to the shell, which then skips startup.nsh: stop
    the autoboot countdown, clear the command line at U-Boot's prompt and boot as before."""

    def __init__(self):
        self.stopped = self.cleared = False

    def see(self, console):
        if not self.stopped and b"Hit any key to stop autoboot" in console.raw:
            console.send(" ")
            self.stopped = True
        if self.stopped and not self.cleared and console.raw.rstrip().endswith(b"=>"):
            console.send("setenv bootargs\r", "boot\r")
            self.cleared = True
        return None


class KeyOnce(Watcher):
    """Presses `key` once, as soon as every text in `shows` has come; with `settle`, after a pause
    that lets the program get to where it reads the key."""
    shows = ()
    key = "Enter"
    settle = False

    def __init__(self):
        self.pressed = False

    def see(self, console):
        if not self.pressed and all(text in console.raw for text in self.shows):
            if self.settle:
                time.sleep(consoles.SETTLE)
            console.send(self.key)
            self.pressed = True
        return None


class ShellKey(KeyOnce):
    """The shell waits five seconds before running startup.nsh unless a key other than ESC comes."""
    shows = (b"startup.nsh", b"any other key")


class StickRestart(KeyOnce):
    """The stick program's last line asks for a key to restart the machine. Keys that come before
    the program waits do not count: let it get there first."""
    shows = (LAST_LINE.encode(),)
    settle = True


class StickRestartLater(Watcher):
    """The stick program's restart key, pressed only once the machine's own clock has run `seconds`
    past the program's last line: the program must still be waiting then. The clock is read
    through QEMU's monitor at each look; `waited` is how far it had run at the last, whether the
    key then came or the machine had gone off by itself."""

    def __init__(self, seconds, monitor):
        self.seconds = seconds
        self.monitor = monitor
        self.started = None  # the machine's clock when the last line showed
        self.waited = None
        self.pressed = False

    def see(self, console):
        if self.pressed or LAST_LINE.encode() not in console.raw:
            return None
        now = self.monitor.machine_clock()
        if now is None:
            return None
        if self.started is None:
            self.started = now
        self.waited = now - self.started
        if self.waited >= self.seconds:
            console.send("Enter")
            self.pressed = True
        return None


class PlannedStop(Watcher):
    """Turns the machine off once `text` shows after the last answer: for a boot that would go on
    by itself, such as one that waits out MokManager's time."""

    def __init__(self, text, answers):
        self.text = text
        self.answers = answers  # the Answers watcher; the text counts only after its last answer

    def see(self, console):
        if self.answers.done() and self.text in console.text(self.answers.given_at):
            time.sleep(consoles.SETTLE)
            return PLANNED
        return None


class ProcessorExceptions(Watcher):
    """The firmware reports a processor exception: the boot is over."""

    def see(self, console):
        if any(marker in console.raw for marker in EXCEPTION_MARKERS):
            time.sleep(0.5)  # let the register dump arrive
            return EXCEPTION
        return None
