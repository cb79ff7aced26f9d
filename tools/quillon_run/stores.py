"""Variable stores as people's machines have them, for firmware that enforces Secure Boot: which of
Microsoft's certificates db trusts, and the revocation level shim finds.

    ms2011        Debian's .ms.fd store as it is: db holds Microsoft's UEFI CA 2011 (the CA that
                  signs shim and other programs not Microsoft's own) and Windows Production PCA 2011
    ms2023        db holds Microsoft UEFI CA 2023 alone, as machines that carry only the new CAs
    windows-only  db holds the Windows CAs alone: the third-party CA switched off in setup. Of
                  them only Windows Production PCA 2011 is public in Debian's packages (in the .ms.fd
                  store); Windows UEFI CA 2023 is in none of them, so the store holds the 2011 one
    none          Debian's snakeoil store: db holds a test key and no Microsoft CA
    shim-revoked  db as ms2011's, and an SbatLevel that revokes shim generation 4 (shim,5)

The stores other than Debian's own are made here, from Debian's snakeoil store, whose PK and KEK
private key Debian ships for testing (its password is documented in the ovmf package). The new db
goes in as a time-based authenticated write signed with that KEK (efitools' sign-efi-sig-list),
which SetVariables.efi, a test-only program of ours, hands to the firmware; the firmware checks
the signature against KEK as it would any update of db. Under Secure Boot the firmware starts only
programs db trusts, so SetVariables.efi is signed (sbsign) with the snakeoil key, which the
snakeoil db holds until the write replaces it. The boot runs on the Secure Boot firmware, with SMM
on x64, as every boot with these stores does.

No certificate is kept in the repository: Microsoft UEFI CA 2023 comes out of the second
Authenticode signature of Debian's signed shim, which carries it; the 2011 CA and Windows
Production PCA 2011 come out of the .ms.fd store's db. Each made store is kept in the build folder,
under a name that carries a digest of everything it is made from.
"""

import datetime
import hashlib
import os
import shutil
import struct
import subprocess
import tempfile
import uuid

import pe_image
import shim_packages

from . import machines
from . import variables
from . import RunnerError

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SNAKEOIL_KEY = "/usr/share/ovmf/PkKek-1-snakeoil.key"
SNAKEOIL_CERTIFICATE = "/usr/share/ovmf/PkKek-1-snakeoil.pem"
SNAKEOIL_PASSWORD = "snakeoil"  # Debian's README.Debian for ovmf gives it

UEFI_CA_2011 = "Microsoft Corporation UEFI CA 2011"
UEFI_CA_2023 = "Microsoft UEFI CA 2023"
WINDOWS_PCA_2011 = "Microsoft Windows Production PCA 2011"
# The owner Microsoft's entries carry in Debian's .ms.fd store.
MICROSOFT_OWNER = uuid.UUID("77FA9ABD-0359-4D32-BD60-28F4E78F784B")

# Debian's stores, by architecture.
TEMPLATES = {
    "x64": {"ms2011": os.path.join(machines.OVMF_DIR, "OVMF_VARS_4M.ms.fd"),
            "none": os.path.join(machines.OVMF_DIR, "OVMF_VARS_4M.snakeoil.fd")},
    "aa64": {"ms2011": os.path.join(machines.AAVMF_DIR, "AAVMF_VARS.ms.fd"),
             "none": os.path.join(machines.AAVMF_DIR, "AAVMF_VARS.snakeoil.fd")},
}
PROGRAM = {"x64": "SetVariables.efi", "aa64": "SetVariablesAA64.efi"}
# The made stores: db's certificates by name, and any other variable written beside it. The
# revoking level is dated after every level shim carries, as one from a later update would be,
# so that shim keeps it rather than its own.
MADE = {
    "ms2023": ([UEFI_CA_2023], []),
    "windows-only": ([WINDOWS_PCA_2011], []),
    "shim-revoked": ([WINDOWS_PCA_2011, UEFI_CA_2011],
                     [("SbatLevel", variables.SHIM, variables.NON_VOLATILE | variables.BOOT_SERVICE,
                       b"sbat,1,2030010100\nshim,5\ngrub,5\n")]),
}
NAMES = ("ms2011", "ms2023", "windows-only", "none", "shim-revoked")
WRITTEN = "SetVariables: all written"


