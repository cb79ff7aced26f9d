#include "app/PngFile.h"

#include "app/Deflate.h"
#include "base/Checksum.h"
#include "base/Unaligned.h"
#include "firmware/SystemTable.h"

namespace {

constexpr UINT8 kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr UINT32 kChunkFrame = 12;  // length, type and CRC around a chunk's data
constexpr UINT32 kHeaderData = 13;
constexpr UINT32 kBytesPerPixel = 3;
constexpr UINT32 kFirstChunk = sizeof kSignature;
constexpr UINT32 kPixelChunk = kFirstChunk + kChunkFrame + kHeaderData;

// The five row filters: each byte less a guess from the byte to its left (a), above it (b) and
// above that one (c).
enum Filter : UINT8 { None, Sub, Up, Average, Paeth, kFilters };

UINT64 FilteredBytes(UINT32 Width, UINT32 Height) { return (UINT64)Height * (1 + (UINT64)kBytesPerPixel * Width); }

void PutBigEndian(UINT8 *At, UINT32 Value) {
  for (UINT32 Index = 0; Index < 4; Index++) At[Index] = (UINT8)(Value >> (24 - 8 * Index));
}

// A chunk whose Length bytes of data are in place after its type: its frame around them.
UINT8 *FrameChunk(UINT8 *At, const char (&Type)[5], UINT32 Length) {
  PutBigEndian(At, Length);
  for (UINT32 Index = 0; Index < 4; Index++) At[4 + Index] = (UINT8)Type[Index];
  PutBigEndian(At + 8 + Length, Crc32(kCrc32Start, At + 4, 4 + (UINTN)Length));
  return At + kChunkFrame + Length;
}

UINT8 PaethGuess(UINT8 A, UINT8 B, UINT8 C) {
  INT32 Left = (INT32)B - C;   // how far the guess A + B - C is from A
  INT32 Above = (INT32)A - C;  // ... from B
  INT32 Both = Left + Above;   // ... from C
  if (Left < 0) Left = -Left;
  if (Above < 0) Above = -Above;
  if (Both < 0) Both = -Both;
  if (Left <= Above && Left <= Both) return A;
  return Above <= Both ? B : C;
}

UINT32 SizeOf(UINT8 Filtered) { return Filtered < 128 ? Filtered : 256 - Filtered; }

// Row filtered against Above into Out, which the filter's type byte precedes. Returns how far the
// filtered bytes are from zero, as signed bytes, summed: the smallest sum tends to compress best.
// Stops, with the row half done, as soon as the sum reaches Enough.
UINT32 FilterRow(Filter Type, const UINT8 *Row, const UINT8 *Above, UINT32 Bytes, UINT8 *Out, UINT32 Enough) {
  Out[0] = Type;
  UINT32 Sum = 0;
  for (UINT32 Index = 0; Index < Bytes && Sum < Enough; Index++) {
    UINT8 A = Index >= kBytesPerPixel ? Row[Index - kBytesPerPixel] : 0;
    UINT8 B = Above[Index];
    UINT8 C = Index >= kBytesPerPixel ? Above[Index - kBytesPerPixel] : 0;
    UINT8 Guess = Type == Sub ? A : Type == Up ? B : Type == Average ? (UINT8)((A + B) / 2) : PaethGuess(A, B, C);
    UINT8 Left = (UINT8)(Row[Index] - Guess);
    Out[1 + Index] = Left;
    Sum += SizeOf(Left);
  }
  return Sum;
}

// The row as it is, under no filter, and its sum. Eight bytes at a time: most rows of a
// firmware's screen are black, and this is most of the time a screen takes.
UINT32 CopyRow(const UINT8 *Row, UINT32 Bytes, UINT8 *Out) {
  Out[0] = None;
  UINT32 Sum = 0;
  UINT32 Index = 0;
  for (; Index + 8 <= Bytes; Index += 8) {
    UINT64 Eight = LoadUnaligned64(Row + Index);
    StoreUnaligned64(Out + 1 + Index, Eight);
    for (UINT32 Byte = 0; Eight != 0 && Byte < 8; Byte++) Sum += SizeOf(Row[Index + Byte]);
  }
  for (; Index < Bytes; Index++) {
    Out[1 + Index] = Row[Index];
    Sum += SizeOf(Row[Index]);
  }
  return Sum;
}

// Whether at most a quarter of the row's pixels differ from the one to their left: a row drawn
// rather than photographed, of text, flat colour or a logo.
bool MostlyRuns(const UINT8 *Row, UINT32 Bytes) {
  UINT32 Changes = 0;
  for (UINT32 Index = kBytesPerPixel; Index < Bytes; Index += kBytesPerPixel) {
    Changes += Row[Index] != Row[Index - 3] || Row[Index + 1] != Row[Index - 2] || Row[Index + 2] != Row[Index - 1];
  }
  return 4 * Changes <= Bytes / kBytesPerPixel;
}

// The row filtered the way that leaves the smallest sum, but for a drawn row, which stays as it is:
// its runs and repeats are what the matches find, and a filter would hide them (a screen with
// OVMF's logo comes out at two thirds of the size this way). A row of one colour, as most of a
// firmware's screen is, is done at the first look.
void FilterBest(const UINT8 *Row, const UINT8 *Above, UINT32 Bytes, UINT8 *Out) {
  UINT32 Best = CopyRow(Row, Bytes, Out);
  if (Best == 0 || MostlyRuns(Row, Bytes)) return;
  Filter BestType = None;
  Filter Last = None;
  for (UINT8 Type = Sub; Type < kFilters && Best != 0; Type++) {
    Last = (Filter)Type;
    UINT32 Sum = FilterRow(Last, Row, Above, Bytes, Out, Best);
    if (Sum < Best) {
      Best = Sum;
      BestType = Last;
    }
  }
  if (BestType == None) {
    CopyRow(Row, Bytes, Out);
  } else if (BestType != Last) {
    FilterRow(BestType, Row, Above, Bytes, Out, ~0u);
  }
}

bool SidesFit(UINT32 Width, UINT32 Height) {
  return Width != 0 && Height != 0 && Width <= kPngLargestSide && Height <= kPngLargestSide;
}

// What MakePngFile holds besides the file: Deflate's memory, three rows, and the filtered rows.
UINT64 WorkingBytes(UINT32 Width, UINT32 Height) {
  return kDeflateWorkBytes + 3 * (UINT64)kBytesPerPixel * Width + FilteredBytes(Width, Height);
}

}  // namespace

