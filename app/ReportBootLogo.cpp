// Finds the ACPI 2.0 tables, walks the XSDT and reports every BGRT and its logo bitmap. Firmware
// memory is read in place at the addresses the tables hold, through unaligned loads.
#include "app/App.h"
#include "base/Guid.h"
#include "base/Unaligned.h"
#include "firmware/Guids.h"
#include "print/Print.h"

namespace {

constexpr UINTN kRsdpXsdtAddress = 24;
constexpr UINTN kTableLength = 4;
constexpr UINTN kTableHeaderBytes = 36;
constexpr UINTN kBgrtImageAddress = 40;

// Bitmap header fields, from the start of the file.
constexpr UINTN kBmpFileSize = 2;
constexpr UINTN kBmpDataOffset = 10;
constexpr UINTN kBmpHeaderSize = 14;
constexpr UINTN kBmpWidth = 18;
constexpr UINTN kBmpHeight = 22;
constexpr UINTN kBmpPlanes = 26;
constexpr UINTN kBmpBitsPerPixel = 28;

const UINT8 *AtAddress(UINT64 Address) { return (const UINT8 *)(UINTN)Address; }

// The RSDP from the first ACPI 2.0 entry of the configuration table; null when there is none.
// An entry with a null table counts as no entry.
const UINT8 *FindRsdp() {
  const EFI_CONFIGURATION_TABLE *Entries = gSystemTable->ConfigurationTable;
  UINTN EntryCount = Entries != nullptr ? gSystemTable->NumberOfTableEntries : 0;
  for (UINTN Index = 0; Index < EntryCount; Index++) {
    if (Entries[Index].VendorTable != nullptr && GuidEquals(&Entries[Index].VendorGuid, &EFI_ACPI_20_TABLE_GUID)) {
      return (const UINT8 *)Entries[Index].VendorTable;
    }
  }
  return nullptr;
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

// Reports one BGRT and saves its logo. Returns the save's status, or success when there was
// nothing to save.
EFI_STATUS ReportBgrt(UINT64 BgrtAddress) {
  UINT64 ImageAddress = LoadUnaligned64(AtAddress(BgrtAddress) + kBgrtImageAddress);
  ConsolePrint(u"  Found BGRT @[0x%lX]\n", BgrtAddress);
  ConsolePrint(u"  Image address @[0x%lX]\n", ImageAddress);
  ConsolePrint(u"     [0x%lX]\n", ImageAddress);
  if (ImageAddress == 0) {
    ConsolePrint(u"  No logo image\n");
    return EFI_SUCCESS;
  }

  const UINT8 *Image = AtAddress(ImageAddress);
  PrintBitmapHeader(Image);
  EFI_STATUS Status = SaveLogoFile(ImageAddress, LoadUnaligned32(Image + kBmpFileSize));
  if (!EFI_ERROR(Status)) {
    ConsolePrint(u"BIOS logo has been saved to 'BIOSLogo.bmp'\n");
  }
  return Status;
}

}  // namespace

EFI_STATUS ReportBootLogo() {
  const UINT8 *Rsdp = FindRsdp();
  if (Rsdp == nullptr) {
    ConsolePrint(u"Can't find Acpi Table\n");
    return EFI_SUCCESS;
  }

  UINT64 XsdtAddress = LoadUnaligned64(Rsdp + kRsdpXsdtAddress);
  ConsolePrint(u"RSDP address [%lX]\n", Rsdp);
  ConsolePrint(u"XSDT address [%lX]\n", XsdtAddress);
  if (XsdtAddress == 0) {
    ConsolePrint(u"Can't find XSDT\n");
    return EFI_SUCCESS;
  }

  const UINT8 *Xsdt = AtAddress(XsdtAddress);
  ConsolePrint(u"XSDT information\n");
  ConsolePrint(u" Signature [%c%c%c%c]\n", (CHAR16)Xsdt[0], (CHAR16)Xsdt[1], (CHAR16)Xsdt[2], (CHAR16)Xsdt[3]);
  ConsolePrint(u" Entry 0 @[0x%lx]\n", XsdtAddress + kTableHeaderBytes);

  // A length below the header's own gives no entries rather than a wrapped count.
  UINT32 Length = LoadUnaligned32(Xsdt + kTableLength);
  UINT64 EntryCount = Length > kTableHeaderBytes ? (Length - kTableHeaderBytes) / 8 : 0;

  EFI_STATUS FirstFailure = EFI_SUCCESS;
  for (UINT64 Index = 0; Index < EntryCount; Index++) {
    UINT64 TableAddress = LoadUnaligned64(Xsdt + kTableHeaderBytes + 8 * Index);
    if (TableAddress == 0 || !IsBgrt(AtAddress(TableAddress))) {
      continue;
    }
    EFI_STATUS Status = ReportBgrt(TableAddress);
    if (EFI_ERROR(Status) && !EFI_ERROR(FirstFailure)) {
      FirstFailure = Status;
    }
  }
  return FirstFailure;
}