def image_dir():
    return os.environ.get("QUILLON_IMAGE_DIR") or os.path.join(SOURCE, "build", "image")


def cache_dir():
    return os.environ.get("QUILLON_STORE_CACHE") or os.path.join(SOURCE, "build", "variable-stores")


def package_cache():
    return os.environ.get("QUILLON_PACKAGE_CACHE") or os.path.join(SOURCE, "build", "debian-packages")


def prepare(options, boot_with):
    """Points the boot at the named store, made first when it is not in the cache yet: the Secure
    Boot firmware with that store as its template. boot_with(**options) boots a machine (boot.py's):
    making a store boots one, and this module does not import the boot's."""
    options.vars_template = store_file(options.store, options.arch, boot_with)
    options.secure_boot = True


def store_file(name, arch, boot_with):
    """The store file for a name, made when needed with boot_with (see prepare)."""
    if arch not in TEMPLATES:
        raise RunnerError(f"quillon-run: no variable stores for {arch}; only for {', '.join(TEMPLATES)}")
    if name in TEMPLATES[arch]:
        return TEMPLATES[arch][name]
    if name not in MADE:
        raise RunnerError(f"quillon-run: no variable store {name!r}; there are {', '.join(NAMES)}")
    # One store made at a time: tests that run side by side may want the same one.
    with shim_packages.cache_lock(cache_dir()):
        return make(name, arch, boot_with)


def microsoft_certificates(arch):
    """Microsoft's certificates by their subject's CN, from shim's signatures and the .ms.fd db."""
    found = {}
    with open(TEMPLATES[arch]["ms2011"], "rb") as handle:
        held = variables.parse_store(handle.read())
    for kind, _, certificate in variables.signature_lists(variables.get(held, "db", variables.IMAGE_SECURITY)):
        if kind == variables.CERT_X509:
            found[pe_image.common_name(certificate)] = certificate
    with open(shim_packages.fetch(arch, package_cache()).shim, "rb") as handle:
        shim = handle.read()
    for signed_data in pe_image.signatures(shim):
        for certificate in pe_image.certificates(signed_data):
            found.setdefault(pe_image.common_name(certificate), certificate)
    return found


def variable_record(name, vendor, attributes, data):
    """One record of SetVariables.efi's list, padded to 4 bytes."""
    encoded = (name + "\0").encode("utf-16-le")
    record = struct.pack("<III", len(encoded), attributes, len(data)) + vendor.bytes_le + encoded + data
    return record + bytes(-len(record) % 4)


def db_list(names, certificates):
    """db's new contents: a signature list for each named certificate."""
    missing = [name for name in names if name not in certificates]
    if missing:
        raise RunnerError(f"quillon-run: {', '.join(missing)} is in neither shim's signatures nor the .ms.fd store")
    return b"".join(variables.certificate_list(certificates[name], MICROSOFT_OWNER) for name in names)


def after_template_keys(template):
    """A time stamp a day after the newest of the template's key variables: a time-based write of
    db must be later than the one in the store."""
    held = variables.read_store(template)
    newest = max(variable.time_stamp for variable in held.values()
                 if variable.attributes & variables.TIME_BASED_AUTHENTICATED)
    return (datetime.datetime(*newest) + datetime.timedelta(days=1)).strftime("%Y-%m-%d %H:%M:%S")


