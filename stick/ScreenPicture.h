// The screen as the firmware left it, read back before the stick program prints anything: shim
// starts the program straight after the firmware, so this is the one moment a program can still see
// the boot logo where the firmware drew it. The picture is kept as rows of red, green and blue,
// the top row first: what the logos are compared with, and what goes on the stick as Screen.png.
#pragma once

#include "firmware/SimpleFileSystem.h"
#include "firmware/Uefi.h"

enum class PictureOutcome : UINT8 {
  Taken,
  NoScreen,  // no graphics output, or one that gives no usable mode
  TooLarge,  // a side past kBitmapLargestSide
  NoMemory,
  NotRead,  // Blt would not read the screen back
};

struct ScreenPicture {
  PictureOutcome Outcome;
  EFI_STATUS Status;  // the failed call's, for NoMemory and NotRead
  UINT32 Width;
  UINT32 Height;
  UINT8 *Pixels;  // three bytes a pixel, from the pool; null unless Taken
};

// Reads the whole current screen with Blt, a row at a time, into pool memory.
// Prints nothing: the console would draw over the screen.
void TakeScreenPicture(ScreenPicture *Picture);

// The pixel at X, Y from the screen's top left, as 0xRRGGBB; X and Y lie within the screen.
UINT32 ScreenPixel(const ScreenPicture &Picture, UINT32 X, UINT32 Y);

// Saves the picture as Screen.png on Volume, by the same safe save as the logo, and says in one line
// what the picture shows or why there is none. True when Screen.png holds it.
bool SaveScreenPicture(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, const ScreenPicture &Picture);

// Gives the picture's memory back.
void ReleaseScreenPicture(ScreenPicture *Picture);
