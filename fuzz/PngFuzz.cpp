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
#include "tests/PngRead.h"

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

using Picture = RgbPicture;

Picture MakePicture(uint32_t Width, uint32_t Height, uint8_t How, uint8_t Number, const uint8_t *Data, size_t Length) {
  static const uint8_t kBlack = 0;
  if (Length == 0) {
    Data = &kBlack;
    Length = 1;
  }
  Picture P(Width, Height);
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

// The file read back by hand (every chunk, its CRC and each row's filter checked) and by libpng:
// both must give every pixel.
void CheckReadBack(const std::vector<uint8_t> &File, const Picture &P) {
  Picture Read;
  std::string Fault = ReadPngByHand(File, &Read);
  if (!Fault.empty()) std::fprintf(stderr, "png fuzz: by hand: %s\n", Fault.c_str());
  Check(Fault.empty(), "the file does not read back by hand");
  Check(Read.Width == P.Width && Read.Height == P.Height && Read.Rgb == P.Rgb, "a pixel differs, read by hand");
  Fault = ReadPngWithLibpng(File, &Read);
  if (!Fault.empty()) std::fprintf(stderr, "png fuzz: libpng: %s\n", Fault.c_str());
  Check(Fault.empty(), "libpng cannot read the file, or warns");
  Check(Read.Width == P.Width && Read.Height == P.Height && Read.Rgb == P.Rgb, "a pixel differs, read by libpng");
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
  Check(Firmware.PeakPoolBytes() <= PngPeakPoolBytes(Width, Height), "the pool held more than PngPeakPoolBytes");
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

  CheckReadBack(Bytes, P);
  return 0;
}
