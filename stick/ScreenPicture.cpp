#include "stick/ScreenPicture.h"

#include "app/App.h"
#include "app/BitmapLayout.h"
#include "base/Unaligned.h"
#include "firmware/Acpi.h"
#include "firmware/GraphicsOutput.h"
#include "print/Print.h"

namespace {

constexpr SavedFileNames kScreenNames = {u"Screen.bmp", u"Screen.new", u"Screen.old", "screen picture"};

// The picture's headers: the 14-byte file header and the 40-byte information header every viewer
// reads; rows of three bytes a pixel, blue first, padded to four bytes, the bottom row first.
constexpr UINT32 kFileHeaderBytes = 14;
constexpr UINT32 kInfoHeaderBytes = 40;
constexpr UINT32 kHeadersBytes = kFileHeaderBytes + kInfoHeaderBytes;
constexpr UINT32 kPixelsPerMetre = 2835;  // 72 pixels an inch, which viewers assume anyway

UINT32 RowBytes(UINT32 Width) { return (Width * 3 + 3) & ~3u; }

void WriteHeaders(UINT8 *File, UINT32 Width, UINT32 Height, UINT32 PixelBytes) {
  File[0] = 'B';
  File[1] = 'M';
  StoreUnaligned32(File + offsetof(BMP_HEADER, FileSize), kHeadersBytes + PixelBytes);
  StoreUnaligned32(File + offsetof(BMP_HEADER, DataOffset), kHeadersBytes);
  StoreUnaligned32(File + offsetof(BMP_HEADER, HeaderSize), kInfoHeaderBytes);
  StoreUnaligned32(File + offsetof(BMP_HEADER, Width), Width);
  StoreUnaligned32(File + offsetof(BMP_HEADER, Height), Height);
  StoreUnaligned16(File + offsetof(BMP_HEADER, Planes), 1);
  StoreUnaligned16(File + offsetof(BMP_HEADER, BitsPerPixel), 24);
  StoreUnaligned32(File + 34, PixelBytes);  // the image size; compression, at 30, stays 0
  StoreUnaligned32(File + 38, kPixelsPerMetre);
  StoreUnaligned32(File + 42, kPixelsPerMetre);
}

void Fail(ScreenPicture *Picture, PictureOutcome Outcome, EFI_STATUS Status) {
  Picture->Outcome = Outcome;
  Picture->Status = Status;
}

// Reads the screen a row at a time into the file's rows: a row's buffer is all the extra memory
// it takes, and the file is what the stick keeps.
EFI_STATUS ReadRows(EFI_GRAPHICS_OUTPUT_PROTOCOL *Output, ScreenPicture *Picture) {
  UINT32 Width = Picture->Width;
  VOID *Row = nullptr;
  EFI_STATUS Status = gBootServices->AllocatePool(EfiBootServicesData, Width * sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL),
                                                  &Row);
  if (EFI_ERROR(Status)) return Status;
  const EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Pixels = (const EFI_GRAPHICS_OUTPUT_BLT_PIXEL *)Row;
  for (UINT32 Y = 0; Y < Picture->Height; Y++) {
    Status = Output->Blt(Output, (EFI_GRAPHICS_OUTPUT_BLT_PIXEL *)Row, EfiBltVideoToBltBuffer, 0, Y, 0, 0, Width, 1, 0);
    if (EFI_ERROR(Status)) break;
    UINT8 *To = Picture->File + kHeadersBytes + (UINTN)(Picture->Height - 1 - Y) * RowBytes(Width);
    for (UINT32 X = 0; X < Width; X++) {
      To[3 * X] = Pixels[X].Blue;
      To[3 * X + 1] = Pixels[X].Green;
      To[3 * X + 2] = Pixels[X].Red;
    }
    for (UINT32 Pad = 3 * Width; Pad < RowBytes(Width); Pad++) To[Pad] = 0;
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

  UINT32 PixelBytes = RowBytes(Picture->Width) * Picture->Height;
  VOID *File = nullptr;
  EFI_STATUS Status = gBootServices->AllocatePool(EfiBootServicesData, kHeadersBytes + PixelBytes, &File);
  if (EFI_ERROR(Status)) return Fail(Picture, PictureOutcome::NoMemory, Status);
  Picture->File = (UINT8 *)File;
  Picture->FileBytes = kHeadersBytes + PixelBytes;
  for (UINT32 Byte = 0; Byte < kHeadersBytes; Byte++) Picture->File[Byte] = 0;
  WriteHeaders(Picture->File, Picture->Width, Picture->Height, PixelBytes);

  Status = ReadRows(Output, Picture);
  if (EFI_ERROR(Status)) {
    ReleaseScreenPicture(Picture);
    return Fail(Picture, Status == EFI_OUT_OF_RESOURCES ? PictureOutcome::NoMemory : PictureOutcome::NotRead, Status);
  }
  Picture->Outcome = PictureOutcome::Taken;
}

UINT32 ScreenPixel(const ScreenPicture &Picture, UINT32 X, UINT32 Y) {
  const UINT8 *At = Picture.File + kHeadersBytes + (UINTN)(Picture.Height - 1 - Y) * RowBytes(Picture.Width) + 3 * X;
  return (UINT32)At[2] << 16 | (UINT32)At[1] << 8 | At[0];
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
  SaveOutcome Outcome;
  EFI_STATUS Status = SaveWholeFile(Volume, kScreenNames, (UINT64)(UINTN)Picture.File, Picture.FileBytes, &Outcome);
  ConsolePrint(u"Screen: %u x %u as the firmware left it, %a\n", Picture.Width, Picture.Height,
               EFI_ERROR(Status) ? "not saved" : "saved as Screen.bmp");
  return !EFI_ERROR(Status);
}

void ReleaseScreenPicture(ScreenPicture *Picture) {
  if (Picture->File != nullptr) gBootServices->FreePool(Picture->File);
  Picture->File = nullptr;
  Picture->FileBytes = 0;
}
