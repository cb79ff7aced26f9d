"""The pieces of a PE image that the tools read from Debian's signed shim and the stick program: a
section by its name, the headers' fields the image check's tests change, and the Authenticode
signatures in the certificate table, with the certificates each one carries.

A section name longer than eight bytes is kept in the COFF string table, which follows the symbol
table; the section header then holds "/" and the name's offset there in decimal. The certificate
table (the fifth data directory) holds WIN_CERTIFICATE records, each 8-aligned: its length, its
revision (0x0200) and type (0x0002, PKCS#7 SignedData), then the signature's DER bytes.
"""

import base64
import re
import struct
import subprocess

WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002
IMAGE_DLLCHARACTERISTICS_NX_COMPAT = 0x0100
IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_SCN_MEM_WRITE = 0x80000000
# Where fields lie in the optional header, the same in PE32 and PE32+; and in a section's header.
SECTION_ALIGNMENT_AT = 32
DLL_CHARACTERISTICS_AT = 70
SECTION_CHARACTERISTICS_AT = 36


def _headers(data):
    header = struct.unpack_from("<I", data, 0x3C)[0]
    if data[header:header + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    return header, header + 24


def optional_header(data):
    """Where the optional header starts in the file."""
    return _headers(data)[1]


def section_headers(data):
    """(name, where its 40-byte header starts in the file) of each section, in the image's order."""
    header, optional = _headers(data)
    sections, = struct.unpack_from("<H", data, header + 6)
    symbols, symbol_count = struct.unpack_from("<II", data, header + 12)
    table = optional + struct.unpack_from("<H", data, header + 20)[0]
    found = []
    for index in range(sections):
        entry = table + 40 * index
        short = data[entry:entry + 8].rstrip(b"\0")
        if short.startswith(b"/") and short[1:].isdigit():
            start = symbols + 18 * symbol_count + int(short[1:])
            short = data[start:data.index(b"\0", start)]
        found.append((short.decode("latin-1"), entry))
    return found


def section_span(data, name):
    """Where a section's bytes lie in the file, (start, end): its virtual size, at most its raw
    size, from its raw pointer; None when the image has no section of that name."""
    for found, entry in section_headers(data):
        if found == name:
            virtual_size, _, raw_size, raw_pointer = struct.unpack_from("<IIII", data, entry + 8)
            return raw_pointer, raw_pointer + min(virtual_size, raw_size)
    return None


def section(data, name):
    """A section's bytes as the image holds them, or None."""
    span = section_span(data, name)
    return None if span is None else data[span[0]:span[1]]


def signatures(data):
    """The PKCS#7 SignedData of each Authenticode signature, in the order the image holds them."""
    header, optional = _headers(data)
    magic, = struct.unpack_from("<H", data, optional)
    directories = optional + (112 if magic == 0x20B else 96)
    offset, size = struct.unpack_from("<II", data, directories + 4 * 8)
    found = []
    at = offset
    while offset and at + 8 <= offset + size:
        length, _, kind = struct.unpack_from("<IHH", data, at)
        if length < 8 or at + length > offset + size:
            raise ValueError("a certificate-table entry runs past the table")
        if kind == WIN_CERT_TYPE_PKCS_SIGNED_DATA:
            found.append(data[at + 8:at + length])
        at += (length + 7) & ~7
    return found


def certificates(signed_data):
    """The DER certificates a PKCS#7 SignedData carries, as openssl lists them."""
    listed = subprocess.run(["openssl", "pkcs7", "-inform", "DER", "-print_certs"], input=signed_data,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True).stdout.decode()
    return [base64.b64decode(block) for block in
            re.findall(r"-----BEGIN CERTIFICATE-----(.*?)-----END CERTIFICATE-----", listed, re.S)]


def common_name(certificate):
    """The CN of a DER certificate's subject, as openssl reads it."""
    subject = subprocess.run(["openssl", "x509", "-inform", "DER", "-noout", "-subject", "-nameopt", "RFC2253"],
                             input=certificate, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             check=True).stdout.decode()
    found = re.search(r"CN=((?:[^,\\]|\\.)*)", subject)
    return found.group(1).replace("\\", "") if found else ""
