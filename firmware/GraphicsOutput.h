// EFI_GRAPHICS_OUTPUT_PROTOCOL: the screen the firmware drew its logo on. Only QueryMode and the
// mode record are read; SetMode and Blt are plain pointers that keep the offsets right.
#pragma once

#include "firmware/Uefi.h"

constexpr EFI_GUID EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID = {
    0x9042A9DE, 0x23DC, 0x4A38, {0x96, 0xFB, 0x7A, 0xDE, 0xD0, 0x80, 0x51, 0x6A}};

enum EFI_GRAPHICS_PIXEL_FORMAT : UINT32 {
  PixelRedGreenBlueReserved8BitPerColor,
  PixelBlueGreenRedReserved8BitPerColor,
  PixelBitMask,
  PixelBltOnly,
  PixelFormatMax,
};

struct EFI_PIXEL_BITMASK {
  UINT32 RedMask;
  UINT32 GreenMask;
  UINT32 BlueMask;
  UINT32 ReservedMask;
};

struct EFI_GRAPHICS_OUTPUT_MODE_INFORMATION {
  UINT32 Version;
  UINT32 HorizontalResolution;
  UINT32 VerticalResolution;
  EFI_GRAPHICS_PIXEL_FORMAT PixelFormat;
  EFI_PIXEL_BITMASK PixelInformation;
  UINT32 PixelsPerScanLine;
};
static_assert(offsetof(EFI_GRAPHICS_OUTPUT_MODE_INFORMATION, PixelFormat) == 12);
static_assert(offsetof(EFI_GRAPHICS_OUTPUT_MODE_INFORMATION, PixelsPerScanLine) == 32);
static_assert(sizeof(EFI_GRAPHICS_OUTPUT_MODE_INFORMATION) == 36);

struct EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE {
  UINT32 MaxMode;
  UINT32 Mode;
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *Info;
  UINTN SizeOfInfo;
  EFI_PHYSICAL_ADDRESS FrameBufferBase;
  UINTN FrameBufferSize;
};
static_assert(offsetof(EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE, Info) == 8);
static_assert(offsetof(EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE, SizeOfInfo) == EfiLayout(16, 12));
static_assert(offsetof(EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE, FrameBufferBase) == EfiLayout(24, 16));
static_assert(sizeof(EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE) == EfiLayout(40, 32));

struct EFI_GRAPHICS_OUTPUT_PROTOCOL;

// Fills *Info with a pool buffer the caller frees, of *SizeOfInfo bytes.
typedef EFI_STATUS(EFIAPI *EFI_GRAPHICS_OUTPUT_PROTOCOL_QUERY_MODE)(EFI_GRAPHICS_OUTPUT_PROTOCOL *This,
                                                                    UINT32 ModeNumber, UINTN *SizeOfInfo,
                                                                    EFI_GRAPHICS_OUTPUT_MODE_INFORMATION **Info);

struct EFI_GRAPHICS_OUTPUT_PROTOCOL {
  EFI_GRAPHICS_OUTPUT_PROTOCOL_QUERY_MODE QueryMode;
  void *SetMode;
  void *Blt;
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *Mode;
};
static_assert(offsetof(EFI_GRAPHICS_OUTPUT_PROTOCOL, Mode) == EfiLayout(24, 12));
static_assert(sizeof(EFI_GRAPHICS_OUTPUT_PROTOCOL) == EfiLayout(32, 16));
