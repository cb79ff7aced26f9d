// The verdict lines. Each rule comes from whoever reads the BGRT: the ACPI specification (table
// fields, status bits, boot-services data), Microsoft's boot-screen guidance (where a logo sits,
// how large it is), and the programs that read it after the firmware (app/BgrtReaders.cpp). The
// README has a table of every line.
//
// Every number comes from firmware. Lengths and places are worked out in 32 bits on values cut to
// kLargest first, far past any screen or logo the rules could pass, so that no sum or product can
// wrap and a 32-bit image needs no 64-bit arithmetic; the lines show the values as read.
#include "app/BgrtVerdict.h"

#include "app/BgrtReaders.h"

#include "firmware/Acpi.h"
#include "firmware/GraphicsOutput.h"
#include "firmware/SystemTable.h"
#include "print/Print.h"

namespace {

constexpr UINT32 kBgrtBytes = sizeof(ACPI_BGRT);

// Modes listed a line, and at most; a broken graphics output may claim four billion, and the
// screen line says how many it claims.
constexpr UINT32 kModesALine = 5;
constexpr UINT32 kMostModesListed = 100;

// Sides and places are cut to this before any arithmetic: 3 * kLargest * 1000 fits 32 bits.
constexpr UINT32 kLargest = 1u << 20;

// Microsoft's guidance: the logo's centre 38.2% from the top, neither side over 40% of the screen.
constexpr UINT32 kGoldenPermille = 382;
constexpr UINT32 kMostPercent = 40;

// The bits a pixel Linux's EFI stub gives the framebuffer: 32 for the two formats of four bytes,
// and for a format of masks the span from the lowest mask bit to the highest.
UINT32 FramebufferDepth(const EFI_GRAPHICS_OUTPUT_MODE_INFORMATION &Info) {
  if (Info.PixelFormat == PixelBltOnly) return 0;
  if (Info.PixelFormat != PixelBitMask) return 32;
  const EFI_PIXEL_BITMASK &Masks = Info.PixelInformation;
  UINT32 Mask = Masks.RedMask | Masks.GreenMask | Masks.BlueMask | Masks.ReservedMask;
  if (Mask == 0) return 0;
  return (31 - (UINT32)__builtin_clz(Mask)) - (UINT32)__builtin_ctz(Mask) + 1;
}

// The graphics output's mode now. A shell may have changed the mode since the firmware drew its
// logo, so the verdict says which mode it judged against.
ScreenNow ReadScreen() {
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Output = nullptr;
  if (EFI_ERROR(gBootServices->LocateProtocol(&EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID, nullptr, (VOID **)&Output)) ||
      Output == nullptr) {
    return ScreenNow{};
  }
  const EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *Mode = Output->Mode;
  if (Mode == nullptr || Mode->Info == nullptr || Mode->SizeOfInfo < sizeof(EFI_GRAPHICS_OUTPUT_MODE_INFORMATION)) {
    return ScreenNow{};
  }
  const EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *Info = Mode->Info;
  // No screen is that large, and the judgement's arithmetic wants its sides within kLargest.
  if (Info->HorizontalResolution - 1 >= kLargest || Info->VerticalResolution - 1 >= kLargest) return ScreenNow{};
  return ScreenNow{Output,           Mode->Mode,        Mode->MaxMode, Info->HorizontalResolution, Info->VerticalResolution,
                   Info->PixelFormat, Info->PixelsPerScanLine, FramebufferDepth(*Info)};
}

UINT32 Cut(UINT32 Value) { return Value < kLargest ? Value : kLargest; }

void PrintTable(const BgrtFinding &Finding) {
  const BgrtTable &T = Finding.Table;
  const char *Checksum = T.Checksum == TableChecksum::Right   ? "right"
                         : T.Checksum == TableChecksum::Wrong ? "wrong"
                                                              : "not taken";
  UINT32 Status = T.Status;
  // A '!' follows a value other than the one the ACPI specification gives a BGRT.
  ConsolePrint(u"  BGRT %u checksum %a\n", Finding.Number, Checksum);
  ConsolePrint(u"  Length %u%a, revision %u%a, version %u%a, type %u%a, status 0x%02X\n", T.Length,
               T.Length != kBgrtBytes ? "!" : "", (UINT32)T.Revision, T.Revision != 1 ? "!" : "", (UINT32)T.Version,
               T.Version != 1 ? "!" : "", (UINT32)T.ImageType, T.ImageType != 0 ? "!" : "", Status);

  ConsolePrint(u"  Status: %adisplayed, rotated %u degrees%a\n", (Status & BGRT_STATUS_DISPLAYED) != 0 ? "" : "not ",
               (Status >> BGRT_STATUS_ORIENTATION_SHIFT & 3) * 90,
               (Status & BGRT_STATUS_RESERVED) != 0 ? ", reserved bits set" : "");
}

void PrintScreen(const ScreenNow &S) {
  if (S.Output == nullptr) {
    ConsolePrint(u"  Screen: no graphics output\n");
    return;
  }
  ConsolePrint(u"  Screen now: %u x %u, mode %u of %u\n", S.Width, S.Height, S.Mode, S.MaxMode);
  ConsolePrint(u"  Pixels: format %u, %u a scan line\n", S.PixelFormat, S.PixelsPerScanLine);

  // Every mode the output offers, a few a line, in mode order; one it will not describe is 0 x 0.
  UINT32 Listed = S.MaxMode < kMostModesListed ? S.MaxMode : kMostModesListed;
  for (UINT32 Mode = 0; Mode < Listed; Mode++) {
    UINTN SizeOfInfo = 0;
    EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *Info = nullptr;
    if (EFI_ERROR(S.Output->QueryMode(S.Output, Mode, &SizeOfInfo, &Info))) Info = nullptr;
    bool Known = Info != nullptr && SizeOfInfo >= offsetof(EFI_GRAPHICS_OUTPUT_MODE_INFORMATION, PixelFormat);
    ConsolePrint(u"%a%u x %u", Mode % kModesALine == 0 ? "  Modes: " : ", ", Known ? Info->HorizontalResolution : 0,
                 Known ? Info->VerticalResolution : 0);
    if (Info != nullptr) gBootServices->FreePool(Info);
    if (Mode % kModesALine == kModesALine - 1 || Mode + 1 == Listed) ConsolePrint(u"\n");
  }
}

// Where the logo lies on the screen, its sides swapped where the firmware drew it turned.
void PrintPlace(const BitmapShape &Shape, const BgrtTable &Table, const ScreenNow &S) {
  bool Turned = (Table.Status >> BGRT_STATUS_ORIENTATION_SHIFT & 1) != 0;
  UINT32 ShownX = Table.OffsetX;
  UINT32 ShownY = Table.OffsetY;
  UINT32 Width = Cut(Turned ? Shape.Height : Shape.Width);
  UINT32 Height = Cut(Turned ? Shape.Width : Shape.Height);
  UINT32 X = Cut(ShownX);
  UINT32 Y = Cut(ShownY);
  UINT32 ScreenWidth = S.Width;
  UINT32 ScreenHeight = S.Height;

  // Centred as efifb works the centre out: (screen - logo) / 2.
  bool FitsAcross = X + Width <= ScreenWidth;
  bool Centred = FitsAcross && X == (ScreenWidth - Width) / 2;
  ConsolePrint(u"  Across: at %u of %u: %a\n", ShownX, S.Width,
               !FitsAcross ? "past the edge" : Centred ? "fits, centred" : "fits, not centred");

  // Twice the centre's distance from the top, against the height: centred within a pixel, or
  // within a pixel of 38.2%.
  UINT32 Centre = 2 * Y + Height;
  UINT32 Permille = (Centre * 500 + ScreenHeight / 2) / ScreenHeight;
  UINT32 Golden = 2 * kGoldenPermille * ScreenHeight;
  bool FitsDown = Y + Height <= ScreenHeight;
  ConsolePrint(u"  Down: at %u of %u, centre %u.%u%%: %a\n", ShownY, S.Height, Permille / 10, Permille % 10,
               !FitsDown                                                          ? "past the edge"
               : Centre + 1 >= ScreenHeight && Centre <= ScreenHeight + 1          ? "centred"
               : Centre * 1000 + 2000 >= Golden && Centre * 1000 <= Golden + 2000 ? "at 38.2%"
                                                                                  : "neither centred nor 38.2%");

  bool Within = Width * 100 <= kMostPercent * ScreenWidth && Height * 100 <= kMostPercent * ScreenHeight;
  ConsolePrint(u"  Size: %u%% of the width, %u%% of the height: %a\n", Width * 100 / ScreenWidth,
               Height * 100 / ScreenHeight, Within ? "within 40%" : "over 40%");
}

}  // namespace