UINT64 PngLargestBytes(UINT32 Width, UINT32 Height) {
  return kPixelChunk + kChunkFrame + ZlibLargestBytes(FilteredBytes(Width, Height)) + kChunkFrame;
}

UINT64 PngPeakPoolBytes(UINT32 Width, UINT32 Height) {
  return WorkingBytes(Width, Height) + PngLargestBytes(Width, Height);
}

EFI_STATUS MakePngFile(const PngSource &Source, UINT8 **File, UINTN *FileBytes) {
  *File = nullptr;
  *FileBytes = 0;
  UINT32 Width = Source.Width;
  UINT32 Height = Source.Height;
  if (!SidesFit(Width, Height)) return EFI_INVALID_PARAMETER;

  // Sides of at most 16384 keep every size here under 4 GiB, so each fits a UINTN on IA32 too.
  VOID *Working = nullptr;
  EFI_STATUS Status = gBootServices->AllocatePool(EfiBootServicesData, (UINTN)WorkingBytes(Width, Height), &Working);
  // Firmware that answers success, or a warning, without a buffer has given none.
  if (EFI_ERROR(Status) || Working == nullptr) return EFI_ERROR(Status) ? Status : EFI_OUT_OF_RESOURCES;
  // A row of zeros above the first, and room for two rows where the caller makes them.
  UINT32 RowBytes = kBytesPerPixel * Width;
  UINT8 *Zeros = (UINT8 *)Working + kDeflateWorkBytes;
  UINT8 *Made[2] = {Zeros + RowBytes, Zeros + 2 * RowBytes};
  UINT8 *Filtered = Zeros + 3 * RowBytes;
  for (UINT32 Index = 0; Index < RowBytes; Index++) Zeros[Index] = 0;
  const UINT8 *Above = Zeros;
  for (UINT32 Y = 0; Y < Height; Y++) {
    const UINT8 *Row = Made[Y % 2];
    if (Source.Rows != nullptr) {
      Row = Source.Rows + (UINTN)Y * RowBytes;
    } else {
      Source.ReadRow(Source.Pixels, Y, Made[Y % 2]);
    }
    FilterBest(Row, Above, RowBytes, Filtered + (UINTN)Y * (1 + RowBytes));
    Above = Row;
  }

  VOID *Room = nullptr;
  Status = gBootServices->AllocatePool(EfiBootServicesData, (UINTN)PngLargestBytes(Width, Height), &Room);
  if (EFI_ERROR(Status) || Room == nullptr) {
    gBootServices->FreePool(Working);
    return EFI_ERROR(Status) ? Status : EFI_OUT_OF_RESOURCES;
  }
  UINT8 *Png = (UINT8 *)Room;
  for (UINT32 Index = 0; Index < sizeof kSignature; Index++) Png[Index] = kSignature[Index];
  UINT8 *Header = Png + kFirstChunk + 8;
  PutBigEndian(Header, Width);
  PutBigEndian(Header + 4, Height);
  const UINT8 kRest[] = {8, 2, 0, 0, 0};  // 8 bits a sample, RGB, deflate, the five filters, not interlaced
  for (UINT32 Index = 0; Index < sizeof kRest; Index++) Header[8 + Index] = kRest[Index];
  FrameChunk(Png + kFirstChunk, "IHDR", kHeaderData);
  UINTN Compressed =
      ZlibCompress(Filtered, (UINTN)FilteredBytes(Width, Height), Png + kPixelChunk + 8, Working);
  gBootServices->FreePool(Working);
  if (Compressed == 0) {  // past the bound, which cannot be; a file cut short is never handed out
    gBootServices->FreePool(Room);
    return EFI_BUFFER_TOO_SMALL;
  }
  UINT8 *End = FrameChunk(FrameChunk(Png + kPixelChunk, "IDAT", (UINT32)Compressed), "IEND", 0);
  *File = Png;
  *FileBytes = (UINTN)(End - Png);
  return EFI_SUCCESS;
}
