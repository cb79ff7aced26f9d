#include "sim/SimFileSystem.h"

#include <algorithm>
#include <cstring>

#include "firmware/Guids.h"

namespace {

using Handle = SimFileSystem::Handle;

Handle *AsHandle(EFI_FILE_PROTOCOL *This) { return reinterpret_cast<Handle *>(This); }

bool Fails(SimCall Call, EFI_STATUS *Status) { return SimFirmware::Current().ShouldFail(Call, Status); }

char16_t Folded(char16_t Character) {
  return (Character >= u'a' && Character <= u'z') ? (char16_t)(Character - u'a' + u'A') : Character;
}

bool SameName(const std::u16string &First, const std::u16string &Second) {
  if (First.size() != Second.size()) return false;
  for (size_t Index = 0; Index < First.size(); Index++) {
    if (Folded(First[Index]) != Folded(Second[Index])) return false;
  }
  return true;
}

EFI_STATUS EFIAPI SimFileOpen(EFI_FILE_PROTOCOL *This, EFI_FILE_PROTOCOL **NewHandle, const CHAR16 *FileName,
                              UINT64 OpenMode, UINT64 Attributes) {
  EFI_STATUS Status;
  if (Fails(SimCall::FileOpen, &Status)) return Status;
  Handle *Directory = AsHandle(This);
  SimFileSystem &Volume = *Directory->Owner;
  if (NewHandle == nullptr || FileName == nullptr || !Directory->IsRoot) return EFI_INVALID_PARAMETER;
  bool ValidMode = OpenMode == EFI_FILE_MODE_READ || OpenMode == (EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE) ||
                   OpenMode == (EFI_FILE_MODE_CREATE | EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE);
  if (!ValidMode || (Attributes & ~(EFI_FILE_READ_ONLY | 0x37)) != 0) return EFI_INVALID_PARAMETER;
  bool Writable = (OpenMode & EFI_FILE_MODE_WRITE) != 0;
  if (Writable && Volume.ReadOnly_) return EFI_WRITE_PROTECTED;

  std::u16string Name(FileName);
  std::u16string Stored;
  if (Volume.Lookup(Name, &Stored) == nullptr) {
    if ((OpenMode & EFI_FILE_MODE_CREATE) == 0) return EFI_NOT_FOUND;
    Volume.Files[Name] = {};
    Stored = Name;
  }
  *NewHandle = &Volume.NewHandle(false, Writable, Stored)->Protocol;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimFileClose(EFI_FILE_PROTOCOL *This) {
  EFI_STATUS Status;
  Fails(SimCall::FileClose, &Status);  // Close always closes; a simulated failure is ignored
  AsHandle(This)->Owner->CloseHandle(AsHandle(This));
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimFileDelete(EFI_FILE_PROTOCOL *This) {
  Handle *File = AsHandle(This);
  SimFileSystem &Volume = *File->Owner;
  EFI_STATUS Status;
  bool Failed = Fails(SimCall::FileDelete, &Status) || File->IsRoot || Volume.ReadOnly_;
  if (!Failed) {
    std::u16string Stored;
    if (Volume.Lookup(File->Name, &Stored) != nullptr) Volume.Files.erase(Stored);
  }
  Volume.CloseHandle(File);
  return Failed ? EFI_WARN_DELETE_FAILURE : EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimFileRead(EFI_FILE_PROTOCOL *This, UINTN *BufferSize, VOID *Buffer) {
  Handle *File = AsHandle(This);
  if (BufferSize == nullptr || File->IsRoot) return EFI_UNSUPPORTED;
  std::vector<uint8_t> *Bytes = File->Owner->Lookup(File->Name);
  if (Bytes == nullptr) return EFI_DEVICE_ERROR;
  uint64_t Available = File->Position < Bytes->size() ? Bytes->size() - File->Position : 0;
  if (*BufferSize > Available) *BufferSize = Available;
  if (*BufferSize != 0) std::memcpy(Buffer, Bytes->data() + File->Position, *BufferSize);
  File->Position += *BufferSize;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimFileWrite(EFI_FILE_PROTOCOL *This, UINTN *BufferSize, const VOID *Buffer) {
  EFI_STATUS Status;
  if (Fails(SimCall::FileWrite, &Status)) {
    *BufferSize = 0;
    return Status;
  }
  Handle *File = AsHandle(This);
  SimFileSystem &Volume = *File->Owner;
  if (BufferSize == nullptr || (*BufferSize != 0 && Buffer == nullptr)) return EFI_INVALID_PARAMETER;
  if (File->IsRoot) return EFI_UNSUPPORTED;
  if (!File->Writable) return EFI_ACCESS_DENIED;
  if (Volume.ReadOnly_) return EFI_WRITE_PROTECTED;
  std::vector<uint8_t> &Bytes = *Volume.Lookup(File->Name);

  // Growth beyond the capacity fails as a full volume does, after writing what fits.
  uint64_t End = File->Position + *BufferSize;
  uint64_t Growth = End > Bytes.size() ? End - Bytes.size() : 0;
  uint64_t Free = Volume.Capacity_ > Volume.UsedBytes() ? Volume.Capacity_ - Volume.UsedBytes() : 0;
  UINTN Writing = *BufferSize;
  Status = EFI_SUCCESS;
  if (Growth > Free) {
    Writing -= (UINTN)(Growth - Free);
    Status = EFI_VOLUME_FULL;
  }
  if (File->Position + Writing > Bytes.size()) Bytes.resize(File->Position + Writing);
  if (Writing != 0) std::memcpy(Bytes.data() + File->Position, Buffer, Writing);
  File->Position += Writing;
  *BufferSize = Writing;
  return Status;
}

EFI_STATUS EFIAPI SimFileGetInfo(EFI_FILE_PROTOCOL *This, const EFI_GUID *InformationType, UINTN *BufferSize,
                                 VOID *Buffer) {
  EFI_STATUS Status;
  if (Fails(SimCall::FileGetInfo, &Status)) return Status;
  Handle *File = AsHandle(This);
  if (InformationType == nullptr || BufferSize == nullptr) return EFI_INVALID_PARAMETER;
  if (!SameGuid(*InformationType, EFI_FILE_INFO_ID)) return EFI_UNSUPPORTED;
  UINTN Needed = offsetof(EFI_FILE_INFO, FileName) + (File->Name.size() + 1) * sizeof(CHAR16);
  if (*BufferSize < Needed) {
    *BufferSize = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  const std::vector<uint8_t> *Bytes = File->IsRoot ? nullptr : File->Owner->Lookup(File->Name);
  EFI_FILE_INFO *Info = (EFI_FILE_INFO *)Buffer;
  std::memset(Info, 0, Needed);
  Info->Size = Needed;
  Info->FileSize = Bytes != nullptr ? Bytes->size() : 0;
  Info->PhysicalSize = (Info->FileSize + 511) / 512 * 512;
  Info->Attribute = File->IsRoot ? EFI_FILE_DIRECTORY : 0x20;  // archive
  std::memcpy(Info->FileName, File->Name.c_str(), (File->Name.size() + 1) * sizeof(CHAR16));
  *BufferSize = Needed;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimFileSetInfo(EFI_FILE_PROTOCOL *This, const EFI_GUID *InformationType, UINTN BufferSize,
                                 VOID *Buffer) {
  EFI_STATUS Status;
  if (Fails(SimCall::FileSetInfo, &Status)) return Status;
  Handle *File = AsHandle(This);
  if (InformationType == nullptr || Buffer == nullptr) return EFI_INVALID_PARAMETER;
  if (!SameGuid(*InformationType, EFI_FILE_INFO_ID)) return EFI_UNSUPPORTED;
  const EFI_FILE_INFO *Info = (const EFI_FILE_INFO *)Buffer;
  // Firmware checks the record's own size and its name, as a FAT driver does.
  if (BufferSize < offsetof(EFI_FILE_INFO, FileName) + 2 || Info->Size > BufferSize ||
      Info->Size < offsetof(EFI_FILE_INFO, FileName) + 2)
    return EFI_BAD_BUFFER_SIZE;
  if (File->IsRoot) return EFI_ACCESS_DENIED;
  if (!File->Writable) return EFI_ACCESS_DENIED;
  SimFileSystem &Volume = *File->Owner;
  if (Volume.ReadOnly_) return EFI_WRITE_PROTECTED;

  // A new name renames the file within the root, as OVMF's FAT driver does: a leading '\' is the
  // root itself, another file by that name refuses it with Access Denied, a change of case alone
  // is taken.
  size_t NameUnits = (Info->Size - offsetof(EFI_FILE_INFO, FileName)) / sizeof(CHAR16);
  std::u16string NewName(Info->FileName, std::find(Info->FileName, Info->FileName + NameUnits, u'\0'));
  if (!NewName.empty() && NewName[0] == u'\\') NewName.erase(0, 1);
  if (NewName.empty()) return EFI_ACCESS_DENIED;
  std::u16string Stored;
  const std::vector<uint8_t> *Current = Volume.Lookup(File->Name, &Stored);
  if (Current == nullptr) return EFI_DEVICE_ERROR;  // deleted through another handle
  std::vector<uint8_t> Bytes = *Current;
  // U-Boot's file system refuses any change of name, and takes the rest of the record.
  if (!Volume.Renames_ && NewName != Stored) return EFI_ACCESS_DENIED;
  if (!SameName(NewName, File->Name) && Volume.Lookup(NewName) != nullptr) return EFI_ACCESS_DENIED;
  Volume.Files.erase(Stored);
  Bytes.resize(Info->FileSize, 0);
  Volume.Files[NewName] = std::move(Bytes);
  File->Name = NewName;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimFileFlush(EFI_FILE_PROTOCOL *This) {
  EFI_STATUS Status;
  if (Fails(SimCall::FileFlush, &Status)) return Status;
  Handle *File = AsHandle(This);
  if (File->IsRoot) return EFI_SUCCESS;
  if (!File->Writable) return EFI_ACCESS_DENIED;
  return File->Owner->ReadOnly_ ? EFI_WRITE_PROTECTED : EFI_SUCCESS;
}

}  // namespace

EFI_STATUS EFIAPI SimOpenVolume(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *This, EFI_FILE_PROTOCOL **Root);

SimFileSystem::SimFileSystem(SimFirmware &Owner, bool Register) : Firmware(Owner) {
  Volume_.Protocol.Revision = 0x00010000;
  Volume_.Protocol.OpenVolume = SimOpenVolume;
  Volume_.Owner = this;
  if (Register) Firmware.RegisterProtocol(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID, &Volume_.Protocol);
}

SimFileSystem::~SimFileSystem() = default;

const std::vector<uint8_t> *SimFileSystem::Find(const std::u16string &Name) const {
  return const_cast<SimFileSystem *>(this)->Lookup(Name);
}

std::vector<uint8_t> *SimFileSystem::Lookup(const std::u16string &Name, std::u16string *StoredName) {
  for (auto &[Stored, Bytes] : Files) {
    if (SameName(Stored, Name)) {
      if (StoredName != nullptr) *StoredName = Stored;
      return &Bytes;
    }
  }
  return nullptr;
}

uint64_t SimFileSystem::UsedBytes() const {
  uint64_t Used = 0;
  for (const auto &[Name, Bytes] : Files) Used += Bytes.size();
  return Used;
}

SimFileSystem::Handle *SimFileSystem::NewHandle(bool IsRoot, bool Writable, const std::u16string &Name) {
  Handle &File = Handles_.emplace_back();
  File.Protocol.Revision = 0x00010000;
  File.Protocol.Open = SimFileOpen;
  File.Protocol.Close = SimFileClose;
  File.Protocol.Delete = SimFileDelete;
  File.Protocol.Read = SimFileRead;
  File.Protocol.Write = SimFileWrite;
  File.Protocol.GetInfo = SimFileGetInfo;
  File.Protocol.SetInfo = SimFileSetInfo;
  File.Protocol.Flush = SimFileFlush;
  File.Owner = this;
  File.IsRoot = IsRoot;
  File.Writable = Writable;
  File.Name = Name;
  File.Position = 0;
  HandlesGiven_++;
  return &File;
}

void SimFileSystem::CloseHandle(Handle *File) {
  Handles_.remove_if([File](const Handle &Open) { return &Open == File; });
}

EFI_STATUS EFIAPI SimOpenVolume(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *This, EFI_FILE_PROTOCOL **Root) {
  EFI_STATUS Status;
  if (Fails(SimCall::OpenVolume, &Status)) return Status;
  if (This == nullptr || Root == nullptr) return EFI_INVALID_PARAMETER;
  SimFileSystem *Owner = reinterpret_cast<SimFileSystem::Volume *>(This)->Owner;
  *Root = &Owner->NewHandle(true, false, u"\\")->Protocol;
  return EFI_SUCCESS;
}
