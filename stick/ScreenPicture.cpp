#include "stick/ScreenPicture.h"

#include "app/App.h"
#include "app/BitmapLayout.h"
#include "app/LogoPicture.h"
#include "firmware/GraphicsOutput.h"
#include "print/Print.h"

namespace {

constexpr SavedFileNames kScreenNames = {u"Screen.png", u"Screen.new", u"Screen.old", "screen picture"};
constexpr UINT32 kBytesPerPixel = 3;

UINT8 *PixelAt(const ScreenPicture &Picture, UINT32 X, UINT32 Y) {
  return Picture.Pixels + ((UINTN)Y * Picture.Width + X) * kBytesPerPixel;
}

void Fail(ScreenPicture *Picture, PictureOutcome Outcome, EFI_STATUS Status) {
  Picture->Outcome = Outcome;
  Picture->Status = Status;
}

// Reads the screen a row at a time into the picture: a row's buffer is all the extra memory it
// takes.
EFI_STATUS ReadRows(EFI_GRAPHICS_OUTPUT_PROTOCOL *Output, ScreenPicture *Picture) {
  UINT32 Width = Picture->Width;
  VOID *Row = nullptr;
  EFI_STATUS Status = gBootServices->AllocatePool(EfiBootServicesData, Width * sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL),
                                                  &Row);
  if (EFI_ERROR(Status) || Row == nullptr) return EFI_ERROR(Status) ? Status : EFI_OUT_OF_RESOURCES;
  const EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Pixels = (const EFI_GRAPHICS_OUTPUT_BLT_PIXEL *)Row;
  for (UINT32 Y = 0; Y < Picture->Height; Y++) {
    Status = Output->Blt(Output, (EFI_GRAPHICS_OUTPUT_BLT_PIXEL *)Row, EfiBltVideoToBltBuffer, 0, Y, 0, 0, Width, 1, 0);
    if (EFI_ERROR(Status)) break;
    UINT8 *To = PixelAt(*Picture, 0, Y);
    for (UINT32 X = 0; X < Width; X++) {
      To[3 * X] = Pixels[X].Red;
      To[3 * X + 1] = Pixels[X].Green;
      To[3 * X + 2] = Pixels[X].Blue;
    }
  }
  gBootServices->FreePool(Row);
  return Status;
}

}  // namespace

void TakeScreenPicture(ScreenPicture *Picture) {
  *Picture = ScreenPicture{};
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Output = nullptr;
  if (EFI_ERROR(gBootServices->LocateProtocol(&EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID, nullptr, (VOID **)&Output)) ||
      Output == nullptr || Output->Mode == nullptr || Output->Mode->Info == nullptr ||
      Output->Mode->SizeOfInfo < sizeof(EFI_GRAPHICS_OUTPUT_MODE_INFORMATION)) {
    return Fail(Picture, PictureOutcome::NoScreen, EFI_NOT_FOUND);
  }
  Picture->Width = Output->Mode->Info->HorizontalResolution;
  Picture->Height = Output->Mode->Info->VerticalResolution;
  if (Picture->Width == 0 || Picture->Height == 0) return Fail(Picture, PictureOutcome::NoScreen, EFI_NOT_FOUND);
  // No screen is larger, and the picture's size must not wrap.
  if (Picture->Width > kBitmapLargestSide || Picture->Height > kBitmapLargestSide) {
    return Fail(Picture, PictureOutcome::TooLarge, EFI_UNSUPPORTED);
  }

  VOID *Pixels = nullptr;
  EFI_STATUS Status = gBootServices->AllocatePool(
      EfiBootServicesData, (UINTN)Picture->Width * Picture->Height * kBytesPerPixel, &Pixels);
  // Firmware that answers success, or a warning, without a buffer has given none.
  if (EFI_ERROR(Status) || Pixels == nullptr) {
    return Fail(Picture, PictureOutcome::NoMemory, EFI_ERROR(Status) ? Status : EFI_OUT_OF_RESOURCES);
  }
  Picture->Pixels = (UINT8 *)Pixels;

  Status = ReadRows(Output, Picture);
  if (EFI_ERROR(Status)) {
    ReleaseScreenPicture(Picture);
    return Fail(Picture, Status == EFI_OUT_OF_RESOURCES ? PictureOutcome::NoMemory : PictureOutcome::NotRead, Status);
  }
  Picture->Outcome = PictureOutcome::Taken;
}

UINT32 ScreenPixel(const ScreenPicture &Picture, UINT32 X, UINT32 Y) {
  const UINT8 *At = PixelAt(Picture, X, Y);
  return (UINT32)At[0] << 16 | (UINT32)At[1] << 8 | At[2];
}

bool SaveScreenPicture(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, const ScreenPicture &Picture) {
  switch (Picture.Outcome) {
    case PictureOutcome::NoScreen:
      ConsolePrint(u"Screen: no graphics output: no picture taken\n");
      return false;
    case PictureOutcome::TooLarge:
      ConsolePrint(u"Screen: %u x %u, past %u a side: no picture taken\n", Picture.Width, Picture.Height,
                   (UINT32)kBitmapLargestSide);
      return false;
    case PictureOutcome::NoMemory:
      ConsolePrint(u"Screen: %u x %u, no memory for its picture  [%r]\n", Picture.Width, Picture.Height,
                   Picture.Status);
      return false;
    case PictureOutcome::NotRead:
      ConsolePrint(u"Screen: %u x %u would not be read back  [%r]\n", Picture.Width, Picture.Height, Picture.Status);
      return false;
    case PictureOutcome::Taken:
      break;
  }
  PngSource Source = {Picture.Width, Picture.Height, nullptr, nullptr, Picture.Pixels};
  return SavePicture(Volume, kScreenNames, Source, "Screen", "as the firmware left it");
}

void ReleaseScreenPicture(ScreenPicture *Picture) {
  if (Picture->Pixels != nullptr) gBootServices->FreePool(Picture->Pixels);
  Picture->Pixels = nullptr;
}
