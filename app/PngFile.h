// Pictures as PNG files, which every viewer and browser opens: 8-bit RGB rows, each filtered the
// way that leaves it smallest, deflated in one zlib stream. The stick keeps the screen this way,
// and the logo beside the firmware's own bitmap.
#pragma once

#include "firmware/Uefi.h"

// A picture to encode: its sides, and a call that gives one row of it.
struct PngSource {
  UINT32 Width;   // 1 to kPngLargestSide
  UINT32 Height;  // 1 to kPngLargestSide
  const VOID *Pixels;  // the caller's, handed back to ReadRow
  // Puts row Y, the top row 0, into Row: Width pixels of three bytes, red, green, blue.
  void (*ReadRow)(const VOID *Pixels, UINT32 Y, UINT8 *Row);
  // Or, where the rows lie in memory already, in that form and one after another from the top:
  // where they start. ReadRow is then not called.
  const UINT8 *Rows = nullptr;
};

constexpr UINT32 kPngLargestSide = 16384;

// The most bytes MakePngFile can make of a picture of these sides.
UINT64 PngLargestBytes(UINT32 Width, UINT32 Height);

// The most pool memory MakePngFile holds at once for a picture of these sides, the file included.
UINT64 PngPeakPoolBytes(UINT32 Width, UINT32 Height);

// Encodes Source as a whole PNG file in pool memory. On success *File holds the file, which the
// caller gives back with FreePool, and *FileBytes its length. Fails with EFI_INVALID_PARAMETER
// for a side of 0 or past kPngLargestSide, or with the pool's status; then nothing is held.
EFI_STATUS MakePngFile(const PngSource &Source, UINT8 **File, UINTN *FileBytes);
