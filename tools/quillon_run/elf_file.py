"""What the runner reads of the ELF files it puts in an initramfs: the shared libraries and loader a
program or plugin asks for, and what a kernel module says it needs. 64-bit little-endian files
only, as Debian's amd64 and arm64 packages have them.
"""

import struct

PT_LOAD, PT_DYNAMIC, PT_INTERP = 1, 2, 3
DT_NULL, DT_NEEDED, DT_STRTAB = 0, 1, 5


class ElfError(ValueError):
    pass


def header(data, what):
    if data[:4] != b"\x7fELF":
        raise ElfError(f"{what} is not an ELF file")
    if data[4] != 2 or data[5] != 1:
        raise ElfError(f"{what} is not a 64-bit little-endian ELF file")


def text_at(data, offset):
    end = data.index(b"\0", offset)
    return data[offset:end].decode()


def segments(data):
    """(type, file offset, address, size in the file) of each program header."""
    table, = struct.unpack_from("<Q", data, 0x20)
    size, count = struct.unpack_from("<HH", data, 0x36)
    found = []
    for index in range(count):
        kind, _, offset, address, _, file_size, _, _ = struct.unpack_from("<IIQQQQQQ", data, table + index * size)
        found.append((kind, offset, address, file_size))
    return found


def file_offset(loads, address, what):
    """Where in the file a loaded address comes from."""
    for _, offset, start, size in loads:
        if start <= address < start + size:
            return offset + address - start
    raise ElfError(f"{what}: address {address:#x} is in no loaded segment")


def dependencies(data, what="the file"):
    """(interpreter, needed): the program interpreter the file names ("" for a library or plugin)
    and its DT_NEEDED libraries in their order, read through the program headers as the loader
    reads them."""
    header(data, what)
    found = segments(data)
    loads = [segment for segment in found if segment[0] == PT_LOAD]
    interpreter = ""
    entries = []
    for kind, offset, _, size in found:
        if kind == PT_INTERP:
            interpreter = data[offset:offset + size].rstrip(b"\0").decode()
        elif kind == PT_DYNAMIC:
            for at in range(offset, offset + size - 15, 16):
                tag, value = struct.unpack_from("<qQ", data, at)
                if tag == DT_NULL:
                    break
                entries.append((tag, value))
    strings = [value for tag, value in entries if tag == DT_STRTAB]
    needed = [value for tag, value in entries if tag == DT_NEEDED]
    if needed and not strings:
        raise ElfError(f"{what} needs libraries but has no string table")
    if not needed:
        return interpreter, []
    table = file_offset(loads, strings[0], what)
    return interpreter, [text_at(data, table + value) for value in needed]


def section(data, name, what="the file"):
    """The bytes of the named section, or None; a kernel module has sections and no segments."""
    header(data, what)
    table, = struct.unpack_from("<Q", data, 0x28)
    size, count, names_index = struct.unpack_from("<HHH", data, 0x3A)

    def entry(index):
        name_at, _, _, _, offset, length = struct.unpack_from("<IIQQQQ", data, table + index * size)
        return name_at, offset, length

    _, names_offset, _ = entry(names_index)
    for index in range(count):
        name_at, offset, length = entry(index)
        if text_at(data, names_offset + name_at) == name:
            return data[offset:offset + length]
    return None


def module_depends(data, what="the module"):
    """The modules a kernel module needs loaded first, by name, as its .modinfo's depends= has
    them (modpost writes it; depmod's modules.dep says the same)."""
    info = section(data, ".modinfo", what)
    if info is None:
        raise ElfError(f"{what} has no .modinfo section")
    for field in info.split(b"\0"):
        if field.startswith(b"depends="):
            return [name for name in field[len(b"depends="):].decode().split(",") if name]
    return []