void PrintBgrtVerdict(const MemoryMap &Map, const BgrtFinding &Finding) {
  ScreenNow S = ReadScreen();
  const BgrtTable &Table = Finding.Table;
  PrintTable(Finding);

  ImageMemory Memory{};
  Memory.Described = MemoryTypeAt(Map, Table.ImageAddress, &Memory.Type);
  if (Table.ImageAddress != 0 && Memory.Described) {
    ConsolePrint(u"  Image memory: type %u, %aboot-services data\n", Memory.Type,
                 Memory.Type == EfiBootServicesData ? "" : "not ");
  } else if (Table.ImageAddress != 0) {
    ConsolePrint(u"  Image memory: not in the memory map\n");
  }

  PrintScreen(S);
  // What the headers say, where the whole bitmap could be read.
  const LogoBitmap &Logo = Finding.Logo;
  if (S.Output != nullptr && Logo.Whole && Logo.Rule.Shape.Known) PrintPlace(Logo.Rule.Shape, Table, S);
  PrintReaders(Finding, Memory, S);
}

void PrintSeveralBgrts(const ReportRecord &Record) {
  if (Record.BgrtCount < 2) return;
  ConsolePrint(u"  BGRTs: %u, marked displayed: %u, the last BGRT %u\n", Record.BgrtCount, Record.Displayed,
               Record.LastDisplayed);
  ConsolePrint(u"  BIOSLogo.bmp holds the last logo saved, BGRT %u's (0: none)\n", Record.SavedNumber);
}
