"""Debian's Linux kernel, booted right after Quillon on the same machine, as the judge of what
Linux makes of the firmware's BGRT.

The kernel runs from the shell's startup.nsh as an EFI-stub program, with an initramfs made here:
busybox-static and an /init script that mounts /proc and /sys, prints every file under
/sys/firmware/acpi/bgrt/ and the kernel's messages about the BGRT and the framebuffer in lines
marked QUILLON-LINUX, and powers the machine off. Where Options.linux_command names a static build
of the Linux command (`quillon`), the initramfs holds it as /bin/quillon and the init script first
runs it as root in /tmp and prints its lines and the SHA-256 of the files it saved, marked
QUILLON-COMMAND, for read_command. The kernels (linux-image-amd64 and
linux-image-arm64 lead to them) and busybox-static come from Debian 13 ("trixie", 6.12) or Debian 12
("bookworm", 6.1), as Options.debian asks, with `apt-get download` + `dpkg-deb -x` into the package
cache, as the stick's shim does: at the versions pinned here, or the archive's current ones with a
warning once Debian has replaced them. Debian 13's come through the runner's own apt configuration
(debian_release.py). Nothing of them is kept in the repository.
"""

import dataclasses
import gzip
import os
import re
import subprocess
import sys

import debian_release
import shim_packages

from . import RunnerError
from . import elf_file

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PACKAGE_CACHE = os.environ.get("QUILLON_PACKAGE_CACHE", os.path.join(SOURCE, "build", "debian-packages"))


@dataclasses.dataclass(frozen=True)
class Kernel:
    meta: str  # the package that always depends on the current kernel
    version: str  # the pinned version of both
    package: str  # the kernel's own package at that version
    debian: str  # Debian's name for the architecture
    console: str  # the serial port QEMU's machine gives the console
    modules: str  # the folder of the package's modules; Debian 13's are under /usr


# Debian's releases by their numbers, as Options.debian names them, and apt's names for them.
RELEASES = {"12": debian_release.BOOKWORM, "13": debian_release.TRIXIE}

KERNELS = {
    "12": {
        "x64": Kernel("linux-image-amd64", "6.1.192-3", "linux-image-6.1.0-57-amd64", "amd64", "ttyS0", "lib/modules"),
        "aa64": Kernel("linux-image-arm64", "6.1.192-3", "linux-image-6.1.0-57-arm64", "arm64", "ttyAMA0",
                       "lib/modules"),
    },
    "13": {
        "x64": Kernel("linux-image-amd64", "6.12.117-1", "linux-image-6.12.117+deb13-amd64", "amd64", "ttyS0",
                      "usr/lib/modules"),
        "aa64": Kernel("linux-image-arm64", "6.12.117-1", "linux-image-6.12.117+deb13-arm64", "arm64", "ttyAMA0",
                       "usr/lib/modules"),
    },
}
BUSYBOX = {"12": ("busybox-static", "1:1.35.0-4+deb12u1+b1"), "13": ("busybox-static", "1:1.37.0-6+b9")}

# Names on the boot disk; the shell starts the kernel by its name and the stub loads the initrd.
KERNEL_NAME = "vmlinuz.efi"
INITRD_NAME = "initrd.img"

MARKER = "QUILLON-LINUX"
END_MARKER = MARKER + "-END"

# The kernel's messages the init script shows: every line about the BGRT, an ACPI checksum, or
# the framebuffer and console that a redraw of the logo would need.
MESSAGES = ("bgrt|checksum|efifb|efi-framebuffer|simpledrm|simplefb|simple-framebuffer|fbcon|frame ?buffer|"
            "console: switching")

# What an init script prints of the kernel's BGRT, with /proc and /sys mounted, for read_report:
# Plymouth's initramfs prints the same after its log.
REPORT = f"""echo {MARKER}-START
bgrt=/sys/firmware/acpi/bgrt
if [ -d $bgrt ]; then
  for name in status type version xoffset yoffset; do
    echo "{MARKER}-BGRT $name $(cat $bgrt/$name)"
  done
  echo "{MARKER}-BGRT image-bytes $(wc -c < $bgrt/image)"
  echo "{MARKER}-BGRT image-sha256 $(sha256sum < $bgrt/image | cut -d ' ' -f 1)"
else
  echo "{MARKER}-BGRT absent"
fi
dmesg | grep -i -E '{MESSAGES}' | sed 's/^/{MARKER}-DMESG /'
echo {END_MARKER}
"""

