// What the report found and did, as plain records its callers read: each BGRT's fields decoded
// once where the report found the table, its bitmap's header and the bitmap rule's decision, and
// what the save did. The verdict judges a BGRT from its record; the stick program tells a person
// what happened from the report's record. The console text is for people alone.
#pragma once

#include "app/BitmapLayout.h"
#include "firmware/Uefi.h"

enum class TableChecksum : UINT8 { NotTaken, Right, Wrong };

// A BGRT's fields as firmware memory held them. The fields up to the image address are read for
// every BGRT that is reported; the others, and the checksum, only when the whole table may be read.
struct BgrtTable {
  UINT64 Address;
  bool Whole;  // all 56 bytes could be read
  UINT32 Length;
  UINT8 Revision;
  UINT16 Version;
  UINT8 Status;
  UINT8 ImageType;
  UINT64 ImageAddress;
  UINT32 OffsetX;
  UINT32 OffsetY;
  TableChecksum Checksum;  // NotTaken where the length runs past readable memory, or is absurd
};

// The bitmap a BGRT points at: the header fields the report prints, and, when all of it may be
// read, the bitmap rule's decision.
struct LogoBitmap {
  bool HeaderRead;  // the fixed fields could be read
  UINT16 Magic;     // the first two bytes, "BM" in a bitmap, as a little-endian word
  UINT32 FileSize;
  UINT32 Reserved;  // the file header's, 0 in a bitmap
  UINT32 DataOffset;
  UINT32 HeaderSize;
  UINT32 Width;  // as the fields hold them; the rule's shape says what they mean
  UINT32 Height;
  UINT16 Planes;
  UINT16 BitsPerPixel;
  bool Whole;      // all FileSize bytes could be read
  bool Signature;  // it begins with "BM"; read only when Whole
  BitmapVerdict Rule;  // only when Whole
};

// What a save did to the volume besides its status.
struct SaveOutcome {
  bool OlderGone;  // an older logo no longer has the logo's name: the save failed after taking it away
  bool KeptAside;  // the new logo is kept whole under another name, as the report says
};

enum class LogoOutcome : UINT8 {
  NoImage,     // the image address is 0
  Unreadable,  // the table or the bitmap lies outside readable memory
  Refused,     // the bitmap rule would not save it
  Saved,       // written whole to BIOSLogo.bmp
  SaveFailed,  // the save failed; Save says what it left
};

// One BGRT and what became of its logo.
struct BgrtFinding {
  UINT32 Number;  // its place among the BGRTs of the XSDT, from 1
  BgrtTable Table;
  LogoBitmap Logo;
  LogoOutcome Outcome;
  EFI_STATUS SaveStatus;
  SaveOutcome Save;
};

// The BGRTs recorded one by one; more are counted. Real machines publish one, a few two or three.
constexpr UINT32 kBgrtsRecorded = 3;

struct ReportRecord {
  bool Unreadable;     // a table or bitmap lay outside readable memory, or the memory map was not given
  bool NoMemoryMap;    // the memory map was not given, so nothing was read
  bool Refused;        // a bitmap was refused
  bool SaveFailed;     // a save failed, or found no volume to save on
  bool KeptAside;      // a new logo is kept whole under another name
  UINT32 BgrtCount;    // every BGRT met in the XSDT
  UINT32 Displayed;    // how many of them are marked displayed
  UINT32 LastDisplayed;  // the number of the last of those
  UINT32 SavedNumber;  // the BGRT whose logo BIOSLogo.bmp holds now; 0 when none
  LogoBitmap Saved;    // that logo, when there is one
  BgrtFinding Bgrts[kBgrtsRecorded];  // the first of them
};
