// Makes a picture of the input, encodes it with MakePngFile on the simulated firmware's pool, and
// reads the file back twice, with zlib's inflate and our own unfiltering and with libpng: both
// must give every pixel back. The file must stay within PngLargestBytes, the pool within
// PngPeakPoolBytes, and the pool must hold the file alone afterwards, then nothing. The bytes after
// the header go through ZlibCompress as they are too, and must inflate to themselves.
//
// Input: bytes 0-1 and 2-3 the sides (at most 4096 a side and 8,192 pixels: a run stays quick,
// and a picture that does not compress still fills a block of 16,384 symbols; the window's edges
// are held by the unit tests), byte 4 how the rest becomes pixels, a smaller bound on the pixels, whether the rows
// are handed over in memory or read through ReadRow, and whether a pool allocation fails, byte 5 a
// number for either; the rest, cycled over the picture, are the pixels: as they are, rows each
// starting further along, steps added to the pixel on the left, or runs of (count, byte).
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/Deflate.h"
#include "app/PngFile.h"
#include "sim/SimFirmware.h"

namespace {

constexpr size_t kHeaderBytes = 6;
constexpr uint32_t kMostSide = 4096;
constexpr uint64_t kMostPixels = 1 << 13;

enum Fill : uint8_t { AsTheyAre, ShiftedRows, Steps, Runs };
constexpr uint8_t kFillMask = 3;
// The pixels at most a million over four to the power of these three bits: most runs are then of
// small pictures, many in the time of one large one, and the sides of the large ones still vary.
constexpr uint8_t kScaleShift = 2;
constexpr uint8_t kScaleMask = 7;
constexpr uint8_t kPoolFails = 0x80;   // allocation number (byte 5 & 1) fails...
constexpr uint8_t kAndLaterOnes = 0x40;  // ... and every one after it
constexpr uint8_t kRowsInMemory = 0x20;  // the rows handed over in memory, not through ReadRow

void Check(bool Condition, const char *What) {
  if (!Condition) {
    std::fprintf(stderr, "png fuzz: %s\n", What);
    std::abort();
  }
}

struct Picture {
  uint32_t Width;
  uint32_t Height;
  std::vector<uint8_t> Rgb;
};

Picture MakePicture(uint32_t Width, uint32_t Height, uint8_t How, uint8_t Number, const uint8_t *Data, size_t Length) {
  static const uint8_t kBlack = 0;
  if (Length == 0) {
    Data = &kBlack;
    Length = 1;
  }
  Picture P = {Width, Height, std::vector<uint8_t>((size_t)Width * Height * 3)};
  const size_t Stride = (size_t)Width * 3;
  size_t At = 0;
  for (uint32_t Y = 0; Y < Height; Y++) {
    uint8_t *Row = &P.Rgb[Y * Stride];
    if ((How & kFillMask) == ShiftedRows) At = (size_t)Y * Number % Length;
    for (size_t Index = 0; Index < Stride;) {
      switch (How & kFillMask) {
        case AsTheyAre:
        case ShiftedRows:
          Row[Index++] = Data[At];
          At = (At + 1) % Length;
          break;
        case Steps: {
          uint8_t Before = Index >= 3 ? Row[Index - 3] : Y > 0 ? (Row - Stride)[Index] : 0;
          Row[Index++] = (uint8_t)(Before + Data[At]);
          At = (At + 1) % Length;
          break;
        }
        case Runs: {
          size_t Count = 1 + Data[At];
          uint8_t Byte = Data[(At + 1) % Length];
          At = (At + 2) % Length;
          for (; Count != 0 && Index < Stride; Count--) Row[Index++] = Byte;
          break;
        }
      }
    }
  }
  return P;
}

uint32_t LoadBig32(const uint8_t *At) { return (uint32_t)At[0] << 24 | At[1] << 16 | At[2] << 8 | At[3]; }

// Inflates Stream into exactly Expected bytes, or fails.
void InflateExactly(const uint8_t *Stream, size_t Length, std::vector<uint8_t> *Out, size_t Expected) {
  Out->assign(Expected + 1, 0);  // a byte over, so a stream that runs long shows
  z_stream Z = {};
  Check(inflateInit(&Z) == Z_OK, "inflateInit failed");
  Z.next_in = const_cast<uint8_t *>(Stream);
  Z.avail_in = (uInt)Length;
  Z.next_out = Out->data();
  Z.avail_out = (uInt)Out->size();
  int Result = inflate(&Z, Z_FINISH);
  if (Result != Z_STREAM_END && Z.msg != nullptr) std::fprintf(stderr, "png fuzz: inflate says %s\n", Z.msg);
  size_t Left = Z.avail_in, Made = Z.total_out;
  inflateEnd(&Z);
  Check(Result == Z_STREAM_END, "the zlib stream does not inflate to its end");
  Check(Left == 0, "bytes after the zlib stream");
  Check(Made == Expected, "the zlib stream inflates to another length");
  Out->resize(Expected);
}

uint8_t Paeth(int Left, int Up, int UpLeft) {
  int Guess = Left + Up - UpLeft;
  int ToLeft = std::abs(Guess - Left), ToUp = std::abs(Guess - Up), ToUpLeft = std::abs(Guess - UpLeft);
  if (ToLeft <= ToUp && ToLeft <= ToUpLeft) return (uint8_t)Left;
  return ToUp <= ToUpLeft ? (uint8_t)Up : (uint8_t)UpLeft;
}

// The file read by hand: signature, IHDR as written, each chunk's CRC, the IDATs together, IEND
// last; the stream inflated and each row unfiltered.
void CheckByHand(const std::vector<uint8_t> &File, const Picture &P) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Check(File.size() >= 8 && std::memcmp(File.data(), kSignature, 8) == 0, "no PNG signature");
  std::vector<uint8_t> Stream;
  bool SeenHeader = false, SeenData = false, DataEnded = false, SeenEnd = false;
  for (size_t At = 8; At < File.size();) {
    Check(!SeenEnd, "bytes after IEND");
    Check(File.size() - At >= 12, "a chunk cut off");
    uint32_t Length = LoadBig32(&File[At]);
    Check(Length <= 0x7FFFFFFF && File.size() - At - 12 >= Length, "a chunk's length runs past the file");
    const uint8_t *Type = &File[At + 4];
    const uint8_t *Data = &File[At + 8];
    Check(LoadBig32(Data + Length) == crc32(0, Type, Length + 4), "a chunk's CRC is wrong");
    At += 12 + Length;
    bool Is = false;
    Check(SeenHeader || std::memcmp(Type, "IHDR", 4) == 0, "the first chunk is not IHDR");
    if (SeenData && std::memcmp(Type, "IDAT", 4) != 0) DataEnded = true;
    if (std::memcmp(Type, "IHDR", 4) == 0) {
      Check(!SeenHeader, "a second IHDR");
      static const uint8_t kRest[5] = {8, 2, 0, 0, 0};
      Check(Length == 13 && LoadBig32(Data) == P.Width && LoadBig32(Data + 4) == P.Height &&
                std::memcmp(Data + 8, kRest, 5) == 0,
            "IHDR is not this picture's, in 8-bit RGB");
      SeenHeader = Is = true;
    }
    if (std::memcmp(Type, "IDAT", 4) == 0) {
      Check(!DataEnded, "IDAT chunks apart");
      Stream.insert(Stream.end(), Data, Data + Length);
      SeenData = Is = true;
    }
    if (std::memcmp(Type, "IEND", 4) == 0) {
      Check(Length == 0, "IEND with data");
      SeenEnd = Is = true;
    }
    Check(Is || (Type[0] & 0x20) != 0, "an unknown critical chunk");
  }
  Check(SeenEnd && SeenData, "no IDAT or no IEND");

