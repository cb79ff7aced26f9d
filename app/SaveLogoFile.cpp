// Saves a file so that its name only ever holds a whole file: the logo as BIOSLogo.bmp, and the stick
// program's pictures of it and of the screen as BIOSLogo.png and Screen.png. The new file is
// written to a scratch file first; only when all of it is written does the old file step aside
// under a backup name and the scratch file take the file's name, and only then is the old file
// deleted. A step that fails undoes the ones before it, so a failed save leaves the volume as it
// found it.
//
// Some file systems refuse to rename at all (U-Boot's answers Access Denied to any change of name).
// There the save falls back on what needs no rename: with the new file whole under the scratch
// name, the old file is deleted and the new one written afresh under its own name. Should that write
// fail, the scratch file is kept, so the volume still holds the new file whole, and the report
// says where.
//
// Nothing cut off is ever left under the file's name unsaid: a failed write under that name is
// deleted, and should the firmware not delete it, emptied and deleted once more; what still stays
// is named in the report. Close is not checked: the specification gives it no failure, and every
// file written is flushed, and its flush checked, before it is closed.
#include "app/App.h"
#include "base/BoundedLength.h"
#include "firmware/Guids.h"
#include "firmware/SimpleFileSystem.h"
#include "print/Print.h"

namespace {

constexpr SavedFileNames kLogoNames = {u"BIOSLogo.bmp", u"BIOSLogo.new", u"BIOSLogo.old", "logo"};
constexpr UINT64 kCreateReadWrite = EFI_FILE_MODE_CREATE | EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE;
constexpr UINT64 kReadWrite = EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE;

// A stem, a digit and the terminator.
constexpr UINTN kNameCharacters = kSavedNameRoom;
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

// An open file's information, in Bytes; only files, never a directory that happens to have one
// of the save's names.
EFI_STATUS GetFileInfo(EFI_FILE_PROTOCOL *File, UINT8 (&Bytes)[kFileInfoBytes]) {
  UINTN InfoSize = sizeof Bytes;
  EFI_STATUS Status = File->GetInfo(File, &EFI_FILE_INFO_ID, &InfoSize, Bytes);
  if (EFI_ERROR(Status)) return Status;
  return (((EFI_FILE_INFO *)Bytes)->Attribute & EFI_FILE_DIRECTORY) != 0 ? EFI_ACCESS_DENIED : EFI_SUCCESS;
}

// Renames an open file within its directory by setting its file information with the new name,
// and keeps the name it had, as stored, in FormerName when one is given. *Refused is set when the
// file system itself would not rename.
EFI_STATUS RenameFile(EFI_FILE_PROTOCOL *File, const CHAR16 *NewName, bool *Refused,
                      CHAR16 (*FormerName)[kNameCharacters] = nullptr) {
  *Refused = false;
  alignas(8) UINT8 InfoBytes[kFileInfoBytes];
  EFI_STATUS Status = GetFileInfo(File, InfoBytes);
  if (EFI_ERROR(Status)) return Status;
  EFI_FILE_INFO *Info = (EFI_FILE_INFO *)InfoBytes;
  if (FormerName != nullptr) {
    UINTN FormerLength = (UINTN)WideBoundedLength(Info->FileName, kNameCharacters);
    if (FormerLength == kNameCharacters) return EFI_BAD_BUFFER_SIZE;
    CopyName(*FormerName, Info->FileName, FormerLength);
  }
  UINTN Length = (UINTN)WideBoundedLength(NewName, kNameCharacters);
  CopyName(Info->FileName, NewName, Length);
  Info->Size = offsetof(EFI_FILE_INFO, FileName) + (Length + 1) * sizeof(CHAR16);
  Status = File->SetInfo(File, &EFI_FILE_INFO_ID, (UINTN)Info->Size, Info);
  *Refused = Status == EFI_ACCESS_DENIED || Status == EFI_UNSUPPORTED;
  return Status;
}

// Cuts an open file to no bytes at all.
EFI_STATUS EmptyFile(EFI_FILE_PROTOCOL *File) {
  alignas(8) UINT8 InfoBytes[kFileInfoBytes];
  EFI_STATUS Status = GetFileInfo(File, InfoBytes);
  if (EFI_ERROR(Status)) return Status;
  EFI_FILE_INFO *Info = (EFI_FILE_INFO *)InfoBytes;
  Info->FileSize = 0;
  return File->SetInfo(File, &EFI_FILE_INFO_ID, (UINTN)Info->Size, Info);
}

// Deletes a file whose write under its own name failed, which holds the start of it. Delete closes
// the handle even when it leaves the file, so the file is opened again by its name, emptied and
// deleted once more. Whatever still stays is named. Returns true when a file is left under the name.
bool DiscardCutOffFile(EFI_FILE_PROTOCOL *Root, EFI_FILE_PROTOCOL *File, const CHAR16 *Name) {
  EFI_STATUS Status = File->Delete(File);
  if (Status == EFI_SUCCESS) return false;
  EFI_FILE_PROTOCOL *Again = nullptr;
  EFI_STATUS Opened = Root->Open(Root, &Again, Name, kReadWrite, 0);
  if (Opened == EFI_NOT_FOUND) return false;
  bool Emptied = false;
  if (!EFI_ERROR(Opened)) {
    Emptied = !EFI_ERROR(EmptyFile(Again));
    Status = Again->Delete(Again);
    if (Status == EFI_SUCCESS) return false;
  }
  ConsolePrint(u"Error Delete  [%r] '%s' is left %a\n", Status, Name, Emptied ? "empty" : "cut off");
  return true;
}

// Deletes a scratch file the save no longer needs; one that will not go is named.
void DiscardScratch(EFI_FILE_PROTOCOL *Scratch, const CHAR16 *Name) {
  EFI_STATUS Status = Scratch->Delete(Scratch);
  if (Status != EFI_SUCCESS) ConsolePrint(u"Error Delete  [%r] '%s' is left\n", Status, Name);
}

// Writes all Size bytes and flushes them. A write that reports success for fewer bytes has
// failed all the same.
EFI_STATUS WriteWhole(EFI_FILE_PROTOCOL *File, UINT64 Address, UINT64 Size) {
  UINTN Written = (UINTN)Size;
  EFI_STATUS Status = File->Write(File, &Written, (const VOID *)(UINTN)Address);
  if (EFI_ERROR(Status)) return Status;
  if (Written != Size) return EFI_DEVICE_ERROR;
  return File->Flush(File);
}

// The save's open files: the scratch file holding the new file whole, and the older one, if any.
struct Save {
  const SavedFileNames &Names;
  EFI_FILE_PROTOCOL *Root;
  EFI_FILE_PROTOCOL *Scratch;
  CHAR16 ScratchName[kNameCharacters];
  EFI_FILE_PROTOCOL *Old;  // null when there is none
  CHAR16 OldName[kNameCharacters];
  CHAR16 BackupName[kNameCharacters];
  SaveOutcome Outcome;
};

// Writes the new file afresh under its own name, which no file holds; a write that fails is
// deleted again, and *CutOffLeft set where it would not go.
EFI_STATUS WriteAfresh(Save &S, UINT64 Address, UINT64 Size, bool *CutOffLeft) {
  *CutOffLeft = false;
  EFI_FILE_PROTOCOL *File = nullptr;
  EFI_STATUS Status = S.Root->Open(S.Root, &File, S.Names.Name, kCreateReadWrite, 0);
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"Error Open NULL  [%r]\n", Status);
    return Status;
  }
  Status = WriteWhole(File, Address, Size);
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"Error Write  [%r]\n", Status);
    *CutOffLeft = DiscardCutOffFile(S.Root, File, S.Names.Name);
    return Status;
  }
  File->Close(File);
  return EFI_SUCCESS;
}

