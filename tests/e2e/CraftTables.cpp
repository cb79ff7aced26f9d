// A test-only EFI program, run from startup.nsh before Quillon: it replaces the firmware's ACPI 2.0
// configuration-table entry with tables of its own, so that Quillon meets on real firmware what
// OVMF never publishes: three BGRTs, the first logo longer than the second, the second logo above
// 4 GiB and its BGRT and the XSDT at odd addresses, the third BGRT without an image.
// It prints one line per BGRT so the test can hold Quillon's report against what was built.
#include "base/Unaligned.h"
#include "firmware/Acpi.h"
#include "firmware/Guids.h"
#include "firmware/SystemTable.h"
#include "print/Print.h"

constinit EFI_SYSTEM_TABLE *gSystemTable = nullptr;
constinit EFI_BOOT_SERVICES *gBootServices = nullptr;

namespace {

constexpr UINTN kPageBytes = 4096;

void Store(UINT8 *At, UINT64 Value, UINTN Width) {
  for (UINTN Index = 0; Index < Width; Index++) At[Index] = (UINT8)(Value >> (8 * Index));
}

void CopyBytes(UINT8 *To, const char *From, UINTN Count) {
  for (UINTN Index = 0; Index < Count; Index++) To[Index] = (UINT8)From[Index];
}

// Pages of ACPI memory; above 4 GiB when asked, trying addresses from 4 GiB up.
UINT8 *AllocatePages(UINTN Bytes, bool Above4GiB) {
  UINTN Pages = (Bytes + kPageBytes - 1) / kPageBytes;
  EFI_PHYSICAL_ADDRESS Address = 0xFFFFFFFF;
  if (!Above4GiB) {
    if (EFI_ERROR(gBootServices->AllocatePages(AllocateMaxAddress, EfiACPIReclaimMemory, Pages, &Address))) return nullptr;
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

// The same bitmap the host tests build: BMP and info headers, then (index * 31 + offset) bytes.
UINTN BitmapBytes(UINT32 Width, UINT32 Height) { return 54 + ((Width * 24 + 31) / 32) * 4 * Height; }

void BuildBitmap(UINT8 *At, UINT32 Width, UINT32 Height, UINT8 PixelOffset) {
  UINT32 RowBytes = ((Width * 24 + 31) / 32) * 4;
  UINTN FileSize = BitmapBytes(Width, Height);
  for (UINTN Index = 0; Index < 54; Index++) At[Index] = 0;
  At[0] = 'B';
  At[1] = 'M';
  Store(At + 2, FileSize, 4);
  Store(At + 10, 54, 4);
  Store(At + 14, 40, 4);
  Store(At + 18, Width, 4);
  Store(At + 22, Height, 4);
  Store(At + 26, 1, 2);
  Store(At + 28, 24, 2);
  Store(At + 34, RowBytes * Height, 4);
  for (UINTN Index = 54; Index < FileSize; Index++) At[Index] = (UINT8)(Index * 31 + PixelOffset);
}

void BuildHeader(UINT8 *At, const char *Signature, UINT32 Length) {
  for (UINTN Index = 0; Index < 36; Index++) At[Index] = 0;
  CopyBytes(At, Signature, 4);
  Store(At + 4, Length, 4);
  At[8] = 1;
  CopyBytes(At + 10, "QUILON", 6);
  CopyBytes(At + 16, "CRAFTED ", 8);
}

void BuildBgrt(UINT8 *At, UINT64 ImageAddress) {
  BuildHeader(At, "BGRT", 56);
  Store(At + 36, 1, 2);
  At[38] = 1;
  At[39] = 0;
  Store(At + 40, ImageAddress, 8);
  Store(At + 48, 0, 8);
}

}  // namespace

extern "C" EFI_STATUS EFIAPI CraftEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  (void)ImageHandle;
  gSystemTable = SystemTable;
  gBootServices = SystemTable->BootServices;

  UINT8 *Low = AllocatePages(4 * kPageBytes, false);
  UINT8 *High = AllocatePages(2 * kPageBytes, true);
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

  BuildBitmap(FirstLogo, 64, 32, 1);
  BuildBitmap(SecondLogo, 16, 8, 2);
  BuildBgrt(FirstBgrt, (UINT64)(UINTN)FirstLogo);
  BuildBgrt(SecondBgrt, (UINT64)(UINTN)SecondLogo);
  BuildBgrt(ThirdBgrt, 0);

  BuildHeader(Xsdt, "XSDT", 36 + 3 * 8);
  Store(Xsdt + 36, (UINT64)(UINTN)FirstBgrt, 8);
  Store(Xsdt + 44, (UINT64)(UINTN)SecondBgrt, 8);
  Store(Xsdt + 52, (UINT64)(UINTN)ThirdBgrt, 8);

  for (UINTN Index = 0; Index < 36; Index++) Rsdp[Index] = 0;
  CopyBytes(Rsdp, "RSD PTR ", 8);
  CopyBytes(Rsdp + 9, "QUILON", 6);
  Rsdp[15] = 2;
  Store(Rsdp + 20, 36, 4);
  Store(Rsdp + 24, (UINT64)(UINTN)Xsdt, 8);

  EFI_STATUS Status = gBootServices->InstallConfigurationTable(&EFI_ACPI_20_TABLE_GUID, Rsdp);
  ConsolePrint(u"CraftTables: RSDP [%lX] XSDT [%lX] installed [%r]\n", Rsdp, Xsdt, Status);
  ConsolePrint(u"CraftTables: BGRT [%lX] image [%lX] bytes [%d]\n", FirstBgrt, FirstLogo, (int)BitmapBytes(64, 32));
  ConsolePrint(u"CraftTables: BGRT [%lX] image [%lX] bytes [%d]\n", SecondBgrt, SecondLogo, (int)BitmapBytes(16, 8));
  ConsolePrint(u"CraftTables: BGRT [%lX] image [0] bytes [0]\n", ThirdBgrt);
  return Status;
}
