#!/usr/bin/env python3
"""The runner's ELF reader, which decides what goes into the readers' initramfs: held against
readelf on the host's own programs and libraries, and on kernel modules made here with a .modinfo
of the kernel's form.

    elf_file_test.py      exits 0 when every check holds
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from quillon_run import elf_file  # noqa: E402

READELF = shutil.which("readelf") or shutil.which("llvm-readelf-19")
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def readelf_says(path):
    """(interpreter, needed libraries) as readelf reads them."""
    program = subprocess.run([READELF, "-l", "-d", "-W", path], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             check=True).stdout.decode()
    interpreter = re.search(r"\[Requesting program interpreter: ([^\]]+)\]", program)
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", program)
    return (interpreter.group(1) if interpreter else ""), needed


def check_against_readelf():
    # A program with a loader, one that needs little, and libraries without one.
    paths = [shutil.which("ls"), sys.executable, shutil.which("python3")]
    paths += [path for path in ("/lib/x86_64-linux-gnu/libc.so.6", "/usr/lib/x86_64-linux-gnu/libm.so.6",
                                "/lib/aarch64-linux-gnu/libc.so.6") if os.path.exists(path)]
    for path in filter(None, paths):
        with open(path, "rb") as handle:
            ours = elf_file.dependencies(handle.read(), path)
        check(ours == readelf_says(path), f"{path}: read as {ours}, readelf says {readelf_says(path)}")


def module(folder, name, info):
    """A relocatable object with a .modinfo section holding these fields, as modpost writes them."""
    source = os.path.join(folder, name + ".c")
    with open(source, "w") as handle:
        handle.write("int quillon_module_text;\n")
    made = os.path.join(folder, name + ".ko")
    subprocess.run(["cc", "-c", "-o", made, source], check=True)
    fields = os.path.join(folder, name + ".modinfo")
    with open(fields, "wb") as handle:
        handle.write(b"".join(field + b"\0" for field in info))
    subprocess.run(["objcopy", "--add-section", f".modinfo={fields}", made], check=True)
    with open(made, "rb") as handle:
        return handle.read()


def check_module_depends():
    with tempfile.TemporaryDirectory(prefix="quillon-elf-") as folder:
        cases = [
            ([b"license=GPL", b"depends=drm_kms_helper,drm,ttm", b"name=bochs"], ["drm_kms_helper", "drm", "ttm"]),
            ([b"license=GPL", b"depends=", b"name=drm"], []),
            ([b"name=alone"], []),
        ]
        for index, (info, wanted) in enumerate(cases):
            got = elf_file.module_depends(module(folder, f"m{index}", info))
            check(got == wanted, f"a module whose .modinfo holds {info} depends on {got}, not {wanted}")
        try:
            with open(os.path.join(folder, "m0.c"), "rb") as handle:
                elf_file.module_depends(handle.read())
            check(False, "a file that is no ELF file was read as a module")
        except elf_file.ElfError:
            pass


def main():
    check(READELF is not None, "no readelf on this machine to hold the reader against")
    if READELF:
        check_against_readelf()
    check_module_depends()
    for failure in failures:
        print("FAIL " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
