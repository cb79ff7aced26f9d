// What each program that reads the BGRT after the firmware makes of it, in that program's own
// terms: Linux's efi-bgrt, which decides whether the OS keeps the table and its image at all;
// Linux's efifb and Plymouth, which may draw the logo again; and Windows. One line each.
#pragma once

#include "app/ReportRecord.h"
#include "firmware/GraphicsOutput.h"
#include "firmware/Uefi.h"

// The graphics output's mode now, as the OS is handed it.
struct ScreenNow {
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Output;  // null when there is none, or it gives no usable mode
  UINT32 Mode;
  UINT32 MaxMode;
  UINT32 Width;
  UINT32 Height;
  UINT32 PixelFormat;
  UINT32 PixelsPerScanLine;
  UINT32 Depth;  // bits a pixel of the framebuffer, as Linux's EFI stub works it out; 0: none
};

// Where the logo's memory lies, from the firmware's memory map.
struct ImageMemory {
  bool Described;  // the map describes the image's first byte
  UINT32 Type;
};

void PrintReaders(const BgrtFinding &Finding, const ImageMemory &Memory, const ScreenNow &Screen);