// The rename path: the old file steps aside, the scratch file takes the file's name, the old one is
// deleted. Closes or deletes every file. *Refused is set, with nothing changed and both files still
// open, when the file system will not rename.
EFI_STATUS ReplaceByRenames(Save &S, UINT64 Address, UINT64 Size, bool *Refused) {
  EFI_STATUS Status = EFI_SUCCESS;
  bool Aside = false;  // the older file has stepped aside under its backup name
  if (S.Old != nullptr) {
    Status = FindUnusedName(S.Root, S.Names.BackupStem, S.BackupName);
    if (!EFI_ERROR(Status)) Status = RenameFile(S.Old, S.BackupName, Refused, &S.OldName);
    Aside = !EFI_ERROR(Status);
  }
  if (!EFI_ERROR(Status)) Status = RenameFile(S.Scratch, S.Names.Name, Refused);
  if (EFI_ERROR(Status)) {
    bool RefusedBack = false;
    EFI_STATUS Back = Aside ? RenameFile(S.Old, S.OldName, &RefusedBack) : EFI_SUCCESS;
    if (*Refused) return Status;
    ConsolePrint(u"Error Rename  [%r]\n", Status);
    bool CutOffLeft = false;
    if (EFI_ERROR(Back)) {
      // The older file will not take its name back, and no file has the name now: the new one,
      // whole in the scratch file, is written under it afresh, and the older one then goes.
      if (!EFI_ERROR(WriteAfresh(S, Address, Size, &CutOffLeft))) {
        EFI_STATUS Deleted = S.Old->Delete(S.Old);
        if (Deleted != EFI_SUCCESS) ConsolePrint(u"Error Delete  [%r]\n", Deleted);
        DiscardScratch(S.Scratch, S.ScratchName);
        return EFI_SUCCESS;
      }
      ConsolePrint(u"Error Rename  [%r] the older %a is left as '%s'\n", Back, S.Names.What, S.BackupName);
      S.Outcome.OlderGone = true;
    }
    if (S.Old != nullptr) S.Old->Close(S.Old);
    if (CutOffLeft) {
      ConsolePrint(u"The new %a is kept as '%s'\n", S.Names.What, S.ScratchName);
      S.Outcome.KeptAside = true;
      S.Scratch->Close(S.Scratch);
    } else {
      DiscardScratch(S.Scratch, S.ScratchName);
    }
    return Status;
  }
  S.Scratch->Close(S.Scratch);

  // The new file is in place. Should the old one refuse to go, it stays under its backup name and
  // the save still counts: the file's name holds what it should.
  if (S.Old != nullptr) {
    EFI_STATUS Deleted = S.Old->Delete(S.Old);
    if (Deleted != EFI_SUCCESS) ConsolePrint(u"Error Delete  [%r]\n", Deleted);
  }
  return EFI_SUCCESS;
}