  const size_t Stride = (size_t)P.Width * 3;
  std::vector<uint8_t> Rows;
  InflateExactly(Stream.data(), Stream.size(), &Rows, (Stride + 1) * P.Height);
  std::vector<uint8_t> Above(Stride, 0), Line(Stride);
  for (uint32_t Y = 0; Y < P.Height; Y++) {
    const uint8_t *Row = &Rows[Y * (Stride + 1)];
    uint8_t Filter = Row[0];
    Check(Filter <= 4, "a row's filter is not one of the five");
    for (size_t Index = 0; Index < Stride; Index++) {
      int Left = Index >= 3 ? Line[Index - 3] : 0, Up = Above[Index], UpLeft = Index >= 3 ? Above[Index - 3] : 0;
      int Predicted = Filter == 0   ? 0
                      : Filter == 1 ? Left
                      : Filter == 2 ? Up
                      : Filter == 3 ? (Left + Up) / 2
                                    : Paeth(Left, Up, UpLeft);
      Line[Index] = (uint8_t)(Row[1 + Index] + Predicted);
    }
    Check(std::memcmp(Line.data(), &P.Rgb[Y * Stride], Stride) == 0, "a pixel differs, inflated and unfiltered");
    Above.swap(Line);
  }
}

void CheckWithLibpng(const std::vector<uint8_t> &File, const Picture &P) {
  png_image Image = {};
  Image.version = PNG_IMAGE_VERSION;
  bool Read = png_image_begin_read_from_memory(&Image, File.data(), File.size()) != 0;
  if (!Read) std::fprintf(stderr, "png fuzz: libpng says %s\n", Image.message);
  Check(Read, "libpng cannot read the file");
  Check(Image.width == P.Width && Image.height == P.Height, "libpng reads other sides");
  Image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> Rgb(PNG_IMAGE_SIZE(Image));
  Read = png_image_finish_read(&Image, nullptr, Rgb.data(), 0, nullptr) != 0;
  if (!Read || Image.warning_or_error != 0) std::fprintf(stderr, "png fuzz: libpng says %s\n", Image.message);
  Check(Read, "libpng cannot read the pixels");
  Check(Image.warning_or_error == 0, "libpng warns");
  Check(Rgb == P.Rgb, "a pixel differs, read by libpng");
}

