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

from . import console as consoles
from . import disks
from . import machines
from . import screen
from . import shell
from . import stores

# What each firmware prints when the processor faults: x64 and IA32 OVMF, AAVMF, and U-Boot.
EXCEPTION_MARKERS = (b"!!!! X64 Exception", b"!!!! IA32 Exception", b"Synchronous Exception at",
                     b"Synchronous Abort", b"### ERROR ###")
# The stick program's last words, before it waits for a key and restarts the machine.
STICK_RESTART = "press any key to restart the machine."


@dataclasses.dataclass
class Options:
    image: str = ""  # the image the shell runs; unused for a stick
    arch: str = "x64"
    machine: str = ""  # empty: the architecture's default
    code: str = ""  # empty: the architecture's firmware; "u-boot": Debian's U-Boot
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
    internal: str = ""  # an internal disk image (a copy is used), ahead of the stick in the boot order
    internal_bus: str = "sata"  # sata or nvme
    screen: str = ""  # WxH: the display device's preferred size; empty: QEMU's default
    answers: list = dataclasses.field(default_factory=list)  # console.Answer, in the order the screens come
    restart_key: bool = True  # answer the stick program's "press any key" with Enter
    end: str = ""  # the text that ends the boot as planned; empty: the usual for the kind of boot
    stop_at: str = ""  # a text after the last answer at which the runner turns the machine off
    pictures: str = ""  # the folder for the answers' pictures; empty: the work folder

    def uboot(self):
        return self.code == "u-boot"


@dataclasses.dataclass
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
    return STICK_RESTART if options.stick else shell.DONE_MARKER


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


def boot(options):
    """Runs one boot and returns what it showed and saved. Never raises for a failed boot."""
    for tool in (machines.ARCHES[options.arch].qemu, "mkfs.fat", "mcopy"):
        if shutil.which(tool) is None:
            raise SystemExit(f"quillon-run: {tool} is missing; run tools/install-deps.sh")
    if options.uboot() and options.arch not in machines.UBOOT:
        raise SystemExit(f"quillon-run: Debian has no U-Boot for QEMU's {options.arch}; "
                         f"only for {', '.join(machines.UBOOT)}")
    if options.store:
        stores.prepare(options)
    work = options.work = options.work or tempfile.mkdtemp(prefix="quillon-qemu-")
    os.makedirs(work, exist_ok=True)
    disk, internal = prepare_disks(options, work)
    vars_copy = options.vars or os.path.join(work, "vars.fd")
    if not options.uboot() and not (options.vars and os.path.exists(vars_copy)):
        shutil.copyfile(machines.firmware_files(options)[1], vars_copy)
    # A unix socket's path must be short; the work folder's may not be.
    sockets = tempfile.mkdtemp(prefix="quillon-monitor-")
    monitor = screen.Monitor(os.path.join(sockets, "monitor"))
    command = machines.qemu_command(options, disks.disk_file(disk), vars_copy, disks.disk_file(internal), monitor.path)

    started = time.monotonic()
    process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    console = consoles.Console(process, options.echo)
    arrivals = []
    errors = b""
    answered, answered_at = 0, 0
    autoboot_stopped = bootargs_cleared = key_sent = restart_pressed = False
    exception = timed_out = stopped = False
    streams = [process.stdout, process.stderr]
    last_output = started
    try:
        while streams:
            remaining = options.timeout - (time.monotonic() - started)
            if remaining <= 0:
                timed_out = True
                break
            readable, _, _ = select.select(streams, [], [], min(remaining, 0.5))
            for stream in readable:
                chunk = os.read(stream.fileno(), 65536)
                if not chunk:
                    streams.remove(stream)
                elif stream is process.stdout:
                    console.take(chunk)
                    arrivals.append((time.monotonic() - started, len(console.raw)))
                    last_output = time.monotonic()
                else:
                    errors += chunk
            raw = console.raw
            if options.echo and time.monotonic() - last_output >= 10:
                print(f"quillon-run: no console output for 10 s; still waiting ({time.monotonic() - started:.0f} s "
                      f"of {options.timeout:.0f} s)", flush=True)
                last_output = time.monotonic()
            if answered < len(options.answers):
                answer = options.answers[answered]
                found = console.text(answered_at).find(answer.text)
                if found >= 0:
                    time.sleep(consoles.SETTLE)
                    if answer.picture:
                        folder = options.pictures or work
                        os.makedirs(folder, exist_ok=True)
                        monitor.picture(os.path.join(folder, answer.picture))
                    console.send(*answer.keys)
                    answered, answered_at = answered + 1, len(console.raw)
            # U-Boot on x64 hands its kernel command line to the shell, which then skips startup.nsh:
            # stop the autoboot countdown, clear the command line and boot as before.
            if options.uboot() and not options.stick and not autoboot_stopped and b"Hit any key to stop autoboot" in raw:
                console.send(" ")
                autoboot_stopped = True
            if autoboot_stopped and not bootargs_cleared and raw.rstrip().endswith(b"=>"):
                console.send("setenv bootargs\r", "boot\r")
                bootargs_cleared = True
            # The shell waits five seconds before running startup.nsh unless a key other than ESC comes.
            if not options.stick and not key_sent and b"startup.nsh" in raw and b"any other key" in raw:
                console.send("Enter")
                key_sent = True
            if options.stick and options.restart_key and not restart_pressed and STICK_RESTART.encode() in raw:
                # Keys that come before the program waits do not count: let it get there first.
                time.sleep(consoles.SETTLE)
                console.send("Enter")
                restart_pressed = True
            if options.stop_at and answered == len(options.answers) and options.stop_at in console.text(answered_at):
                time.sleep(consoles.SETTLE)
                stopped = True
                break
            if any(marker in raw for marker in EXCEPTION_MARKERS):
                exception = True
                time.sleep(0.5)  # let the register dump arrive
                break
    finally:
        if process.poll() is None:
            process.kill()
        process.wait()
        monitor.close()
        shutil.rmtree(sockets, ignore_errors=True)
    seconds = time.monotonic() - started
    console.show(final=True)

    text = console.text()
    with open(os.path.join(work, "console.raw"), "wb") as handle:
        handle.write(console.raw)
    with open(os.path.join(work, "console.log"), "w") as handle:
        handle.write(text)

    exit_status = None
    found = re.search(shell.EXIT_MARKER + r" (0x[0-9A-Fa-f]+|[0-9]+)", text)
    if found:
        exit_status = int(found.group(1), 0)
    script_done = planned_end(options) in text
    powered_off = stopped or (not timed_out and not exception and process.returncode == 0)

    problem = ""
    if exception:
        problem = "the firmware reported a processor exception"
    elif timed_out:
        problem = f"the machine did not power off within {options.timeout:.0f} s"
    elif process.returncode != 0 and not stopped:
        problem = f"QEMU failed (status {process.returncode}): {errors.decode(errors='replace').strip()}"
    elif answered < len(options.answers):
        problem = f"the machine powered off before showing {options.answers[answered].text!r}"
    elif not script_done:
        problem = f"the machine powered off before showing {planned_end(options)!r}"

    logo = None
    files = disks.root_files(disk)
    if disks.LOGO_NAME.lower() in (name.lower() for name in files):
        copied = os.path.join(work, disks.LOGO_NAME)
        disks.run(["mcopy", "-o", "-n", "-i", disk, "::/" + disks.LOGO_NAME, copied])
        with open(copied, "rb") as handle:
            logo = handle.read()
    return Result(text, exit_status, script_done, powered_off, exception, seconds, disk, logo, files, problem,
                  internal, console.raw, arrivals, answered)