// The path that needs no rename: the old file is deleted and the new one written afresh under its
// own name. A write that fails deletes what it wrote; the scratch file then stays when the old
// file is already gone or what was written would not go, so a whole file remains, and is deleted
// otherwise. Closes every file.
EFI_STATUS ReplaceInPlace(Save &S, UINT64 Address, UINT64 Size) {
  if (S.Old != nullptr) {
    EFI_STATUS Deleted = S.Old->Delete(S.Old);
    if (Deleted != EFI_SUCCESS) {
      ConsolePrint(u"Error Delete  [%r]\n", Deleted);
      DiscardScratch(S.Scratch, S.ScratchName);
      return EFI_ERROR(Deleted) ? Deleted : EFI_ACCESS_DENIED;
    }
  }
  S.Outcome.OlderGone = S.Old != nullptr;
  bool CutOffLeft = false;
  EFI_STATUS Status = WriteAfresh(S, Address, Size, &CutOffLeft);
  if (EFI_ERROR(Status) && (S.Old != nullptr || CutOffLeft)) {
    ConsolePrint(u"The new %a is kept as '%s'\n", S.Names.What, S.ScratchName);
    S.Outcome.KeptAside = true;
    S.Scratch->Close(S.Scratch);
  } else {
    DiscardScratch(S.Scratch, S.ScratchName);
  }
  return Status;
}

EFI_STATUS Replace(EFI_FILE_PROTOCOL *Root, const SavedFileNames &Names, UINT64 Address, UINT64 Size,
                   SaveOutcome *Outcome) {
  Save S{Names, Root, nullptr, {}, nullptr, {}, {}, {}};
  EFI_STATUS Status = FindUnusedName(Root, Names.ScratchStem, S.ScratchName);
  if (!EFI_ERROR(Status)) Status = Root->Open(Root, &S.Scratch, S.ScratchName, kCreateReadWrite, 0);
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"Error Open NULL  [%r]\n", Status);
    return Status;
  }

  Status = WriteWhole(S.Scratch, Address, Size);
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"Error Write  [%r]\n", Status);
    DiscardScratch(S.Scratch, S.ScratchName);
    return Status;
  }

  Status = Root->Open(Root, &S.Old, Names.Name, kReadWrite, 0);
  if (Status == EFI_NOT_FOUND) {
    S.Old = nullptr;
  } else if (EFI_ERROR(Status)) {
    ConsolePrint(u"Error Open NULL  [%r]\n", Status);
    DiscardScratch(S.Scratch, S.ScratchName);
    return Status;
  }

  bool Refused = false;
  Status = ReplaceByRenames(S, Address, Size, &Refused);
  if (Refused) Status = ReplaceInPlace(S, Address, Size);
  *Outcome = S.Outcome;
  return Status;
}

}  // namespace

EFI_STATUS SaveLogoFile(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *FileSystem, UINT64 ImageAddress, UINT64 Size,
                        SaveOutcome *Outcome) {
  return SaveWholeFile(FileSystem, kLogoNames, ImageAddress, Size, Outcome);
}

EFI_STATUS SaveWholeFile(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *FileSystem, const SavedFileNames &Names, UINT64 Address,
                         UINT64 Size, SaveOutcome *Outcome) {
  *Outcome = SaveOutcome{};
  EFI_STATUS Status = EFI_SUCCESS;
  if (FileSystem == nullptr) {
    Status = gBootServices->LocateProtocol(&EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID, nullptr, (VOID **)&FileSystem);
  }
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

  Status = Replace(Root, Names, Address, Size, Outcome);
  Root->Close(Root);
  return Status;
}