// The pool, metered on its way to the simulated firmware's.
struct PoolMeter {
  EFI_ALLOCATE_POOL Allocate;
  EFI_FREE_POOL Free;
  uint64_t Held;
  uint64_t Peak;
} gMeter;

EFI_STATUS EFIAPI MeteredAllocatePool(EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer) {
  EFI_STATUS Status = gMeter.Allocate(Type, Size, Buffer);
  if (!EFI_ERROR(Status)) {
    gMeter.Held += Size;
    gMeter.Peak = std::max(gMeter.Peak, gMeter.Held);
  }
  return Status;
}

EFI_STATUS EFIAPI MeteredFreePool(VOID *Buffer) {
  for (const SimFirmware::PoolBuffer &Given : SimFirmware::Current().Pool_) {
    if (Given.Memory == Buffer) gMeter.Held -= Given.Size;
  }
  return gMeter.Free(Buffer);
}

void ReadPictureRow(const VOID *Pixels, UINT32 Y, UINT8 *Row) {
  const Picture *P = (const Picture *)Pixels;
  Check(Y < P->Height, "a row past the picture asked for");
  std::memcpy(Row, &P->Rgb[(size_t)Y * P->Width * 3], (size_t)P->Width * 3);
}

// The bytes as they are through ZlibCompress, from working memory full of old bytes.
void CheckStream(const uint8_t *Data, size_t Length) {
  static std::vector<uint32_t> Work(kDeflateWorkBytes / sizeof(uint32_t), 0xA5A5A5A5);
  std::vector<uint8_t> Out(ZlibLargestBytes(Length));
  UINTN Made = ZlibCompress(Data, Length, Out.data(), Work.data());
  Check(Made != 0 && Made <= Out.size(), "ZlibCompress ran past its bound");
  std::vector<uint8_t> Back;
  InflateExactly(Out.data(), Made, &Back, Length);
  Check(Length == 0 || std::memcmp(Back.data(), Data, Length) == 0, "the stream inflates to other bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Length) {
  if (Length < kHeaderBytes) return 0;
  uint32_t Width = 1 + (Data[0] | Data[1] << 8) % kMostSide;
  uint32_t Height = 1 + (Data[2] | Data[3] << 8) % kMostSide;
  const uint8_t How = Data[4], Number = Data[5];
  const uint64_t MostPixels = std::max<uint64_t>(kMostPixels >> (2 * ((How >> kScaleShift) & kScaleMask)), 1);
  Width = (uint32_t)std::min<uint64_t>(Width, MostPixels);
  if ((uint64_t)Width * Height > MostPixels) Height = (uint32_t)(MostPixels / Width);
  Data += kHeaderBytes;
  Length -= kHeaderBytes;
  CheckStream(Data, Length);
  const Picture P = MakePicture(Width, Height, How, Number, Data, Length);

  SimFirmware Firmware;
  Firmware.Activate();
  gMeter = PoolMeter{gBootServices->AllocatePool, gBootServices->FreePool, 0, 0};
  gBootServices->AllocatePool = MeteredAllocatePool;
  gBootServices->FreePool = MeteredFreePool;
  const bool Failing = (How & kPoolFails) != 0;
  if (Failing) {
    Firmware.FailCall(SimCall::AllocatePool, EFI_OUT_OF_RESOURCES, Number & 1, (How & kAndLaterOnes) != 0 ? -1 : 1);
  }
  PngSource Source = {Width, Height, &P, ReadPictureRow};
  if ((How & kRowsInMemory) != 0) {
    Source.Pixels = nullptr;
    Source.ReadRow = nullptr;
    Source.Rows = P.Rgb.data();
  }
  UINT8 *File = nullptr;
  UINTN FileBytes = 0;
  EFI_STATUS Status = MakePngFile(Source, &File, &FileBytes);
  Check(Firmware.BadFrees() == 0, "a pool buffer was freed that was not allocated");
  Check(gMeter.Peak <= PngPeakPoolBytes(Width, Height), "the pool held more than PngPeakPoolBytes");
  if (Status != EFI_SUCCESS) {
    Check(Failing && Status == EFI_OUT_OF_RESOURCES, "MakePngFile failed, not for the pool");
    Check(Firmware.OutstandingPool() == 0, "a pool buffer was left after a failure");
    return 0;
  }
  Check(Firmware.OutstandingPool() == 1 && Firmware.Pool_[0].Memory == File && Firmware.Pool_[0].Size >= FileBytes,
        "the pool holds more than the file");
  Check(FileBytes <= PngLargestBytes(Width, Height), "the file is larger than PngLargestBytes");
  const std::vector<uint8_t> Bytes(File, File + FileBytes);
  Check(gBootServices->FreePool(File) == EFI_SUCCESS && Firmware.OutstandingPool() == 0, "the file is no pool buffer");

  CheckByHand(Bytes, P);
  CheckWithLibpng(Bytes, P);
  return 0;
}
