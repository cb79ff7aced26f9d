// A file-system volume over a folder of the running system, for the report's save: the UEFI file
// protocol's calls the save makes, each done by its POSIX counterpart, with the UEFI protocol's
// meaning where the two differ (a rename never replaces a file; a file opened to create is not
// cut short). The failure the folder last gave is kept, so a person can be told it in the
// system's own words.
#pragma once

#include <string>

#include "firmware/SimpleFileSystem.h"

class FolderVolume {
 public:
  // The folder by its path; nothing is opened before the volume is.
  explicit FolderVolume(std::string Folder);
  ~FolderVolume();
  FolderVolume(const FolderVolume &) = delete;
  FolderVolume &operator=(const FolderVolume &) = delete;

  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Protocol() { return &Volume_.Protocol; }
  const std::string &Folder() const { return Folder_; }

  // The errno of the last call that failed, 0 when none has.
  int LastError = 0;
  int FolderFd = -1;

  struct Volume {
    EFI_SIMPLE_FILE_SYSTEM_PROTOCOL Protocol;  // first, so the protocol pointer is the volume's address
    FolderVolume *Owner;
  };

 private:
  std::string Folder_;
  Volume Volume_{};
};
