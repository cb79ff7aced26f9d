// A test-only EFI program that writes firmware variables, for the variable stores the end-to-end
// tests boot with. The boot manager starts it from a disk that holds SETVARS.BIN beside it, a list
// of variables to write; it writes each with SetVariable, prints each status, and powers the
// machine off, so the store file it leaves is the new store. Under Secure Boot the firmware starts
// it only when it is signed for the store's db, and an authenticated variable (db itself) comes
// signed already, for the firmware to check against KEK.
//
// SETVARS.BIN, every number little-endian, one record after another, each starting 4-aligned:
//   UINT32 NameBytes, UINT32 Attributes, UINT32 DataBytes, EFI_GUID Vendor,
//   the name (UCS-2, terminated, NameBytes), the data (DataBytes).
#include "base/Unaligned.h"
#include "firmware/Guids.h"
#include "firmware/LoadedImage.h"
#include "firmware/SimpleFileSystem.h"
#include "firmware/SystemTable.h"
#include "print/Print.h"

constinit EFI_SYSTEM_TABLE *gSystemTable = nullptr;
constinit EFI_BOOT_SERVICES *gBootServices = nullptr;

namespace {

constexpr const CHAR16 *kListName = u"SETVARS.BIN";
// A db of a few certificates is a few KiB; the list is made by the tests, never larger than this.
constexpr UINTN kListRoom = 256 * 1024;
constexpr UINTN kRecordHeader = 28;
constexpr UINTN kNameRoom = 64;

// The list from the volume this program was loaded from, into a pool buffer; its length, or 0.
UINTN ReadList(EFI_HANDLE ImageHandle, UINT8 *List) {
  EFI_LOADED_IMAGE_PROTOCOL *Loaded = nullptr;
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume = nullptr;
  EFI_FILE_PROTOCOL *Root = nullptr;
  EFI_FILE_PROTOCOL *File = nullptr;
  EFI_STATUS Status = gBootServices->OpenProtocol(ImageHandle, &EFI_LOADED_IMAGE_PROTOCOL_GUID, (VOID **)&Loaded,
                                                  ImageHandle, nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL);
  if (!EFI_ERROR(Status)) {
    Status = gBootServices->OpenProtocol(Loaded->DeviceHandle, &EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID,
                                         (VOID **)&Volume, ImageHandle, nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL);
  }
  if (!EFI_ERROR(Status)) Status = Volume->OpenVolume(Volume, &Root);
  if (!EFI_ERROR(Status)) Status = Root->Open(Root, &File, kListName, EFI_FILE_MODE_READ, 0);
  UINTN Length = kListRoom;
  if (!EFI_ERROR(Status)) {
    Status = File->Read(File, &Length, List);
    File->Close(File);
  }
  ConsolePrint(u"SetVariables: read %s [%r]\n", kListName, Status);
  return EFI_ERROR(Status) ? 0 : Length;
}

// Writes every variable of the list; true when each write succeeded and the list ended where a
// record did.
bool WriteAll(const UINT8 *List, UINTN Length) {
  bool AllWritten = true;
  UINTN At = 0;
  while (At + kRecordHeader <= Length) {
    UINTN NameBytes = LoadUnaligned32(List + At);
    UINT32 Attributes = LoadUnaligned32(List + At + 4);
    UINTN DataBytes = LoadUnaligned32(List + At + 8);
    EFI_GUID Vendor;
    __builtin_memcpy(&Vendor, List + At + 12, sizeof Vendor);
    UINTN Name = At + kRecordHeader;
    if (NameBytes < 2 || NameBytes > kNameRoom * 2 || NameBytes % 2 != 0 || Length - Name < NameBytes ||
        Length - Name - NameBytes < DataBytes) {
      break;
    }
    CHAR16 NameText[kNameRoom];
    __builtin_memcpy(NameText, List + Name, NameBytes);
    NameText[NameBytes / 2 - 1] = 0;
    EFI_STATUS Status =
        gSystemTable->RuntimeServices->SetVariable(NameText, &Vendor, Attributes, DataBytes, List + Name + NameBytes);
    ConsolePrint(u"SetVariables: %s, %u bytes [%r]\n", NameText, (UINT32)DataBytes, Status);
    AllWritten = AllWritten && !EFI_ERROR(Status);
    At = (Name + NameBytes + DataBytes + 3) & ~(UINTN)3;
  }
  return AllWritten && At >= Length;
}

}  // namespace

extern "C" EFI_STATUS EFIAPI SetVariablesEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gSystemTable = SystemTable;
  gBootServices = SystemTable->BootServices;
  UINT8 *List = nullptr;
  bool Written = false;
  if (!EFI_ERROR(gBootServices->AllocatePool(EfiBootServicesData, kListRoom, (VOID **)&List))) {
    UINTN Length = ReadList(ImageHandle, List);
    Written = Length > 0 && WriteAll(List, Length);
    gBootServices->FreePool(List);
  }
  if (Written) {
    ConsolePrint(u"SetVariables: all written\n");
  } else {
    ConsolePrint(u"SetVariables: failed\n");
  }
  gSystemTable->RuntimeServices->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
  return EFI_SUCCESS;
}
