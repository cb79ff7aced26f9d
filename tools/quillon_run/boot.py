"""One boot, from power-on to power-off: the disks, the firmware, the console and its answers,
pictures of the screen, and what the disks hold afterwards. The end-to-end tests and `make run`
call `boot`; it never raises for a boot that goes wrong, but says what went wrong."""

import dataclasses
import os
import re
import select
import shutil
import subprocess
import tempfile
import time

from . import RunnerError
from . import console as consoles
from . import disks
from . import linux
from . import machines
from . import screen
from . import shell
from . import stores
from . import watchers
from .stick_words import LAST_LINE


@dataclasses.dataclass
class Options:
    image: str = ""  # the image the shell runs; unused for a stick
    arch: str = "x64"
    machine: str = ""  # empty: the architecture's default
    code: str = ""  # empty: the architecture's firmware; "u-boot": Debian's U-Boot; "ovmf-13" or
                    # "ovmf-13-strictnx": Debian 13's OVMF (machines.py)
    vars_template: str = ""  # empty: the template that goes with the code file
    secure_boot: bool = False  # the firmware with Microsoft's keys, enforcing Secure Boot
    store: str = ""  # a variable store by name (stores.NAMES), made when needed; implies secure_boot
    vars: str = ""  # the variable store to boot with, kept across the boots of one test; made from the
                    # template when it is not there yet; empty: a fresh copy in the work folder
    memory: str = "256M"
    read_only: bool = False
    no_display: bool = False
    boot_manager: bool = False  # started as \EFI\BOOT\BOOT<arch>.EFI by the boot manager
    put: list = dataclasses.field(default_factory=list)  # (host path, name on the disk)
    before: list = dataclasses.field(default_factory=list)  # "program [arguments]" run before Quillon
    disk_kib: int = 32768
    timeout: float = 120.0
    work: str = ""  # empty: a fresh temporary folder
    echo: bool = False  # show the console as it comes
    stick: str = ""  # a stick image to boot from, attached as a USB stick (a copy, unless it is the work copy)
    stick_write_bps: int = 0  # the stick's writes held to this many bytes a second, as a real USB
                              # stick's are; 0: as fast as the host's disk
    internal: str = ""  # an internal disk image (a copy is used), ahead of the stick in the boot order
    internal_bus: str = "sata"  # sata or nvme
    screen: str = ""  # WxH: the display device's preferred size; empty: QEMU's default
    answers: list = dataclasses.field(default_factory=list)  # console.Answer, in the order the screens come
    hold: tuple = ()  # (key, text): the key held from power-on until the text shows, as Esc for the
                      # firmware's menu
    restart_key: bool = True  # answer the stick program's "press any key" with Enter
    restart_after: float = 0  # machine seconds the stick program is left waiting before that key; the
                              # machine's clock then skips its idle time, so minutes pass in seconds
                              # (x64 and IA32)
    end: str = ""  # the text that ends the boot as planned; empty: the usual for the kind of boot
    stop_at: str = ""  # a text after the last answer at which the runner turns the machine off
    pictures: str = ""  # the folder for the answers' pictures; empty: the work folder
    kernel: str = ""  # a Linux kernel the script starts after Quillon (linux.py): "debian" for Debian's
                      # kernel for the architecture, or an EFI-stub kernel's path; empty: none
    plymouth: bool = False  # the kernel's initramfs shows Plymouth's bgrt splash (plymouth.py), x64 only
    debian: str = "13"  # the Debian release of the kernel, busybox and Plymouth: "13" (trixie) or "12" (bookworm)
    display: str = "drm"  # Plymouth's screen: "drm", through the bochs DRM driver, or "framebuffer", with no
                          # DRM driver loaded, through the firmware's framebuffer (the kernel's efifb)
    linux_command: str = ""  # a static build of the Linux command, quillon, that the kernel's initramfs runs
                             # (linux.py, plymouth.py); empty: none

    def uboot(self):
        return self.code == "u-boot"


