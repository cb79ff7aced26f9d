#include "app/PlymouthRules.h"

#include "app/PlainBitmap.h"
#include "app/ScreenPlace.h"
#include "firmware/Acpi.h"

namespace {

// Offsets and sides are cut to this before any arithmetic, so that no sum can overflow 32 bits;
// Plymouth's own int arithmetic would overflow first, and no logo that far out is drawn.
constexpr INT32 kLargest = 1 << 20;

INT32 Cut(INT32 Value) { return Value > kLargest ? kLargest : Value < -kLargest ? -kLargest : Value; }
INT32 Cut(UINT32 Value) { return Value > (UINT32)kLargest ? kLargest : (INT32)Value; }

bool Quarter(PlymouthRotation Rotation) {
  return Rotation == PlymouthRotation::Clockwise || Rotation == PlymouthRotation::CounterClockwise;
}

// The BGRT's status bits 1-2 say how far the firmware turned the logo clockwise; Plymouth reads
// them as how it must turn the logo back (get_bgrt_sysfs_info).
PlymouthRotation BgrtRotation(UINT8 Status) {
  switch (Status >> BGRT_STATUS_ORIENTATION_SHIFT & 3) {
    case 1: return PlymouthRotation::CounterClockwise;
    case 2: return PlymouthRotation::UpsideDown;
    case 3: return PlymouthRotation::Clockwise;
    default: return PlymouthRotation::Upright;
  }
}

// Where Plymouth puts a logo whose offsets it does not trust: centred across, its centre 38.2%
// down.
INT32 GoldenTop(INT32 ScreenHeight, INT32 Height) { return ScreenHeight * kGoldenPermille / 1000 - Height / 2; }

}  // namespace

PlymouthPlace PlacePlymouthLogo(const PlymouthDisplay &D, UINT32 Width32, UINT32 Height32, INT32 OffsetX32,
                                INT32 OffsetY32, UINT8 Status) {
  INT32 RawWidth = Cut(Width32);
  INT32 RawHeight = Cut(Height32);
  INT32 OffsetX = Cut(OffsetX32);
  INT32 OffsetY = Cut(OffsetY32);
  INT32 ScreenWidth = Cut(D.Width);
  INT32 ScreenHeight = Cut(D.Height);
  INT32 PanelWidth = D.HasPanel ? Cut(D.PanelWidth) : 0;
  INT32 PanelHeight = D.HasPanel ? Cut(D.PanelHeight) : 0;
  INT32 PanelScale = D.HasPanel && D.PanelScale > 0 ? D.PanelScale : 1;
  PlymouthRotation Panel = D.HasPanel ? D.PanelRotation : PlymouthRotation::Upright;
  PlymouthRotation Bgrt = BgrtRotation(Status);

  // Firmware of some 2-in-1s with a panel mounted turned 90 degrees draws the logo as for a
  // landscape panel and sets no rotation bits; Plymouth knows them by a logo centred across the
  // panel's height rather than its width, and turns it as the panel.
  if (D.HasPanel && Quarter(Panel) && CentredAt(PanelWidth, RawWidth) != OffsetX &&
      CentredAt(PanelHeight, RawWidth) == OffsetX) {
    Bgrt = Panel;
  }
  // A logo the firmware says it turned is shown only on a panel turned the same way, and then
  // judged against the panel's sides as turned upright.
  if (Bgrt != PlymouthRotation::Upright) {
    if (Bgrt != Panel) return PlymouthPlace{true, 0, 0};
    if (Quarter(Panel)) {
      INT32 Swap = PanelWidth;
      PanelWidth = PanelHeight;
      PanelHeight = Swap;
    }
    Panel = PlymouthRotation::Upright;
  }

  // The logo's sides as drawn: turned with the panel, and over its scale.
  INT32 Width = RawWidth;
  INT32 Height = RawHeight;
  if (D.HasPanel) {
    if (Quarter(Panel)) {
      Width = RawHeight;
      Height = RawWidth;
    }
    Width /= PanelScale;
    Height /= PanelScale;
  }

  PlymouthPlace Place{false, CentredAt(ScreenWidth, Width), GoldenTop(ScreenHeight, Height)};
  // On a panel whose firmware centred the logo across for the panel's native width, the firmware's
  // offsets are kept, moved only as far as this display differs from the panel.
  if (D.HasPanel && CentredAt(PanelWidth, RawWidth) == OffsetX) {
    if (Quarter(Panel)) {
      // The panel's top is the logo's right side once turned upright: the offsets swap, and on a
      // panel turned counter-clockwise the one down is counted from the other end.
      INT32 Down = Panel == PlymouthRotation::CounterClockwise ? PanelHeight - RawHeight - OffsetY : OffsetY;
      Place.X = Down / PanelScale + CentredAt(ScreenWidth, PanelHeight / PanelScale);
      Place.Y = OffsetX / PanelScale + (ScreenHeight - PanelWidth / PanelScale) * kGoldenPermille / 1000;
    } else {
      Place.X = OffsetX / PanelScale + CentredAt(ScreenWidth, PanelWidth / PanelScale);
      Place.Y = OffsetY / PanelScale + (ScreenHeight - PanelHeight / PanelScale) * kGoldenPermille / 1000;
    }
  }
  // Without a panel, a logo centred exactly both ways stays where the firmware put it.
  if (!D.HasPanel && D.Scale == 1 && CentredAt(ScreenWidth, Width) == OffsetX &&
      CentredAt(ScreenHeight, Height) == OffsetY) {
    Place.X = OffsetX;
    Place.Y = OffsetY;
  }
  return Place;
}

