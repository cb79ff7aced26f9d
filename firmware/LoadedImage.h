// EFI_LOADED_IMAGE_PROTOCOL: what the firmware knows of a running image, above all the device it
// was loaded from. Only the leading members are declared; nothing past them is read.
#pragma once

#include "firmware/SystemTable.h"
#include "firmware/Uefi.h"

constexpr EFI_GUID EFI_LOADED_IMAGE_PROTOCOL_GUID = {
    0x5B1B31A1, 0x9562, 0x11D2, {0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

struct EFI_LOADED_IMAGE_PROTOCOL {
  UINT32 Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE *SystemTable;
  EFI_HANDLE DeviceHandle;
  void *FilePath;
};
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, DeviceHandle) == EfiLayout(24, 12));
