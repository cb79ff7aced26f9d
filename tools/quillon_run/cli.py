"""The runner's command line: one boot, its console shown as it comes, its results in a folder."""

import argparse
import os
import subprocess
import sys

from . import disks
from . import machines
from . import plymouth
from . import stores
from . import RunnerError
from .boot import Options, boot, boot_with
from .console import Answer
from .screen import CONVERT


def say(message):
    print(f"quillon-run: {message}", flush=True)


def parse_arguments(argv, description):
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--arch", default="x64", choices=sorted(machines.ARCHES),
                        help="the firmware's architecture: x64 (OVMF), ia32 (32-bit OVMF) or aa64 (AAVMF)")
    parser.add_argument("--image", default="", help="the image to boot (default: the architecture's in build/image)")
    parser.add_argument("--out", default="out", help="folder for console.log, BIOSLogo.bmp and BIOSLogo.png")
    parser.add_argument("--machine", default="", choices=["", "q35", "pc", "i440fx", "virt"],
                        help="QEMU machine type (default q35, or virt on aa64)")
    parser.add_argument("--firmware", default="",
                        help="firmware code file (any build; default Debian's build for the architecture), "
                             "or u-boot for Debian's U-Boot (x64 and aa64) with the UEFI Shell on the disk, or "
                             "ovmf-13 for Debian 13's OVMF (x64; with --secure-boot its strict-NX Secure Boot "
                             "build), or ovmf-13-strictnx for that build with Secure Boot off")
    parser.add_argument("--vars", default="", help="variable-store template (default: the one beside the code)")
    parser.add_argument("--secure-boot", action="store_true",
                        help="the firmware with Microsoft's keys, enforcing Secure Boot (x64 and aa64)")
    parser.add_argument("--store", default="", choices=("",) + stores.NAMES,
                        help="with Secure Boot enforced, a variable store as people's machines have it: "
                             "ms2011, ms2023, windows-only, none or shim-revoked (made in build/ when needed)")
    parser.add_argument("--memory", default="256M", help="guest memory, as QEMU's -m takes it")
    parser.add_argument("--read-only", action="store_true", help="attach the disk read-only")
    parser.add_argument("--no-display", action="store_true", help="boot without a display device")
    parser.add_argument("--screen", default="", metavar="WxH",
                        help="the display device's preferred size, such as 640x480 or 1920x1080")
    parser.add_argument("--boot-manager", action="store_true",
                        help="install Quillon as \\EFI\\BOOT\\BOOTX64.EFI for the boot manager instead of the shell")
    parser.add_argument("--put", action="append", default=[], metavar="FILE[=NAME]",
                        help="put FILE on the disk first (as NAME)")
    parser.add_argument("--before", action="append", default=[], metavar="'EFI [ARGS]'",
                        help="an EFI program to run from startup.nsh before Quillon, with its arguments")
    parser.add_argument("--kernel", default="", metavar="debian|VMLINUZ",
                        help="after Quillon, start a Linux kernel with an initramfs that prints what it made of "
                             "the BGRT and powers off: debian for Debian's kernel (x64 and aa64), or an EFI-stub "
                             "kernel")
    parser.add_argument("--plymouth", action="store_true",
                        help="with --kernel: an initramfs that shows Plymouth's bgrt splash instead (x64), its "
                             "picture kept as plymouth.png in the --out folder")
    parser.add_argument("--debian", default="13", choices=["13", "12"],
                        help="with --kernel debian: the Debian release of the kernel, busybox and Plymouth "
                             "(13: Linux 6.12 and Plymouth 24; 12: Linux 6.1 and Plymouth 22)")
    parser.add_argument("--display", default="drm", choices=["drm", "framebuffer"],
                        help="with --plymouth: Plymouth draws through the bochs DRM driver (drm), or with no DRM "
                             "driver loaded on the firmware's framebuffer (framebuffer)")
    parser.add_argument("--linux-command", default="", metavar="QUILLON",
                        help="with --kernel debian: the initramfs also runs this static build of the Linux command "
                             "(build/host/quillon-static/quillon, built by `make host`) and prints what it says")
    parser.add_argument("--disk-kib", type=int, default=32768, help="size of the FAT disk image in KiB")
    parser.add_argument("--stick", default="", metavar="IMAGE",
                        help="boot this stick image (make stick) as a USB stick instead of a disk made here")
    parser.add_argument("--internal", default="", metavar="IMAGE",
                        help="with --stick: an internal disk image ahead of the stick in the boot order")
    parser.add_argument("--internal-bus", default="sata", choices=["sata", "nvme"], help="the internal disk's bus")
    parser.add_argument("--timeout", type=float, default=120.0, help="seconds before a boot counts as hung")
    parser.add_argument("--work", default="", help="keep the disk image and logs in this folder")
    parser.add_argument("--quiet", action="store_true", help="do not show the console as it comes")
    return parser.parse_args(argv)


