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

#include "base/PackedTexts.h"
#include "firmware/GraphicsOutput.h"
#include "base/Unaligned.h"
#include "firmware/SystemTable.h"
#include "print/Print.h"

namespace {

// BGRT fields, from the start of the table.
constexpr UINT64 kLength = 4;
constexpr UINT64 kRevision = 8;
constexpr UINT64 kVersion = 36;
constexpr UINT64 kStatus = 38;
constexpr UINT64 kImageType = 39;
constexpr UINT64 kImageAddress = 40;
constexpr UINT64 kOffsetX = 48;
constexpr UINT64 kOffsetY = 52;
constexpr UINT32 kBgrtBytes = 56;

constexpr UINT8 kDisplayed = 0x01;
constexpr UINT8 kOrientationShift = 1;  // two bits: turned 0, 90, 180 or 270 degrees clockwise
constexpr UINT8 kReservedStatus = 0xF8;

// A longer table is summed only this far: a BGRT has 56 bytes, and one of megabytes is wrong
// whatever its bytes add up to.
constexpr UINT32 kMostSummed = 65536;

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

[[gnu::noinline]] Screen ReadScreen() {
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
  if (Info->HorizontalResolution == 0 || Info->VerticalResolution == 0) return Screen{};
  return Screen{Output,           Mode->Mode,        Mode->MaxMode, Info->HorizontalResolution, Info->VerticalResolution,
                Info->PixelFormat, Info->PixelsPerScanLine};
}

UINT32 Cut(UINT32 Value) { return Value < kLargest ? Value : kLargest; }

void PrintTable(const MemoryMap &Map, UINT64 Address, const UINT8 *Bgrt, UINT32 Number) {
  UINT32 Length = LoadUnaligned32(Bgrt + kLength);
  UINT32 Revision = Bgrt[kRevision];
  UINT32 Version = LoadUnaligned16(Bgrt + kVersion);
  UINT32 ImageType = Bgrt[kImageType];
  UINT32 Status = Bgrt[kStatus];
  ConsolePrint(u"  BGRT %u: length %u, revision %u, version %u, type %u, status 0x%02X\n", Number, Length, Revision,
               Version, ImageType, Status);

  const char *Checksum = "not taken";
  if (Length <= kMostSummed && IsReadable(Map, kProcessorReach, Address, Length)) {
    const UINT8 *Whole = (const UINT8 *)(UINTN)Address;
    UINT8 Sum = 0;
    for (UINT32 Index = 0; Index < Length; Index++) Sum = (UINT8)(Sum + Whole[Index]);
    Checksum = Sum == 0 ? "right" : "wrong";
  }
  ConsolePrint(u"  Checksum %a%a%a%a%a\n", Checksum, Length != kBgrtBytes ? ", length not 56" : "",
               Revision != 1 ? ", revision not 1" : "", Version != 1 ? ", version not 1" : "",
               ImageType != 0 ? ", type not 0" : "");

  ConsolePrint(u"  Status: %a, rotated %u degrees%a\n", (Status & kDisplayed) != 0 ? "displayed" : "not displayed",
               (Status >> kOrientationShift & 3) * 90, (Status & kReservedStatus) != 0 ? ", reserved bits set" : "");
}

void PrintScreen(const Screen &S) {
  if (S.Output == nullptr) {
    ConsolePrint(u"  Screen: no graphics output\n");
    return;
  }
  static constexpr const char *kFormats[] = {"RGB", "BGR", "bit masks", "blit only", "unknown"};
  static constexpr auto kPackedFormats = PackTexts<kFormats>();
  ConsolePrint(u"  Screen now: %u x %u, mode %u of %u\n", S.Width, S.Height, S.Mode, S.MaxMode);
  ConsolePrint(u"  Pixels: %a, %u a scan line\n",
               kPackedFormats[S.PixelFormat < PixelFormatMax ? S.PixelFormat : PixelFormatMax], S.PixelsPerScanLine);

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
bool PrintPlace(const BitmapShape &Shape, const UINT8 *Bgrt, const Screen &S) {
  bool Turned = (Bgrt[kStatus] >> kOrientationShift & 1) != 0;
  UINT32 ShownX = LoadUnaligned32(Bgrt + kOffsetX);
  UINT32 ShownY = LoadUnaligned32(Bgrt + kOffsetY);
  ConsolePrint(u"  Logo: %u x %u on screen at %u, %u\n", Turned ? Shape.Height : Shape.Width,
               Turned ? Shape.Width : Shape.Height, ShownX, ShownY);
  UINT32 Width = Cut(Turned ? Shape.Height : Shape.Width);
  UINT32 Height = Cut(Turned ? Shape.Width : Shape.Height);
  UINT32 X = Cut(ShownX);
  UINT32 Y = Cut(ShownY);
  UINT32 ScreenWidth = Cut(S.Width);
  UINT32 ScreenHeight = Cut(S.Height);

  // efifb works the centre out as (screen - logo) / 2 and wants exactly that.
  bool FitsAcross = X + Width <= ScreenWidth;
  UINT32 CentreX = FitsAcross ? (ScreenWidth - Width) / 2 : X + Width - ScreenWidth;
  bool Centred = FitsAcross && X == CentreX;
  ConsolePrint(u"  Across: %a %u\n",
               !FitsAcross ? "past the edge by" : Centred ? "fits, centred at" : "fits, not centred; centred is",
               CentreX);

  // Twice the centre's distance from the top, against the height: centred within a pixel, or
  // within a pixel of 38.2%.
  UINT32 Centre = 2 * Y + Height;
  UINT32 Permille = (Centre * 500 + ScreenHeight / 2) / ScreenHeight;
  UINT32 Golden = 2 * kGoldenPermille * ScreenHeight;
  bool FitsDown = Y + Height <= ScreenHeight;
  ConsolePrint(u"  Down: centre %u.%u%% from the top: %a\n", Permille / 10, Permille % 10,
               !FitsDown                                                          ? "past the edge"
               : Centre + 1 >= ScreenHeight && Centre <= ScreenHeight + 1          ? "centred"
               : Centre * 1000 + 2000 >= Golden && Centre * 1000 <= Golden + 2000 ? "at 38.2%"
                                                                                  : "neither centred nor at 38.2%");

  bool Within = Width * 100 <= kMostPercent * ScreenWidth && Height * 100 <= kMostPercent * ScreenHeight;
  ConsolePrint(u"  Size: %u%% of the width, %u%% of the height: %a\n", (Width * 100 + ScreenWidth / 2) / ScreenWidth,
               (Height * 100 + ScreenHeight / 2) / ScreenHeight, Within ? "within 40%" : "over 40%");
  return FitsAcross && FitsDown && Centred;
}

// Why Linux's efi-bgrt drops the table, or null when it keeps it.
const char *WhyEfiBgrtDrops(const UINT8 *Bgrt, bool InBootServicesData, bool Signature) {
  if (LoadUnaligned32(Bgrt + kLength) < kBgrtBytes) return "length under 56";
  if (LoadUnaligned16(Bgrt + kVersion) > 1) return "version above 1";
  if (Bgrt[kImageType] != 0) return "type not 0";
  if (LoadUnaligned64(Bgrt + kImageAddress) == 0) return "no image";
  if (!InBootServicesData) return "not boot-services data";
  if (!Signature) return "no BM signature";
  return nullptr;
}

// Why efifb and Plymouth will not draw the logo again, or null when they will.
const char *WhyEfifbWontDraw(const BitmapShape &Shape, bool Screen, bool FitsCentred) {
  if (!Shape.Known) return "unknown header";
  if (Shape.BitsPerPixel != 24) return "not 24 bits";
  if (Shape.HeaderBytes != 40) return "not a 40-byte header";
  if (Shape.Compression != 0) return "compressed";
  if (!Screen) return "no screen";
  if (!FitsCentred) return "not fitting and centred across";
  return nullptr;
}

}  // namespace

void PrintBgrtVerdict(const MemoryMap &Map, UINT64 BgrtAddress, const UINT8 *Bgrt, const UINT8 *Image, bool Saved,
                      BgrtTally *Tally) {
  Screen S = ReadScreen();
  Tally->Count++;
  if ((Bgrt[kStatus] & kDisplayed) != 0) {
    Tally->Displayed++;
    Tally->DisplayedNumber = Tally->Count;
  }
  if (Saved) Tally->SavedNumber = Tally->Count;
  PrintTable(Map, BgrtAddress, Bgrt, Tally->Count);

  UINT64 ImageAddress = LoadUnaligned64(Bgrt + kImageAddress);
  UINT32 Type = 0;
  bool Described = MemoryTypeAt(Map, ImageAddress, &Type);
  bool InBootServicesData = Described && Type == EfiBootServicesData;
  if (ImageAddress != 0 && Described) {
    ConsolePrint(u"  Image memory: type %u%a\n", Type,
                 InBootServicesData ? ", boot-services data" : ", not boot-services data");
  } else if (ImageAddress != 0) {
    ConsolePrint(u"  Image memory: not in the memory map\n");
  }

  PrintScreen(S);
  // The whole bitmap may be read, as far as its size field says, and at least its fixed fields.
  BitmapShape Shape = Image != nullptr ? JudgeBitmap(Image, LoadUnaligned32(Image + 2)).Shape : BitmapShape{};
  bool FitsCentred = false;
  if (S.Output != nullptr && Shape.Known) FitsCentred = PrintPlace(Shape, Bgrt, S);

  bool Signature = Image != nullptr && Image[0] == 'B' && Image[1] == 'M';
  const char *Says = "efi-bgrt drops it: ";
  const char *Why = WhyEfiBgrtDrops(Bgrt, InBootServicesData, Signature);
  if (Why == nullptr) {
    Why = WhyEfifbWontDraw(Shape, S.Output != nullptr, FitsCentred);
    Says = Why != nullptr ? "efifb, Plymouth won't draw it: " : "efifb, Plymouth draw it";
  }
  ConsolePrint(u"  Linux: %a%a\n", Says, Why != nullptr ? Why : "");
  ConsolePrint(u"  Windows: %a\n", !Signature ? "won't show it: no bitmap"
                                    : Shape.Known && (Shape.BitsPerPixel == 24 || Shape.BitsPerPixel == 32)
                                        ? "shows it"
                                        : "won't show it: not 24 or 32 bits");
}

void PrintSeveralBgrts(const BgrtTally &Tally) {
  if (Tally.Count < 2) return;
  ConsolePrint(u"  BGRTs: %u, marked displayed: %u, the last of them BGRT %u\n", Tally.Count, Tally.Displayed,
               Tally.DisplayedNumber);
  ConsolePrint(u"  BIOSLogo.bmp holds the logo of BGRT %u, the last saved (0: none)\n", Tally.SavedNumber);
}
