"""Each architecture's firmware and the QEMU command line that boots it.

Debian's builds: OVMF for x64 and IA32, AAVMF for AArch64, each with its code read-only and a
private copy of its variable store; their `.ms.fd` variable stores hold Microsoft's keys and
enforce Secure Boot, which on x64 needs SMM and the flash that only SMM may write. U-Boot for QEMU
(x64 and AArch64) is a second UEFI implementation, with its variables in memory. Debian 13's OVMF
(x64), a newer build of the same firmware with a strict-NX Secure Boot build, comes from Debian 13's
archive into the package cache, as the kernels do.
"""

import dataclasses
import os

import debian_release
import shim_packages

from . import RunnerError
from .linux import PACKAGE_CACHE

OVMF_DIR = "/usr/share/OVMF"
AAVMF_DIR = "/usr/share/AAVMF"
# Debian's U-Boot builds for QEMU, by architecture; "--firmware u-boot" chooses them.
UBOOT = {"x64": "/usr/lib/u-boot/qemu-x86_64/u-boot.rom", "aa64": "/usr/lib/u-boot/qemu_arm64/u-boot.bin"}
# Debian 13's OVMF, the package holding every build; "--firmware ovmf-13" chooses its plain build, whose
# shell runs the image, or with --secure-boot its strict-NX Secure Boot build with Microsoft's keys
# (its .ms store); "--firmware ovmf-13-strictnx" that strict-NX build with its empty store, Secure Boot
# off. Strict NX is Debian's name for the Secure Boot build with the memory-attribute protocol on, for
# programs that keep code and data apart in pages of their own; Debian warns that it crashes others.
OVMF_13 = ("ovmf", "2025.02-8+deb13u1", "all")
OVMF_13_PLAIN, OVMF_13_STRICT_NX = "ovmf-13", "ovmf-13-strictnx"


@dataclasses.dataclass(frozen=True)
class Arch:
    qemu: str
    machine: str  # the default machine type
    code: str  # the firmware's code, Debian's build
    vars_template: str  # its variable store
    secure_code: str  # the code that enforces Secure Boot with Microsoft's keys, or ""
    secure_vars: str  # the variable store with those keys
    image: str  # the image's name in build/image
    boot_name: str  # what the boot manager starts from \EFI\BOOT


ARCHES = {
    "x64": Arch("qemu-system-x86_64", "q35", os.path.join(OVMF_DIR, "OVMF_CODE_4M.fd"), "",
                os.path.join(OVMF_DIR, "OVMF_CODE_4M.ms.fd"), os.path.join(OVMF_DIR, "OVMF_VARS_4M.ms.fd"),
                "Quillon.efi", "BOOTX64.EFI"),
    # Debian's only IA32 build has Secure Boot, which needs SMM; no keys are enrolled, so nothing is enforced.
    "ia32": Arch("qemu-system-i386", "q35", os.path.join(OVMF_DIR, "OVMF32_CODE_4M.secboot.fd"),
                 os.path.join(OVMF_DIR, "OVMF32_VARS_4M.fd"), "", "", "QuillonIA32.efi", "BOOTIA32.EFI"),
    "aa64": Arch("qemu-system-aarch64", "virt", os.path.join(AAVMF_DIR, "AAVMF_CODE.fd"),
                 os.path.join(AAVMF_DIR, "AAVMF_VARS.fd"), os.path.join(AAVMF_DIR, "AAVMF_CODE.ms.fd"),
                 os.path.join(AAVMF_DIR, "AAVMF_VARS.ms.fd"), "QuillonAA64.efi", "BOOTAA64.EFI"),
}


def debian_13_ovmf(cache=PACKAGE_CACHE):
    """The folder of Debian 13's OVMF files, fetched from Debian 13's archive through the runner's own
    apt configuration and unpacked into the cache when not there yet."""
    with shim_packages.cache_lock(cache):
        deb, _ = shim_packages.fetch_package(*OVMF_13, cache, who="quillon-run", release=debian_release.TRIXIE)
        return os.path.join(shim_packages.unpack(deb, cache), "usr", "share", "OVMF")


def strict_nx(options):
    return options.code == OVMF_13_STRICT_NX or (options.code == OVMF_13_PLAIN and options.secure_boot)


def debian_13_files(options):
    """Debian 13's code and variable-store template: the plain build with its empty store, or the
    strict-NX Secure Boot build with Microsoft's keys or its empty store."""
    if options.arch != "x64":
        raise RunnerError(f"quillon-run: Debian 13's OVMF is booted on x64 only, not {options.arch}")
    folder = debian_13_ovmf()
    code = "OVMF_CODE_4M.secboot.strictnx.fd" if strict_nx(options) else "OVMF_CODE_4M.fd"
    store = "OVMF_VARS_4M.ms.fd" if options.secure_boot else "OVMF_VARS_4M.fd"
    return os.path.join(folder, code), options.vars_template or os.path.join(folder, store)


