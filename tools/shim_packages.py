#!/usr/bin/env python3
"""Fetches Debian's Microsoft-signed shim and MokManager for the stick, at build time.

For each architecture: shim-signed (shim<arch>.efi.signed, the stick's BOOT<ARCH>.EFI) and
shim-helpers-<debian arch>-signed (mm<arch>.efi.signed, MokManager). `apt-get download` fetches
each package at the version pinned here, into a cache folder; `dpkg-deb -x` unpacks it there. The
programs are used as Debian ships them, with each package's copyright file beside them. Nothing
of them is kept in the repository.

A pinned version that the archive no longer carries (Debian replaces a package when it updates
it) gives way to the archive's current one, with a warning: the stick then differs from one made
with the pinned version.

    shim_packages.py CACHE [x64|ia32|aa64 ...]   fetches them and prints what each file is
"""

import contextlib
import dataclasses
import fcntl
import glob
import os
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import debian_release  # noqa: E402
import pe_image  # noqa: E402

# The versions the stick is made with: Debian 12's shim 16.1 and its helpers.
SHIM_VERSION = "1.51~1+deb12u1+16.1-2~deb12u1"
HELPERS_VERSION = "1+16.1+2~deb12u1"
DEBIAN_ARCH = {"x64": "amd64", "ia32": "i386", "aa64": "arm64"}


@dataclasses.dataclass(frozen=True)
class Shim:
    shim: str  # shim, signed for Microsoft's UEFI CA
    mok_manager: str  # MokManager, signed by Debian's key that shim trusts
    licences: list  # (package name, its copyright file)
    versions: list  # (package name, version) as fetched


def packages(arch):
    debian = DEBIAN_ARCH[arch]
    return [("shim-signed", SHIM_VERSION, debian), (f"shim-helpers-{debian}-signed", HELPERS_VERSION, debian)]


