// Saves a logo so that BIOSLogo.bmp only ever holds a whole logo: the new one is written to a
// scratch file first; only when all of it is written does the old file step aside under a backup
// name and the scratch file take the logo's name, and only then is the old file deleted. A step
// that fails undoes the ones before it, so a failed save leaves the volume as it found it.
#include "app/App.h"
#include "base/BoundedLength.h"
#include "firmware/Guids.h"
#include "firmware/SimpleFileSystem.h"
#include "print/Print.h"

namespace {

constexpr const CHAR16 *kLogoFileName = u"BIOSLogo.bmp";
constexpr const CHAR16 *kScratchStem = u"BIOSLogo.new";
constexpr const CHAR16 *kBackupStem = u"BIOSLogo.old";
constexpr UINT64 kCreateReadWrite = EFI_FILE_MODE_CREATE | EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE;
constexpr UINT64 kReadWrite = EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE;

// A stem, a digit and the terminator.
constexpr UINTN kNameCharacters = 16;
constexpr UINT32 kNameTries = 10;

// Room for EFI_FILE_INFO with any of the names above.
constexpr UINTN kFileInfoBytes = 256;

// Copies a name of Length characters and terminates it.
void CopyName(CHAR16 *To, const CHAR16 *From, UINTN Length) {
  for (UINTN Index = 0; Index < Length; Index++) To[Index] = From[Index];
  To[Length] = 0;
}

// A name in the root that no file has: the stem itself, else the stem and a digit. Files that
// happen to have these names are never touched.
EFI_STATUS FindUnusedName(EFI_FILE_PROTOCOL *Root, const CHAR16 *Stem, CHAR16 (&Name)[kNameCharacters]) {
  UINTN Length = (UINTN)WideBoundedLength(Stem, kNameCharacters - 2);
  CopyName(Name, Stem, Length);
  for (UINT32 Try = 0; Try < kNameTries; Try++) {
    if (Try != 0) {
      const CHAR16 Digit[] = {(CHAR16)(u'0' + Try), 0};
      CopyName(Name + Length, Digit, 1);
    }
    EFI_FILE_PROTOCOL *Existing = nullptr;
    EFI_STATUS Status = Root->Open(Root, &Existing, Name, EFI_FILE_MODE_READ, 0);
    if (Status == EFI_NOT_FOUND) return EFI_SUCCESS;
    if (EFI_ERROR(Status)) return Status;
    Existing->Close(Existing);
  }
  return EFI_ACCESS_DENIED;
}

// Renames an open file within its directory by setting its file information with the new name,
// and keeps the name it had, as stored, in FormerName when one is given. Only files are renamed,
// never a directory that happens to have the logo's name.
EFI_STATUS RenameFile(EFI_FILE_PROTOCOL *File, const CHAR16 *NewName,
                      CHAR16 (*FormerName)[kNameCharacters] = nullptr) {
  alignas(8) UINT8 InfoBytes[kFileInfoBytes];
  UINTN InfoSize = sizeof InfoBytes;
  EFI_STATUS Status = File->GetInfo(File, &EFI_FILE_INFO_ID, &InfoSize, InfoBytes);
  if (EFI_ERROR(Status)) return Status;
  EFI_FILE_INFO *Info = (EFI_FILE_INFO *)InfoBytes;
  if ((Info->Attribute & EFI_FILE_DIRECTORY) != 0) return EFI_ACCESS_DENIED;
  if (FormerName != nullptr) {
    UINTN FormerLength = (UINTN)WideBoundedLength(Info->FileName, kNameCharacters);
    if (FormerLength == kNameCharacters) return EFI_BAD_BUFFER_SIZE;
    CopyName(*FormerName, Info->FileName, FormerLength);
  }
  UINTN Length = (UINTN)WideBoundedLength(NewName, kNameCharacters);
  CopyName(Info->FileName, NewName, Length);
  Info->Size = offsetof(EFI_FILE_INFO, FileName) + (Length + 1) * sizeof(CHAR16);
  return File->SetInfo(File, &EFI_FILE_INFO_ID, (UINTN)Info->Size, Info);
}

// Writes all Size bytes and flushes them. A write that reports success for fewer bytes has
// failed all the same.
EFI_STATUS WriteWhole(EFI_FILE_PROTOCOL *File, UINT64 ImageAddress, UINT64 Size) {
  UINTN Written = (UINTN)Size;
  EFI_STATUS Status = File->Write(File, &Written, (const VOID *)(UINTN)ImageAddress);
  if (EFI_ERROR(Status)) return Status;
  if (Written != Size) return EFI_DEVICE_ERROR;
  return File->Flush(File);
}

// Opens an older BIOSLogo.bmp, when there is one, and renames it to a backup name; *Old is left
// null when there is none. Keeps the name it had, as stored, in OldName. Prints its failures.
EFI_STATUS StepAsideOlderLogo(EFI_FILE_PROTOCOL *Root, EFI_FILE_PROTOCOL **Old, CHAR16 (&OldName)[kNameCharacters]) {
  *Old = nullptr;
  EFI_STATUS Status = Root->Open(Root, Old, kLogoFileName, kReadWrite, 0);
  if (Status == EFI_NOT_FOUND) {
    *Old = nullptr;
    return EFI_SUCCESS;
  }
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"Error Open NULL  [%r]\n", Status);
    return Status;
  }
  CHAR16 BackupName[kNameCharacters];
  Status = FindUnusedName(Root, kBackupStem, BackupName);
  if (!EFI_ERROR(Status)) Status = RenameFile(*Old, BackupName, &OldName);
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"Error Rename  [%r]\n", Status);
    (*Old)->Close(*Old);
  }
  return Status;
}

EFI_STATUS ReplaceLogo(EFI_FILE_PROTOCOL *Root, UINT64 ImageAddress, UINT64 Size) {
  CHAR16 ScratchName[kNameCharacters];
  EFI_FILE_PROTOCOL *Scratch = nullptr;
  EFI_STATUS Status = FindUnusedName(Root, kScratchStem, ScratchName);
  if (!EFI_ERROR(Status)) Status = Root->Open(Root, &Scratch, ScratchName, kCreateReadWrite, 0);
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"Error Open NULL  [%r]\n", Status);
    return Status;
  }

  Status = WriteWhole(Scratch, ImageAddress, Size);
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"Error Write  [%r]\n", Status);
    Scratch->Delete(Scratch);
    return Status;
  }

  EFI_FILE_PROTOCOL *Old = nullptr;
  CHAR16 OldName[kNameCharacters];
  Status = StepAsideOlderLogo(Root, &Old, OldName);
  if (EFI_ERROR(Status)) {
    Scratch->Delete(Scratch);
    return Status;
  }

  Status = RenameFile(Scratch, kLogoFileName);
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"Error Rename  [%r]\n", Status);
    if (Old != nullptr) {
      RenameFile(Old, OldName);
      Old->Close(Old);
    }
    Scratch->Delete(Scratch);
    return Status;
  }
  Scratch->Close(Scratch);

  // The new logo is in place. Should the old one refuse to go, it stays under its backup name and
  // the save still counts: BIOSLogo.bmp holds what it should.
  if (Old != nullptr) {
    EFI_STATUS Deleted = Old->Delete(Old);
    if (Deleted != EFI_SUCCESS) ConsolePrint(u"Error Delete  [%r]\n", Deleted);
  }
  return EFI_SUCCESS;
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

  Status = ReplaceLogo(Root, ImageAddress, Size);
  Root->Close(Root);
  return Status;
}
