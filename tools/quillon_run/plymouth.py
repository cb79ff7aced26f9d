"""Plymouth's bgrt theme, started by Debian's kernel right after Quillon on the same machine, as the
judge of what the verdict says Plymouth does with the firmware's logo.

The kernel is linux.py's, of the same Debian release (13 with Plymouth 24, or 12 with Plymouth 22);
only its initramfs differs. It holds busybox-static, plymouthd with the bgrt theme and the libraries
they load, and for the "drm" display the kernel's DRM driver for QEMU's standard VGA (bochs, and the
modules it needs). With the "framebuffer" display no DRM driver is loaded, nor Plymouth's DRM
renderer: Plymouth falls back to its frame-buffer renderer on /dev/fb0, the firmware's framebuffer
as the kernel's efifb keeps it.
Its /init loads the driver, starts plymouthd with its debug log, shows the splash, says so on the
console (SHOWN) and waits for a line from it: the runner takes its picture of the screen before it
answers. Then it ends plymouthd, prints the debug log's lines, runs the Linux command where the
initramfs holds one, on the display Plymouth has let go of, prints what linux.py's init prints of
the kernel's BGRT (so linux.read_report and read_command read this boot too), and powers off. Plymouth, its theme
and the libraries come from Debian's archive like the kernel, with `apt-get download` + `dpkg-deb
-x`, at the versions pinned here or the archive's current ones with a warning; the initramfs takes
of them the programs and what their ELF files ask for. Nothing of them is kept in the repository.
x64 only: QEMU's standard VGA is the x64 machine's display.
"""

import fnmatch
import gzip
import lzma
import os
import re
import shutil

import shim_packages

from . import RunnerError
from . import elf_file
from . import linux

# plymouthd with the bgrt theme (two-step, in plymouth-themes), and the packages of the libraries
# they load, for each Debian release.
PACKAGES = {
    "12": [
        ("plymouth", "22.02.122-3"),
        ("plymouth-themes", "22.02.122-3"),
        ("libplymouth5", "22.02.122-3"),
        ("libc6", "2.36-9+deb12u14"),
        ("libdrm2", "2.4.114-1+b1"),
        ("libpng16-16", "1.6.39-2+deb12u6"),
        ("libudev1", "252.39-1~deb12u2"),
        ("zlib1g", "1:1.2.13.dfsg-1+deb12u1"),
    ],
    "13": [
        ("plymouth", "24.004.60-5"),
        ("plymouth-themes", "24.004.60-5"),
        ("libplymouth5", "24.004.60-5"),
        ("libc6", "2.41-12+deb13u5"),
        ("libdrm2", "2.4.124-2"),
        ("libpng16-16t64", "1.6.48-1+deb13u6"),
        ("libudev1", "257.13-1~deb13u1"),
        ("zlib1g", "1:1.3.dfsg+really1.3.1-1+deb13u1"),
        # Plymouth 24 reads keyboards itself; libudev1 257 needs libcap.
        ("libevdev2", "1.13.4+dfsg-1"),
        ("libxkbcommon0", "1.7.0-2"),
        ("libcap2", "1:2.75-10+deb13u1+b3"),
    ],
}
DEBIAN_ARCH = "amd64"
# What the initramfs takes of those packages: the daemon, its client, the bgrt theme's plugin and
# the renderers, with the shared libraries their ELF files name, theirs in turn, and the loader...
PROGRAMS = [
    "usr/sbin/plymouthd",
    "usr/bin/plymouth",
    "usr/lib/x86_64-linux-gnu/plymouth/two-step.so",
    "usr/lib/x86_64-linux-gnu/plymouth/renderers/*.so",
]
# ...and the bgrt theme with its images (its spinner's); not the documents or translations.
THEMES = [
    "usr/share/plymouth/themes/bgrt/*",
    "usr/share/plymouth/themes/spinner/*",
]
# Where the loader looks for a library in an initramfs, which has no ld.so.cache: Debian's
# multiarch folders.
LIBRARY_FOLDERS = ["usr/lib/x86_64-linux-gnu", "lib/x86_64-linux-gnu"]

