// A logo's pixels as firmware draws them, read from a bitmap the report found whole and sound:
// uncompressed rows of 24 or 32 bits, blue first, the bottom row first unless the height is
// negative. Any fourth byte is not drawn. The logo is compared with the screen, and kept as a
// picture anyone can open, BIOSLogo.png, beside the firmware's own bitmap.
#pragma once

#include "app/App.h"
#include "app/PngFile.h"
#include "app/ReportRecord.h"
#include "firmware/SimpleFileSystem.h"

struct LogoPixels {
  const UINT8 *Rows;
  UINT32 Width;
  UINT32 Height;
  UINT32 BytesPerPixel;
  UINT32 RowBytes;
  bool BottomUp;

  // The pixel at X, Y from the top left, as 0xRRGGBB.
  UINT32 At(UINT32 X, UINT32 Y) const {
    const UINT8 *Pixel = Rows + (UINTN)(BottomUp ? Height - 1 - Y : Y) * RowBytes + X * BytesPerPixel;
    return (UINT32)Pixel[2] << 16 | (UINT32)Pixel[1] << 8 | Pixel[0];
  }
};

// Why the logo of a BGRT the report recorded has no pixels to read this way, or null when it has,
// and then Pixels holds them.
const char *ReadLogoPixels(const BgrtFinding &Finding, LogoPixels *Pixels);

// Makes Source a PNG file and saves it under Names by the safe save, and says so in one line:
// "Label: W x H Shown, saved as NAME", or "not saved" after the save's own lines, or that the
// pool gave no memory for it. True when the file holds it.
bool SavePicture(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, const SavedFileNames &Names, const PngSource &Source,
                 const char *Label, const char *Shown);

// Saves the logo of a BGRT the report saved as BIOSLogo.png on Volume, by the same safe save, and
// says so in one line, or why there is none. True when BIOSLogo.png holds it.
bool SaveLogoPicture(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, const BgrtFinding &Finding);
