#include "app/LogoPicture.h"

#include "firmware/SystemTable.h"
#include "print/Print.h"

namespace {

constexpr SavedFileNames kLogoPictureNames = {u"BIOSLogo.png", u"BIOSLogo.new", u"BIOSLogo.old", "logo picture"};

// Row Y of the logo as a PNG's rows have it: red, green, blue.
void RowAsRgb(const VOID *Pixels, UINT32 Y, UINT8 *Row) {
  const LogoPixels &Logo = *(const LogoPixels *)Pixels;
  for (UINT32 X = 0; X < Logo.Width; X++) {
    UINT32 Colour = Logo.At(X, Y);
    Row[3 * X] = (UINT8)(Colour >> 16);
    Row[3 * X + 1] = (UINT8)(Colour >> 8);
    Row[3 * X + 2] = (UINT8)Colour;
  }
}

}  // namespace

const char *ReadLogoPixels(const BgrtFinding &Finding, LogoPixels *Pixels) {
  *Pixels = LogoPixels{};
  const BitmapShape &Shape = Finding.Logo.Rule.Shape;
  if (!Finding.Table.Whole) return "its table is cut short";
  switch (Finding.Outcome) {
    case LogoOutcome::NoImage:
      return "no image";
    case LogoOutcome::Unreadable:
      return "its bitmap could not be read";
    case LogoOutcome::Refused:
      return "its bitmap was refused";
    case LogoOutcome::Saved:
    case LogoOutcome::SaveFailed:
      break;
  }
  if (Shape.Compression != 0 || (Shape.BitsPerPixel != 24 && Shape.BitsPerPixel != 32)) {
    return "not a plain 24 or 32-bit bitmap";
  }
  // The report found the whole bitmap readable and sound: its headers account for every row.
  const UINT8 *Image = (const UINT8 *)(UINTN)Finding.Table.ImageAddress;
  *Pixels = LogoPixels{Image + Finding.Logo.DataOffset, Shape.Width, Shape.Height, Shape.BitsPerPixel / 8,
                       ((Shape.Width * Shape.BitsPerPixel + 31) >> 5) << 2, !Shape.TopDown};
  return nullptr;
}

bool SavePicture(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, const SavedFileNames &Names, const PngSource &Source,
                 const char *Label, const char *Shown) {
  UINT8 *Png = nullptr;
  UINTN PngBytes = 0;
  EFI_STATUS Status = MakePngFile(Source, &Png, &PngBytes);
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"%a: %u x %u, no memory for its PNG  [%r]\n", Label, Source.Width, Source.Height, Status);
    return false;
  }
  SaveOutcome Outcome;
  Status = SaveWholeFile(Volume, Names, (UINT64)(UINTN)Png, PngBytes, &Outcome);
  gBootServices->FreePool(Png);
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"%a: %u x %u %a, not saved\n", Label, Source.Width, Source.Height, Shown);
  } else {
    ConsolePrint(u"%a: %u x %u %a, saved as %s\n", Label, Source.Width, Source.Height, Shown, Names.Name);
  }
  return !EFI_ERROR(Status);
}

bool SaveLogoPicture(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, const BgrtFinding &Finding) {
  LogoPixels Logo;
  const char *WhyNot = ReadLogoPixels(Finding, &Logo);
  if (WhyNot != nullptr) {
    ConsolePrint(u"Logo: no BIOSLogo.png: %a\n", WhyNot);
    return false;
  }
  return SavePicture(Volume, kLogoPictureNames, {Logo.Width, Logo.Height, &Logo, RowAsRgb}, "Logo", "as a picture");
}