# The DRM driver for QEMU's standard VGA, loaded with the modules it needs for the "drm" display.
DRIVER = "bochs"
DISPLAYS = ("drm", "framebuffer")
# For the "framebuffer" display the initramfs leaves out Plymouth's DRM renderer as well. Without
# udev Plymouth tries its renderers in turn on one device; Plymouth 24's DRM renderer, failing on a
# machine with no DRM device, still leaves its device's name (/dev/dri/card0) behind, and the
# frame-buffer renderer tried next opens that instead of /dev/fb0. With udev Plymouth would hand
# the frame-buffer renderer /dev/fb0 itself.
DRM_RENDERER = "usr/lib/x86_64-linux-gnu/plymouth/renderers/drm.so"

MARKER = "QUILLON-PLYMOUTH"
SHOWN = MARKER + "-SHOWN"  # the splash is up: the runner takes its picture, then sends a line

# The theme that draws the firmware's logo, shown at once.
CONFIG = "[Daemon]\nTheme=bgrt\nShowDelay=0\nDeviceTimeout=8\n"


def init_script(modules):
    """The initramfs's /init, which loads these kernel modules (from /lib/modules, in this order)
    before Plymouth starts."""
    loads = "".join(f"insmod /lib/modules/{module}.ko 2>&1 | sed 's/^/{MARKER}-INSMOD /'\n" for module in modules)
    return f"""#!/bin/busybox sh
# The first process: shows Plymouth's bgrt splash, waits while the runner takes its picture, then
# says what Plymouth's debug log and the kernel made of the BGRT, and turns the machine off.
/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin:/usr/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts /run /tmp /var/log
mount -t devpts devpts /dev/pts
{loads}echo {MARKER}-START
# The devices Plymouth's renderers open: the DRM driver's card, the framebuffer.
for device in /dev/dri/card0 /dev/fb0; do
  [ -c $device ] && echo "{MARKER}-DEVICE $device"
done
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
# Plymouth has let go of the display: the Linux command, where there is one, finds it free.
{linux.RUN_COMMAND}{linux.REPORT}poweroff -f
"""


def fetch_packages(debian, cache=linux.PACKAGE_CACHE):
    """The folders the release's packages are unpacked in, fetched into the cache when not there yet."""
    release = linux.release(debian)
    with shim_packages.cache_lock(cache):
        return [shim_packages.unpack(shim_packages.fetch_package(name, version, DEBIAN_ARCH, cache,
                                                                 who="quillon-run", release=release)[0], cache)
                for name, version in PACKAGES[debian]]


def package_files(folders):
    """Every file and symbolic link of the unpacked packages: its path inside them, to its host path."""
    tree = {}
    for folder in folders:
        for root, names, files in os.walk(folder):
            for name in names + files:
                path = os.path.join(root, name)
                if not os.path.isdir(path) or os.path.islink(path):
                    tree.setdefault(os.path.relpath(path, folder), path)
    return tree


def link_chain(tree, inside):
    """The path and those its links lead through, inside the packages, to the file at the end."""
    chain = [inside]
    while os.path.islink(tree[chain[-1]]):
        target = os.readlink(tree[chain[-1]])
        following = os.path.normpath(os.path.join(os.path.dirname(chain[-1]), target)).lstrip("/")
        if following not in tree or following in chain:
            raise RuntimeError(f"{chain[-1]} leads to {target}, which the packages do not hold")
        chain.append(following)
    return chain


def library_path(tree, name, needed_by, debian):
    for folder in LIBRARY_FOLDERS:
        if f"{folder}/{name}" in tree:
            return f"{folder}/{name}"
    raise RuntimeError(f"{needed_by} needs {name}, which none of Debian {debian}'s packages in plymouth.PACKAGES "
                       f"holds: pin the package that has it")


