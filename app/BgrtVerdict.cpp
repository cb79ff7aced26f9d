// The verdict's judgements. Each rule comes from whoever reads the BGRT: the ACPI specification
// (table fields, status bits, boot-services data), Microsoft's boot-screen guidance (where a logo
// sits, how large it is), and the programs that read it after the firmware (app/BgrtReaders.cpp).
//
// Every number comes from firmware. Lengths and places are worked out in 32 bits on values cut to
// kLargest first, far past any screen or logo the rules could pass, so that no sum or product can
// wrap and a 32-bit image needs no 64-bit arithmetic; the lines show the values as read.
#include "app/BgrtVerdict.h"

#include "app/BgrtReaders.h"
#include "app/ScreenPlace.h"
#include "firmware/Acpi.h"
#include "firmware/SystemTable.h"

namespace {

// Sides and places are cut to this before any arithmetic: 3 * kLargest * 1000 fits 32 bits.
constexpr UINT32 kLargest = 1u << 20;

// Microsoft's guidance: neither side of the logo over 40% of the screen's.
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

UINT32 Cut(UINT32 Value) { return Value < kLargest ? Value : kLargest; }

VerdictText ChecksumWords(TableChecksum Checksum) {
  return Checksum == TableChecksum::Right   ? VerdictText::ChecksumRight
         : Checksum == TableChecksum::Wrong ? VerdictText::ChecksumWrong
                                            : VerdictText::ChecksumNotTaken;
}

// Where the logo lies on the screen, its sides swapped where the firmware drew it turned.
PlaceVerdict JudgePlace(const BitmapShape &Shape, const BgrtTable &Table, const ScreenNow &S) {
  bool Turned = (Table.Status >> BGRT_STATUS_ORIENTATION_SHIFT & 1) != 0;
  UINT32 Width = Cut(Turned ? Shape.Height : Shape.Width);
  UINT32 Height = Cut(Turned ? Shape.Width : Shape.Height);
  UINT32 X = Cut(Table.OffsetX);
  UINT32 Y = Cut(Table.OffsetY);
  PlaceVerdict Place{};
  Place.Judged = true;

  bool FitsAcross = X + Width <= S.Width;
  bool CentredAcross = X == (UINT32)CentredAt((INT32)S.Width, (INT32)Width);
  Place.Across = !FitsAcross ? VerdictText::PastTheEdge
                 : CentredAcross ? VerdictText::FitsCentred
                                 : VerdictText::FitsNotCentred;

  // Twice the centre's distance from the top, against the height: centred within a pixel, or
  // within a pixel of 38.2%.
  UINT32 Centre = 2 * Y + Height;
  Place.CentrePermille = (Centre * 500 + S.Height / 2) / S.Height;
  UINT32 Golden = 2 * kGoldenPermille * S.Height;
  bool CentredDown = Centre + 1 >= S.Height && Centre <= S.Height + 1;
  bool AtGolden = Centre * 1000 + 2000 >= Golden && Centre * 1000 <= Golden + 2000;
  Place.Down = Y + Height > S.Height ? VerdictText::PastTheEdge
               : CentredDown         ? VerdictText::Centred
               : AtGolden            ? VerdictText::AtGolden
                                     : VerdictText::NeitherCentredNorGolden;

  Place.WidthPercent = Width * 100 / S.Width;
  Place.HeightPercent = Height * 100 / S.Height;
  bool Within = Width * 100 <= kMostPercent * S.Width && Height * 100 <= kMostPercent * S.Height;
  Place.Size = Within ? VerdictText::WithinLargest : VerdictText::OverLargest;
  return Place;
}

}  // namespace

// A shell may have changed the mode since the firmware drew its logo, so the verdict says which
// mode it judged against.
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
  return ScreenNow{Output,
                   Mode->Mode,
                   Mode->MaxMode,
                   Info->HorizontalResolution,
                   Info->VerticalResolution,
                   Info->PixelFormat,
                   Info->PixelsPerScanLine,
                   FramebufferDepth(*Info)};
}

BgrtVerdict JudgeBgrt(const MemoryMap &Map, const BgrtFinding &Finding, const ScreenNow &Screen, const RunningOs *Os) {
  const BgrtTable &T = Finding.Table;
  BgrtVerdict Verdict{};
  Verdict.Checksum = ChecksumWords(T.Checksum);
  Verdict.LengthWrong = T.Length != BGRT_LENGTH;
  Verdict.RevisionWrong = T.Revision != BGRT_REVISION;
  Verdict.VersionWrong = T.Version != BGRT_VERSION;
  Verdict.TypeWrong = T.ImageType != BGRT_IMAGE_TYPE_BITMAP;
  Verdict.Memory.Described = MemoryTypeAt(Map, T.ImageAddress, &Verdict.Memory.Type);
  Verdict.Screen = Screen;
  // What the headers say, where the whole bitmap could be read.
  const LogoBitmap &Logo = Finding.Logo;
  if (Screen.Width != 0 && Logo.Whole && Logo.Rule.Shape.Known) {
    Verdict.Place = JudgePlace(Logo.Rule.Shape, T, Screen);
  }
  JudgeReaders(Finding, Os, &Verdict);
  return Verdict;
}
