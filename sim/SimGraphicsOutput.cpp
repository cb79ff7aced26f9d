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

EFI_STATUS EFIAPI SimBlt(EFI_GRAPHICS_OUTPUT_PROTOCOL *This, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer,
                          EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation, UINTN SourceX, UINTN SourceY, UINTN DestinationX,
                          UINTN DestinationY, UINTN Width, UINTN Height, UINTN Delta) {
  SimFirmware &Firmware = SimFirmware::Current();
  EFI_STATUS Status;
  if (Firmware.ShouldFail(SimCall::Blt, &Status)) return Status;
  SimGraphicsOutput &Owner = *reinterpret_cast<SimGraphicsOutput::Output *>(This)->Owner;
  // Only reading back is simulated.
  if (Operation != EfiBltVideoToBltBuffer || Buffer == nullptr) return EFI_UNSUPPORTED;
  if (SourceX + Width > Owner.Width() || SourceY + Height > Owner.Height()) return EFI_INVALID_PARAMETER;
  if (Delta == 0) Delta = Width * sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL);
  for (UINTN Row = 0; Row < Height; Row++) {
    auto *To = (EFI_GRAPHICS_OUTPUT_BLT_PIXEL *)((UINT8 *)Buffer + (DestinationY + Row) * Delta) + DestinationX;
    for (UINTN Column = 0; Column < Width; Column++) {
      UINT32 Pixel = Owner.At((UINT32)(SourceX + Column), (UINT32)(SourceY + Row));
      To[Column] = {(UINT8)Pixel, (UINT8)(Pixel >> 8), (UINT8)(Pixel >> 16), 0};
    }
  }
  return EFI_SUCCESS;
}

}  // namespace

SimGraphicsOutput::SimGraphicsOutput(SimFirmware &Firmware, std::vector<Mode> Offered, UINT32 Current)
    : Modes(std::move(Offered)) {
  Output_.Protocol.QueryMode = SimQueryMode;
  Output_.Protocol.Blt = SimBlt;
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
  Info.PixelInformation = M.Masks;
  return Info;
}

void SimGraphicsOutput::Draw(const std::vector<UINT8> &Bitmap, UINT32 X, UINT32 Y, UINT32 Quarters) {
  auto Field = [&](size_t Offset) {
    UINT32 Value = 0;
    for (size_t Byte = 0; Byte < 4; Byte++) Value |= (UINT32)Bitmap[Offset + Byte] << (8 * Byte);
    return Value;
  };
  UINT32 Width = Field(18);
  INT32 Height = (INT32)Field(22);
  UINT32 Rows = Height < 0 ? (UINT32)-Height : (UINT32)Height;
  UINT32 Bytes = (Bitmap[28] | Bitmap[29] << 8) / 8;
  UINT32 RowBytes = (Width * Bytes + 3) & ~3u;
  for (UINT32 Row = 0; Row < Rows; Row++) {
    for (UINT32 Column = 0; Column < Width; Column++) {
      const UINT8 *Pixel = &Bitmap[Field(10) + (Height < 0 ? Row : Rows - 1 - Row) * RowBytes + Column * Bytes];
      UINT32 ToX = Column, ToY = Row;
      if (Quarters == 1) ToX = Rows - 1 - Row, ToY = Column;
      if (Quarters == 2) ToX = Width - 1 - Column, ToY = Rows - 1 - Row;
      if (Quarters == 3) ToX = Row, ToY = Width - 1 - Column;
      if (X + ToX < this->Width() && Y + ToY < this->Height()) {
        At(X + ToX, Y + ToY) = (UINT32)Pixel[2] << 16 | (UINT32)Pixel[1] << 8 | Pixel[0];
      }
    }
  }
}
