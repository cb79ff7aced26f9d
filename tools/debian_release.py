"""Which Debian release a package comes from, and the apt options that reach it.

The machine's own apt sources are Debian 12's ("bookworm"), and stay as they are. Debian 13
("trixie") packages come through an apt configuration of the runner's own, in the package cache:
its own sources list, lists folder and apt cache, read and written by this apt alone. `apt_options`
makes it the first time it is asked (one `apt-get update`, a few seconds) and hands back the
options every apt command takes to use it. A pinned package already in the cache needs no apt at
all (shim_packages.fetch_package).

    debian_release.py CACHE [update]   makes (or with `update`, refreshes) Debian 13's lists
"""

import os
import subprocess
import sys

BOOKWORM = "bookworm"
TRIXIE = "trixie"

KEYRING = "/usr/share/keyrings/debian-archive-keyring.gpg"
MIRROR = "http://deb.debian.org/debian"
SECURITY = "http://deb.debian.org/debian-security"
# The architectures of the packages the runner boots: the kernels and Plymouth (amd64, arm64), the
# firmware (all).
ARCHITECTURES = ("amd64", "arm64", "i386")


def folder(cache, release):
    # apt reads a relative Dir:: option under /etc/apt.
    return os.path.join(os.path.abspath(cache), "apt-" + release)


def options_for(base):
    """apt's options for a configuration under base: nothing of the system's sources, lists,
    preferences or cache is read or written."""
    return ["-o", f"Dir::Etc::SourceList={base}/sources.list",
            "-o", f"Dir::Etc::SourceParts={base}/sources.list.d",
            "-o", f"Dir::Etc::Preferences={base}/preferences",
            "-o", f"Dir::Etc::PreferencesParts={base}/preferences.d",
            "-o", f"Dir::State::Lists={base}/lists",
            "-o", f"Dir::Cache={base}/cache",
            *kept_cache(base),
            "-o", "Dir::State::status=/dev/null",
            *[option for arch in ARCHITECTURES for option in ("-o", f"APT::Architectures::={arch}")],
            "-o", "Debug::NoLocking=1"]


def kept_cache(base):
    """apt's binary cache of the lists, kept under base. Debian's container images switch it off
    (Dir::Cache::pkgcache ""), and apt then reads every list again at each call, two seconds each
    time; kept, a look-up takes a twentieth of a second. apt checks it against the lists it was made
    from and makes it again when they change."""
    os.makedirs(base, exist_ok=True)
    return ["-o", f"Dir::Cache::pkgcache={base}/pkgcache.bin"]


def apt_options(cache, release=BOOKWORM, refresh=False):
    """The options apt takes to list and download the release's packages: for the machine's own
    release its own configuration, with the binary cache kept in the package cache; for Debian 13
    those of the runner's own configuration, made (and its lists fetched) when not there yet, or
    when refresh asks."""
    if release == BOOKWORM:
        return kept_cache(folder(cache, release))
    if release != TRIXIE:
        raise ValueError(f"no apt configuration for Debian {release}")
    base = folder(cache, release)
    options = options_for(base)
    lists = os.path.join(base, "lists")
    # apt keeps the lists compressed as it fetched them: "..._Packages.lz4" as often as "..._Packages".
    if refresh or not os.path.isdir(lists) or not any("_Packages" in name for name in os.listdir(lists)):
        for part in ("sources.list.d", "preferences.d", "lists/partial", "cache/archives/partial"):
            os.makedirs(os.path.join(base, part), exist_ok=True)
        with open(os.path.join(base, "sources.list"), "w") as handle:
            handle.write(f"deb [signed-by={KEYRING}] {MIRROR} {TRIXIE} main\n"
                         f"deb [signed-by={KEYRING}] {SECURITY} {TRIXIE}-security main\n")
        done = subprocess.run(["apt-get", *options, "-q", "update"], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT)
        if done.returncode != 0:
            raise RuntimeError(f"apt-get update for Debian 13's packages failed:\n{done.stdout.decode()}")
    return options


def main(argv):
    if not argv:
        print(__doc__.strip().split("\n\n")[-1])
        return 2
    apt_options(argv[0], TRIXIE, refresh=argv[1:] == ["update"])
    print(f"debian-release: Debian 13's lists are in {folder(argv[0], TRIXIE)}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
