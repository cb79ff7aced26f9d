#include "stick/LogoOnScreen.h"

#include "app/LogoPicture.h"
#include "base/Division.h"
#include "firmware/Acpi.h"
#include "print/Print.h"

namespace {

// The logo turned a number of quarter turns clockwise, as the status says the firmware drew it:
// where its pixel X, Y lands within the turned logo, and the turned logo's sides.
struct Turn {
  UINT32 Quarters;
  UINT32 Width;  // of the logo as stored
  UINT32 Height;

  UINT32 Across() const { return Quarters % 2 == 0 ? Width : Height; }
  UINT32 Down() const { return Quarters % 2 == 0 ? Height : Width; }
  void Place(UINT32 X, UINT32 Y, UINT32 *ToX, UINT32 *ToY) const {
    switch (Quarters) {
      case 0: *ToX = X; *ToY = Y; break;
      case 1: *ToX = Height - 1 - Y; *ToY = X; break;
      case 2: *ToX = Width - 1 - X; *ToY = Height - 1 - Y; break;
      default: *ToX = Y; *ToY = Width - 1 - X; break;
    }
  }
};

// The screen's picture against the logo put at Left, Top: how many of the logo's pixels match.
// Pixels that would lie off the screen do not.
UINT64 Matches(const ScreenPicture &Picture, const LogoPixels &Logo, const Turn &T, UINT64 Left, UINT64 Top) {
  UINT64 Count = 0;
  for (UINT32 Y = 0; Y < Logo.Height; Y++) {
    for (UINT32 X = 0; X < Logo.Width; X++) {
      UINT32 DX, DY;
      T.Place(X, Y, &DX, &DY);
      if (Left + DX >= Picture.Width || Top + DY >= Picture.Height) continue;
      if (ScreenPixel(Picture, (UINT32)(Left + DX), (UINT32)(Top + DY)) == Logo.At(X, Y)) Count++;
    }
  }
  return Count;
}

// A few of the logo's pixels, spread over it, that tell it from a plain background: a place on the
// screen is compared whole only where all of them match.
constexpr UINT32 kSamplesASide = 4;
struct Samples {
  UINT32 Count;
  UINT32 X[kSamplesASide * kSamplesASide];  // where each lands within the turned logo
  UINT32 Y[kSamplesASide * kSamplesASide];
  UINT32 Colour[kSamplesASide * kSamplesASide];
};

// False when every sample has the colour of the logo's corner: a plain logo matches any patch of
// its colour, and searching for it says nothing.
bool TakeSamples(const LogoPixels &Logo, const Turn &T, Samples *S) {
  *S = Samples{};
  UINT32 Corner = Logo.At(0, 0);
  bool Telling = false;
  for (UINT32 Row = 0; Row < kSamplesASide; Row++) {
    for (UINT32 Column = 0; Column < kSamplesASide; Column++) {
      UINT32 X = (2 * Column + 1) * Logo.Width / (2 * kSamplesASide);
      UINT32 Y = (2 * Row + 1) * Logo.Height / (2 * kSamplesASide);
      UINT32 Colour = Logo.At(X, Y);
      T.Place(X, Y, &S->X[S->Count], &S->Y[S->Count]);
      S->Colour[S->Count] = Colour;
      // The first sample is the one tried at every place: one that is not the corner's colour.
      if (!Telling && Colour != Corner) {
        Telling = true;
        UINT32 First = S->Count;
        UINT32 SwapX = S->X[0], SwapY = S->Y[0], SwapColour = S->Colour[0];
        S->X[0] = S->X[First], S->Y[0] = S->Y[First], S->Colour[0] = S->Colour[First];
        S->X[First] = SwapX, S->Y[First] = SwapY, S->Colour[First] = SwapColour;
      }
      S->Count++;
    }
  }
  return Telling;
}

// Looks for the logo anywhere else on the screen: the place with most of its pixels, when that is
// at least half of them.
void SearchElsewhere(const ScreenPicture &Picture, const LogoPixels &Logo, const Turn &T, UINT64 Skip,
                     LogoOnScreen *Seen) {
  Samples S;
  if (T.Across() > Picture.Width || T.Down() > Picture.Height || !TakeSamples(Logo, T, &S)) return;
  UINT64 Total = (UINT64)Logo.Width * Logo.Height;
  UINT64 Best = 0;
  for (UINT32 Top = 0; Top + T.Down() <= Picture.Height; Top++) {
    for (UINT32 Left = 0; Left + T.Across() <= Picture.Width; Left++) {
      if (((UINT64)Top << 32 | Left) == Skip) continue;
      UINT32 Sample = 0;
      while (Sample < S.Count && ScreenPixel(Picture, Left + S.X[Sample], Top + S.Y[Sample]) == S.Colour[Sample]) {
        Sample++;
      }
      if (Sample < S.Count) continue;
      UINT64 Count = Matches(Picture, Logo, T, Left, Top);
      if (2 * Count >= Total && Count > Best) {
        Best = Count;
        Seen->SeenElsewhere = true;
        Seen->SeenX = Left;
        Seen->SeenY = Top;
        if (Count == Total) return;
      }
    }
  }
}

}  // namespace

