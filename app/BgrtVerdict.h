// The verdict on what the firmware published: each BGRT judged against the ACPI specification,
// against the rules Linux and Windows apply before they show its logo, and against the screen the
// firmware drew it on. Observations only: nothing here changes what is saved or the exit status.
#pragma once

#include "app/BitmapLayout.h"
#include "app/ReadableMemory.h"
#include "firmware/Uefi.h"

// What the report learnt of its BGRTs, for the lines after the last of them. A BGRT's number is
// its place among the BGRTs of the XSDT, from 1.
struct BgrtTally {
  UINT32 Count;
  UINT32 Displayed;        // how many are marked displayed
  UINT32 DisplayedNumber;  // the last of them
  UINT32 SavedNumber;      // the BGRT whose logo BIOSLogo.bmp now holds; 0 when none was saved
};

// What a BGRT's save did to BIOSLogo.bmp: nothing, put its logo there, or failed after taking an
// earlier logo from the name.
enum class LogoFile : UINT8 { Unchanged, Saved, Lost };

// Counts a BGRT, of which the first 56 bytes may be read, then prints the lines judging it and
// its bitmap: Image where the whole bitmap could be read, else null. File says what its save did.
void PrintBgrtVerdict(const MemoryMap &Map, const UINT8 *Bgrt, const UINT8 *Image, LogoFile File, BgrtTally *Tally);

// Where an XSDT holds several BGRTs: which is marked displayed, and which the file holds.
void PrintSeveralBgrts(const BgrtTally &Tally);
