// The ACPI tables the report reads, as laid out in firmware memory. Fields are little-endian and
// the tables may sit at any byte address, so code reads them through the unaligned loads at these
// offsets rather than through these records; the records pin the offsets.
#pragma once

#include "firmware/Uefi.h"

#pragma pack(push, 1)
struct ACPI_RSDP {
  CHAR8 Signature[8];
  UINT8 Checksum;
  CHAR8 OemId[6];
  UINT8 Revision;
  UINT32 RsdtAddress;
  UINT32 Length;
  UINT64 XsdtAddress;
  UINT8 ExtendedChecksum;
  UINT8 Reserved[3];
};

struct ACPI_TABLE_HEADER {
  CHAR8 Signature[4];
  UINT32 Length;
  UINT8 Revision;
  UINT8 Checksum;
  CHAR8 OemId[6];
  CHAR8 OemTableId[8];
  UINT32 OemRevision;
  UINT32 CreatorId;
  UINT32 CreatorRevision;
};

struct ACPI_BGRT {
  ACPI_TABLE_HEADER Header;
  UINT16 Version;
  UINT8 Status;
  UINT8 ImageType;
  UINT64 ImageAddress;
  UINT32 ImageOffsetX;
  UINT32 ImageOffsetY;
};

// What the ACPI specification gives every BGRT: its length, header revision and version, and image
// type 0, a bitmap.
constexpr UINT32 BGRT_LENGTH = 56;
constexpr UINT8 BGRT_REVISION = 1;
constexpr UINT16 BGRT_VERSION = 1;
constexpr UINT8 BGRT_IMAGE_TYPE_BITMAP = 0;

// The BGRT's status byte: bit 0 says the logo is shown now, bits 1-2 how far the firmware turned
// it clockwise, in quarter turns; the other bits are reserved.
constexpr UINT8 BGRT_STATUS_DISPLAYED = 0x01;
constexpr UINT8 BGRT_STATUS_ORIENTATION_SHIFT = 1;
constexpr UINT8 BGRT_STATUS_ORIENTATION_MASK = 0x06;
constexpr UINT8 BGRT_STATUS_RESERVED = 0xF8;

// The start of a BMP file: file header, then the first fields of the info header.
struct BMP_HEADER {
  CHAR8 Signature[2];
  UINT32 FileSize;
  UINT32 Reserved;
  UINT32 DataOffset;
  UINT32 HeaderSize;
  UINT32 Width;
  UINT32 Height;
  UINT16 Planes;
  UINT16 BitsPerPixel;
};
#pragma pack(pop)

static_assert(sizeof(ACPI_RSDP) == 36);
static_assert(offsetof(ACPI_RSDP, XsdtAddress) == 24);
static_assert(sizeof(ACPI_TABLE_HEADER) == 36);
static_assert(offsetof(ACPI_TABLE_HEADER, Length) == 4);
static_assert(sizeof(ACPI_BGRT) == BGRT_LENGTH);
static_assert(offsetof(ACPI_BGRT, ImageAddress) == 40);
static_assert(offsetof(BMP_HEADER, FileSize) == 2);
static_assert(offsetof(BMP_HEADER, DataOffset) == 10);
static_assert(offsetof(BMP_HEADER, HeaderSize) == 14);
static_assert(offsetof(BMP_HEADER, Width) == 18);
static_assert(offsetof(BMP_HEADER, Height) == 22);
static_assert(offsetof(BMP_HEADER, Planes) == 26);
static_assert(offsetof(BMP_HEADER, BitsPerPixel) == 28);