def available(name, version, debian, apt=()):
    """Whether apt lists this version of the package for the architecture; apt holds the options
    of another release's configuration (debian_release.py), if any."""
    listed = subprocess.run(["apt-cache", *apt, "madison", f"{name}:{debian}"], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    return any(line.split("|")[1].strip() == version for line in listed.stdout.decode().splitlines()
               if line.count("|") >= 2)


def current_version(name, debian, apt=()):
    shown = subprocess.run(["apt-cache", *apt, "policy", f"{name}:{debian}"], stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL).stdout.decode()
    for line in shown.splitlines():
        if line.strip().startswith("Candidate:"):
            candidate = line.split(":", 1)[1].strip()
            return "" if candidate == "(none)" else candidate
    return ""


def newer_than_pinned(arch, cache):
    """(package, pinned version, the archive's newer version) for each of the architecture's
    packages the archive has a newer version of. Asking apt is best effort: an answer it cannot
    give counts as none newer."""
    newer = []
    try:
        apt = debian_release.apt_options(cache)
        for name, version, debian in packages(arch):
            candidate = current_version(name, debian, apt)
            if candidate and candidate != version and subprocess.run(
                    ["dpkg", "--compare-versions", candidate, "gt", version], stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL).returncode == 0:
                newer.append((name, version, candidate))
    except OSError:
        return []
    return newer


def deb_path(cache, name, version, debian):
    """Where apt-get download leaves the package in the cache: a .deb's file name carries the
    version with ':' spelt %3a."""
    return os.path.join(cache, f"{name}_{version.replace(':', '%3a')}_{debian}.deb")


def fetch_package(name, version, debian, cache, who="shim-packages", release=debian_release.BOOKWORM):
    """The package's .deb in the cache, downloaded from the release when it is not there yet;
    returns (path, version). `who` names the tool in a warning. A pinned version already in the cache
    needs no word from apt, whose answers take seconds each."""
    os.makedirs(cache, exist_ok=True)
    if os.path.exists(deb_path(cache, name, version, debian)):
        return deb_path(cache, name, version, debian), version
    apt = debian_release.apt_options(cache, release)
    if not available(name, version, debian, apt):
        current = current_version(name, debian, apt)
        if not current:
            raise RuntimeError(f"apt lists no {name} for {debian}; run tools/install-deps.sh, which adds "
                               f"{debian} to dpkg's architectures")
        print(f"{who}: warning: {name} {version} is no longer in the archive; using {current}",
              file=sys.stderr)
        version = current
    pattern = deb_path(cache, name, version, debian)
    if not os.path.exists(pattern):
        done = subprocess.run(["apt-get", *apt, "download", "-q", f"{name}:{debian}={version}"], cwd=cache,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if done.returncode != 0 or not os.path.exists(pattern):
            raise RuntimeError(f"apt-get download {name}:{debian}={version} failed:\n{done.stdout.decode()}")
    return pattern, version


def unpack_part(deb, suffix, members):
    """Only these members of a package (tar paths, wildcards allowed), unpacked into a folder beside
    the .deb named with `suffix`; returns the folder. A package whose whole is much larger than what
    is needed (a kernel's modules) is not unpacked whole."""
    folder = deb[:-len(".deb")] + suffix
    if not os.path.isdir(folder):
        partial = folder + ".partial"
        subprocess.run(["rm", "-rf", partial], check=True)
        os.makedirs(partial)
        extract(deb, partial, members)
        os.rename(partial, folder)
    return folder


def extract(deb, folder, members):
    """These members of a package (tar paths, wildcards allowed) unpacked into an existing folder;
    a member that matches nothing is an error, named by tar."""
    archive = subprocess.Popen(["dpkg-deb", "--fsys-tarfile", deb], stdout=subprocess.PIPE)
    done = subprocess.run(["tar", "-x", "-C", folder, "--wildcards", *members], stdin=archive.stdout,
                          stderr=subprocess.PIPE)
    archive.stdout.close()
    if archive.wait() != 0:
        raise RuntimeError(f"dpkg-deb could not read {deb}")
    if done.returncode != 0:
        raise RuntimeError(f"{os.path.basename(deb)} lacks what was asked for:\n{done.stderr.decode().strip()}")


def unpack(deb, cache):
    folder = deb[:-len(".deb")]
    if not os.path.isdir(folder):
        partial = folder + ".partial"
        subprocess.run(["rm", "-rf", partial], check=True)
        subprocess.run(["dpkg-deb", "-x", deb, partial], check=True)
        os.rename(partial, folder)
    return folder


@contextlib.contextmanager
def cache_lock(cache):
    """One fetch at a time in a cache: builds that run side by side would write the same files."""
    os.makedirs(cache, exist_ok=True)
    with open(os.path.join(cache, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield


def fetch(arch, cache):
    """Shim and MokManager for the architecture, fetched into the cache when not there yet."""
    with cache_lock(cache):
        return fetch_unlocked(arch, cache)


def fetch_unlocked(arch, cache):
    found = {}
    licences, versions = [], []
    for name, version, debian in packages(arch):
        deb, version = fetch_package(name, version, debian, cache)
        folder = unpack(deb, cache)
        versions.append((name, version))
        licences.append((name, os.path.join(folder, "usr", "share", "doc", name, "copyright")))
        for path in glob.glob(os.path.join(folder, "usr", "lib", "shim", "*.efi.signed")):
            found[os.path.basename(path)] = path
    shim, mok_manager = found.get(f"shim{arch}.efi.signed"), found.get(f"mm{arch}.efi.signed")
    if not shim or not mok_manager or not all(os.path.exists(path) for _, path in licences):
        raise RuntimeError(f"Debian's shim packages for {arch} lack shim{arch}, mm{arch} or a copyright file")
    return Shim(shim, mok_manager, licences, versions)


def sbat_levels(shim):
    """The two revocation levels a shim carries in its .sbatlevel section, as text: the one it
    writes to SbatLevel by itself, and the latest, which it writes only when SbatPolicy asks.
    The section holds a version (0), then the offsets of the two texts counted from the end of the
    version field; each text ends with a NUL."""
    section = pe_image.section(shim, ".sbatlevel")
    if section is None or len(section) < 12:
        raise ValueError("the shim has no .sbatlevel section")
    _, automatic, latest = struct.unpack_from("<III", section)

    def text(offset):
        start = 4 + offset
        return section[start:section.index(b"\0", start)]

    return text(automatic), text(latest)


def main(argv):
    if not argv:
        print(__doc__.strip().split("\n\n")[-1])
        return 2
    cache, arches = argv[0], argv[1:] or list(DEBIAN_ARCH)
    for arch in arches:
        shim = fetch(arch, cache)
        fetched = ", ".join(f"{name} {version}" for name, version in shim.versions)
        print(f"shim-packages: {arch}: {shim.shim} and {shim.mok_manager} ({fetched})")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
