// Finds the ACPI 2.0 tables, walks the XSDT and reports every BGRT and its logo bitmap. Firmware
// memory is read in place at the addresses the tables hold, through unaligned loads, and only
// after the memory map has said that every byte of what is about to be read is memory: a broken
// table must not make the processor fault on a device page or an address it cannot reach.
#include "app/App.h"
#include "app/BgrtVerdict.h"
#include "app/BitmapLayout.h"
#include "app/ReadableMemory.h"
#include "base/Guid.h"
#include "base/Unaligned.h"
#include "firmware/Acpi.h"
#include "firmware/Guids.h"
#include "print/Print.h"

namespace {

constexpr UINT64 kRsdpXsdtAddress = 24;
constexpr UINT64 kTableLength = 4;
constexpr UINT64 kTableHeaderBytes = 36;
constexpr UINT64 kSignatureBytes = 4;
constexpr UINT64 kBgrtImageAddress = offsetof(ACPI_BGRT, ImageAddress);
constexpr UINT64 kBgrtBytes = sizeof(ACPI_BGRT);

// Bitmap header fields, from the start of the file; the report reads up to the last of them.
constexpr UINT64 kBmpFileSize = offsetof(BMP_HEADER, FileSize);
constexpr UINT64 kBmpDataOffset = offsetof(BMP_HEADER, DataOffset);
constexpr UINT64 kBmpHeaderSize = offsetof(BMP_HEADER, HeaderSize);
constexpr UINT64 kBmpWidth = offsetof(BMP_HEADER, Width);
constexpr UINT64 kBmpHeight = offsetof(BMP_HEADER, Height);
constexpr UINT64 kBmpPlanes = offsetof(BMP_HEADER, Planes);
constexpr UINT64 kBmpBitsPerPixel = offsetof(BMP_HEADER, BitsPerPixel);

// Entries pointing where nothing can be read are named one by one up to this many, then counted:
// an XSDT whose Length takes in memory that is no table can hold thousands of them, and a firmware
// console that scrolls a line in milliseconds would show nothing else for a minute.
constexpr UINT64 kMostUnreadableNamed = 16;

// What a table or bitmap outside readable memory makes the report return.
constexpr EFI_STATUS kNotReadable = EFI_COMPROMISED_DATA;
// And what an image that is no bitmap, or a size field that claims more than the bitmap, does.
constexpr EFI_STATUS kNotABitmap = EFI_COMPROMISED_DATA;

// Room for the map of a typical machine at the first try; when it is not enough, room for what the
// firmware asked plus a few descriptors more, as allocating the buffer may itself add some.
constexpr UINTN kFirstMapBytes = 8192;
constexpr UINTN kMapSlackBytes = 16 * 64;
constexpr int kMapTries = 4;

// The address as a pointer, when Length bytes there may be read; null otherwise. The only way from
// an address a table holds to memory, so nothing is read unchecked or through a cut pointer.
const UINT8 *Readable(const MemoryMap &Map, UINT64 Address, UINT64 Length) {
  if (!IsReadable(Map, kProcessorReach, Address, Length)) return nullptr;
  return (const UINT8 *)(UINTN)Address;
}

void KeepFirstFailure(EFI_STATUS *FirstFailure, EFI_STATUS Status) {
  if (EFI_ERROR(Status) && !EFI_ERROR(*FirstFailure)) *FirstFailure = Status;
}

// The firmware's memory map in a pool buffer, grown and asked again while it is too small. A map
// whose entries are smaller than a descriptor, or larger in all than the buffer, cannot be read.
EFI_STATUS GetMemoryMap(MemoryMap *Map) {
  UINTN BufferSize = kFirstMapBytes;
  for (int Try = 0; Try < kMapTries; Try++) {
    VOID *Buffer = nullptr;
    EFI_STATUS Status = gBootServices->AllocatePool(EfiBootServicesData, BufferSize, &Buffer);
    if (EFI_ERROR(Status)) return Status;
    UINTN MapSize = BufferSize;
    UINTN MapKey = 0;
    UINTN DescriptorSize = 0;
    UINT32 DescriptorVersion = 0;
    Status = gBootServices->GetMemoryMap(&MapSize, (EFI_MEMORY_DESCRIPTOR *)Buffer, &MapKey, &DescriptorSize,
                                         &DescriptorVersion);
    if (!EFI_ERROR(Status) && DescriptorSize >= sizeof(EFI_MEMORY_DESCRIPTOR) && MapSize <= BufferSize) {
      *Map = MemoryMap{(const UINT8 *)Buffer, MapSize, DescriptorSize};
      return EFI_SUCCESS;
    }
    gBootServices->FreePool(Buffer);
    if (Status != EFI_BUFFER_TOO_SMALL) return EFI_ERROR(Status) ? Status : EFI_INCOMPATIBLE_VERSION;
    BufferSize = MapSize + kMapSlackBytes;
  }
  return EFI_BUFFER_TOO_SMALL;
}

// The RSDP from the first ACPI 2.0 entry of the configuration table; 0 when there is none.
// An entry with a null table counts as no entry.
UINT64 FindRsdp() {
  const EFI_CONFIGURATION_TABLE *Entries = gSystemTable->ConfigurationTable;
  UINTN EntryCount = Entries != nullptr ? gSystemTable->NumberOfTableEntries : 0;
  for (UINTN Index = 0; Index < EntryCount; Index++) {
    if (Entries[Index].VendorTable != nullptr && GuidEquals(&Entries[Index].VendorGuid, &EFI_ACPI_20_TABLE_GUID)) {
      return (UINT64)(UINTN)Entries[Index].VendorTable;
    }
  }
  return 0;
}

bool IsBgrt(const UINT8 *Table) {
  return Table[0] == 'B' && Table[1] == 'G' && Table[2] == 'R' && Table[3] == 'T';
}

void PrintBitmapHeader(const UINT8 *Image) {
  ConsolePrint(u"     Image size  [0x%X]\n", LoadUnaligned32(Image + kBmpFileSize));
  ConsolePrint(u"     Data offset [0x%X]\n", LoadUnaligned32(Image + kBmpDataOffset));
  ConsolePrint(u"     Header size [0x%X]\n", LoadUnaligned32(Image + kBmpHeaderSize));
  ConsolePrint(u"           Width [0x%X]\n", LoadUnaligned32(Image + kBmpWidth));
  ConsolePrint(u"           Height[0x%X]\n", LoadUnaligned32(Image + kBmpHeight));
  ConsolePrint(u"           Planes[0x%X]\n", (UINT32)LoadUnaligned16(Image + kBmpPlanes));
  ConsolePrint(u"           BPP   [0x%X]\n", (UINT32)LoadUnaligned16(Image + kBmpBitsPerPixel));
}

// Kept out of line, where it costs the images less than inlined.
// Reports the logo a BGRT points at and saves it; *Whole is the bitmap where all of it could be
// read, for the verdict, and *File says what the save did to BIOSLogo.bmp. Returns the save's status, success
// when there was nothing to save, kNotReadable when the bitmap lies outside readable memory, or
// kNotABitmap.
[[gnu::noinline]] EFI_STATUS ReportLogo(const MemoryMap &Map, EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, UINT64 ImageAddress,
                      const UINT8 **Whole, LogoFile *File) {
  if (ImageAddress == 0) {
    ConsolePrint(u"  No logo image\n");
    return EFI_SUCCESS;
  }
  const UINT8 *Image = Readable(Map, ImageAddress, kBitmapFixedBytes);
  if (Image == nullptr) {
    ConsolePrint(u"  Can't read logo image @[0x%lX]\n", ImageAddress);
    return kNotReadable;
  }
  PrintBitmapHeader(Image);
  UINT32 ImageSize = LoadUnaligned32(Image + kBmpFileSize);
  if (Readable(Map, ImageAddress, ImageSize) == nullptr) {
    ConsolePrint(u"  Can't read logo image @[0x%lX] of [0x%X] bytes\n", ImageAddress, ImageSize);
    return kNotReadable;
  }
  *Whole = Image;
  // Only a bitmap is written out, and no more of memory than its own headers account for.
  BitmapFault Fault = JudgeBitmap(Image, ImageSize > kBitmapFixedBytes ? ImageSize : kBitmapFixedBytes).Fault;
  if (Fault != kBitmapSound) {
    ConsolePrint(u"  Won't save logo image @[0x%lX]: %a\n", ImageAddress, BitmapFaultText(Fault));
    return kNotABitmap;
  }
  bool OlderGone = false;
  EFI_STATUS Status = SaveLogoFile(Volume, ImageAddress, ImageSize, &OlderGone);
  if (!EFI_ERROR(Status)) {
    ConsolePrint(u"BIOS logo has been saved to 'BIOSLogo.bmp'\n");
    *File = LogoFile::Saved;
  } else if (OlderGone) {
    *File = LogoFile::Lost;
  }
  return Status;
}

// Reports one BGRT, saves its logo and judges both. Returns the status of ReportLogo, or
// kNotReadable when the BGRT lies outside readable memory.
EFI_STATUS ReportBgrt(const MemoryMap &Map, EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, UINT64 BgrtAddress,
                      BgrtTally *Tally) {
  ConsolePrint(u"  Found BGRT @[0x%lX]\n", BgrtAddress);
  const UINT8 *Bgrt = Readable(Map, BgrtAddress, kBgrtImageAddress + 8);
  if (Bgrt == nullptr) {
    ConsolePrint(u"  Can't read BGRT @[0x%lX]\n", BgrtAddress);
    return kNotReadable;
  }
  UINT64 ImageAddress = LoadUnaligned64(Bgrt + kBgrtImageAddress);
  ConsolePrint(u"  Image address @[0x%lX]\n", ImageAddress);
  ConsolePrint(u"     [0x%lX]\n", ImageAddress);
  const UINT8 *Whole = nullptr;
  LogoFile File = LogoFile::Unchanged;
  EFI_STATUS Status = ReportLogo(Map, Volume, ImageAddress, &Whole, &File);

  // The verdict reads the whole table; one cut short by the end of memory is not judged.
  if (Readable(Map, BgrtAddress, kBgrtBytes) != nullptr) PrintBgrtVerdict(Map, Bgrt, Whole, File, Tally);
  return Status;
}

// Everything from the RSDP on, once the memory map is at hand.
EFI_STATUS ReportTables(const MemoryMap &Map, EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, UINT64 RsdpAddress) {
  ConsolePrint(u"RSDP address [%lX]\n", RsdpAddress);
  const UINT8 *Rsdp = Readable(Map, RsdpAddress + kRsdpXsdtAddress, 8);
  if (Rsdp == nullptr) {
    ConsolePrint(u"Can't read RSDP @[0x%lX]\n", RsdpAddress);
    return kNotReadable;
  }
  UINT64 XsdtAddress = LoadUnaligned64(Rsdp);
  ConsolePrint(u"XSDT address [%lX]\n", XsdtAddress);
  if (XsdtAddress == 0) {
    ConsolePrint(u"Can't find XSDT\n");
    return EFI_SUCCESS;
  }
  const UINT8 *Xsdt = Readable(Map, XsdtAddress, kTableHeaderBytes);
  if (Xsdt == nullptr) {
    ConsolePrint(u"Can't read XSDT @[0x%lX]\n", XsdtAddress);
    return kNotReadable;
  }

  ConsolePrint(u"XSDT information\n");
  ConsolePrint(u" Signature [%c%c%c%c]\n", (CHAR16)Xsdt[0], (CHAR16)Xsdt[1], (CHAR16)Xsdt[2], (CHAR16)Xsdt[3]);
  ConsolePrint(u" Entry 0 @[0x%lx]\n", XsdtAddress + kTableHeaderBytes);

  // A length below the header's own gives no entries rather than a wrapped count. A length that
  // runs past readable memory is refused whole: what lies behind the table is not entries.
  UINT32 Length = LoadUnaligned32(Xsdt + kTableLength);
  UINT64 EntryCount = Length > kTableHeaderBytes ? (Length - kTableHeaderBytes) / 8 : 0;
  const UINT8 *Entries = Readable(Map, XsdtAddress + kTableHeaderBytes, EntryCount * 8);
  if (Entries == nullptr) {
    ConsolePrint(u" Can't read XSDT entries @[0x%lX] of Length [0x%X]\n", XsdtAddress + kTableHeaderBytes, Length);
    return kNotReadable;
  }

  EFI_STATUS FirstFailure = EFI_SUCCESS;
  UINT64 Unreadable = 0;
  BgrtTally Tally{};
  for (UINT64 Index = 0; Index < EntryCount; Index++) {
    UINT64 TableAddress = LoadUnaligned64(Entries + 8 * Index);
    if (TableAddress == 0) continue;
    const UINT8 *Table = Readable(Map, TableAddress, kSignatureBytes);
    if (Table == nullptr) {
      if (++Unreadable <= kMostUnreadableNamed) ConsolePrint(u"  Can't read table @[0x%lX]\n", TableAddress);
      KeepFirstFailure(&FirstFailure, kNotReadable);
    } else if (IsBgrt(Table)) {
      KeepFirstFailure(&FirstFailure, ReportBgrt(Map, Volume, TableAddress, &Tally));
    }
  }
  if (Unreadable > kMostUnreadableNamed) {
    ConsolePrint(u"  Can't read [0x%lX] more tables\n", Unreadable - kMostUnreadableNamed);
  }
  PrintSeveralBgrts(Tally);
  return FirstFailure;
}

}  // namespace

EFI_STATUS ReportBootLogo(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume) {
  UINT64 Rsdp = FindRsdp();
  if (Rsdp == 0) {
    ConsolePrint(u"Can't find Acpi Table\n");
    return EFI_SUCCESS;
  }

  MemoryMap Map;
  EFI_STATUS Status = GetMemoryMap(&Map);
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"Can't get memory map  [%r]\n", Status);
    return Status;
  }
  Status = ReportTables(Map, Volume, Rsdp);
  gBootServices->FreePool((VOID *)Map.Descriptors);
  return Status;
}
