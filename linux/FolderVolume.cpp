#include "linux/FolderVolume.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "firmware/Guids.h"

namespace {

struct File {
  EFI_FILE_PROTOCOL Protocol;  // first, so the protocol pointer is the file's address
  FolderVolume *Owner;
  int Fd;                      // the folder's own for the root
  bool IsRoot;
  std::string Name;
};

File *AsFile(EFI_FILE_PROTOCOL *This) { return reinterpret_cast<File *>(This); }

EFI_STATUS Failed(FolderVolume *Owner, int Error) {
  Owner->LastError = Error;
  switch (Error) {
    case ENOENT: return EFI_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EEXIST:
    case EISDIR:
    case ENOTDIR:
    case ELOOP: return EFI_ACCESS_DENIED;  // a link under the save's name is never followed
    case EROFS: return EFI_WRITE_PROTECTED;
    case ENOSPC:
    case EDQUOT: return EFI_VOLUME_FULL;
    case ENOMEM: return EFI_OUT_OF_RESOURCES;
    default: return EFI_DEVICE_ERROR;
  }
}

// The save's names are ASCII; anything else is refused rather than guessed at.
bool NarrowName(const CHAR16 *Wide, std::string *Name) {
  Name->clear();
  for (; *Wide != 0; Wide++) {
    if (*Wide >= 0x80 || *Wide == u'/' || *Wide == u'\\') return false;
    Name->push_back((char)*Wide);
  }
  return !Name->empty();
}

EFI_FILE_PROTOCOL *NewFile(FolderVolume *Owner, int Fd, bool IsRoot, std::string Name);

EFI_STATUS EFIAPI FileOpen(EFI_FILE_PROTOCOL *This, EFI_FILE_PROTOCOL **NewHandle, const CHAR16 *FileName,
                           UINT64 OpenMode, UINT64) {
  File *Directory = AsFile(This);
  std::string Name;
  if (!Directory->IsRoot || NewHandle == nullptr || FileName == nullptr || !NarrowName(FileName, &Name)) {
    return EFI_INVALID_PARAMETER;
  }
  int Flags = O_CLOEXEC | O_NOFOLLOW | ((OpenMode & EFI_FILE_MODE_WRITE) != 0 ? O_RDWR : O_RDONLY);
  // Opening to create opens a file that is there as it is, as the UEFI protocol does.
  if ((OpenMode & EFI_FILE_MODE_CREATE) != 0) Flags |= O_CREAT;
  int Fd = openat(Directory->Fd, Name.c_str(), Flags, 0644);
  if (Fd < 0) return Failed(Directory->Owner, errno);
  *NewHandle = NewFile(Directory->Owner, Fd, false, Name);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FileClose(EFI_FILE_PROTOCOL *This) {
  File *F = AsFile(This);
  if (!F->IsRoot) close(F->Fd);
  delete F;
  return EFI_SUCCESS;
}

// Delete closes the handle whether or not the file goes, as the UEFI protocol does.
EFI_STATUS EFIAPI FileDelete(EFI_FILE_PROTOCOL *This) {
  File *F = AsFile(This);
  bool Gone = !F->IsRoot && unlinkat(F->Owner->FolderFd, F->Name.c_str(), 0) == 0;
  if (!Gone) F->Owner->LastError = errno;
  FileClose(This);
  return Gone ? EFI_SUCCESS : EFI_WARN_DELETE_FAILURE;
}

EFI_STATUS EFIAPI FileWrite(EFI_FILE_PROTOCOL *This, UINTN *BufferSize, const VOID *Buffer) {
  File *F = AsFile(This);
  const UINT8 *From = (const UINT8 *)Buffer;
  UINTN Written = 0;
  while (Written < *BufferSize) {
    ssize_t Step = write(F->Fd, From + Written, *BufferSize - Written);
    if (Step < 0 && errno == EINTR) continue;
    if (Step <= 0) {
      *BufferSize = Written;
      return Failed(F->Owner, Step < 0 ? errno : ENOSPC);
    }
    Written += (UINTN)Step;
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FileFlush(EFI_FILE_PROTOCOL *This) {
  File *F = AsFile(This);
  return fsync(F->Fd) == 0 ? EFI_SUCCESS : Failed(F->Owner, errno);
}

EFI_STATUS EFIAPI FileGetInfo(EFI_FILE_PROTOCOL *This, const EFI_GUID *Type, UINTN *BufferSize, VOID *Buffer) {
  File *F = AsFile(This);
  if (Type == nullptr || std::memcmp(Type, &EFI_FILE_INFO_ID, sizeof *Type) != 0) return EFI_UNSUPPORTED;
  struct stat Stat;
  if (fstat(F->Fd, &Stat) != 0) return Failed(F->Owner, errno);
  UINTN Needed = offsetof(EFI_FILE_INFO, FileName) + (F->Name.size() + 1) * sizeof(CHAR16);
  if (*BufferSize < Needed) {
    *BufferSize = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  EFI_FILE_INFO *Info = (EFI_FILE_INFO *)Buffer;
  std::memset(Info, 0, Needed);
  Info->Size = Needed;
  Info->FileSize = (UINT64)Stat.st_size;
  Info->PhysicalSize = (UINT64)Stat.st_blocks * 512;
  Info->Attribute = S_ISDIR(Stat.st_mode) ? EFI_FILE_DIRECTORY : 0;
  for (size_t Index = 0; Index < F->Name.size(); Index++) Info->FileName[Index] = (CHAR16)F->Name[Index];
  *BufferSize = Needed;
  return EFI_SUCCESS;
}

// A new name renames the file, and never over another: a file of that name makes it fail, as on
// FAT. A new size cuts the file or makes it longer.
EFI_STATUS EFIAPI FileSetInfo(EFI_FILE_PROTOCOL *This, const EFI_GUID *Type, UINTN BufferSize, VOID *Buffer) {
  File *F = AsFile(This);
  if (Type == nullptr || std::memcmp(Type, &EFI_FILE_INFO_ID, sizeof *Type) != 0) return EFI_UNSUPPORTED;
  if (F->IsRoot || BufferSize < offsetof(EFI_FILE_INFO, FileName) + sizeof(CHAR16)) return EFI_INVALID_PARAMETER;
  const EFI_FILE_INFO *Info = (const EFI_FILE_INFO *)Buffer;
  std::string NewName;
  if (!NarrowName(Info->FileName, &NewName)) return EFI_INVALID_PARAMETER;
  if (NewName != F->Name) {
    int Dir = F->Owner->FolderFd;
    if (renameat2(Dir, F->Name.c_str(), Dir, NewName.c_str(), RENAME_NOREPLACE) != 0) return Failed(F->Owner, errno);
    F->Name = NewName;
  }
  struct stat Stat;
  if (fstat(F->Fd, &Stat) != 0) return Failed(F->Owner, errno);
  if ((UINT64)Stat.st_size != Info->FileSize && ftruncate(F->Fd, (off_t)Info->FileSize) != 0) {
    return Failed(F->Owner, errno);
  }
  return EFI_SUCCESS;
}

// The save never reads or seeks.
EFI_STATUS EFIAPI FileRead(EFI_FILE_PROTOCOL *, UINTN *, VOID *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI FileGetPosition(EFI_FILE_PROTOCOL *, UINT64 *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI FileSetPosition(EFI_FILE_PROTOCOL *, UINT64) { return EFI_UNSUPPORTED; }

EFI_FILE_PROTOCOL *NewFile(FolderVolume *Owner, int Fd, bool IsRoot, std::string Name) {
  File *F = new File{};
  F->Protocol.Revision = 0x00010000;
  F->Protocol.Open = FileOpen;
  F->Protocol.Close = FileClose;
  F->Protocol.Delete = FileDelete;
  F->Protocol.Read = FileRead;
  F->Protocol.Write = FileWrite;
  F->Protocol.GetPosition = FileGetPosition;
  F->Protocol.SetPosition = FileSetPosition;
  F->Protocol.GetInfo = FileGetInfo;
  F->Protocol.SetInfo = FileSetInfo;
  F->Protocol.Flush = FileFlush;
  F->Owner = Owner;
  F->Fd = Fd;
  F->IsRoot = IsRoot;
  F->Name = std::move(Name);
  return &F->Protocol;
}

EFI_STATUS EFIAPI OpenVolume(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *This, EFI_FILE_PROTOCOL **Root) {
  FolderVolume *Owner = reinterpret_cast<FolderVolume::Volume *>(This)->Owner;
  if (Owner->FolderFd < 0) {
    Owner->FolderFd = open(Owner->Folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Owner->FolderFd < 0) return Failed(Owner, errno);
  }
  *Root = NewFile(Owner, Owner->FolderFd, true, "");
  return EFI_SUCCESS;
}

}  // namespace

FolderVolume::FolderVolume(std::string Folder) : Folder_(std::move(Folder)) {
  Volume_.Protocol.Revision = 0x00010000;
  Volume_.Protocol.OpenVolume = OpenVolume;
  Volume_.Owner = this;
}

FolderVolume::~FolderVolume() {
  if (FolderFd >= 0) close(FolderFd);
}