@dataclasses.dataclass(kw_only=True)
class Result:
    console: str  # the serial console, escape sequences removed, lines ended by "\n"
    exit_status: int | None  # %lasterror% after Quillon, when the script got that far
    script_done: bool  # the boot reached its planned end
    powered_off: bool
    exception: bool
    seconds: float
    disk: str  # the disk as mtools names it: the image, and the partition's offset where it has one
    logo: bytes | None  # BIOSLogo.bmp from the disk afterwards
    files: list  # the names in the disk's root afterwards
    problem: str  # empty when the boot went as planned
    internal: str = ""  # the internal disk as mtools names it, when there was one
    raw: bytes = b""  # the console's bytes as they came
    arrivals: list = dataclasses.field(default_factory=list)  # (seconds since power-on, console bytes by then)
    answered: int = 0  # how many answers were given
    restart_waited: int | None = None  # with restart_after: machine seconds from the stick program's last
                                       # line to its restart key, or to the last look at the clock before
                                       # the machine went off by itself
    restart_pressed: bool = False

    def lines(self):
        return self.console.split("\n")

    def seconds_to(self, text):
        """Seconds from power-on until `text` first showed on the console, or None."""
        at = self.raw.find(text.encode("latin-1"))
        if at < 0:
            return None
        return next(seconds for seconds, length in self.arrivals if length > at)


def planned_end(options):
    if options.end or options.stop_at:
        return options.end or options.stop_at
    if options.kernel:
        return linux.END_MARKER
    return LAST_LINE if options.stick else shell.DONE_MARKER


def prepare_disks(options, work):
    """The boot's disk and internal disk, as mtools names them. A stick and an internal disk are
    copied into the work folder, so that a boot never changes the images it was given; a later
    boot of the same test passes the work copy to go on with it."""
    internal = ""
    if not options.stick:
        return shell.make_disk(options, work), internal
    stick = os.path.join(work, "stick.img")
    if os.path.abspath(options.stick) != os.path.abspath(stick):
        shutil.copyfile(options.stick, stick)
    if options.internal:
        copy = os.path.join(work, "internal.img")
        if os.path.abspath(options.internal) != os.path.abspath(copy):
            shutil.copyfile(options.internal, copy)
        internal = disks.volume_of(copy)
    return disks.volume_of(stick), internal


def check_tools(options):
    for tool in (machines.ARCHES[options.arch].qemu, "mkfs.fat", "mcopy"):
        if shutil.which(tool) is None:
            raise RunnerError(f"quillon-run: {tool} is missing; run tools/install-deps.sh")
    if options.restart_after and options.arch == "aa64":
        raise RunnerError("quillon-run: the machine's clock is read on x64 and IA32 machines only")
    if options.uboot() and options.arch not in machines.UBOOT:
        raise RunnerError(f"quillon-run: Debian has no U-Boot for QEMU's {options.arch}; "
                         f"only for {', '.join(machines.UBOOT)}")


def prepare_vars(options, work):
    """The variable store the firmware boots with: the test's own, or a fresh copy of the template.
    U-Boot keeps its variables in memory."""
    vars_copy = options.vars or os.path.join(work, "vars.fd")
    if not options.uboot() and not (options.vars and os.path.exists(vars_copy)):
        shutil.copyfile(machines.firmware_files(options)[1], vars_copy)
    return vars_copy


def watchers_for(options, answers, started, monitor):
    """The watchers of this boot, in the order each sees the console; `answers` is the boot's
    Answers watcher, which the result counts."""
    chosen = [watchers.SilenceNotice(options.timeout, started)] if options.echo else []
    if options.hold:
        chosen.append(watchers.HoldKey(*options.hold))
    chosen.append(answers)
    if options.uboot() and not options.stick:
        chosen.append(watchers.UBootAutoboot())
    if not options.stick:
        chosen.append(watchers.ShellKey())
    if options.stick and options.restart_key:
        chosen.append(watchers.StickRestartLater(options.restart_after, monitor) if options.restart_after
                      else watchers.StickRestart())
    if options.stop_at:
        chosen.append(watchers.PlannedStop(options.stop_at, answers))
    chosen.append(watchers.ProcessorExceptions())
    return chosen