def signed_db_write(contents, stamp, work):
    """The db write as the firmware takes it: the time stamp and a PKCS#7 signature by the
    snakeoil KEK ahead of the signature lists."""
    key = os.path.join(work, "snakeoil.key")
    run(["openssl", "pkey", "-in", SNAKEOIL_KEY, "-passin", "pass:" + SNAKEOIL_PASSWORD, "-out", key])
    lists, signed = os.path.join(work, "db.esl"), os.path.join(work, "db.auth")
    with open(lists, "wb") as handle:
        handle.write(contents)
    run(["sign-efi-sig-list", "-t", stamp, "-k", key, "-c", SNAKEOIL_CERTIFICATE, "db", lists, signed])
    with open(signed, "rb") as handle:
        return handle.read()


def signed_program(arch, work):
    """SetVariables.efi signed with the snakeoil key, which the snakeoil db trusts."""
    key = os.path.join(work, "snakeoil.key")
    if not os.path.exists(key):
        run(["openssl", "pkey", "-in", SNAKEOIL_KEY, "-passin", "pass:" + SNAKEOIL_PASSWORD, "-out", key])
    signed = os.path.join(work, PROGRAM[arch])
    run(["sbsign", "--key", key, "--cert", SNAKEOIL_CERTIFICATE, "--output", signed,
         os.path.join(image_dir(), PROGRAM[arch])])
    return signed


def run(command):
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if done.returncode != 0:
        raise RunnerError(f"quillon-run: {' '.join(command[:1])} failed:\n{done.stdout.decode(errors='replace')}")


def make(name, arch, boot_with):
    template = TEMPLATES[arch]["none"]
    program = os.path.join(image_dir(), PROGRAM[arch])
    if not os.path.exists(program):
        raise RunnerError(f"quillon-run: {program} does not exist; build it with `make image`")
    for tool in ("sign-efi-sig-list", "sbsign", "openssl"):
        if shutil.which(tool) is None:
            raise RunnerError(f"quillon-run: {tool} is missing; run tools/install-deps.sh")
    names, others = MADE[name]
    contents = db_list(names, microsoft_certificates(arch))
    stamp = after_template_keys(template)
    digest = hashlib.sha256()
    for part in (template, program):
        with open(part, "rb") as handle:
            digest.update(handle.read())
    digest.update(contents + stamp.encode() + repr(others).encode())
    path = os.path.join(cache_dir(), f"{arch}-{name}-{digest.hexdigest()[:16]}.fd")
    if os.path.exists(path):
        return path

    with tempfile.TemporaryDirectory(prefix="quillon-store-") as work:
        records = variable_record("db", variables.IMAGE_SECURITY,
                                  variables.NON_VOLATILE | variables.BOOT_SERVICE | variables.RUNTIME
                                  | variables.TIME_BASED_AUTHENTICATED, signed_db_write(contents, stamp, work))
        for other in others:
            records += variable_record(*other)
        listing = os.path.join(work, "SETVARS.BIN")
        with open(listing, "wb") as handle:
            handle.write(records)
        partial = path + ".partial"
        if os.path.exists(partial):
            os.remove(partial)
        result = boot_with(arch=arch, image=signed_program(arch, work), boot_manager=True, secure_boot=True,
                           vars_template=template, vars=partial, put=[(listing, "SETVARS.BIN")], end=WRITTEN,
                           timeout=180, work=os.path.join(work, "boot"))
        if result.problem:
            raise RunnerError(f"quillon-run: making the {name} store for {arch} failed: {result.problem}\n"
                             f"{result.console}")
        check_made(partial, contents, others)
        os.rename(partial, path)
    return path


def check_made(path, contents, others):
    """The store holds what was written: the firmware said Success, and here it is on flash."""
    held = variables.read_store(path)
    if variables.get(held, "db", variables.IMAGE_SECURITY) != contents:
        raise RunnerError(f"quillon-run: {path}: db is not what was written")
    for name, vendor, _, data in others:
        if variables.get(held, name, vendor) != data:
            raise RunnerError(f"quillon-run: {path}: {name} is not what was written")