INT32 PlymouthDeviceScale(UINT32 Width, UINT32 Height, UINT32 WidthMm, UINT32 HeightMm, bool Guess) {
  constexpr UINT64 kHiDpiLimit = 192;  // dots an inch, both ways, past which it draws twice as large
  constexpr UINT32 kHiDpiLeastHeight = 1200;
  constexpr UINT32 kHiDpiLeastGuessedWidth = 2560;
  if (Height < kHiDpiLeastHeight) return 1;
  if (Guess) return Width >= kHiDpiLeastGuessedWidth ? 2 : 1;
  // Some displays give their aspect ratio where their size belongs.
  bool AspectRatio = (WidthMm == 160 && (HeightMm == 90 || HeightMm == 100)) ||
                     (WidthMm == 16 && (HeightMm == 9 || HeightMm == 10));
  if (AspectRatio) return 1;
  if (WidthMm == 0 || HeightMm == 0) return 1;
  // Width / (WidthMm / 25.4) > 192, in integers: 254 tenths of a millimetre an inch.
  bool Dense = (UINT64)Width * 254 > kHiDpiLimit * 10 * WidthMm && (UINT64)Height * 254 > kHiDpiLimit * 10 * HeightMm;
  return Dense ? 2 : 1;
}

VerdictText WhyPlymouthCannotLoad(const LogoBitmap &Logo) {
  // It reads 16 bytes to tell a PNG from a bitmap, then takes a bitmap only with "BM" (which the
  // kernel already checked) and a reserved field of 0, then reads both headers whole.
  if (Logo.FileSize < 16) return VerdictText::Under54Bytes;
  if (Logo.Reserved != 0) return VerdictText::ReservedNotZero;
  if (Logo.FileSize < kPlainHeadersBytes) return VerdictText::Under54Bytes;
  VerdictText Why = WhyNotPlainHeaders(Logo);
  if (Why != VerdictText::None) return Why;
  // The rows are read from the data offset on, as many bytes as a 32-bit product of row and height
  // (the height without its sign, as the bitmap rule read it from the 40-byte header).
  UINT32 RowsBytes = PlainRowBytes(Logo.Width) * Logo.Rule.Shape.Height;
  if ((UINT64)Logo.DataOffset + RowsBytes > Logo.FileSize) return VerdictText::RowsPastSize;
  return VerdictText::None;
}
