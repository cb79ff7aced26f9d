#include "sim/SimGraphicsOutput.h"

#include <cstring>

namespace {

EFI_STATUS EFIAPI SimQueryMode(EFI_GRAPHICS_OUTPUT_PROTOCOL *This, UINT32 ModeNumber, UINTN *SizeOfInfo,
                               EFI_GRAPHICS_OUTPUT_MODE_INFORMATION **Info) {
  SimFirmware &Firmware = SimFirmware::Current();
  EFI_STATUS Status;
  if (Firmware.ShouldFail(SimCall::QueryMode, &Status)) return Status;
  if (This == nullptr || SizeOfInfo == nullptr || Info == nullptr) return EFI_INVALID_PARAMETER;
  SimGraphicsOutput &Owner = *reinterpret_cast<SimGraphicsOutput::Output *>(This)->Owner;
  if (ModeNumber >= Owner.Modes.size()) return EFI_INVALID_PARAMETER;
  // The record comes from the pool, as firmware gives it, so a caller that does not free it
  // leaves a pool buffer behind.
  VOID *Buffer = nullptr;
  Status = Firmware.SystemTable()->BootServices->AllocatePool(EfiBootServicesData,
                                                               sizeof(EFI_GRAPHICS_OUTPUT_MODE_INFORMATION), &Buffer);
  if (EFI_ERROR(Status)) return Status;
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION Described = SimGraphicsOutput::Describe(Owner.Modes[ModeNumber]);
  std::memcpy(Buffer, &Described, sizeof Described);
  *SizeOfInfo = sizeof Described;
  *Info = (EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *)Buffer;
  return EFI_SUCCESS;
}

}  // namespace

SimGraphicsOutput::SimGraphicsOutput(SimFirmware &Firmware, std::vector<Mode> Offered, UINT32 Current)
    : Modes(std::move(Offered)) {
  Output_.Protocol.QueryMode = SimQueryMode;
  Output_.Protocol.Mode = &Mode_;
  Output_.Owner = this;
  Mode_.MaxMode = (UINT32)Modes.size();
  Mode_.Mode = Current;
  if (Current < Modes.size()) Current_ = Describe(Modes[Current]);
  Mode_.Info = &Current_;
  Mode_.SizeOfInfo = sizeof Current_;
  Firmware.RegisterProtocol(EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID, &Output_.Protocol);
}

EFI_GRAPHICS_OUTPUT_MODE_INFORMATION SimGraphicsOutput::Describe(const Mode &M) {
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION Info{};
  Info.HorizontalResolution = M.Width;
  Info.VerticalResolution = M.Height;
  Info.PixelFormat = M.Format;
  Info.PixelsPerScanLine = M.PixelsPerScanLine != 0 ? M.PixelsPerScanLine : M.Width;
  return Info;
}
