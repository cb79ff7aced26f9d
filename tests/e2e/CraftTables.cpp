// A test-only EFI program, run from startup.nsh before Quillon: it replaces the firmware's ACPI 2.0
// configuration-table entry with tables of its own, so that Quillon meets on real firmware what
// OVMF never publishes. Its one argument says what:
//   three     (the default) three BGRTs: the first logo longer than the second, the second logo
//             above 4 GiB and its BGRT and the XSDT at odd addresses, the third without an image.
//             A 32-bit build cannot place memory above 4 GiB: there the second BGRT's image address
//             is 4 GiB past a real bitmap, so that a cut pointer would find one;
//   broken    the firmware's own entries, then BGRTs whose images lie where nothing may be read
//             (not canonical, unmapped, past the top of the memory map, on the I/O APIC), an entry
//             that is not canonical itself, and a real bitmap whose size field is far too large;
//   long-xsdt the firmware's own entries in an XSDT whose Length is 0xFFFFFFF0;
//   one       one BGRT and its 64 x 32 logo below 4 GiB, in tables of their own: for firmware with
//             no ACPI tables of its own or no memory above 4 GiB for applications (U-Boot);
//   not-bitmaps  the firmware's own entries, then a 2 x 2 bitmap in RAM whose size field claims
//             16 MiB (and 16 MiB of RAM behind it), and an image that is no bitmap ("PN...");
//   odd-bitmap   the firmware's own entries, then a sound but uncommon bitmap: 32 bits per pixel,
//             a 124-byte header with bit fields, two bytes of padding after the pixels;
//   off-centre   the firmware's own entries, then a 64 x 32 logo in boot-services data whose BGRT
//             says it is drawn turned 90 degrees (status 0x03) at 100, 50: off centre both ways;
//   bgrt-version-0, bgrt-version-2, bgrt-no-image, bgrt-acpi-memory, bgrt-bad-bm, bgrt-type-1,
//   bgrt-length-40, bgrt-rotated, bgrt-32-bit, bgrt-8-bit, bgrt-off-centre, bgrt-one-right,
//   bgrt-38.2-down, bgrt-past-screen, bgrt-tall, bgrt-bad-checksum, bgrt-10-down, bgrt-header-124,
//   bgrt-reserved
//             the firmware's own entries, its BGRT replaced where it stands by a copy changed so
//             (its checksum made right again): version 0 or 2; image address 0; the logo copied
//             into ACPI memory, or into boot-services data with "MB" for "BM"; image type 1;
//             length 40; status 0x07 (bits 1-2 set: turned 270 degrees); a 32-bit logo, or an
//             8-bit one with a 256-colour table, of the firmware logo's size at its place; the logo
//             at 100, 50, or one pixel right of its place; the logo moved up to have its centre
//             38.2% down the screen the firmware centred it on; at 0, 0 a 24-bit logo 64 pixels
//             wider and higher than that screen, or one half its width and 7/8 of its height; or
//             only its checksum one too high; the logo moved up to start 10% down that screen; the
//             logo under a 124-byte information header, or with its file header's reserved field
//             1. Linux reads only the first BGRT in the XSDT, so the changed one must stand there.
// It prints one line per table it made, so the test can hold Quillon's report against them.
#include "base/Unaligned.h"
#include "firmware/Acpi.h"
#include "firmware/Guids.h"
#include "firmware/SystemTable.h"
#include "print/Print.h"

constinit EFI_SYSTEM_TABLE *gSystemTable = nullptr;
constinit EFI_BOOT_SERVICES *gBootServices = nullptr;