def needed_files(tree, debian, display):
    """(paths, links): the paths inside the packages that the initramfs takes for the PROGRAMS
    (they, the libraries their DT_NEEDED name, those libraries' own, the loader, and every link on
    the way), and links it must add, as (path, target). Debian 13's libc6 leaves the loader's
    /lib64 link to its installation: the initramfs gets one to the loader in the multiarch folder."""
    queue = []
    for pattern in PROGRAMS:
        matched = sorted(path for path in tree if fnmatch.fnmatch(path, pattern))
        if not matched:
            raise RuntimeError(f"Debian {debian}'s Plymouth packages lack {pattern}")
        queue += [(path, "") for path in matched if not (display == "framebuffer" and path == DRM_RENDERER)]
    paths, links = set(), {}
    while queue:
        path, needed_by = queue.pop(0)
        if path in paths:
            continue
        chain = link_chain(tree, path)
        paths.update(chain)
        with open(tree[chain[-1]], "rb") as handle:
            interpreter, needed = elf_file.dependencies(handle.read(), chain[-1])
        if interpreter:
            loader = interpreter.lstrip("/")
            if loader not in tree:
                loader = library_path(tree, os.path.basename(loader), path, debian)
                links[interpreter.lstrip("/")] = "/" + loader
            queue.append((loader, path))
        queue += [(library_path(tree, name, path, debian), path) for name in needed]
    return paths, sorted(links.items())


def theme_files(tree, debian):
    found = {path for path in tree if any(fnmatch.fnmatch(path, pattern) for pattern in THEMES)}
    if not any(path.endswith("/bgrt.plymouth") for path in found):
        raise RuntimeError(f"Debian {debian}'s plymouth-themes lacks the bgrt theme")
    return found


def package_members(tree, paths, links):
    """The cpio members of these paths inside the packages, symbolic links kept as links, and of
    the added links, each after the folders it needs; and the folders made."""
    members, made = [], set()

    def add(inside, mode, data):
        parts = inside.split("/")
        for depth in range(1, len(parts)):
            parent = "/".join(parts[:depth])
            if parent not in made:
                made.add(parent)
                members.append(linux.cpio_entry(parent, 0o040755))
        members.append(linux.cpio_entry(inside, mode, data))

    for inside in sorted(paths):
        host = tree[inside]
        if os.path.islink(host):
            add(inside, 0o120777, os.readlink(host).encode())
        else:
            with open(host, "rb") as handle:
                add(inside, 0o100755, handle.read())
    for inside, target in links:
        add(inside, 0o120777, target.encode())
    return members, made


def module_name(path):
    """A module's name as the kernel and depends= spell it: its file name without .ko or .ko.xz,
    with '_' for '-'."""
    return re.sub(r"\.ko(\.xz)?$", "", os.path.basename(path)).replace("-", "_")


def module_data(path):
    """A module's bytes as insmod loads them: Debian 13's come xz-compressed, which busybox's insmod
    does not read."""
    with open(path, "rb") as handle:
        data = handle.read()
    return lzma.decompress(data) if path.endswith(".xz") else data


def modules_in(folder):
    found = {}
    for root, _, files in os.walk(folder):
        for name in files:
            if re.search(r"\.ko(\.xz)?$", name):
                found[module_name(name)] = os.path.join(root, name)
    return found


def load_order(needs, module):
    """The module and those it needs, each after what it needs."""
    order = []

    def visit(name, path):
        if name in order:
            return
        if name in path:
            raise RuntimeError(f"kernel modules that need each other: {' -> '.join(path + [name])}")
        if name not in needs:
            raise RuntimeError(f"{path[-1]} needs the kernel module {name}, which was not unpacked")
        for need in needs[name]:
            visit(need, path + [name])
        order.append(name)

    visit(module, [])
    return order


