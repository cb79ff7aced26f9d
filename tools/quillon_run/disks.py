"""The disks a boot uses: a FAT disk made for the boot, the stick image, an internal disk as an
installed system has one; and reading them afterwards. mtools and dosfstools only: no root, no
loop devices. mtools names a file system inside a partitioned image as IMAGE@@OFFSET."""

import os
import shutil
import struct
import subprocess
import tempfile
import uuid
import zlib

LOGO_NAME = "BIOSLogo.bmp"
# Where the FAT file system starts on a partitioned disk made here.
PARTITION_OFFSET = 1024 * 1024


def run(command, **kwargs):
    return subprocess.run(command, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)


def write_mbr(path, total_bytes, partition_offset, signature=0x51554C4E):
    """An MBR with one FAT partition (type 0x0C, addressed by LBA) from partition_offset to the end of the disk."""
    mbr = bytearray(512)
    struct.pack_into("<I", mbr, 440, signature)
    first, count = partition_offset // 512, (total_bytes - partition_offset) // 512
    # Boot flag, CHS start (unused: LBA), type 0x0C, CHS end (unused), first sector, sector count.
    mbr[446:462] = struct.pack("<B3sB3sII", 0, b"\xfe\xff\xff", 0x0C, b"\xfe\xff\xff", first, count)
    mbr[510:512] = b"\x55\xaa"
    with open(path, "r+b") as handle:
        handle.write(mbr)


def write_gpt(path, total_bytes, first_lba=2048):
    """A GPT with one EFI System Partition from first_lba to the last usable sector, and the
    protective MBR before it; fixed identifiers, so the same disk comes out every time."""
    sectors = total_bytes // 512
    last_usable = sectors - 34
    entry = bytearray(128)
    entry[0:16] = uuid.UUID("C12A7328-F81F-11D2-BA4B-00A0C93EC93B").bytes_le
    entry[16:32] = uuid.UUID("51554C4E-0000-4000-8000-000000000001").bytes_le
    struct.pack_into("<QQQ", entry, 32, first_lba, last_usable, 0)
    entry[56:56 + 20] = "EFI System".encode("utf-16-le")
    entries = bytes(entry) + bytes(127 * 128)
    entries_crc = zlib.crc32(entries)

    def header(current, backup, entries_lba):
        fields = bytearray(struct.pack("<8sIIIIQQQQ16sQIII", b"EFI PART", 0x00010000, 92, 0, 0, current, backup, 34,
                                       last_usable, uuid.UUID("51554C4E-0000-4000-8000-000000000000").bytes_le,
                                       entries_lba, 128, 128, entries_crc))
        struct.pack_into("<I", fields, 16, zlib.crc32(fields))
        return bytes(fields) + bytes(512 - len(fields))

    mbr = bytearray(512)
    mbr[446:462] = struct.pack("<B3sB3sII", 0, b"\x00\x02\x00", 0xEE, b"\xff\xff\xff", 1, min(sectors - 1, 0xFFFFFFFF))
    mbr[510:512] = b"\x55\xaa"
    with open(path, "r+b") as handle:
        handle.write(mbr + header(1, sectors - 1, 2) + entries)
        handle.seek((sectors - 33) * 512)
        handle.write(entries + header(sectors - 1, 1, sectors - 33))


def disk_file(disk):
    """The image file of a disk as mtools names it."""
    return disk.split("@@")[0]


def partition_offset(path):
    """Where the first partition of a disk image starts (MBR or GPT), or 0 for a bare file system."""
    with open(path, "rb") as handle:
        sectors = handle.read(1024)
    if sectors[510:512] != b"\x55\xaa" or sectors[450] == 0:
        return 0
    if sectors[450] == 0xEE:  # GPT: the first entry's first LBA
        with open(path, "rb") as handle:
            handle.seek(1024)
            (first,) = struct.unpack_from("<Q", handle.read(128), 32)
        return first * 512
    (first,) = struct.unpack_from("<I", sectors, 454)
    return first * 512


def volume_of(path):
    """A disk image's file system as mtools names it."""
    offset = partition_offset(path)
    return f"{path}@@{offset}" if offset else path


def make_fat(path, kib, partitioned):
    """A fresh FAT disk labelled QUILLON; partitioned (MBR, FAT16 from 1 MiB) or a bare file system.
    Returns it as mtools names it."""
    if os.path.exists(path):
        os.remove(path)
    if not partitioned:
        run(["mkfs.fat", "-C", "-n", "QUILLON", path, str(kib)])
        return path
    with open(path, "wb") as handle:
        handle.truncate(kib * 1024)
    write_mbr(path, kib * 1024, PARTITION_OFFSET)
    blocks = (kib * 1024 - PARTITION_OFFSET) // 1024
    first = str(PARTITION_OFFSET // 512)
    # The boot sector's hidden sectors are the sectors before the partition, as the MBR has it.
    run(["mkfs.fat", "-F", "16", "--offset", first, "-h", first, "-n", "QUILLON", path, str(blocks)])
    return f"{path}@@{PARTITION_OFFSET}"


def make_internal_disk(path, files, total_bytes=64 * 1024 * 1024):
    """An internal disk as an installed system has one: GPT, a FAT EFI System Partition holding
    these files ((host path, name) pairs). Returns its file system as mtools names it."""
    with open(path, "wb") as handle:
        handle.truncate(total_bytes)
    write_gpt(path, total_bytes)
    blocks = (total_bytes - 2048 * 512 - 34 * 512) // 1024
    run(["mkfs.fat", "--offset", "2048", "-h", "2048", "-n", "INTERNAL", path, str(blocks)])
    volume = volume_of(path)
    for source, name in files:
        put(volume, source, name)
    return volume


def make_folder(disk, name):
    run(["mmd", "-i", disk, "::/" + name])


def put(disk, source, name):
    """Copies a host file onto the disk as NAME (a path under the root), replacing any there."""
    run(["mcopy", "-o", "-i", disk, source, "::/" + name])


def read_file(disk, name):
    """A file from the disk, or None when it is not there."""
    done = subprocess.run(["mtype", "-i", disk, "::/" + name], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    return done.stdout if done.returncode == 0 else None


def root_files(disk):
    """The names in the root of a FAT disk image, long names where the files have them."""
    return folder_files(disk, "")


def folder_files(disk, folder):
    """The names in a folder of a FAT disk image, as the disk spells them."""
    listing = subprocess.run(["mdir", "-b", "-i", disk, "::/" + folder], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL)
    return [line.strip().rstrip("/").rsplit("/", 1)[-1] for line in listing.stdout.decode(errors="replace").splitlines()
            if line.strip()]


def check_fat(disk):
    """fsck.fat's verdict on the disk's file system, changing nothing: (clean, what it said)."""
    path, _, offset = disk.partition("@@")
    with tempfile.TemporaryDirectory(prefix="quillon-fsck-") as work:
        if offset:
            # fsck.fat reads a file system from its first byte; the partition's bytes alone.
            volume = os.path.join(work, "volume.img")
            with open(path, "rb") as source, open(volume, "wb") as target:
                source.seek(int(offset))
                shutil.copyfileobj(source, target)
            path = volume
        done = subprocess.run(["fsck.fat", "-n", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return done.returncode == 0, done.stdout.decode(errors="replace")


def bitmap_header(data):
    """(width, height, bits per pixel) from a BMP file's headers."""
    if len(data) < 30 or data[:2] != b"BM":
        return None
    width, height = struct.unpack_from("<ii", data, 18)
    (bits,) = struct.unpack_from("<H", data, 28)
    return width, abs(height), bits
