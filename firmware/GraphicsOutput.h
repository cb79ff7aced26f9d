// EFI_GRAPHICS_OUTPUT_PROTOCOL: the screen the firmware drew its logo on. QueryMode and the mode
// record say what the screen is; Blt reads it back; SetMode is a plain pointer that keeps the
// offsets right.
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

// A pixel as Blt moves it, whatever the screen's own format.
struct EFI_GRAPHICS_OUTPUT_BLT_PIXEL {
  UINT8 Blue;
  UINT8 Green;
  UINT8 Red;
  UINT8 Reserved;
};
static_assert(sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL) == 4);

enum EFI_GRAPHICS_OUTPUT_BLT_OPERATION : UINT32 {
  EfiBltVideoFill,
  EfiBltVideoToBltBuffer,
  EfiBltBufferToVideo,
  EfiBltVideoToVideo,
  EfiGraphicsOutputBltOperationMax,
};

struct EFI_GRAPHICS_OUTPUT_PROTOCOL;

// Fills *Info with a pool buffer the caller frees, of *SizeOfInfo bytes.
typedef EFI_STATUS(EFIAPI *EFI_GRAPHICS_OUTPUT_PROTOCOL_QUERY_MODE)(EFI_GRAPHICS_OUTPUT_PROTOCOL *This,
                                                                    UINT32 ModeNumber, UINTN *SizeOfInfo,
                                                                    EFI_GRAPHICS_OUTPUT_MODE_INFORMATION **Info);

// Copies a Width x Height rectangle; from the screen into BltBuffer with EfiBltVideoToBltBuffer.
// Delta is the buffer's bytes a row (0: Width pixels).
typedef EFI_STATUS(EFIAPI *EFI_GRAPHICS_OUTPUT_PROTOCOL_BLT)(EFI_GRAPHICS_OUTPUT_PROTOCOL *This,
                                                             EFI_GRAPHICS_OUTPUT_BLT_PIXEL *BltBuffer,
                                                             EFI_GRAPHICS_OUTPUT_BLT_OPERATION BltOperation,
                                                             UINTN SourceX, UINTN SourceY, UINTN DestinationX,
                                                             UINTN DestinationY, UINTN Width, UINTN Height,
                                                             UINTN Delta);

struct EFI_GRAPHICS_OUTPUT_PROTOCOL {
  EFI_GRAPHICS_OUTPUT_PROTOCOL_QUERY_MODE QueryMode;
  void *SetMode;
  EFI_GRAPHICS_OUTPUT_PROTOCOL_BLT Blt;
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *Mode;
};
static_assert(offsetof(EFI_GRAPHICS_OUTPUT_PROTOCOL, Blt) == EfiLayout(16, 8));
static_assert(offsetof(EFI_GRAPHICS_OUTPUT_PROTOCOL, Mode) == EfiLayout(24, 12));
static_assert(sizeof(EFI_GRAPHICS_OUTPUT_PROTOCOL) == EfiLayout(32, 16));
