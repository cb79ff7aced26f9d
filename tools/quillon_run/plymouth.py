"""Plymouth's bgrt theme, started by Debian's kernel right after Quillon on the same machine, as the
judge of what the verdict says Plymouth does with the firmware's logo.

The kernel is linux.py's; only its initramfs differs. It holds busybox-static, the kernel's DRM
driver for QEMU's standard VGA (bochs, and the modules it needs), and plymouthd with the bgrt theme
and the libraries they load. Its /init loads the driver, starts plymouthd with its debug log, shows
the splash, says so on the console (SHOWN) and waits for a line from it: the runner takes its
picture of the screen before it answers. Then it ends plymouthd, prints the debug log's lines and
the kernel's /sys/firmware/acpi/bgrt files, and powers off. Plymouth, its theme and the libraries
come from Debian's archive like the kernel, with `apt-get download` + `dpkg-deb -x`, at the
versions pinned here or the archive's current ones with a warning; nothing of them is kept in the
repository. x64 only: QEMU's standard VGA is the x64 machine's display.
"""

import fnmatch
import glob
import gzip
import os

import shim_packages

from . import linux

# plymouthd with the bgrt theme (two-step, in plymouth-themes) and what they load.
PACKAGES = [
    ("plymouth", "22.02.122-3"),
    ("plymouth-themes", "22.02.122-3"),
    ("libplymouth5", "22.02.122-3"),
    ("libc6", "2.36-9+deb12u14"),
    ("libdrm2", "2.4.114-1+b1"),
    ("libpng16-16", "1.6.39-2+deb12u6"),
    ("libudev1", "252.39-1~deb12u2"),
    ("zlib1g", "1:1.2.13.dfsg-1+deb12u1"),
]
DEBIAN_ARCH = "amd64"
# What the initramfs takes of those packages: the daemon, its client, the bgrt theme's plugin and
# images (its spinner's), the renderers, and the shared libraries; not the documents or translations.
TAKEN = [
    "usr/sbin/plymouthd",
    "usr/bin/plymouth",
    "usr/lib/x86_64-linux-gnu/plymouth/two-step.so",
    "usr/lib/x86_64-linux-gnu/plymouth/renderers/*.so",
    "usr/share/plymouth/themes/bgrt/*",
    "usr/share/plymouth/themes/spinner/*",
    "usr/lib/x86_64-linux-gnu/lib*.so.*",
    "lib/x86_64-linux-gnu/lib[cmz].so.*",
    "lib/x86_64-linux-gnu/ld-linux-x86-64.so.2",
    "lib64/ld-linux-x86-64.so.2",
]
# The DRM driver for QEMU's standard VGA, under the kernel's lib/modules/VERSION/kernel/, in the
# order they load.
MODULES = [
    "drivers/gpu/drm/drm.ko",
    "drivers/gpu/drm/drm_kms_helper.ko",
    "drivers/gpu/drm/ttm/ttm.ko",
    "drivers/gpu/drm/drm_ttm_helper.ko",
    "drivers/gpu/drm/drm_vram_helper.ko",
    "drivers/gpu/drm/tiny/bochs.ko",
]

MARKER = "QUILLON-PLYMOUTH"
SHOWN = MARKER + "-SHOWN"  # the splash is up: the runner takes its picture, then sends a line

# The theme that draws the firmware's logo, shown at once.
CONFIG = "[Daemon]\nTheme=bgrt\nShowDelay=0\nDeviceTimeout=8\n"

INIT = f"""#!/bin/busybox sh
# The first process: shows Plymouth's bgrt splash, waits while the runner takes its picture, then
# says what Plymouth's debug log and the kernel made of the BGRT, and turns the machine off.
/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin:/usr/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts /run /tmp /var/log
mount -t devpts devpts /dev/pts
for module in {' '.join(os.path.basename(module)[:-3] for module in MODULES)}; do
  insmod /lib/modules/$module.ko 2>&1 | sed 's/^/{MARKER}-INSMOD /'
done
echo {MARKER}-START
# No udev here: Plymouth is told to take the devices as they are, and to leave the serial console be.
plymouthd --mode=boot --tty=/dev/tty1 --debug --debug-file=/tmp/plymouth.log \\
  --kernel-command-line="splash plymouth.ignore-serial-consoles plymouth.ignore-udev"
plymouth show-splash
# Plymouth answers a ping once it has done with the splash; a second more lets the screen settle.
plymouth --ping
sleep 1
echo {SHOWN}
read -t 60 answer
plymouth quit
plymouth --wait
sed 's/^/{MARKER}-LOG /' /tmp/plymouth.log
bgrt=/sys/firmware/acpi/bgrt
for name in status xoffset yoffset; do
  [ -f $bgrt/$name ] && echo "{linux.MARKER}-BGRT $name $(cat $bgrt/$name)"
done
echo {linux.END_MARKER}
poweroff -f
"""