def main(argv, description):
    try:
        return run(argv, description)
    except RunnerError as problem:
        print(problem, file=sys.stderr)
        return 1


def run(argv, description):
    arguments = parse_arguments(argv, description)
    if not arguments.image and not arguments.stick:
        arguments.image = os.path.join("build", "image", machines.ARCHES[arguments.arch].image)
    if not arguments.stick and not os.path.isfile(arguments.image):
        say(f"{arguments.image} does not exist; build it with `make image`")
        return 1
    put = []
    for item in arguments.put:
        source, _, name = item.partition("=")
        put.append((source, name or os.path.basename(source)))
    options = Options(image=arguments.image, arch=arguments.arch, machine=arguments.machine, code=arguments.firmware,
                      vars_template=arguments.vars, secure_boot=arguments.secure_boot, store=arguments.store,
                      memory=arguments.memory, read_only=arguments.read_only, no_display=arguments.no_display,
                      boot_manager=arguments.boot_manager, put=put, before=arguments.before,
                      disk_kib=arguments.disk_kib, timeout=arguments.timeout, work=arguments.work,
                      echo=not arguments.quiet, stick=arguments.stick, internal=arguments.internal,
                      internal_bus=arguments.internal_bus, screen=arguments.screen,
                      kernel=arguments.kernel, plymouth=arguments.plymouth, debian=arguments.debian,
                      display=arguments.display, linux_command=arguments.linux_command)
    if options.plymouth:
        # The init script waits for a line once the splash is up: the picture is taken first.
        options.answers = [Answer(plymouth.SHOWN, ["Enter"], picture="plymouth.png")]
        options.pictures = os.path.abspath(arguments.out)

    if options.store:
        stores.prepare(options, boot_with)  # before the firmware is named: the store decides which
    if options.stick:
        say(f"booting from {options.stick} as a USB stick" + (f", behind {options.internal}" if options.internal else ""))
    else:
        say(f"making a {options.disk_kib} KiB FAT disk with {os.path.basename(options.image)} and startup.nsh")
    code = machines.UBOOT.get(options.arch, "u-boot") if options.uboot() else machines.firmware_files(options)[0]
    machine = options.machine or machines.ARCHES[options.arch].machine
    say(f"booting {os.path.basename(code)} on QEMU's {options.arch} {machine} machine under software "
        f"emulation; the firmware takes a few seconds to start (bound {options.timeout:.0f} s)")
    result = boot(options)

    os.makedirs(arguments.out, exist_ok=True)
    for name in ("console.log", disks.LOGO_NAME, "BIOSLogo.png"):
        path = os.path.join(arguments.out, name)
        if os.path.exists(path):
            os.remove(path)
    console_path = os.path.join(arguments.out, "console.log")
    with open(console_path, "w") as handle:
        handle.write(result.console)

    if result.problem:
        say(f"boot failed after {result.seconds:.1f} s: {result.problem}; console in {console_path}")
        return 1
    say(f"powered off after {result.seconds:.1f} s; Quillon's exit status {result.exit_status:#x}"
        if result.exit_status is not None else f"powered off after {result.seconds:.1f} s")
    if result.logo is None:
        say(f"no {disks.LOGO_NAME} was saved; console in {console_path}")
        return 0 if result.exit_status == 0 or options.stick else 2
    logo_path = os.path.join(arguments.out, disks.LOGO_NAME)
    with open(logo_path, "wb") as handle:
        handle.write(result.logo)
    png_path = os.path.join(arguments.out, "BIOSLogo.png")
    converted = subprocess.run([CONVERT, logo_path, png_path], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    shape = disks.bitmap_header(result.logo)
    described = f"{shape[0]} x {shape[1]}, {shape[2]} bits per pixel" if shape else "not a BMP"
    png_note = f", PNG {png_path}" if converted.returncode == 0 else " (ImageMagick could not convert it)"
    say(f"console {console_path}; logo {logo_path} ({described}, {len(result.logo)} bytes){png_note}")
    return 0 if result.exit_status == 0 or options.stick else 2