def firmware_files(options):
    """The firmware's code and variable-store template for these options."""
    if options.code in (OVMF_13_PLAIN, OVMF_13_STRICT_NX):
        return debian_13_files(options)
    arch = ARCHES[options.arch]
    if options.secure_boot:
        if not arch.secure_code:
            raise RunnerError(f"quillon-run: Debian has no firmware with Microsoft's keys for {options.arch}")
        return arch.secure_code, options.vars_template or arch.secure_vars
    code = options.code or arch.code
    if options.vars_template:
        return code, options.vars_template
    if code == arch.code and arch.vars_template:
        return code, arch.vars_template
    # An x64 OVMF: the 4 MiB code file pairs with the 4 MiB variable store, the 2 MiB one with the 2 MiB store.
    folder = os.path.dirname(code)
    name = "OVMF_VARS_4M.fd" if "_4M" in os.path.basename(code) else "OVMF_VARS.fd"
    return code, os.path.join(folder, name)


def needs_smm(options):
    """IA32's only build, and x64's Secure Boot builds, keep their variables where only SMM writes."""
    return not options.uboot() and (options.arch == "ia32" or (options.arch == "x64" and (
        options.secure_boot or strict_nx(options))))


def screen_size(options):
    """The display device's properties for a preferred size, which the firmware starts in."""
    if not options.screen:
        return ""
    width, _, height = options.screen.partition("x")
    return f",xres={int(width)},yres={int(height)}"


def qemu_command(options, disk, vars_copy, internal="", monitor=""):
    """QEMU's command line: the machine, its firmware, its display, and the disks.

    disk is the boot's disk or stick image; internal, an internal disk image ahead of the stick in
    the boot order; monitor, a socket for QEMU's monitor (screen pictures)."""
    arch = ARCHES[options.arch]
    machine = options.machine or arch.machine
    if machine == "i440fx":
        machine = "pc"
    command = [
        arch.qemu,
        "-m", options.memory,
        "-display", "none",
        "-chardev", "stdio,id=console,signal=off",
        "-serial", "chardev:console",
        "-monitor", f"unix:{monitor},server=on,wait=off" if monitor else "none",
        "-nic", "none",
        "-no-reboot",
    ]
    if options.restart_after:
        # The machine's clock counts its instructions (32 ns each) and jumps ahead while it idles, so
        # minutes of waiting pass in seconds; the CMOS clock keeps that time for the runner to read.
        command += ["-icount", "shift=5,sleep=off", "-rtc", "clock=vm"]
    if options.uboot():
        command += ["-bios", UBOOT[options.arch]]
    else:
        code, _ = firmware_files(options)
        command += ["-drive", f"if=pflash,format=raw,unit=0,readonly=on,file={code}",
                    "-drive", f"if=pflash,format=raw,unit=1,file={vars_copy}"]
    if options.arch == "aa64":
        # The virt machine has no display of its own: without one the firmware publishes no BGRT.
        command += ["-machine", f"{machine},accel=tcg", "-cpu", "cortex-a57"]
        if not options.no_display:
            command += ["-device", "virtio-gpu-pci" + screen_size(options)]
    else:
        smm = ",smm=on" if needs_smm(options) else ""
        command += ["-machine", f"{machine}{smm},accel=tcg"]
        if options.no_display:
            command += ["-vga", "none"]
        elif options.screen:
            command += ["-vga", "none", "-device", "VGA" + screen_size(options)]
        else:
            command += ["-vga", "std"]
        if needs_smm(options):
            command += ["-global", "driver=cfi.pflash01,property=secure,value=on"]
    read_only = ",readonly=on" if options.read_only else ""
    if options.stick:
        # The stick on a USB 3 controller, or USB 2 where the firmware has no USB 3 driver (U-Boot);
        # behind the internal disk in the boot order when there is one.
        controller = "usb-ehci" if options.uboot() else "qemu-xhci"
        throttle = f",throttling.bps-write={options.stick_write_bps}" if options.stick_write_bps else ""
        command += ["-device", f"{controller},id=usb",
                    "-drive", f"if=none,id=stick,file={disk},format=raw{read_only}{throttle}",
                    "-device", f"usb-storage,bus=usb.0,drive=stick,bootindex={1 if internal else 0}"]
        if internal:
            command += ["-drive", f"if=none,id=internal,file={internal},format=raw"]
            if options.internal_bus == "nvme":
                command += ["-device", "nvme,serial=QUILLON-INTERNAL,drive=internal,bootindex=0"]
            else:
                command += ["-device", "ide-hd,drive=internal,bus=ide.0,bootindex=0"]
        return command
    if options.read_only or options.arch == "aa64":
        # QEMU's default AHCI and IDE disks refuse readonly=on, and virt has neither; virtio-blk serves both.
        command += ["-drive", f"if=none,id=disk,file={disk},format=raw{read_only}",
                    "-device", "virtio-blk-pci,drive=disk"]
    else:
        command += ["-drive", f"file={disk},format=raw"]
    return command
