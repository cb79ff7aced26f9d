#!/usr/bin/env python3
"""The runner's reader of firmware variable-store files, which the Secure Boot tests trust to say
what shim wrote: on Debian's own .ms.fd store, whose db and KEK openssl names; and on small stores
written here from the published layout, with the states a variable passes through as flash is
rewritten.

    variable_store_test.py      exits 0 when every check holds
"""

import os
import shutil
import struct
import sys
import tempfile
import uuid

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import pe_image  # noqa: E402
from quillon_run import variables  # noqa: E402

MS_STORE = "/usr/share/OVMF/OVMF_VARS_4M.ms.fd"
VENDOR = uuid.UUID("00112233-4455-6677-8899-AABBCCDDEEFF")
DELETED = 0x3C
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def store(records, size=0x4000):
    """A store file: a firmware volume header, the authenticated store's header, then the records
    (state, name, data), each 4-aligned, and erased flash (0xFF) after them."""
    header_length = 0x48
    image = bytearray(b"\xff" * size)
    image[0:header_length] = bytes(header_length)
    struct.pack_into("<Q4sIH", image, 32, size, b"_FVH", 0, header_length)
    image[header_length:header_length + 16] = variables.AUTHENTICATED_STORE.bytes_le
    struct.pack_into("<IBBHI", image, header_length + 16, size - header_length, 0x5A, 0xFE, 0, 0)
    at = header_length + 28
    for state, name, data in records:
        encoded = (name + "\0").encode("utf-16-le")
        image[at:at + 60] = variables.HEADER.pack(variables.START_ID, state, 0, 7, 0, bytes(16), 0, len(encoded),
                                                  len(data), VENDOR.bytes_le)
        image[at + 60:at + 60 + len(encoded) + len(data)] = encoded + data
        at = (at + 60 + len(encoded) + len(data) + 3) & ~3
    return bytes(image)


def live(image):
    return {name: variable.data for (vendor, name), variable in variables.parse_store(image).items()}


def test_debian_store():
    held = variables.read_store(MS_STORE)
    names = {name: [pe_image.common_name(certificate) for _, _, certificate in
                    variables.signature_lists(variables.get(held, name, vendor))]
             for name, vendor in (("db", variables.IMAGE_SECURITY), ("KEK", variables.GLOBAL))}
    check(names["db"] == ["Microsoft Windows Production PCA 2011", "Microsoft Corporation UEFI CA 2011"],
          f"Debian's .ms.fd db holds {names['db']}")
    check(names["KEK"][1:] == ["Microsoft Corporation KEK CA 2011"], f"Debian's .ms.fd KEK holds {names['KEK']}")
    check(variables.get(held, "SecureBootEnable", variables.SECURE_BOOT_SWITCH) == b"\1",
          "Debian's .ms.fd store does not have Secure Boot switched on")


def test_states():
    image = store([(variables.ADDED, "Kept", b"1"),
                   (variables.IN_DELETED_TRANSITION, "Updated", b"old"), (variables.ADDED, "Updated", b"new!"),
                   (DELETED, "Gone", b"x"),
                   (variables.IN_DELETED_TRANSITION, "Interrupted", b"only copy"),
                   (variables.ADDED, "Updated twice", b"a"), (DELETED, "Updated twice", b"b"),
                   (variables.ADDED, "Updated twice", b"c")])
    check(live(image) == {"Kept": b"1", "Updated": b"new!", "Interrupted": b"only copy", "Updated twice": b"c"},
          f"the live variables are {live(image)}")
    # A record whose data runs past the store ends the walk; those before it stay.
    cut = bytearray(store([(variables.ADDED, "First", b"1"), (variables.ADDED, "Second", b"2")], size=0x200))
    second = (0x48 + 28 + 60 + len("First\0") * 2 + 1 + 3) & ~3
    struct.pack_into("<I", cut, second + 40, 0x10000)  # its data size
    check(live(bytes(cut)) == {"First": b"1"}, f"a record past the store reads as {live(bytes(cut))}")


def test_overwrite():
    with tempfile.TemporaryDirectory(prefix="quillon-store-test-") as work:
        path = os.path.join(work, "vars.fd")
        shutil.copyfile(MS_STORE, path)
        switch = variables.SECURE_BOOT_SWITCH
        variables.overwrite(path, "SecureBootEnable", switch, b"\0")
        after = variables.read_store(path)
        check(variables.get(after, "SecureBootEnable", switch) == b"\0", "SecureBootEnable was not overwritten")
        check(variables.get(after, "db", variables.IMAGE_SECURITY) ==
              variables.get(variables.read_store(MS_STORE), "db", variables.IMAGE_SECURITY), "db changed")
        try:
            variables.overwrite(path, "SecureBootEnable", switch, b"\0\0")
            check(False, "an overwrite of another length was taken")
        except ValueError:
            pass


def test_signature_lists():
    certificate = b"\x30\x03\x02\x01\x01"
    one = variables.certificate_list(certificate, VENDOR)
    check(variables.signature_lists(one + one) == [(variables.CERT_X509, VENDOR, certificate)] * 2,
          "two lists of one certificate each do not read back")
    try:
        variables.signature_lists(one[:-1])
        check(False, "a list past the end of the data was read")
    except ValueError:
        pass


def main():
    for test in (test_debian_store, test_states, test_overwrite, test_signature_lists):
        test()
    for failure in failures:
        print(f"FAIL: {failure}")
    print("FAIL" if failures else "PASS")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
