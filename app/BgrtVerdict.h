// The verdict on what the firmware published: each BGRT judged against the ACPI specification,
// against the screen the firmware drew its logo on, and against the rules of each program that reads
// it after the firmware. Observations only: nothing here changes what is saved or the exit status.
// The judgement is a record; the printer makes its lines from the texts of app/VerdictTexts.h.
#pragma once

#include "app/PlymouthRules.h"
#include "app/ReadableMemory.h"
#include "app/ReportRecord.h"
#include "app/VerdictTexts.h"
#include "firmware/GraphicsOutput.h"
#include "firmware/Uefi.h"

// The graphics output's mode now, as the OS is handed it. Width is 0 where there is no screen.
struct ScreenNow {
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Output;  // null when there is none, or it gives no usable mode, or the
                                         // screen is a running OS's display
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

// Where the logo lies on the screen, its sides swapped where the firmware drew it turned.
struct PlaceVerdict {
  bool Judged;  // there is a screen, and a bitmap whose headers say its shape
  VerdictText Across;
  UINT32 CentrePermille;  // the logo's centre down the screen, in thousandths of its height
  VerdictText Down;
  UINT32 WidthPercent;
  UINT32 HeightPercent;
  VerdictText Size;
};

// One program's decision on the BGRT or its logo: who, what it does, and why. Value and Expected
// are the numbers the reason's words show.
struct ReaderDecision {
  VerdictText Reader;
  VerdictText Outcome;
  VerdictText Reason;  // None where the outcome needs no reason
  UINT32 Value;
  UINT32 Expected;
};

// Linux's efi-bgrt, its efifb, Plymouth (on a panel and on a monitor, where they differ), Windows.
constexpr UINT32 kMostReaders = 5;

struct BgrtVerdict {
  VerdictText Checksum;
  bool LengthWrong;  // each field that is not what the ACPI specification gives a BGRT
  bool RevisionWrong;
  bool VersionWrong;
  bool TypeWrong;
  ImageMemory Memory;
  ScreenNow Screen;
  PlaceVerdict Place;
  UINT32 ReaderCount;
  ReaderDecision Readers[kMostReaders];
};

// What a running OS already knows, where the verdict is made on one (the Linux command reads it from
// the kernel and from DRM); the image, run before any OS, judges without.
struct RunningOs {
  bool KernelKept;  // the kernel kept the first BGRT and its image: its own decision, not efi-bgrt's rules
  bool HasDisplay;  // a display is connected: Plymouth is judged on it alone
  PlymouthDisplay Display;
};

// Judges one BGRT, whose whole table could be read, and its bitmap, against the screen, and where
// Os is given, against what the running OS knows.
BgrtVerdict JudgeBgrt(const MemoryMap &Map, const BgrtFinding &Finding, const ScreenNow &Screen,
                      const RunningOs *Os = nullptr);

// The graphics output's mode now.
ScreenNow ReadScreen();

// Prints the lines judging one BGRT: the table's fields from the finding, the rest from the verdict.
void PrintBgrtVerdict(const BgrtFinding &Finding, const BgrtVerdict &Verdict);

// The parts of those lines, for a caller that says the rest in its own way: the table's three
// lines, the image's memory, the logo's place on the screen, and one reader's decision, with Who
// in place of the reader's name where given.
void PrintBgrtTable(const BgrtFinding &Finding, const BgrtVerdict &Verdict);
void PrintImageMemory(const BgrtFinding &Finding, const BgrtVerdict &Verdict);
void PrintPlace(const BgrtTable &Table, const ScreenNow &Screen, const PlaceVerdict &Place);
void PrintReaderDecision(const ReaderDecision &Decision, const CHAR8 *Who = nullptr);

// Where an XSDT holds several BGRTs: which is marked displayed, and which the file holds.
void PrintSeveralBgrts(const ReportRecord &Record);
