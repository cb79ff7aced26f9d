// Finds the ACPI 2.0 tables, walks the XSDT and reports every BGRT and its logo bitmap. Firmware
// memory is read in place at the addresses the tables hold, through unaligned loads, and only
// after the memory map has said that every byte of what is about to be read is memory: a broken
// table must not make the processor fault on a device page or an address it cannot reach.
#include "app/App.h"
#include "app/BgrtVerdict.h"
#include "app/ReadBgrt.h"
#include "base/Guid.h"
#include "base/Unaligned.h"
#include "firmware/Acpi.h"
#include "firmware/Guids.h"
#include "print/Print.h"

namespace {

constexpr UINT64 kTableHeaderBytes = sizeof(ACPI_TABLE_HEADER);
constexpr UINT64 kSignatureBytes = sizeof(ACPI_TABLE_HEADER::Signature);
constexpr UINT64 kEntryBytes = sizeof(UINT64);

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
    // Firmware that answers success, or a warning, without a buffer has given none.
    if (EFI_ERROR(Status) || Buffer == nullptr) return EFI_ERROR(Status) ? Status : EFI_OUT_OF_RESOURCES;
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

void PrintBitmapHeader(const LogoBitmap &Logo) {
  ConsolePrint(u"     Image size  [0x%X]\n", Logo.FileSize);
  ConsolePrint(u"     Data offset [0x%X]\n", Logo.DataOffset);
  ConsolePrint(u"     Header size [0x%X]\n", Logo.HeaderSize);
  ConsolePrint(u"           Width [0x%X]\n", Logo.Width);
  ConsolePrint(u"           Height[0x%X]\n", Logo.Height);
  ConsolePrint(u"           Planes[0x%X]\n", (UINT32)Logo.Planes);
  ConsolePrint(u"           BPP   [0x%X]\n", (UINT32)Logo.BitsPerPixel);
}

// Reports the logo a BGRT points at and saves it, recording in Finding what became of it. Returns
// the save's status, success when there was nothing to save, kNotReadable when the bitmap lies
// outside readable memory, or kNotABitmap.
EFI_STATUS ReportLogo(const MemoryMap &Map, EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, BgrtFinding *Finding) {
  UINT64 ImageAddress = Finding->Table.ImageAddress;
  LogoBitmap &Logo = Finding->Logo;
  if (ImageAddress == 0) {
    ConsolePrint(u"  No logo image\n");
    Finding->Outcome = LogoOutcome::NoImage;
    return EFI_SUCCESS;
  }
  ReadLogoBitmap(Map, ImageAddress, &Logo);
  if (!Logo.HeaderRead) {
    ConsolePrint(u"  Can't read logo image @[0x%lX]\n", ImageAddress);
    Finding->Outcome = LogoOutcome::Unreadable;
    return kNotReadable;
  }
  PrintBitmapHeader(Logo);
  if (!Logo.Whole) {
    ConsolePrint(u"  Can't read logo image @[0x%lX] of [0x%X] bytes\n", ImageAddress, Logo.FileSize);
    Finding->Outcome = LogoOutcome::Unreadable;
    return kNotReadable;
  }
  // Only a bitmap is written out, and no more of memory than its own headers account for.
  if (Logo.Rule.Fault != kBitmapSound) {
    ConsolePrint(u"  Won't save logo image @[0x%lX]: %a\n", ImageAddress, BitmapFaultText(Logo.Rule.Fault));
    Finding->Outcome = LogoOutcome::Refused;
    return kNotABitmap;
  }
  Finding->SaveStatus = SaveLogoFile(Volume, ImageAddress, Logo.FileSize, &Finding->Save);
  if (EFI_ERROR(Finding->SaveStatus)) {
    Finding->Outcome = LogoOutcome::SaveFailed;
  } else {
    ConsolePrint(u"BIOS logo has been saved to 'BIOSLogo.bmp'\n");
    Finding->Outcome = LogoOutcome::Saved;
  }
  return Finding->SaveStatus;
}

// Adds what became of one BGRT to the report's record.
void RecordFinding(ReportRecord *Record, const BgrtFinding &Finding) {
  if (Finding.Table.Whole && (Finding.Table.Status & BGRT_STATUS_DISPLAYED) != 0) {
    Record->Displayed++;
    Record->LastDisplayed = Finding.Number;
  }
  switch (Finding.Outcome) {
    case LogoOutcome::NoImage:
      break;
    case LogoOutcome::Unreadable:
      Record->Unreadable = true;
      break;
    case LogoOutcome::Refused:
      Record->Refused = true;
      break;
    case LogoOutcome::Saved:
      Record->SavedNumber = Finding.Number;
      Record->Saved = Finding.Logo;
      break;
    case LogoOutcome::SaveFailed:
      Record->SaveFailed = true;
      Record->KeptAside = Record->KeptAside || Finding.Save.KeptAside;
      // A save that failed after taking the older logo from its name leaves the file no logo.
      if (Finding.Save.OlderGone) Record->SavedNumber = 0;
      break;
  }
  if (Finding.Number <= kBgrtsRecorded) Record->Bgrts[Finding.Number - 1] = Finding;
}

// Reports one BGRT, saves its logo and judges both.
EFI_STATUS ReportBgrt(const MemoryMap &Map, EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, UINT64 BgrtAddress,
                      ReportRecord *Record) {
  BgrtFinding Finding;
  EFI_STATUS Status = ReportBgrtAndLogo(Map, Volume, BgrtAddress, ++Record->BgrtCount, &Finding);
  // The verdict reads the whole table; one cut short by the end of memory is not judged.
  if (Finding.Table.Whole) PrintBgrtVerdict(Finding, JudgeBgrt(Map, Finding, ReadScreen()));
  RecordFinding(Record, Finding);
  return Status;
}

// Everything from the RSDP on, once the memory map is at hand.
EFI_STATUS ReportTables(const MemoryMap &Map, EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, UINT64 RsdpAddress,
                        ReportRecord *Record) {
  ConsolePrint(u"RSDP address [%lX]\n", RsdpAddress);
  const UINT8 *Rsdp = ReadableAt(Map, RsdpAddress + offsetof(ACPI_RSDP, XsdtAddress), sizeof(UINT64));
  if (Rsdp == nullptr) {
    ConsolePrint(u"Can't read RSDP @[0x%lX]\n", RsdpAddress);
    Record->Unreadable = true;
    return kNotReadable;
  }
  UINT64 XsdtAddress = LoadUnaligned64(Rsdp);
  ConsolePrint(u"XSDT address [%lX]\n", XsdtAddress);
  if (XsdtAddress == 0) {
    ConsolePrint(u"Can't find XSDT\n");
    return EFI_SUCCESS;
  }
  const UINT8 *Xsdt = ReadableAt(Map, XsdtAddress, kTableHeaderBytes);
  if (Xsdt == nullptr) {
    ConsolePrint(u"Can't read XSDT @[0x%lX]\n", XsdtAddress);
    Record->Unreadable = true;
    return kNotReadable;
  }

  ConsolePrint(u"XSDT information\n");
  ConsolePrint(u" Signature [%c%c%c%c]\n", (CHAR16)Xsdt[0], (CHAR16)Xsdt[1], (CHAR16)Xsdt[2], (CHAR16)Xsdt[3]);
  ConsolePrint(u" Entry 0 @[0x%lx]\n", XsdtAddress + kTableHeaderBytes);

  // A length below the header's own gives no entries rather than a wrapped count. A length that
  // runs past readable memory is refused whole: what lies behind the table is not entries.
  UINT32 Length = LoadUnaligned32(Xsdt + offsetof(ACPI_TABLE_HEADER, Length));
  UINT64 EntryCount = Length > kTableHeaderBytes ? (Length - kTableHeaderBytes) / kEntryBytes : 0;
  const UINT8 *Entries = ReadableAt(Map, XsdtAddress + kTableHeaderBytes, EntryCount * kEntryBytes);
  if (Entries == nullptr) {
    ConsolePrint(u" Can't read XSDT entries @[0x%lX] of Length [0x%X]\n", XsdtAddress + kTableHeaderBytes, Length);
    Record->Unreadable = true;
    return kNotReadable;
  }

  EFI_STATUS FirstFailure = EFI_SUCCESS;
  UINT64 Unreadable = 0;
  for (UINT64 Index = 0; Index < EntryCount; Index++) {
    UINT64 TableAddress = LoadUnaligned64(Entries + kEntryBytes * Index);
    if (TableAddress == 0) continue;
    const UINT8 *Table = ReadableAt(Map, TableAddress, kSignatureBytes);
    if (Table == nullptr) {
      if (++Unreadable <= kMostUnreadableNamed) ConsolePrint(u"  Can't read table @[0x%lX]\n", TableAddress);
      Record->Unreadable = true;
      KeepFirstFailure(&FirstFailure, kNotReadable);
    } else if (IsBgrt(Table)) {
      KeepFirstFailure(&FirstFailure, ReportBgrt(Map, Volume, TableAddress, Record));
    }
  }
  if (Unreadable > kMostUnreadableNamed) {
    ConsolePrint(u"  Can't read [0x%lX] more tables\n", Unreadable - kMostUnreadableNamed);
  }
  PrintSeveralBgrts(*Record);
  return FirstFailure;
}

}  // namespace