def watch(process, console, watching, timeout):
    """Reads QEMU's output until it exits, the time runs out or a watcher says stop; shows the
    watchers the console after each read. Returns the Stop that ended it (None when QEMU exited by
    itself) and QEMU's own error output."""
    errors = b""
    streams = [process.stdout, process.stderr]
    while streams:
        remaining = timeout - (time.monotonic() - console.started)
        if remaining <= 0:
            return watchers.Stop(f"the machine did not power off within {timeout:.0f} s"), errors
        # Each watcher is shown the console at least as often as it asks.
        period = min(watcher.period for watcher in watching)
        readable, _, _ = select.select(streams, [], [], min(remaining, period))
        for stream in readable:
            chunk = os.read(stream.fileno(), 65536)
            if not chunk:
                streams.remove(stream)
            elif stream is process.stdout:
                console.take(chunk)
            else:
                errors += chunk
        for watcher in watching:
            stop = watcher.see(console)
            if stop is not None:
                return stop, errors
    return None, errors


def exit_status(text):
    found = re.search(shell.EXIT_MARKER + r" (0x[0-9A-Fa-f]+|[0-9]+)", text)
    return int(found.group(1), 0) if found else None


def problem_of(options, stop, returncode, errors, watching, script_done):
    """What went wrong, first things first, or "" when the boot went as planned."""
    if stop is not None and stop.problem:
        return stop.problem
    if returncode != 0 and stop is None:
        return f"QEMU failed (status {returncode}): {errors.decode(errors='replace').strip()}"
    awaited = next((text for text in (watcher.awaited() for watcher in watching) if text is not None), None)
    if awaited is not None:
        return f"the machine powered off before showing {awaited!r}"
    if not script_done:
        return f"the machine powered off before showing {planned_end(options)!r}"
    return ""


def saved_logo(disk, files, work):
    """BIOSLogo.bmp's bytes from the disk, or None when the root holds none."""
    if disks.LOGO_NAME.lower() not in (name.lower() for name in files):
        return None
    copied = os.path.join(work, disks.LOGO_NAME)
    disks.run(["mcopy", "-o", "-n", "-i", disk, "::/" + disks.LOGO_NAME, copied])
    with open(copied, "rb") as handle:
        return handle.read()


def keep_console(console, work):
    """The console's bytes and its text, in the work folder."""
    with open(os.path.join(work, "console.raw"), "wb") as handle:
        handle.write(console.raw)
    with open(os.path.join(work, "console.log"), "w") as handle:
        handle.write(console.text())


def boot_with(**fields):
    """One boot with these options' fields: how the variable-store maker boots a machine."""
    return boot(Options(**fields))


def boot(options):
    """Runs one boot and returns what it showed and saved. Never raises for a failed boot."""
    check_tools(options)
    if options.store:
        stores.prepare(options, boot_with)
    work = options.work = options.work or tempfile.mkdtemp(prefix="quillon-qemu-")
    os.makedirs(work, exist_ok=True)
    disk, internal = prepare_disks(options, work)
    vars_copy = prepare_vars(options, work)
    # A unix socket's path must be short; the work folder's may not be.
    sockets = tempfile.mkdtemp(prefix="quillon-monitor-")
    monitor = screen.Monitor(os.path.join(sockets, "monitor"))
    command = machines.qemu_command(options, disks.disk_file(disk), vars_copy, disks.disk_file(internal), monitor.path)

    answers = watchers.Answers(options.answers, monitor, options.pictures or work)
    started = time.monotonic()
    watching = watchers_for(options, answers, started, monitor)
    process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    console = consoles.Console(process, options.echo, started)
    try:
        stop, errors = watch(process, console, watching, options.timeout)
    finally:
        if process.poll() is None:
            process.kill()
        process.wait()
        monitor.close()
        shutil.rmtree(sockets, ignore_errors=True)
    seconds = time.monotonic() - started
    console.show(final=True)
    keep_console(console, work)

    text = console.text()
    script_done = planned_end(options) in text
    files = disks.root_files(disk)
    later = next((watcher for watcher in watching if isinstance(watcher, watchers.StickRestartLater)), None)
    return Result(console=text, exit_status=exit_status(text), script_done=script_done,
                  powered_off=stop == watchers.PLANNED or (stop is None and process.returncode == 0),
                  exception=stop == watchers.EXCEPTION, seconds=seconds, disk=disk,
                  logo=saved_logo(disk, files, work), files=files,
                  problem=problem_of(options, stop, process.returncode, errors, watching, script_done),
                  internal=internal, raw=console.raw, arrivals=console.arrivals, answered=answers.given,
                  restart_waited=later.waited if later else None, restart_pressed=later.pressed if later else False)
