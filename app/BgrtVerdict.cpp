// The verdict lines. Each rule comes from whoever reads the BGRT: the ACPI specification (table
// fields, status bits, boot-services data), Linux (efi-bgrt decides whether the OS keeps the
// logo at all; efifb and Plymouth whether they draw it again), Windows (the depths it draws), and
// Microsoft's boot-screen guidance (where a logo sits, how large it is). The README has a table of
// every line. Lines are short and mostly fixed, as the images are kept small.
//
// Every number comes from firmware. Lengths and places are worked out in 32 bits on values cut to
// kLargest first, far past any screen or logo the rules could pass, so that no sum or product can
// wrap and a 32-bit image needs no 64-bit arithmetic; the lines show the values as read.
#include "app/BgrtVerdict.h"

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

// The graphics output's mode now. A shell may have changed the mode since the firmware drew its
// logo, so the verdict says which mode it judged against.
struct Screen {
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Output;  // null when there is none, or it gives no usable mode
  UINT32 Mode;
  UINT32 MaxMode;
  UINT32 Width;
  UINT32 Height;
  UINT32 PixelFormat;
  UINT32 PixelsPerScanLine;
};

Screen ReadScreen() {
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Output = nullptr;
  if (EFI_ERROR(gBootServices->LocateProtocol(&EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID, nullptr, (VOID **)&Output)) ||
      Output == nullptr) {
    return Screen{};
  }
  const EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *Mode = Output->Mode;
  if (Mode == nullptr || Mode->Info == nullptr || Mode->SizeOfInfo < sizeof(EFI_GRAPHICS_OUTPUT_MODE_INFORMATION)) {
    return Screen{};
  }
  const EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *Info = Mode->Info;
  // No screen is that large, and the judgement's arithmetic wants its sides within kLargest.
  if (Info->HorizontalResolution - 1 >= kLargest || Info->VerticalResolution - 1 >= kLargest) return Screen{};
  return Screen{Output,           Mode->Mode,        Mode->MaxMode, Info->HorizontalResolution, Info->VerticalResolution,
                Info->PixelFormat, Info->PixelsPerScanLine};
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

void PrintScreen(const Screen &S) {
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

// Where the logo lies on the screen, its sides swapped where the firmware drew it turned. Returns
// whether it fits and is centred across, which Linux's efifb wants.
bool PrintPlace(const BitmapShape &Shape, const BgrtTable &Table, const Screen &S) {
  bool Turned = (Table.Status >> BGRT_STATUS_ORIENTATION_SHIFT & 1) != 0;
  UINT32 ShownX = Table.OffsetX;
  UINT32 ShownY = Table.OffsetY;
  UINT32 Width = Cut(Turned ? Shape.Height : Shape.Width);
  UINT32 Height = Cut(Turned ? Shape.Width : Shape.Height);
  UINT32 X = Cut(ShownX);
  UINT32 Y = Cut(ShownY);
  UINT32 ScreenWidth = S.Width;
  UINT32 ScreenHeight = S.Height;

  // efifb works the centre out as (screen - logo) / 2 and wants exactly that.
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
  return FitsAcross && FitsDown && Centred;
}

// Why Linux's efi-bgrt drops the table, or null when it keeps it.
const char *WhyEfiBgrtDrops(const BgrtTable &Table, bool InBootServicesData, bool Signature) {
  if (Table.Length < kBgrtBytes) return "length < 56";
  if (Table.Version > 1) return "version > 1";
  if (Table.ImageType != 0) return "type not 0";
  if (Table.ImageAddress == 0) return "no image";
  if (!InBootServicesData) return "memory type";
  if (!Signature) return "no BM";
  return nullptr;
}

// Why efifb and Plymouth will not draw the logo again, or null when they will.
// A shape not Known has no bits per pixel.
const char *WhyEfifbWontDraw(const BitmapShape &Shape, bool Screen, bool Framebuffer, bool FitsCentred) {
  if (Shape.BitsPerPixel != 24) return "not 24 bits";
  if (Shape.HeaderBytes != 40) return "header not 40 bytes";
  if (Shape.Compression != 0) return "compressed";
  if (!Screen) return "no screen";
  if (!Framebuffer) return "no framebuffer";
  if (!FitsCentred) return "not fitting and centred";
  return nullptr;
}

}  // namespace

void PrintBgrtVerdict(const MemoryMap &Map, const BgrtFinding &Finding) {
  Screen S = ReadScreen();
  const BgrtTable &Table = Finding.Table;
  PrintTable(Finding);

  UINT32 Type = 0;
  bool Described = MemoryTypeAt(Map, Table.ImageAddress, &Type);
  bool InBootServicesData = Described && Type == EfiBootServicesData;
  if (Table.ImageAddress != 0 && Described) {
    ConsolePrint(u"  Image memory: type %u, %aboot-services data\n", Type, InBootServicesData ? "" : "not ");
  } else if (Table.ImageAddress != 0) {
    ConsolePrint(u"  Image memory: not in the memory map\n");
  }

  PrintScreen(S);
  // What the headers say, where the whole bitmap could be read.
  const LogoBitmap &Logo = Finding.Logo;
  BitmapShape Shape = Logo.Whole ? Logo.Rule.Shape : BitmapShape{};
  bool FitsCentred = false;
  if (S.Output != nullptr && Shape.Known) FitsCentred = PrintPlace(Shape, Table, S);

  const char *Says = "dropped: ";
  const char *Why = WhyEfiBgrtDrops(Table, InBootServicesData, Logo.Signature);
  if (Why == nullptr) {
    // efifb draws on the framebuffer, and a screen that only blits has none.
    Why = WhyEfifbWontDraw(Shape, S.Output != nullptr, S.PixelFormat != PixelBltOnly, FitsCentred);
    Says = Why != nullptr ? "kept, not redrawn: " : "kept and redrawn";
  }
  ConsolePrint(u"  Linux: %a%a\n", Says, Why != nullptr ? Why : "");
  ConsolePrint(u"  Windows: %a\n", !Logo.Signature ? "won't show it: no bitmap"
                                    : Shape.Known && (Shape.BitsPerPixel == 24 || Shape.BitsPerPixel == 32)
                                        ? "shows it"
                                        : "won't show it: not 24 or 32 bits");
}

void PrintSeveralBgrts(const ReportRecord &Record) {
  if (Record.BgrtCount < 2) return;
  ConsolePrint(u"  BGRTs: %u, marked displayed: %u, the last BGRT %u\n", Record.BgrtCount, Record.Displayed,
               Record.LastDisplayed);
  ConsolePrint(u"  BIOSLogo.bmp holds the last logo saved, BGRT %u's (0: none)\n", Record.SavedNumber);
}