namespace {

constexpr UINTN kPageBytes = 4096;

// The shell's parameters protocol: the command line, split.
struct EFI_SHELL_PARAMETERS_PROTOCOL {
  CHAR16 **Argv;
  UINTN Argc;
  void *StdIn;
  void *StdOut;
  void *StdErr;
};

bool SameText(const CHAR16 *First, const CHAR16 *Second) {
  while (*First != 0 && *First == *Second) {
    First++;
    Second++;
  }
  return *First == *Second;
}

// The program's first argument, or "three" when it has none.
const CHAR16 *Mode(EFI_HANDLE ImageHandle) {
  EFI_SHELL_PARAMETERS_PROTOCOL *Parameters = nullptr;
  EFI_STATUS Status = gBootServices->OpenProtocol(ImageHandle, &EFI_SHELL_PARAMETERS_PROTOCOL_GUID,
                                                  (VOID **)&Parameters, ImageHandle, nullptr,
                                                  EFI_OPEN_PROTOCOL_GET_PROTOCOL);
  if (EFI_ERROR(Status) || Parameters->Argc < 2) return u"three";
  return Parameters->Argv[1];
}

void Store(UINT8 *At, UINT64 Value, UINTN Width) {
  for (UINTN Index = 0; Index < Width; Index++) At[Index] = (UINT8)(Value >> (8 * Index));
}

void CopyBytes(UINT8 *To, const char *From, UINTN Count) {
  for (UINTN Index = 0; Index < Count; Index++) To[Index] = (UINT8)From[Index];
}

// Pages of ACPI memory, or of Type; above 4 GiB when asked, trying addresses from 4 GiB up.
UINT8 *AllocatePages(UINTN Bytes, bool Above4GiB, EFI_MEMORY_TYPE Type = EfiACPIReclaimMemory) {
  UINTN Pages = (Bytes + kPageBytes - 1) / kPageBytes;
  EFI_PHYSICAL_ADDRESS Address = 0xFFFFFFFF;
  if (!Above4GiB) {
    if (EFI_ERROR(gBootServices->AllocatePages(AllocateMaxAddress, Type, Pages, &Address))) return nullptr;
    return (UINT8 *)(UINTN)Address;
  }
  for (UINT64 Try = 0; Try < 32; Try++) {
    Address = 0x100000000ull + Try * 0x8000000ull;
    if (!EFI_ERROR(gBootServices->AllocatePages(AllocateAddress, EfiACPIReclaimMemory, Pages, &Address))) {
      return (UINT8 *)(UINTN)Address;
    }
  }
  return nullptr;
}

// An 8-bit bitmap's table of 256 colours, four bytes each, between the headers and the pixels.
UINT32 ColourTableBytes(UINT32 Bits) { return Bits == 8 ? 256 * 4 : 0; }

// The same bitmap the host tests build: BMP and info headers, then (index * 31 + offset) bytes;
// at 8 bits a colour table of such bytes comes first, with every fourth byte 0.
UINTN BitmapBytes(UINT32 Width, UINT32 Height, UINT32 Bits = 24) {
  return 54 + ColourTableBytes(Bits) + ((Width * Bits + 31) / 32) * 4 * Height;
}

void BuildBitmap(UINT8 *At, UINT32 Width, UINT32 Height, UINT8 PixelOffset, UINT32 Bits = 24) {
  UINT32 RowBytes = ((Width * Bits + 31) / 32) * 4;
  UINTN FileSize = BitmapBytes(Width, Height, Bits);
  UINT32 DataOffset = 54 + ColourTableBytes(Bits);
  for (UINTN Index = 0; Index < 54; Index++) At[Index] = 0;
  At[0] = 'B';
  At[1] = 'M';
  Store(At + 2, FileSize, 4);
  Store(At + 10, DataOffset, 4);
  Store(At + 14, 40, 4);
  Store(At + 18, Width, 4);
  Store(At + 22, Height, 4);
  Store(At + 26, 1, 2);
  Store(At + 28, Bits, 2);
  Store(At + 34, RowBytes * Height, 4);
  for (UINTN Index = 54; Index < FileSize; Index++) At[Index] = (UINT8)(Index * 31 + PixelOffset);
  for (UINTN Index = 54 + 3; Index < DataOffset; Index += 4) At[Index] = 0;
}

void BuildHeader(UINT8 *At, const char *Signature, UINT32 Length) {
  for (UINTN Index = 0; Index < 36; Index++) At[Index] = 0;
  CopyBytes(At, Signature, 4);
  Store(At + 4, Length, 4);
  At[8] = 1;
  CopyBytes(At + 10, "QUILON", 6);
  CopyBytes(At + 16, "CRAFTED ", 8);
}

// Sets a table's checksum byte so that its Length bytes add up to 0.
void FixChecksum(UINT8 *Table, UINT32 Length) {
  Table[9] = 0;
  UINT8 Sum = 0;
  for (UINTN Index = 0; Index < Length; Index++) Sum = (UINT8)(Sum + Table[Index]);
  Table[9] = (UINT8)(0 - Sum);
}

// A BGRT for the image: displayed and not turned at 0, 0 unless said otherwise, its checksum right.
void BuildBgrt(UINT8 *At, UINT64 ImageAddress, UINT8 Status = 1, UINT32 X = 0, UINT32 Y = 0) {
  BuildHeader(At, "BGRT", 56);
  Store(At + 36, 1, 2);
  At[38] = Status;
  At[39] = 0;
  Store(At + 40, ImageAddress, 8);
  Store(At + 48, X, 4);
  Store(At + 52, Y, 4);
  FixChecksum(At, 56);
}


// Points the ACPI 2.0 entry at a fresh RSDP for Xsdt.
EFI_STATUS InstallRsdp(UINT8 *Rsdp, UINT8 *Xsdt) {
  for (UINTN Index = 0; Index < 36; Index++) Rsdp[Index] = 0;
  CopyBytes(Rsdp, "RSD PTR ", 8);
  CopyBytes(Rsdp + 9, "QUILON", 6);
  Rsdp[15] = 2;
  Store(Rsdp + 20, 36, 4);
  Store(Rsdp + 24, (UINT64)(UINTN)Xsdt, 8);
  // The ACPI 1.0 checksum covers the first 20 bytes, the extended one all 36.
  UINT8 Sum = 0;
  for (UINTN Index = 0; Index < 20; Index++) Sum = (UINT8)(Sum + Rsdp[Index]);
  Rsdp[8] = (UINT8)(0 - Sum);
  Sum = 0;
  for (UINTN Index = 0; Index < 36; Index++) Sum = (UINT8)(Sum + Rsdp[Index]);
  Rsdp[32] = (UINT8)(0 - Sum);
  EFI_STATUS Status = gBootServices->InstallConfigurationTable(&EFI_ACPI_20_TABLE_GUID, Rsdp);
  ConsolePrint(u"CraftTables: RSDP [%lX] XSDT [%lX] installed [%r]\n", Rsdp, Xsdt, Status);
  return Status;
}

// The firmware's XSDT, from its ACPI 2.0 entry; null when it has none.
const UINT8 *FirmwareXsdt() {
  for (UINTN Index = 0; Index < gSystemTable->NumberOfTableEntries; Index++) {
    const EFI_CONFIGURATION_TABLE &Entry = gSystemTable->ConfigurationTable[Index];
    const UINT8 *Guid = (const UINT8 *)&Entry.VendorGuid;
    const UINT8 *Wanted = (const UINT8 *)&EFI_ACPI_20_TABLE_GUID;
    bool Same = true;
    for (UINTN Byte = 0; Byte < sizeof(EFI_GUID); Byte++) Same = Same && Guid[Byte] == Wanted[Byte];
    if (Same) return (const UINT8 *)(UINTN)LoadUnaligned64((const UINT8 *)Entry.VendorTable + 24);
  }
  return nullptr;
}

// Copies the firmware's XSDT to Xsdt, with room for Extra more entries; returns the entries copied.
UINTN CopyFirmwareXsdt(UINT8 *Xsdt, UINTN Extra) {
  const UINT8 *Firmware = FirmwareXsdt();
  UINTN Count = Firmware == nullptr ? 0 : (LoadUnaligned32(Firmware + 4) - 36) / 8;
  BuildHeader(Xsdt, "XSDT", (UINT32)(36 + 8 * (Count + Extra)));
  for (UINTN Index = 0; Index < 8 * Count; Index++) Xsdt[36 + Index] = Firmware[36 + Index];
  return Count;
}

// The first address past everything the memory map describes.
UINT64 TopOfMemoryMap() {
  alignas(8) static UINT8 Map[32768];
  UINTN Size = sizeof Map;
  UINTN MapKey = 0;
  UINTN DescriptorSize = 0;
  UINT32 Version = 0;
  if (EFI_ERROR(gBootServices->GetMemoryMap(&Size, (EFI_MEMORY_DESCRIPTOR *)Map, &MapKey, &DescriptorSize, &Version))) {
    return 0;
  }
  UINT64 Top = 0;
  for (UINTN Offset = 0; Offset + DescriptorSize <= Size; Offset += DescriptorSize) {
    const EFI_MEMORY_DESCRIPTOR *Descriptor = (const EFI_MEMORY_DESCRIPTOR *)(Map + Offset);
    UINT64 End = Descriptor->PhysicalStart + Descriptor->NumberOfPages * kPageBytes;
    if (End > Top) Top = End;
  }
  return Top;
}

EFI_STATUS CraftThree() {
  constexpr bool k32Bit = sizeof(UINTN) == 4;
  UINT8 *Low = AllocatePages(4 * kPageBytes, false);
  UINT8 *High = AllocatePages(2 * kPageBytes, !k32Bit);
  if (Low == nullptr || High == nullptr) {
    ConsolePrint(u"CraftTables: no memory for the tables (above 4 GiB: %a)\n", High == nullptr ? "none" : "ok");
    return EFI_OUT_OF_RESOURCES;
  }

  UINT8 *FirstLogo = Low;                      // 64 x 32, longer
  UINT8 *Rsdp = Low + 3 * kPageBytes;
  UINT8 *Xsdt = Rsdp + 64 + 3;                 // odd address
  UINT8 *FirstBgrt = Xsdt + 64;
  UINT8 *ThirdBgrt = FirstBgrt + 64;
  UINT8 *SecondLogo = High;                    // 16 x 8, shorter, above 4 GiB
  UINT8 *SecondBgrt = High + kPageBytes + 1;   // odd address, above 4 GiB
  UINT64 SecondImage = (UINT64)(UINTN)SecondLogo + (k32Bit ? 0x100000000ull : 0);

  BuildBitmap(FirstLogo, 64, 32, 1);
  BuildBitmap(SecondLogo, 16, 8, 2);
  BuildBgrt(FirstBgrt, (UINT64)(UINTN)FirstLogo);
  BuildBgrt(SecondBgrt, SecondImage);
  BuildBgrt(ThirdBgrt, 0);

  BuildHeader(Xsdt, "XSDT", 36 + 3 * 8);
  Store(Xsdt + 36, (UINT64)(UINTN)FirstBgrt, 8);
  Store(Xsdt + 44, (UINT64)(UINTN)SecondBgrt, 8);
  Store(Xsdt + 52, (UINT64)(UINTN)ThirdBgrt, 8);

  EFI_STATUS Status = InstallRsdp(Rsdp, Xsdt);
  ConsolePrint(u"CraftTables: BGRT [%lX] image [%lX] bytes [%d]\n", FirstBgrt, FirstLogo, (int)BitmapBytes(64, 32));
  ConsolePrint(u"CraftTables: BGRT [%lX] image [%lX] bytes [%d]\n", SecondBgrt, SecondImage, (int)BitmapBytes(16, 8));
  ConsolePrint(u"CraftTables: BGRT [%lX] image [0] bytes [0]\n", ThirdBgrt);
  return Status;
}

EFI_STATUS CraftBroken() {
  UINT8 *Pages = AllocatePages(4 * kPageBytes, false);
  if (Pages == nullptr) return EFI_OUT_OF_RESOURCES;
  UINT8 *Rsdp = Pages;
  UINT8 *Bgrts = Pages + 256;                  // 56 bytes each, 64 apart
  UINT8 *Logo = Pages + kPageBytes;            // a real bitmap whose size field lies
  UINT8 *Xsdt = Pages + 3 * kPageBytes;

  const UINT64 kNotCanonical = 0x0000800000000000ull;
  const UINT64 kUnmapped = 0xFFFF800000000000ull;
  const UINT64 kIoApic = 0xFEC00000ull;
  const UINT64 kHugeSize = 0x7FFFFFF0;
  const UINT64 Images[] = {kNotCanonical, kUnmapped, TopOfMemoryMap(), kIoApic, (UINT64)(UINTN)Logo};
  constexpr UINTN kBgrtCount = sizeof Images / sizeof Images[0];
  BuildBitmap(Logo, 16, 8, 3);
  Store(Logo + 2, kHugeSize, 4);

  UINTN Count = CopyFirmwareXsdt(Xsdt, kBgrtCount + 1);
  UINT8 *Entry = Xsdt + 36 + 8 * Count;
  for (UINTN Index = 0; Index < kBgrtCount; Index++) {
    UINT8 *Bgrt = Bgrts + 64 * Index;
    BuildBgrt(Bgrt, Images[Index]);
    Store(Entry, (UINT64)(UINTN)Bgrt, 8);
    Entry += 8;
    if (Index == 1) {
      // An entry that itself points where nothing can be read, among the BGRTs.
      Store(Entry, 0x8000000000000000ull, 8);
      Entry += 8;
    }
  }

  EFI_STATUS Status = InstallRsdp(Rsdp, Xsdt);
  for (UINTN Index = 0; Index < kBgrtCount; Index++) {
    ConsolePrint(u"CraftTables: BGRT [%lX] image [%lX] bytes [%lu]\n", Bgrts + 64 * Index, Images[Index],
                 Images[Index] == (UINT64)(UINTN)Logo ? kHugeSize : 0);
    if (Index == 1) ConsolePrint(u"CraftTables: entry [8000000000000000]\n");
  }
  return Status;
}

EFI_STATUS CraftLongXsdt() {
  UINT8 *Pages = AllocatePages(2 * kPageBytes, false);
  if (Pages == nullptr) return EFI_OUT_OF_RESOURCES;
  UINT8 *Rsdp = Pages;
  UINT8 *Xsdt = Pages + kPageBytes;
  CopyFirmwareXsdt(Xsdt, 0);
  Store(Xsdt + 4, 0xFFFFFFF0, 4);
  EFI_STATUS Status = InstallRsdp(Rsdp, Xsdt);
  ConsolePrint(u"CraftTables: XSDT Length [FFFFFFF0]\n");
  return Status;
}

EFI_STATUS CraftOne() {
  UINT8 *Pages = AllocatePages(3 * kPageBytes, false);
  if (Pages == nullptr) return EFI_OUT_OF_RESOURCES;
  UINT8 *Logo = Pages;
  UINT8 *Rsdp = Pages + 2 * kPageBytes;
  UINT8 *Xsdt = Rsdp + 64;
  UINT8 *Bgrt = Xsdt + 64;
  BuildBitmap(Logo, 64, 32, 1);
  BuildBgrt(Bgrt, (UINT64)(UINTN)Logo);
  BuildHeader(Xsdt, "XSDT", 36 + 8);
  Store(Xsdt + 36, (UINT64)(UINTN)Bgrt, 8);
  EFI_STATUS Status = InstallRsdp(Rsdp, Xsdt);
  ConsolePrint(u"CraftTables: BGRT [%lX] image [%lX] bytes [%d]\n", Bgrt, Logo, (int)BitmapBytes(64, 32));
  return Status;
}

// Appends BGRTs for these images to a copy of the firmware's XSDT and installs it; each BGRT with
// BgrtStatus at X, Y.
EFI_STATUS InstallAfterFirmware(const UINT64 *Images, UINTN Count, UINT8 BgrtStatus = 1, UINT32 X = 0, UINT32 Y = 0) {
  UINT8 *Pages = AllocatePages(2 * kPageBytes, false);
  if (Pages == nullptr) return EFI_OUT_OF_RESOURCES;
  UINT8 *Rsdp = Pages;
  UINT8 *Bgrts = Pages + 256;
  UINT8 *Xsdt = Pages + kPageBytes;
  UINT8 *Entry = Xsdt + 36 + 8 * CopyFirmwareXsdt(Xsdt, Count);
  for (UINTN Index = 0; Index < Count; Index++) {
    BuildBgrt(Bgrts + 64 * Index, Images[Index], BgrtStatus, X, Y);
    Store(Entry + 8 * Index, (UINT64)(UINTN)(Bgrts + 64 * Index), 8);
  }
  FixChecksum(Xsdt, LoadUnaligned32(Xsdt + 4));
  EFI_STATUS Status = InstallRsdp(Rsdp, Xsdt);
  for (UINTN Index = 0; Index < Count; Index++) {
    ConsolePrint(u"CraftTables: BGRT [%lX] image [%lX] bytes [%u]\n", Bgrts + 64 * Index, Images[Index],
                 LoadUnaligned32((const UINT8 *)(UINTN)Images[Index] + 2));
  }
  return Status;
}

EFI_STATUS CraftNotBitmaps() {
  constexpr UINT32 kClaimed = 0x1000000;
  UINT8 *Small = AllocatePages(kClaimed + kPageBytes, false);  // RAM behind it, all of it readable
  UINT8 *NoBitmap = AllocatePages(3 * kPageBytes, false);
  if (Small == nullptr || NoBitmap == nullptr) return EFI_OUT_OF_RESOURCES;
  BuildBitmap(Small, 2, 2, 4);
  Store(Small + 2, kClaimed, 4);
  for (UINTN Index = 0; Index < 3 * kPageBytes; Index++) NoBitmap[Index] = (UINT8)(0x50 + Index % 8);
  NoBitmap[1] = 'N';
  Store(NoBitmap + 2, 0x2000, 4);
  const UINT64 Images[] = {(UINT64)(UINTN)Small, (UINT64)(UINTN)NoBitmap};
  return InstallAfterFirmware(Images, 2);
}

// 5 x 3 pixels of 32 bits under a 124-byte header with bit-field masks, then two bytes of padding
// that the size field counts. The pixels are (index * 31 + 5).
EFI_STATUS CraftOddBitmap() {
  constexpr UINT32 kHeaderEnd = 14 + 124;
  constexpr UINT32 kSize = kHeaderEnd + 5 * 3 * 4 + 2;
  UINT8 *Logo = AllocatePages(kPageBytes, false);
  if (Logo == nullptr) return EFI_OUT_OF_RESOURCES;
  for (UINTN Index = 0; Index < kHeaderEnd; Index++) Logo[Index] = 0;
  Logo[0] = 'B';
  Logo[1] = 'M';
  Store(Logo + 2, kSize, 4);
  Store(Logo + 10, kHeaderEnd, 4);
  Store(Logo + 14, 124, 4);
  Store(Logo + 18, 5, 4);
  Store(Logo + 22, 3, 4);
  Store(Logo + 26, 1, 2);
  Store(Logo + 28, 32, 2);
  Store(Logo + 30, 3, 4);  // bit fields
  Store(Logo + 34, 5 * 3 * 4, 4);
  Store(Logo + 54, 0x00FF0000, 4);
  Store(Logo + 58, 0x0000FF00, 4);
  Store(Logo + 62, 0x000000FF, 4);
  Store(Logo + 66, 0xFF000000, 4);
  Store(Logo + 70, 0x73524742, 4);  // 'sRGB'
  Store(Logo + 122, 4, 4);           // intent: perceptual
  for (UINTN Index = kHeaderEnd; Index < kSize; Index++) Logo[Index] = (UINT8)(Index * 31 + 5);
  const UINT64 Images[] = {(UINT64)(UINTN)Logo};
  return InstallAfterFirmware(Images, 1);
}

EFI_STATUS CraftOffCentre() {
  UINT8 *Logo = AllocatePages(BitmapBytes(64, 32), false, EfiBootServicesData);
  if (Logo == nullptr) return EFI_OUT_OF_RESOURCES;
  BuildBitmap(Logo, 64, 32, 6);
  const UINT64 Images[] = {(UINT64)(UINTN)Logo};
  return InstallAfterFirmware(Images, 1, 0x03, 100, 50);
}

// How the copy of the firmware's BGRT differs from it, and the mode that asks for it.
enum class Change {
  Version0, Version2, NoImage, AcpiMemory, BadSignature, Type1, Length40, Rotated, Depth32, Depth8, OffCentre,
  OneRight, GoldenDown, TenDown, PastScreen, Tall, BadChecksum, Header124, Reserved
};

struct NamedChange {
  const CHAR16 *Name;
  Change What;
};

constexpr NamedChange kChanges[] = {
    {u"bgrt-version-0", Change::Version0},     {u"bgrt-version-2", Change::Version2},
    {u"bgrt-no-image", Change::NoImage},       {u"bgrt-acpi-memory", Change::AcpiMemory},
    {u"bgrt-bad-bm", Change::BadSignature},    {u"bgrt-type-1", Change::Type1},
    {u"bgrt-length-40", Change::Length40},     {u"bgrt-rotated", Change::Rotated},
    {u"bgrt-32-bit", Change::Depth32},         {u"bgrt-8-bit", Change::Depth8},
    {u"bgrt-off-centre", Change::OffCentre},   {u"bgrt-one-right", Change::OneRight},
    {u"bgrt-38.2-down", Change::GoldenDown},   {u"bgrt-past-screen", Change::PastScreen},
    {u"bgrt-tall", Change::Tall},              {u"bgrt-bad-checksum", Change::BadChecksum},
    {u"bgrt-10-down", Change::TenDown},        {u"bgrt-header-124", Change::Header124},
    {u"bgrt-reserved", Change::Reserved},
};

// The firmware's logo is OVMF's own, but a size past this is no logo to copy.
constexpr UINT32 kLargestCopied = 0x1000000;
constexpr UINT32 kLargestSide = 4096;

bool IsBgrt(const UINT8 *Table) {
  return Table != nullptr && Table[0] == 'B' && Table[1] == 'G' && Table[2] == 'R' && Table[3] == 'T';
}

// A copy of the logo in fresh pages of the given type; null when it will not do.
UINT8 *CopyLogo(const UINT8 *Logo, EFI_MEMORY_TYPE Type) {
  UINT32 Size = Logo == nullptr ? 0 : LoadUnaligned32(Logo + 2);
  if (Size < 54 || Size > kLargestCopied) return nullptr;
  UINT8 *Copy = AllocatePages(Size, false, Type);
  if (Copy == nullptr) return nullptr;
  for (UINT32 Index = 0; Index < Size; Index++) Copy[Index] = Logo[Index];
  return Copy;
}

// The logo's width and height; false when it has none to go by.
bool LogoSides(const UINT8 *Logo, UINT32 &Width, UINT32 &Height) {
  if (Logo == nullptr) return false;
  Width = LoadUnaligned32(Logo + 18);
  INT32 SignedHeight = (INT32)LoadUnaligned32(Logo + 22);
  Height = SignedHeight < 0 ? 0 - (UINT32)SignedHeight : (UINT32)SignedHeight;
  return Width != 0 && Width <= kLargestSide && Height != 0 && Height <= kLargestSide;
}

// A bitmap of Bits a pixel, Width x Height, in boot-services data.
UINT8 *BuiltLogo(UINT32 Width, UINT32 Height, UINT32 Bits) {
  UINT8 *Logo = AllocatePages(BitmapBytes(Width, Height, Bits), false, EfiBootServicesData);
  if (Logo != nullptr) BuildBitmap(Logo, Width, Height, 7, Bits);
  return Logo;
}

// A bitmap of Bits a pixel, as wide and as high as the logo.
UINT8 *RedrawnLogo(const UINT8 *Logo, UINT32 Bits) {
  UINT32 Width = 0;
  UINT32 Height = 0;
  return LogoSides(Logo, Width, Height) ? BuiltLogo(Width, Height, Bits) : nullptr;
}

// A copy of the logo with a 124-byte information header: the 40-byte one's fields, then colour
// space and profile fields all zero, the pixels moved along behind them.
UINT8 *WithLargestHeader(const UINT8 *Logo) {
  constexpr UINT32 kMore = 124 - 40;
  UINT32 Size = Logo == nullptr ? 0 : LoadUnaligned32(Logo + 2);
  if (Size < 54 || Size > kLargestCopied || LoadUnaligned32(Logo + 14) != 40) return nullptr;
  UINT8 *Copy = AllocatePages(Size + kMore, false, EfiBootServicesData);
  if (Copy == nullptr) return nullptr;
  for (UINT32 Index = 0; Index < 54; Index++) Copy[Index] = Logo[Index];
  for (UINT32 Index = 54; Index < 54 + kMore; Index++) Copy[Index] = 0;
  for (UINT32 Index = 54; Index < Size; Index++) Copy[Index + kMore] = Logo[Index];
  Store(Copy + 2, Size + kMore, 4);
  Store(Copy + 10, LoadUnaligned32(Logo + 10) + kMore, 4);
  Store(Copy + 14, 124, 4);
  return Copy;
}

EFI_STATUS CraftChangedBgrt(Change What) {
  UINT8 *Pages = AllocatePages(2 * kPageBytes, false);
  if (Pages == nullptr) return EFI_OUT_OF_RESOURCES;
  UINT8 *Rsdp = Pages;
  UINT8 *Bgrt = Pages + 256;
  UINT8 *Xsdt = Pages + kPageBytes;
  UINTN Count = CopyFirmwareXsdt(Xsdt, 0);
  UINT8 *Entry = nullptr;
  for (UINTN Index = 0; Index < Count && Entry == nullptr; Index++) {
    UINT8 *At = Xsdt + 36 + 8 * Index;
    if (IsBgrt((const UINT8 *)(UINTN)LoadUnaligned64(At))) Entry = At;
  }
  if (Entry == nullptr) {
    ConsolePrint(u"CraftTables: the firmware has no BGRT to change\n");
    return EFI_NOT_FOUND;
  }
  const UINT8 *Firmware = (const UINT8 *)(UINTN)LoadUnaligned64(Entry);
  for (UINTN Index = 0; Index < 56; Index++) Bgrt[Index] = Firmware[Index];
  const UINT8 *Logo = (const UINT8 *)(UINTN)LoadUnaligned64(Bgrt + 40);
  UINT8 *NewLogo = nullptr;
  // The logo's sides, and those of the screen the firmware centred it on, from its offsets (a
  // screen's sides are even; halving an odd difference rounded down).
  UINT32 LogoWidth = 0;
  UINT32 LogoHeight = 0;
  bool Sides = LogoSides(Logo, LogoWidth, LogoHeight);
  UINT32 ScreenWidth = 2 * LoadUnaligned32(Bgrt + 48) + LogoWidth + LogoWidth % 2;
  UINT32 ScreenHeight = 2 * LoadUnaligned32(Bgrt + 52) + LogoHeight + LogoHeight % 2;
  Sides = Sides && ScreenWidth <= kLargestSide && ScreenHeight <= kLargestSide;
  switch (What) {
    case Change::Version0: Store(Bgrt + 36, 0, 2); break;
    case Change::Version2: Store(Bgrt + 36, 2, 2); break;
    case Change::NoImage: Store(Bgrt + 40, 0, 8); break;
    case Change::AcpiMemory: NewLogo = CopyLogo(Logo, EfiACPIReclaimMemory); break;
    case Change::BadSignature:
      NewLogo = CopyLogo(Logo, EfiBootServicesData);
      if (NewLogo != nullptr) {
        NewLogo[0] = 'M';
        NewLogo[1] = 'B';
      }
      break;
    case Change::Type1: Bgrt[39] = 1; break;
    case Change::Length40: Store(Bgrt + 4, 40, 4); break;
    case Change::Rotated: Bgrt[38] = (UINT8)(Bgrt[38] | 0x06); break;
    case Change::Depth32: NewLogo = RedrawnLogo(Logo, 32); break;
    case Change::Depth8: NewLogo = RedrawnLogo(Logo, 8); break;
    case Change::OffCentre:
      Store(Bgrt + 48, 100, 4);
      Store(Bgrt + 52, 50, 4);
      break;
    case Change::OneRight: Store(Bgrt + 48, LoadUnaligned32(Bgrt + 48) + 1, 4); break;
    case Change::GoldenDown: Store(Bgrt + 52, (382 * ScreenHeight - 500 * LogoHeight) / 1000, 4); break;
    case Change::TenDown: Store(Bgrt + 52, ScreenHeight / 10, 4); break;
    case Change::Header124: NewLogo = WithLargestHeader(Logo); break;
    case Change::Reserved:
      NewLogo = CopyLogo(Logo, EfiBootServicesData);
      if (NewLogo != nullptr) Store(NewLogo + 6, 1, 4);
      break;
    case Change::PastScreen:
      if (Sides) NewLogo = BuiltLogo(ScreenWidth + 64, ScreenHeight + 64, 24);
      Store(Bgrt + 48, 0, 4);
      Store(Bgrt + 52, 0, 4);
      break;
    case Change::Tall:
      if (Sides) NewLogo = BuiltLogo(ScreenWidth / 2, ScreenHeight / 8 * 7, 24);
      Store(Bgrt + 48, 0, 4);
      Store(Bgrt + 52, 0, 4);
      break;
    case Change::BadChecksum: break;
  }
  bool NeedsLogo = What == Change::AcpiMemory || What == Change::BadSignature || What == Change::Depth32 ||
                   What == Change::Depth8 || What == Change::PastScreen || What == Change::Tall ||
                   What == Change::Header124 || What == Change::Reserved;
  if ((NeedsLogo && NewLogo == nullptr) || ((What == Change::GoldenDown || What == Change::TenDown) && !Sides)) {
    ConsolePrint(u"CraftTables: the firmware's logo could not be copied\n");
    return EFI_OUT_OF_RESOURCES;
  }
  if (NewLogo != nullptr) Store(Bgrt + 40, (UINT64)(UINTN)NewLogo, 8);
  FixChecksum(Bgrt, LoadUnaligned32(Bgrt + 4));
  if (What == Change::BadChecksum) Bgrt[9] = (UINT8)(Bgrt[9] + 1);
  Store(Entry, (UINT64)(UINTN)Bgrt, 8);
  FixChecksum(Xsdt, LoadUnaligned32(Xsdt + 4));

  EFI_STATUS Status = InstallRsdp(Rsdp, Xsdt);
  UINT64 Image = LoadUnaligned64(Bgrt + 40);
  ConsolePrint(u"CraftTables: BGRT [%lX] image [%lX] bytes [%u]\n", Bgrt, Image,
               Image == 0 ? 0 : LoadUnaligned32((const UINT8 *)(UINTN)Image + 2));
  return Status;
}

}  // namespace

extern "C" EFI_STATUS EFIAPI CraftEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gSystemTable = SystemTable;
  gBootServices = SystemTable->BootServices;
  const CHAR16 *Wanted = Mode(ImageHandle);
  if (SameText(Wanted, u"three")) return CraftThree();
  if (SameText(Wanted, u"one")) return CraftOne();
  if (SameText(Wanted, u"broken")) return CraftBroken();
  if (SameText(Wanted, u"long-xsdt")) return CraftLongXsdt();
  if (SameText(Wanted, u"not-bitmaps")) return CraftNotBitmaps();
  if (SameText(Wanted, u"odd-bitmap")) return CraftOddBitmap();
  if (SameText(Wanted, u"off-centre")) return CraftOffCentre();
  for (const NamedChange &Change : kChanges) {
    if (SameText(Wanted, Change.Name)) return CraftChangedBgrt(Change.What);
  }
  ConsolePrint(u"CraftTables: no such tables: %s\n", Wanted);
  return EFI_INVALID_PARAMETER;
}