EFI_STATUS ReportBgrtAndLogo(const MemoryMap &Map, EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, UINT64 BgrtAddress,
                             UINT32 Number, BgrtFinding *Finding) {
  ConsolePrint(u"  Found BGRT @[0x%lX]\n", BgrtAddress);
  *Finding = BgrtFinding{};
  Finding->Number = Number;
  if (!ReadBgrt(Map, BgrtAddress, &Finding->Table)) {
    ConsolePrint(u"  Can't read BGRT @[0x%lX]\n", BgrtAddress);
    Finding->Outcome = LogoOutcome::Unreadable;
    return kNotReadable;
  }
  ConsolePrint(u"  Image address @[0x%lX]\n", Finding->Table.ImageAddress);
  ConsolePrint(u"     [0x%lX]\n", Finding->Table.ImageAddress);
  return ReportLogo(Map, Volume, Finding);
}

EFI_STATUS ReportBootLogo(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, ReportRecord *Record) {
  *Record = ReportRecord{};
  UINT64 Rsdp = FindRsdp();
  if (Rsdp == 0) {
    ConsolePrint(u"Can't find Acpi Table\n");
    return EFI_SUCCESS;
  }

  MemoryMap Map;
  EFI_STATUS Status = GetMemoryMap(&Map);
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"Can't get memory map  [%r]\n", Status);
    Record->Unreadable = true;
    Record->NoMemoryMap = true;
    return Status;
  }
  Status = ReportTables(Map, Volume, Rsdp, Record);
  gBootServices->FreePool((VOID *)Map.Descriptors);
  return Status;
}
