#include "app/App.h"
#include "firmware/Guids.h"
#include "firmware/SimpleFileSystem.h"
#include "print/Print.h"

namespace {

constexpr const CHAR16 *kLogoFileName = u"BIOSLogo.bmp";
constexpr UINT64 kCreateReadWrite = EFI_FILE_MODE_CREATE | EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE;

// Room for EFI_FILE_INFO with the logo's name, which a FAT volume may store in another case but
// never at another length.
constexpr UINTN kFileInfoBytes = 256;

// An existing file is opened, not recreated: cut it to nothing so that a shorter logo leaves no
// stale bytes of an older, longer one behind it.
EFI_STATUS TruncateFile(EFI_FILE_PROTOCOL *File) {
  alignas(8) UINT8 InfoBytes[kFileInfoBytes];
  UINTN InfoSize = sizeof InfoBytes;
  EFI_STATUS Status = File->GetInfo(File, &EFI_FILE_INFO_ID, &InfoSize, InfoBytes);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  EFI_FILE_INFO *Info = (EFI_FILE_INFO *)InfoBytes;
  if (Info->FileSize == 0) {
    return EFI_SUCCESS;
  }
  Info->FileSize = 0;
  return File->SetInfo(File, &EFI_FILE_INFO_ID, InfoSize, Info);
}

EFI_STATUS WriteLogo(EFI_FILE_PROTOCOL *Root, UINT64 ImageAddress, UINT64 Size) {
  EFI_FILE_PROTOCOL *File = nullptr;
  EFI_STATUS Status = Root->Open(Root, &File, kLogoFileName, kCreateReadWrite, 0);
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"Error Open NULL  [%r]\n", Status);
    return Status;
  }

  Status = TruncateFile(File);
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"Error Truncate  [%r]\n", Status);
  } else {
    UINTN Written = Size;
    Status = File->Write(File, &Written, (const VOID *)(UINTN)ImageAddress);
    if (EFI_ERROR(Status)) {
      ConsolePrint(u"Error Write  [%r]\n", Status);
    }
  }
  File->Close(File);
  return Status;
}

}  // namespace

EFI_STATUS SaveLogoFile(UINT64 ImageAddress, UINT64 Size) {
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *FileSystem = nullptr;
  EFI_STATUS Status =
      gBootServices->LocateProtocol(&EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID, nullptr, (VOID **)&FileSystem);
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"Cannot find EFI_SIMPLE_FILE_SYSTEM_PROTOCOL \r\n");
    return Status;
  }

  EFI_FILE_PROTOCOL *Root = nullptr;
  Status = FileSystem->OpenVolume(FileSystem, &Root);
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"OpenVolume error \r\n");
    return Status;
  }

  Status = WriteLogo(Root, ImageAddress, Size);
  Root->Close(Root);
  return Status;
}
