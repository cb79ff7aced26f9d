"""Firmware variables as OVMF and AAVMF keep them in their variable-store file, read after QEMU has
exited; and the signature lists that db, KEK and PK hold.

The store file begins with a firmware volume (the PI specification's header: its length, "_FVH",
its header's length), whose first content is the variable store: a header (a GUID naming the
authenticated format, the store's size, its format and health bytes), then the variables one after
another, each 4-aligned. A variable is a 60-byte header (0x55AA, its state, attributes, a monotonic
count, a time stamp, a public-key index, the sizes of its name and its data, its vendor GUID),
then its UCS-2 name and its data. Flash bits are only ever cleared: a variable written anew is
added after the old copy, whose state then loses bits, so the live copy is the one whose state is
ADDED, or one still IN_DELETED_TRANSITION when no ADDED copy follows it.
"""

import dataclasses
import struct
import uuid

AUTHENTICATED_STORE = uuid.UUID("AAF32C78-947B-439A-A180-2E144EC37792")
GLOBAL = uuid.UUID("8BE4DF61-93CA-11D2-AA0D-00E098032B8C")
IMAGE_SECURITY = uuid.UUID("D719B2CB-3D3A-4596-A3BC-DAD00E67656F")
SHIM = uuid.UUID("605DAB50-E046-4300-ABB6-3DD810DD8B23")
CERT_X509 = uuid.UUID("A5C059A1-94E4-4AA7-87B5-AB155C2BF072")
# The vendor of SecureBootEnable, the switch OVMF's setup keeps for Secure Boot.
SECURE_BOOT_SWITCH = uuid.UUID("F0A30BC7-AF08-4556-99C4-001009C93A44")

NON_VOLATILE, BOOT_SERVICE, RUNTIME, TIME_BASED_AUTHENTICATED = 0x01, 0x02, 0x04, 0x20
START_ID = 0x55AA
ADDED, IN_DELETED_TRANSITION = 0x3F, 0x3E
HEADER = struct.Struct("<HBBIQ16sIII16s")  # 60 bytes


@dataclasses.dataclass
class Variable:
    name: str
    vendor: uuid.UUID
    attributes: int
    data: bytes
    time_stamp: tuple  # (year, month, day, hour, minute, second)
    offset: int = 0  # where its data lies in the store file


def read_store(path):
    """The live variables of a store file, by (vendor, name)."""
    with open(path, "rb") as handle:
        image = handle.read()
    return parse_store(image)


def parse_store(image):
    (volume_length, signature, _, header_length) = struct.unpack_from("<Q4sIH", image, 32)
    if signature != b"_FVH" or header_length + 28 > len(image):
        raise ValueError("no firmware volume at the start of the variable store")
    store = header_length
    if uuid.UUID(bytes_le=image[store:store + 16]) != AUTHENTICATED_STORE:
        raise ValueError("the variable store is not in the authenticated format")
    (size,) = struct.unpack_from("<I", image, store + 16)
    end = min(store + size, volume_length, len(image))
    live, in_transition = {}, {}
    at = store + 28
    while at + HEADER.size <= end:
        (start, state, _, attributes, _, stamp, _, name_size, data_size, vendor) = HEADER.unpack_from(image, at)
        if start != START_ID:
            break
        name_at = at + HEADER.size
        data_at = name_at + name_size
        if data_at + data_size > end:
            break
        key = (uuid.UUID(bytes_le=vendor), image[name_at:data_at].decode("utf-16-le").rstrip("\0"))
        variable = Variable(key[1], key[0], attributes, image[data_at:data_at + data_size],
                            struct.unpack_from("<HBBBBB", stamp), data_at)
        if state == ADDED:
            live[key] = variable
            in_transition.pop(key, None)
        elif state == IN_DELETED_TRANSITION:
            in_transition[key] = variable
        at = (data_at + data_size + 3) & ~3
    for key, variable in in_transition.items():
        live.setdefault(key, variable)
    return live


def get(variables, name, vendor=GLOBAL):
    """A variable's data, or None when the store does not hold it."""
    variable = variables.get((vendor, name))
    return variable.data if variable else None


def signature_lists(data):
    """The entries of a run of signature lists: (type, owner, signature bytes)."""
    entries = []
    at = 0
    while at + 28 <= len(data):
        kind = uuid.UUID(bytes_le=data[at:at + 16])
        list_size, header_size, entry_size = struct.unpack_from("<III", data, at + 16)
        if list_size < 28 + header_size or at + list_size > len(data) or entry_size < 16:
            raise ValueError(f"a signature list at {at} does not fit")
        entry = at + 28 + header_size
        while entry + entry_size <= at + list_size:
            entries.append((kind, uuid.UUID(bytes_le=data[entry:entry + 16]), data[entry + 16:entry + entry_size]))
            entry += entry_size
        at += list_size
    return entries


def certificate_list(certificate, owner):
    """A signature list holding one DER certificate, owned by `owner`."""
    entry = owner.bytes_le + certificate
    return CERT_X509.bytes_le + struct.pack("<III", 28 + len(entry), 0, len(entry)) + entry


def overwrite(path, name, vendor, data):
    """Puts other bytes of the same length into a live variable, in the store file itself, as a
    firmware's setup does with a switch it keeps in a variable of its own."""
    variable = read_store(path).get((vendor, name))
    if variable is None or len(variable.data) != len(data):
        raise ValueError(f"{path} holds no {name} of {len(data)} bytes")
    with open(path, "r+b") as handle:
        handle.seek(variable.offset)
        handle.write(data)