# The Linux command, where the initramfs holds it, run as root with no arguments in a writable
# folder of its own; its lines and what it saved, for read_command. It reads the kernel's log from
# /dev/kmsg and the displays from /dev/dri, which an initramfs has only once devtmpfs is mounted.
COMMAND = "bin/quillon"
COMMAND_MARKER = "QUILLON-COMMAND"
RUN_COMMAND = f"""if [ -x /{COMMAND} ]; then
  [ -c /dev/kmsg ] || mount -t devtmpfs dev /dev
  mkdir -p /tmp/quillon
  cd /tmp/quillon
  echo {COMMAND_MARKER}-START
  /{COMMAND} > /tmp/quillon.out 2>&1
  echo "{COMMAND_MARKER}-EXIT $?"
  sed 's/^/{COMMAND_MARKER}-OUT /' /tmp/quillon.out
  for name in BIOSLogo.bmp BIOSLogo.png; do
    [ -f $name ] && echo "{COMMAND_MARKER}-SHA256 $name $(sha256sum < $name | cut -d ' ' -f 1)"
  done
  echo {COMMAND_MARKER}-END
  cd /
fi
"""

INIT = f"""#!/bin/busybox sh
# The first process: says what the kernel made of the BGRT, then turns the machine off.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
{RUN_COMMAND}{REPORT}poweroff -f
"""


def say(message):
    print(f"quillon-run: {message}", file=sys.stderr, flush=True)


def release(debian):
    """apt's name for Debian's release by its number, or an error that names the choices."""
    if debian not in RELEASES:
        raise RunnerError(f"quillon-run: no Debian {debian!r} here; only {' or '.join(RELEASES)}")
    return RELEASES[debian]


