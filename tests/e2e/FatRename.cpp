// A test-only EFI program that asks the firmware's FAT driver what Quillon's save relies on, and
// prints each answer: a file renamed through SetInfo takes the new name and keeps its bytes, its
// handle stays usable afterwards (to rename it again or delete it), a rename onto a name another
// file has is refused and leaves both files alone, a file's size set to 0 through SetInfo empties
// it, and opening a name no file has says Not Found. It leaves nothing on the volume.
#include "firmware/Guids.h"
#include "firmware/SimpleFileSystem.h"
#include "firmware/SystemTable.h"
#include "print/Print.h"

constinit EFI_SYSTEM_TABLE *gSystemTable = nullptr;
constinit EFI_BOOT_SERVICES *gBootServices = nullptr;

namespace {

constexpr UINT64 kCreateReadWrite = EFI_FILE_MODE_CREATE | EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE;

EFI_FILE_PROTOCOL *Create(EFI_FILE_PROTOCOL *Root, const CHAR16 *Name, const char *Text, UINTN Length) {
  EFI_FILE_PROTOCOL *File = nullptr;
  EFI_STATUS Status = Root->Open(Root, &File, Name, kCreateReadWrite, 0);
  if (!EFI_ERROR(Status)) Status = File->Write(File, &Length, Text);
  ConsolePrint(u"FatRename: create %s [%r]\n", Name, Status);
  return EFI_ERROR(Status) ? nullptr : File;
}

EFI_STATUS Rename(EFI_FILE_PROTOCOL *File, const CHAR16 *NewName) {
  alignas(8) UINT8 InfoBytes[256];
  UINTN InfoSize = sizeof InfoBytes;
  EFI_STATUS Status = File->GetInfo(File, &EFI_FILE_INFO_ID, &InfoSize, InfoBytes);
  if (EFI_ERROR(Status)) return Status;
  EFI_FILE_INFO *Info = (EFI_FILE_INFO *)InfoBytes;
  UINTN Length = 0;
  for (; NewName[Length] != 0; Length++) Info->FileName[Length] = NewName[Length];
  Info->FileName[Length] = 0;
  Info->Size = offsetof(EFI_FILE_INFO, FileName) + (Length + 1) * sizeof(CHAR16);
  return File->SetInfo(File, &EFI_FILE_INFO_ID, (UINTN)Info->Size, Info);
}

EFI_STATUS Empty(EFI_FILE_PROTOCOL *File) {
  alignas(8) UINT8 InfoBytes[256];
  UINTN InfoSize = sizeof InfoBytes;
  EFI_STATUS Status = File->GetInfo(File, &EFI_FILE_INFO_ID, &InfoSize, InfoBytes);
  if (EFI_ERROR(Status)) return Status;
  EFI_FILE_INFO *Info = (EFI_FILE_INFO *)InfoBytes;
  Info->FileSize = 0;
  return File->SetInfo(File, &EFI_FILE_INFO_ID, (UINTN)Info->Size, Info);
}

// Prints the file's bytes as text, or the status that kept them from being read.
void ShowFile(EFI_FILE_PROTOCOL *Root, const CHAR16 *Name) {
  EFI_FILE_PROTOCOL *File = nullptr;
  EFI_STATUS Status = Root->Open(Root, &File, Name, EFI_FILE_MODE_READ, 0);
  char Text[16] = {};
  UINTN Length = sizeof Text - 1;
  if (!EFI_ERROR(Status)) {
    Status = File->Read(File, &Length, Text);
    File->Close(File);
  }
  ConsolePrint(u"FatRename: %s holds '%a' [%r]\n", Name, Text, Status);
}

}  // namespace

extern "C" EFI_STATUS EFIAPI FatRenameEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  (void)ImageHandle;
  gSystemTable = SystemTable;
  gBootServices = SystemTable->BootServices;
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *FileSystem = nullptr;
  EFI_FILE_PROTOCOL *Root = nullptr;
  EFI_STATUS Status =
      gBootServices->LocateProtocol(&EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID, nullptr, (VOID **)&FileSystem);
  if (!EFI_ERROR(Status)) Status = FileSystem->OpenVolume(FileSystem, &Root);
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"FatRename: no volume [%r]\n", Status);
    return Status;
  }

  EFI_FILE_PROTOCOL *First = Create(Root, u"Rename-A.bin", "first", 5);
  EFI_FILE_PROTOCOL *Second = Create(Root, u"Rename-B.bin", "second", 6);
  if (First == nullptr || Second == nullptr) return EFI_DEVICE_ERROR;

  ConsolePrint(u"FatRename: rename Rename-A.bin to Rename-C.bin [%r]\n", Rename(First, u"Rename-C.bin"));
  ShowFile(Root, u"Rename-A.bin");
  ShowFile(Root, u"Rename-C.bin");
  ConsolePrint(u"FatRename: rename Rename-C.bin to Rename-B.bin [%r]\n", Rename(First, u"Rename-B.bin"));
  ShowFile(Root, u"Rename-B.bin");
  ShowFile(Root, u"Rename-C.bin");
  ConsolePrint(u"FatRename: rename Rename-C.bin back to Rename-A.bin [%r]\n", Rename(First, u"Rename-A.bin"));
  ShowFile(Root, u"Rename-A.bin");
  ConsolePrint(u"FatRename: empty Rename-B.bin [%r]\n", Empty(Second));
  ShowFile(Root, u"Rename-B.bin");
  ConsolePrint(u"FatRename: delete Rename-A.bin [%r]\n", First->Delete(First));
  ConsolePrint(u"FatRename: delete Rename-B.bin [%r]\n", Second->Delete(Second));
  ShowFile(Root, u"Rename-A.bin");
  Root->Close(Root);
  return EFI_SUCCESS;
}
