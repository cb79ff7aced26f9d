// A simulated simple-file-system volume over in-memory files. The volume can be read-only or short
// of free space; its calls fail through SimFirmware::FailCall; it counts the handles it gave out.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "firmware/SimpleFileSystem.h"
#include "sim/SimFirmware.h"

class SimFileSystem {
 public:
  // Registers the volume with the firmware, so LocateProtocol finds it.
  explicit SimFileSystem(SimFirmware &Firmware, bool Register = true);
  ~SimFileSystem();
  SimFileSystem(const SimFileSystem &) = delete;
  SimFileSystem &operator=(const SimFileSystem &) = delete;

  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Protocol() { return &Volume_.Protocol; }

  void SetReadOnly(bool ReadOnly) { ReadOnly_ = ReadOnly; }
  // Bytes all files together may hold; a write past it fails as on a full volume.
  void SetCapacity(uint64_t Bytes) { Capacity_ = Bytes; }
  // Whether SetInfo may change a file's name; U-Boot's file system refuses it with Access Denied.
  void SetRenames(bool Renames) { Renames_ = Renames; }

  // Files by name as stored; names compare without regard to case, as on FAT.
  std::map<std::u16string, std::vector<uint8_t>> Files;
  const std::vector<uint8_t> *Find(const std::u16string &Name) const;

  size_t OpenHandles() const { return Handles_.size(); }
  size_t HandlesGiven() const { return HandlesGiven_; }

  struct Handle {
    EFI_FILE_PROTOCOL Protocol;  // first, so the protocol pointer is the handle's address
    SimFileSystem *Owner;
    bool IsRoot;
    bool Writable;
    std::u16string Name;
    uint64_t Position;
  };

  // Used by the simulated calls.
  Handle *NewHandle(bool IsRoot, bool Writable, const std::u16string &Name);
  void CloseHandle(Handle *File);
  std::vector<uint8_t> *Lookup(const std::u16string &Name, std::u16string *StoredName = nullptr);
  uint64_t UsedBytes() const;

  SimFirmware &Firmware;
  bool ReadOnly_ = false;
  bool Renames_ = true;
  uint64_t Capacity_ = UINT64_MAX;

  struct Volume {
    EFI_SIMPLE_FILE_SYSTEM_PROTOCOL Protocol;  // first, so the protocol pointer is the volume's address
    SimFileSystem *Owner;
  };

 private:
  Volume Volume_{};
  std::list<Handle> Handles_;
  size_t HandlesGiven_ = 0;
};