def kernel_package(arch, debian, cache=PACKAGE_CACHE):
    """(package, version) of the release's kernel to boot: the pinned one, or the one the
    metapackage now depends on (Debian gives a new kernel ABI a new package name)."""
    kernel = KERNELS[debian][arch]
    if os.path.exists(shim_packages.deb_path(cache, kernel.package, kernel.version, kernel.debian)):
        return kernel.package, kernel.version
    apt = debian_release.apt_options(cache, release(debian))
    if shim_packages.available(kernel.package, kernel.version, kernel.debian, apt):
        return kernel.package, kernel.version
    current = shim_packages.current_version(kernel.meta, kernel.debian, apt)
    shown = subprocess.run(["apt-cache", *apt, "show", f"{kernel.meta}:{kernel.debian}={current}"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode()
    found = re.search(r"^Depends: (linux-image-[^ ,]+) \(= ([^)]+)\)", shown, re.MULTILINE)
    if not current or not found:
        raise RuntimeError(f"apt lists no {kernel.meta} for {kernel.debian}; run tools/install-deps.sh")
    say(f"warning: {kernel.package} {kernel.version} is no longer in the archive; using {found.group(1)} "
        f"{found.group(2)}")
    return found.group(1), found.group(2)


def unpack_boot(deb):
    """The kernel package's /boot alone (the kernel and its config), unpacked beside the .deb: its
    modules, ten times the size, are not needed."""
    return shim_packages.unpack_part(deb, "-boot", ["./boot"])


def fetch_kernel_package(arch, debian, cache=PACKAGE_CACHE):
    """The .deb of the Debian release's kernel for the architecture and the package's name, fetched
    into the cache when not there yet. Call it holding the cache's lock."""
    apt_release = release(debian)
    if arch not in KERNELS[debian]:
        raise RunnerError(f"quillon-run: no Debian kernel is booted on {arch}; only on {', '.join(KERNELS[debian])}")
    package, version = kernel_package(arch, debian, cache)
    deb, _ = shim_packages.fetch_package(package, version, KERNELS[debian][arch].debian, cache, who="quillon-run",
                                         release=apt_release)
    return deb, package


def fetch_kernel(arch, debian, cache=PACKAGE_CACHE):
    """The path of the Debian release's kernel for the architecture, fetched into the cache when
    not there yet."""
    with shim_packages.cache_lock(cache):
        deb, package = fetch_kernel_package(arch, debian, cache)
        kernel = os.path.join(unpack_boot(deb), "boot", "vmlinuz-" + package[len("linux-image-"):])
    if not os.path.isfile(kernel):
        raise RuntimeError(f"Debian's {package} lacks {kernel}")
    return kernel


def fetch_busybox(arch, debian, cache=PACKAGE_CACHE):
    """The path of the Debian release's static busybox for the architecture, fetched into the cache
    when not there yet."""
    apt_release = release(debian)
    name, version = BUSYBOX[debian]
    with shim_packages.cache_lock(cache):
        deb, _ = shim_packages.fetch_package(name, version, shim_packages.DEBIAN_ARCH[arch], cache, who="quillon-run",
                                             release=apt_release)
        folder = shim_packages.unpack(deb, cache)
    # Debian 13's busybox-static is under /usr, as the whole release is.
    for busybox in (os.path.join(folder, "bin", "busybox"), os.path.join(folder, "usr", "bin", "busybox")):
        if os.path.isfile(busybox):
            return busybox
    raise RuntimeError(f"Debian's busybox-static lacks bin/busybox in {folder}")


def cpio_entry(name, mode, data=b"", device=(0, 0)):
    """One member of a cpio archive in the "newc" format the kernel unpacks: a header of
    hexadecimal fields, the name, the data, each padded to four bytes."""
    encoded = name.encode() + b"\0"
    fields = [0, mode, 0, 0, 1, 0, len(data), 0, 0, device[0], device[1], len(encoded), 0]
    header = b"070701" + b"".join(b"%08X" % field for field in fields)
    padding = (-(len(header) + len(encoded))) % 4
    return header + encoded + bytes(padding) + data + bytes(-len(data) % 4)


def command_member(command):
    """The cpio member of the Linux command at that host path, as /bin/quillon; none for "". The
    initramfs holds Debian's libraries or none, not this machine's: the command must need none."""
    if not command:
        return []
    with open(command, "rb") as handle:
        program = handle.read()
    interpreter, needed = elf_file.dependencies(program, command)
    if interpreter or needed:
        raise RuntimeError(f"{command} needs {interpreter or ', '.join(needed)}: the initramfs wants the command "
                           f"linked statically (the host tree's quillon_static)")
    return [cpio_entry(COMMAND, 0o100755, program)]


def make_initramfs(busybox, path, command=""):
    """The gzipped initramfs: busybox, the init script and the folders it mounts on, and the
    Linux command where one is given."""
    with open(busybox, "rb") as handle:
        program = handle.read()
    members = [cpio_entry(folder, 0o040755) for folder in ("bin", "dev", "proc", "sys")]
    members.append(cpio_entry("dev/console", 0o020600, device=(5, 1)))
    members.append(cpio_entry("bin/busybox", 0o100755, program))
    members += command_member(command)
    members.append(cpio_entry("init", 0o100755, INIT.encode()))
    members.append(cpio_entry("TRAILER!!!", 0))
    with open(path, "wb") as handle:
        handle.write(gzip.compress(b"".join(members), mtime=0))
    return path


def files(options, work):
    """(host path, name on the disk) of the kernel and its initramfs."""
    kernel = fetch_kernel(options.arch, options.debian) if options.kernel == "debian" else options.kernel
    initrd = make_initramfs(fetch_busybox(options.arch, options.debian), os.path.join(work, INITRD_NAME),
                            options.linux_command)
    return [(kernel, KERNEL_NAME), (initrd, INITRD_NAME)]


def shell_command(options):
    """The startup.nsh line that starts the kernel: the initrd, a serial console, few messages
    there (the init script reads them all from dmesg), and a panic that ends the machine at once."""
    release(options.debian)
    kernels = KERNELS[options.debian]
    console = kernels[options.arch].console if options.arch in kernels else "ttyS0"
    return f"{KERNEL_NAME} initrd=\\{INITRD_NAME} console={console} quiet panic=-1"


@dataclasses.dataclass
class Report:
    """What the init script printed: the BGRT's sysfs files (empty when the kernel has no
    /sys/firmware/acpi/bgrt), and the kernel's messages without their time stamps."""
    bgrt: dict
    messages: list
    ended: bool

    def ignored(self):
        """The reasons efi-bgrt and the BGRT's sysfs files gave for ignoring the BGRT, as the
        kernel words them; efifb's own "Ignoring BGRT" is about its redraw, not the table."""
        return [found.group(1) for found in (re.fullmatch(r"(?:efi_bgrt: )?Ignoring BGRT: (.*)", line)
                                             for line in self.messages) if found]


def read_report(console):
    """The init script's lines from the console's text."""
    bgrt, messages = {}, []
    for line in console.split("\n"):
        found = re.fullmatch(MARKER + r"-BGRT (\S+) (.*)", line.strip())
        if found:
            value = found.group(2)
            bgrt[found.group(1)] = int(value) if re.fullmatch(r"-?\d+", value) else value
        elif line.startswith(MARKER + "-DMESG "):
            messages.append(re.sub(r"^\[[ \d.]+\] ", "", line[len(MARKER + "-DMESG "):]))
    return Report(bgrt, messages, END_MARKER in console)


@dataclasses.dataclass
class CommandRun:
    """What the Linux command did in the boot: its lines (standard output and error as they came),
    its exit status, and the SHA-256 of each file it saved, by name."""
    lines: list
    status: int | None
    saved: dict
    ended: bool


def read_command(console):
    """The Linux command's run from the console's text."""
    lines, status, saved = [], None, {}
    for line in console.split("\n"):
        line = line.rstrip("\r")
        if line.startswith(COMMAND_MARKER + "-OUT "):
            lines.append(line[len(COMMAND_MARKER + "-OUT "):])
        found = re.fullmatch(COMMAND_MARKER + r"-EXIT (\d+)", line.strip())
        if found:
            status = int(found.group(1))
        found = re.fullmatch(COMMAND_MARKER + r"-SHA256 (\S+) ([0-9a-f]{64})", line.strip())
        if found:
            saved[found.group(1)] = found.group(2)
    return CommandRun(lines, status, saved, COMMAND_MARKER + "-END" in console)