LogoOnScreen CompareLogo(const ScreenPicture &Picture, const BgrtFinding &Finding) {
  LogoOnScreen Seen{};
  LogoPixels Logo;
  Seen.NotCompared = ReadLogoPixels(Finding, &Logo);
  if (Seen.NotCompared != nullptr) return Seen;
  const BitmapShape &Shape = Finding.Logo.Rule.Shape;
  Turn T{(UINT32)(Finding.Table.Status & BGRT_STATUS_ORIENTATION_MASK) >> BGRT_STATUS_ORIENTATION_SHIFT,
         Shape.Width, Shape.Height};

  UINT64 Total = (UINT64)Shape.Width * Shape.Height;
  UINT64 Count = Matches(Picture, Logo, T, Finding.Table.OffsetX, Finding.Table.OffsetY);
  // At most 16384 x 16384 pixels: the count of them fits 32 bits.
  Seen.Percent = (UINT32)DivU64x32Remainder(Count * 100, (UINT32)Total, nullptr);
  Seen.InPlace = 2 * Count >= Total;
  if (!Seen.InPlace) {
    SearchElsewhere(Picture, Logo, T, (UINT64)Finding.Table.OffsetY << 32 | Finding.Table.OffsetX, &Seen);
  }
  return Seen;
}

void PrintLogoOnScreen(const BgrtFinding &Finding, const LogoOnScreen &Seen) {
  if (Seen.NotCompared != nullptr) {
    ConsolePrint(u"  BGRT %u: not compared: %a\n", Finding.Number, Seen.NotCompared);
    return;
  }
  bool Displayed = (Finding.Table.Status & BGRT_STATUS_DISPLAYED) != 0;
  const char *Marked = Seen.InPlace == Displayed ? (Displayed ? "as marked displayed" : "as marked not displayed")
                                                 : (Displayed ? "yet marked displayed" : "yet marked not displayed");
  if (Seen.InPlace) {
    ConsolePrint(u"  BGRT %u: %u%% of pixels in place, %a\n", Finding.Number, Seen.Percent, Marked);
  } else if (Seen.SeenElsewhere) {
    ConsolePrint(u"  BGRT %u: %u%% of pixels in place, %a; seen at %u, %u\n", Finding.Number, Seen.Percent, Marked,
                 Seen.SeenX, Seen.SeenY);
  } else {
    ConsolePrint(u"  BGRT %u: %u%% of pixels in place, %a; not seen elsewhere\n", Finding.Number, Seen.Percent,
                 Marked);
  }
}

void SayLogosOnScreen(const ScreenPicture &Picture, const ReportRecord &Report) {
  if (Picture.Outcome != PictureOutcome::Taken) return;
  UINT32 Recorded = Report.BgrtCount < kBgrtsRecorded ? Report.BgrtCount : kBgrtsRecorded;
  for (UINT32 Index = 0; Index < Recorded; Index++) {
    PrintLogoOnScreen(Report.Bgrts[Index], CompareLogo(Picture, Report.Bgrts[Index]));
  }
  if (Report.BgrtCount > Recorded) {
    ConsolePrint(u"  BGRT %u to %u: not compared\n", Recorded + 1, Report.BgrtCount);
  }
}