def fetch_modules(debian, cache=linux.PACKAGE_CACHE):
    """(name, host path) of the DRIVER and the modules it needs, in the order they load, unpacked
    from the release's kernel package beside it. The package holds no modules.dep (depmod makes it
    when the kernel is installed), so each module's own depends= names the next ones to unpack."""
    with shim_packages.cache_lock(cache):
        deb, _ = linux.fetch_kernel_package("x64", debian, cache)
        folder = deb[:-len(".deb")] + "-" + DRIVER
        if not os.path.isdir(folder):
            partial = folder + ".partial"
            shutil.rmtree(partial, ignore_errors=True)
            os.makedirs(partial)
            prefix = linux.KERNELS[debian]["x64"].modules
            wanted, asked = [DRIVER], set()
            while wanted:
                asked.update(wanted)
                # A file name may spell '_' as '-'.
                shim_packages.extract(deb, partial, [f"./{prefix}/*/kernel/*/{name.replace('_', '[-_]')}.ko*"
                                                     for name in wanted])
                found = modules_in(partial)
                wanted = sorted({need for name in wanted
                                 for need in elf_file.module_depends(module_data(found[name]), found[name])} - asked)
            os.rename(partial, folder)
    found = modules_in(folder)
    needs = {name: elf_file.module_depends(module_data(path), path) for name, path in found.items()}
    return [(name, found[name]) for name in load_order(needs, DRIVER)]


def make_initramfs(path, debian, display, command=""):
    """The gzipped initramfs: busybox, Plymouth and what it loads, its configuration, the init
    script, for the "drm" display the driver's modules and Plymouth's DRM renderer, and the Linux
    command where one is given (linux.command_member)."""
    with open(linux.fetch_busybox("x64", debian), "rb") as handle:
        busybox = handle.read()
    tree = package_files(fetch_packages(debian))
    paths, links = needed_files(tree, debian, display)
    members, made = package_members(tree, paths | theme_files(tree, debian), links)
    for folder in ("bin", "dev", "proc", "sys", "etc", "etc/plymouth", "lib", "lib/modules"):
        if folder not in made:
            members.append(linux.cpio_entry(folder, 0o040755))
    members.append(linux.cpio_entry("dev/console", 0o020600, device=(5, 1)))
    members.append(linux.cpio_entry("bin/busybox", 0o100755, busybox))
    members += linux.command_member(command)
    modules = fetch_modules(debian) if display == "drm" else []
    for name, module in modules:
        members.append(linux.cpio_entry(f"lib/modules/{name}.ko", 0o100644, module_data(module)))
    members.append(linux.cpio_entry("etc/plymouth/plymouthd.conf", 0o100644, CONFIG.encode()))
    members.append(linux.cpio_entry("init", 0o100755, init_script([name for name, _ in modules]).encode()))
    members.append(linux.cpio_entry("TRAILER!!!", 0))
    with open(path, "wb") as handle:
        handle.write(gzip.compress(b"".join(members), compresslevel=6, mtime=0))
    return path


def files(options, work):
    """(host path, name on the disk) of the kernel and its Plymouth initramfs."""
    if options.arch != "x64":
        raise RunnerError(f"quillon-run: Plymouth is booted on x64 only, not on {options.arch}")
    if options.display not in DISPLAYS:
        raise RunnerError(f"quillon-run: Plymouth's display is {' or '.join(DISPLAYS)}, not {options.display!r}")
    linux.release(options.debian)
    kernel = linux.fetch_kernel(options.arch, options.debian) if options.kernel == "debian" else options.kernel
    initrd = make_initramfs(os.path.join(work, linux.INITRD_NAME), options.debian, options.display,
                            options.linux_command)
    return [(kernel, linux.KERNEL_NAME), (initrd, linux.INITRD_NAME)]


def read_log(console):
    """Plymouth's debug log, as the init script printed it."""
    start = MARKER + "-LOG "
    return [line[len(start):] for line in console.split("\n") if line.startswith(start)]


def renderer(log):
    """The renderer plugin Plymouth's debug log says it opened ("drm", "frame-buffer"), or "" when it
    opened none."""
    for line in log:
        found = re.search(r"opened renderer plugin \S*/renderers/([^/\s]+)\.so", line)
        if found:
            return found.group(1)
    return ""
