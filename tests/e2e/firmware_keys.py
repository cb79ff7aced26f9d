"""What the stick program says of the firmware's Secure Boot keys, held against the variable store
the boot left behind: the revocation level, from the store's SbatLevel (shim's runtime copy,
SbatLevelRT, which the program reads, holds the same text), and Microsoft's CAs in db, named by
openssl from the certificates in the store's db.
"""

# support first: it puts tools/ on the path, for the imports after it.
from support import check as check_that
import pe_image
from quillon_run import variables

# Microsoft's CAs by their subject's common name, and the words the program uses for each, in
# the order it names them.
MICROSOFT_CAS = [("Microsoft Corporation UEFI CA 2011", "UEFI CA 2011"), ("Microsoft UEFI CA 2023", "UEFI CA 2023"),
                 ("Microsoft Windows Production PCA 2011", "Windows PCA 2011"),
                 ("Windows UEFI CA 2023", "Windows UEFI CA 2023")]
LEVEL_START = "Quillon: revocation level "
DB_START = "Quillon: the firmware's db "


def level_line(level):
    """The program's line for a revocation level's text."""
    lines = level.decode("ascii").rstrip("\0").rstrip("\n").split("\n")
    stamp = lines[0].split(",")[2]
    date = f"{stamp[0:4]}-{stamp[4:6]}-{stamp[6:8]}"
    entries = [" ".join(line.split(",")) for line in lines[1:]]
    if not entries:
        return f"{LEVEL_START}from {date}, which revokes nothing."
    return LEVEL_START + ", ".join(entries + [f"from {date}."])


def db_line(db):
    """The program's line for db's bytes."""
    names = [pe_image.common_name(certificate) for kind, _, certificate in variables.signature_lists(db)
             if kind == variables.CERT_X509]
    said = [words for name, words in MICROSOFT_CAS if name in names]
    others = len([name for name in names if name not in dict(MICROSOFT_CAS)])
    plural = "" if others == 1 else "s"
    if not said:
        if not others:
            return DB_START + "trusts no certificate."
        return DB_START + f"trusts no Microsoft CA ({others} other certificate{plural})."
    if others:
        said.append(f"and {others} other certificate{plural}")
    return DB_START + "trusts Microsoft " + ", ".join(said) + "."


def said_lines(lines):
    """The program's lines, a line continued on the next (indented) one joined to it."""
    joined = []
    for line in lines:
        if line.startswith("  ") and joined and joined[-1].endswith(","):
            joined[-1] += " " + line.strip()
        else:
            joined.append(line)
    return joined


def expected(store):
    """The two lines the program must have shown, from the store file after the boot."""
    held = variables.read_store(store)
    level = variables.get(held, "SbatLevel", variables.SHIM)
    db = variables.get(held, "db", variables.IMAGE_SECURITY)
    return [level_line(level) if level is not None else "Quillon: shim left no revocation level to read "
            "(no SbatLevelRT).",
            db_line(db) if db is not None else "Quillon: the firmware has no db: it holds no keys for Secure Boot."]


def check(program_lines, store):
    """The program named the store's revocation level and db's CAs, right after the Secure Boot line;
    returns the two lines."""
    lines = said_lines(program_lines)
    secure_boot = next(index for index, line in enumerate(lines) if line.startswith("Quillon: Secure Boot is"))
    shown, wanted = lines[secure_boot + 1:secure_boot + 3], expected(store)
    check_that(shown == wanted, f"the program's lines on the firmware's keys are {shown}, the store says {wanted}")
    return shown