def fetch_packages(cache=linux.PACKAGE_CACHE):
    """The folders the packages are unpacked in, fetched into the cache when not there yet."""
    with shim_packages.cache_lock(cache):
        return [shim_packages.unpack(shim_packages.fetch_package(name, version, DEBIAN_ARCH, cache,
                                                                 who="quillon-run")[0], cache)
                for name, version in PACKAGES]


def fetch_modules(cache=linux.PACKAGE_CACHE):
    """The host paths of the kernel's MODULES, unpacked from the kernel's package beside it."""
    with shim_packages.cache_lock(cache):
        deb, _ = linux.fetch_kernel_package("x64", cache)
        folder = shim_packages.unpack_part(deb, "-drm", [f"./lib/modules/*/kernel/{module}" for module in MODULES])
        found = [glob.glob(os.path.join(folder, "lib", "modules", "*", "kernel", module)) for module in MODULES]
        if not all(found):
            raise RuntimeError(f"Debian's kernel package {deb} lacks one of {MODULES}")
        return [paths[0] for paths in found]


def package_members(folders):
    """The cpio members of the files TAKEN from the unpacked packages, with the folders they need,
    symbolic links kept as links."""
    members, made = [], set()
    for folder in folders:
        for root, names, files in os.walk(folder):
            for name in sorted(names + files):
                path = os.path.join(root, name)
                inside = os.path.relpath(path, folder)
                if os.path.isdir(path) and not os.path.islink(path):
                    continue
                if not any(fnmatch.fnmatch(inside, pattern) for pattern in TAKEN):
                    continue
                parts = inside.split("/")
                for depth in range(1, len(parts)):
                    parent = "/".join(parts[:depth])
                    if parent not in made:
                        made.add(parent)
                        members.append(linux.cpio_entry(parent, 0o040755))
                if os.path.islink(path):
                    members.append(linux.cpio_entry(inside, 0o120777, os.readlink(path).encode()))
                else:
                    with open(path, "rb") as handle:
                        members.append(linux.cpio_entry(inside, 0o100755, handle.read()))
    return members, made


def make_initramfs(path):
    """The gzipped initramfs: busybox, the driver's modules, Plymouth, its configuration and the
    init script."""
    with open(linux.fetch_busybox("x64"), "rb") as handle:
        busybox = handle.read()
    members, made = package_members(fetch_packages())
    for folder in ("bin", "dev", "proc", "sys", "etc", "etc/plymouth", "lib", "lib/modules"):
        if folder not in made:
            members.append(linux.cpio_entry(folder, 0o040755))
    members.append(linux.cpio_entry("dev/console", 0o020600, device=(5, 1)))
    members.append(linux.cpio_entry("bin/busybox", 0o100755, busybox))
    for module in fetch_modules():
        with open(module, "rb") as handle:
            members.append(linux.cpio_entry("lib/modules/" + os.path.basename(module), 0o100644, handle.read()))
    members.append(linux.cpio_entry("etc/plymouth/plymouthd.conf", 0o100644, CONFIG.encode()))
    members.append(linux.cpio_entry("init", 0o100755, INIT.encode()))
    members.append(linux.cpio_entry("TRAILER!!!", 0))
    with open(path, "wb") as handle:
        handle.write(gzip.compress(b"".join(members), compresslevel=6, mtime=0))
    return path


def files(options, work):
    """(host path, name on the disk) of the kernel and its Plymouth initramfs."""
    if options.arch != "x64":
        raise SystemExit(f"quillon-run: Plymouth is booted on x64 only, not on {options.arch}")
    kernel = linux.fetch_kernel(options.arch) if options.kernel == "debian" else options.kernel
    return [(kernel, linux.KERNEL_NAME), (make_initramfs(os.path.join(work, linux.INITRD_NAME)), linux.INITRD_NAME)]


def read_log(console):
    """Plymouth's debug log, as the init script printed it."""
    start = MARKER + "-LOG "
    return [line[len(start):] for line in console.split("\n") if line.startswith(start)]
