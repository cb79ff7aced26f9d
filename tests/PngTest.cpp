// The PNG writer against the host's zlib and libpng: every picture comes back pixel for pixel from
// both libpng and zlib's inflate with our own unfiltering; files stay within their bounds and are
// small where the picture allows; refusals and the pool's failures leave nothing held. Below it the
// two checksums against zlib's, and the zlib stream against zlib's inflate.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/Deflate.h"
#include "app/PngFile.h"
#include "base/Checksum.h"
#include "sim/SimFirmware.h"
#include "tests/CaseNames.h"
#include "tests/PngRead.h"

namespace {

using Picture = RgbPicture;

uint64_t BitmapBytes(uint32_t Width, uint32_t Height) { return 54 + (uint64_t)Height * ((3ull * Width + 3) & ~3ull); }

// Where the first pixel differs, or nothing when the pictures are the same.
std::string Difference(const Picture &Got, const Picture &Wanted) {
  if (Got.Width != Wanted.Width || Got.Height != Wanted.Height) {
    return "sides " + std::to_string(Got.Width) + " x " + std::to_string(Got.Height) + ", wanted " +
           std::to_string(Wanted.Width) + " x " + std::to_string(Wanted.Height);
  }
  for (size_t Index = 0; Index < Wanted.Rgb.size(); Index++) {
    if (Got.Rgb[Index] != Wanted.Rgb[Index]) {
      size_t Pixel = Index / 3;
      return "pixel " + std::to_string(Pixel % Wanted.Width) + ", " + std::to_string(Pixel / Wanted.Width) +
             " channel " + std::to_string(Index % 3) + " is " + std::to_string(Got.Rgb[Index]) + ", wanted " +
             std::to_string(Wanted.Rgb[Index]);
    }
  }
  return "";
}

// Pictures.

Picture RandomPicture(uint32_t Width, uint32_t Height, uint32_t Variant) {
  Picture P(Width, Height);
  std::mt19937 Random(Variant);
  for (uint8_t &Byte : P.Rgb) Byte = (uint8_t)Random();
  return P;
}

// Every channel a ramp across the picture: each row alike but for a step, which only a filter
// that looks at the left or upper pixel turns into runs.
Picture Gradient(uint32_t Width, uint32_t Height) {
  Picture P(Width, Height);
  for (uint32_t Y = 0; Y < Height; Y++) {
    for (uint32_t X = 0; X < Width; X++) {
      P.Set(X, Y, (uint8_t)(X * 255 / std::max(Width - 1, 1u)), (uint8_t)(Y * 255 / std::max(Height - 1, 1u)),
            (uint8_t)((X + Y) * 255 / std::max(Width + Height - 2, 1u)));
    }
  }
  return P;
}

// Each channel a sum of a step across and a step down: the step down is the same everywhere, the
// step across is nothing, or as large as the step down, either way. Paeth's guess then beats every
// other filter's, and it often has to choose between the pixels to the left and above at equal
// distances.
Picture Separable(uint32_t Width, uint32_t Height, uint32_t Variant) {
  Picture P(Width, Height);
  std::mt19937 Random(Variant);
  std::vector<uint8_t> Across(Width * 3);
  for (size_t Index = 3; Index < Across.size(); Index++) {
    Across[Index] = (uint8_t)(Across[Index - 3] + (int)(Random() % 3 - 1) * 20);
  }
  for (uint32_t Y = 0; Y < Height; Y++) {
    for (size_t Index = 0; Index < Across.size(); Index++) P.Pixel(0, Y)[Index] = (uint8_t)(Across[Index] + 20 * Y);
  }
  return P;
}

// QUILLON in a 5 x 7 font, each dot 8 pixels square.
const char *const kLetters[7][7] = {
    {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"},  // Q
    {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."},  // U
    {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."},  // I
    {"#....", "#....", "#....", "#....", "#....", "#....", "#####"},  // L
    {"#....", "#....", "#....", "#....", "#....", "#....", "#####"},  // L
    {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."},  // O
    {"#...#", "##..#", "#.#.#", "#.#.#", "#..##", "#...#", "#...#"},  // N
};

// The screen firmware leaves: black, and a logo of 543 x 80 pixels in four colours, a ring and a
// word, centred across and 38% down.
Picture ScreenWithLogo(uint32_t Width, uint32_t Height) {
  Picture P(Width, Height);
  const int Left = ((int)Width - 543) / 2;
  const int Top = (int)Height * 38 / 100 - 40;
  for (int Y = 0; Y < 80; Y++) {
    for (int X = 0; X < 543; X++) {
      int Dx = X - 40, Dy = Y - 40;
      int Distance = Dx * Dx + Dy * Dy;
      uint32_t Colour = 0;
      if (Distance <= 38 * 38 && Distance >= 28 * 28) Colour = 0xD70A53;
      int Column = (X - 100) / 8, Row = (Y - 4) / 8;
      if (X >= 100 && Y >= 4 && Row < 7 && Column % 6 < 5 && Column / 6 < 7 &&
          kLetters[Column / 6][Row][Column % 6] == '#') {
        Colour = 0xFFFFFF;
      }
      if (Y >= 66 && Y < 70 && X >= 100 && X < 430) Colour = 0x808080;
      P.Set((uint32_t)(Left + X), (uint32_t)(Top + Y), (uint8_t)(Colour >> 16), (uint8_t)(Colour >> 8),
            (uint8_t)Colour);
    }
  }
  return P;
}

// Encoding on the simulated firmware.

struct RowReads {
  const Picture *P;
  uint32_t Reads;
  uint32_t Outside;  // rows asked for past the picture
};

void ReadPictureRow(const VOID *Pixels, UINT32 Y, UINT8 *Row) {
  RowReads *Reads = (RowReads *)const_cast<VOID *>(Pixels);
  Reads->Reads++;
  if (Y >= Reads->P->Height) {
    Reads->Outside++;
    return;
  }
  std::memcpy(Row, &Reads->P->Rgb[(size_t)Y * Reads->P->Width * 3], (size_t)Reads->P->Width * 3);
}

struct Encoded {
  EFI_STATUS Status;
  std::vector<uint8_t> File;
  uint64_t PeakPool;
  int Allocations;
  uint32_t RowsRead;
};

// Where MakePngFile finds the rows: from ReadRow, or in memory.
enum class RowsFrom { Calls, Memory };

// MakePngFile on a fresh firmware that Arrange may set to fail. Afterwards the pool holds the file
// alone, then nothing once the file is given back; after a failure, nothing.
Encoded Encode(const Picture &P, uint32_t Width, uint32_t Height, RowsFrom From,
               const std::function<void(SimFirmware &)> &Arrange = nullptr) {
  SimFirmware Firmware;
  Firmware.Activate();
  if (Arrange) Arrange(Firmware);

  RowReads Reads = {&P, 0, 0};
  PngSource Source = {Width, Height, &Reads, ReadPictureRow};
  if (From == RowsFrom::Memory) {
    Source.Pixels = nullptr;
    Source.ReadRow = nullptr;
    Source.Rows = P.Rgb.data();
  }
  UINT8 *File = nullptr;
  UINTN FileBytes = 0;
  Encoded Result = {MakePngFile(Source, &File, &FileBytes), {}, 0, 0, 0};
  EXPECT_EQ(Reads.Outside, 0u) << "rows read past the picture";
  if (Result.Status == EFI_SUCCESS) {
    EXPECT_EQ(Firmware.OutstandingPool(), 1u) << "the pool holds more than the file";
    bool FileInPool = false;
    for (const SimFirmware::PoolBuffer &Given : Firmware.Pool_) {
      FileInPool |= Given.Memory == File && Given.Size >= FileBytes;
    }
    EXPECT_TRUE(FileInPool) << "the file is not a pool buffer of its length";
    Result.File.assign(File, File + FileBytes);
    EXPECT_EQ(gBootServices->FreePool(File), EFI_SUCCESS);
  }
  EXPECT_EQ(Firmware.OutstandingPool(), 0u) << "pool buffers left";
  EXPECT_EQ(Firmware.BadFrees(), 0u);
  Result.PeakPool = Firmware.PeakPoolBytes();
  Result.Allocations = Firmware.Calls(SimCall::AllocatePool);
  Result.RowsRead = Reads.Reads;
  return Result;
}

Encoded Encode(const Picture &P, RowsFrom From = RowsFrom::Calls,
               const std::function<void(SimFirmware &)> &Arrange = nullptr) {
  return Encode(P, P.Width, P.Height, From, Arrange);
}

size_t ZlibUnfilteredBytes(const Picture &P) {
  std::vector<uint8_t> Rows;
  for (uint32_t Y = 0; Y < P.Height; Y++) {
    Rows.push_back(0);
    Rows.insert(Rows.end(), P.Rgb.begin() + (long)Y * P.Width * 3, P.Rgb.begin() + (long)(Y + 1) * P.Width * 3);
  }
  uLongf Bytes = compressBound(Rows.size());
  std::vector<uint8_t> Out(Bytes);
  EXPECT_EQ(compress2(Out.data(), &Bytes, Rows.data(), Rows.size(), 9), Z_OK);
  return Bytes;
}

// Both decoders give the picture back, and the file and the pool stay within their bounds.
// Filtered, where given, gets the inflated rows, each with its filter's byte in front.
void ExpectRoundTrip(const Picture &P, const Encoded &E, std::vector<uint8_t> *Filtered = nullptr) {
  ASSERT_EQ(E.Status, EFI_SUCCESS);
  EXPECT_LE(E.File.size(), PngLargestBytes(P.Width, P.Height));
  EXPECT_LE(E.PeakPool, PngPeakPoolBytes(P.Width, P.Height));
  Picture Ours, Theirs;
  std::string Fault = ReadPngByHand(E.File, &Ours, Filtered);
  ASSERT_EQ(Fault, "");
  EXPECT_EQ(Difference(Ours, P), "") << "inflated and unfiltered";
  Fault = ReadPngWithLibpng(E.File, &Theirs);
  ASSERT_EQ(Fault, "");
  EXPECT_EQ(Difference(Theirs, P), "") << "read by libpng";
}

// How small the file must be, beyond PngLargestBytes.
enum class Smallness {
  AnySize,
  HundredthOfBitmap,       // mostly one colour: at most 1% of the 24-bit BMP
  BitmapAndAHundredth,     // noise: at most the BMP and 1%
  QuarterOfZlibUnfiltered  // smooth: filters beat zlib's best on the rows as they are, four times over
};

struct PictureCase {
  const char *Name;
  const char *What;
  std::function<Picture()> Make;
  Smallness Small;
};

void PrintTo(const PictureCase &C, std::ostream *Stream) { *Stream << C.What; }

const PictureCase kPictures[] = {
    {"one_pixel", "1 x 1", [] { return RandomPicture(1, 1, 1); }, Smallness::AnySize},
    {"one_black_pixel", "1 x 1 black", [] { return Picture(1, 1); }, Smallness::AnySize},
    {"two_across", "2 x 1: no pixel has a left neighbour's left", [] { return RandomPicture(2, 1, 2); },
     Smallness::AnySize},
    {"odd_width_3", "3 x 7", [] { return Gradient(3, 7); }, Smallness::AnySize},
    {"odd_width_17", "17 x 5 noise", [] { return RandomPicture(17, 5, 3); }, Smallness::AnySize},
    {"odd_width_1021", "1021 x 9 gradient", [] { return Gradient(1021, 9); }, Smallness::AnySize},
    {"widest_row", "16384 x 1 noise: the widest row, more than a 64 KiB block",
     [] { return RandomPicture(kPngLargestSide, 1, 4); }, Smallness::BitmapAndAHundredth},
    {"widest_black_rows", "16384 x 3 black", [] { return Picture(kPngLargestSide, 3); },
     Smallness::HundredthOfBitmap},
    {"tallest_column", "1 x 16384 noise: rows of one pixel", [] { return RandomPicture(1, kPngLargestSide, 5); },
     Smallness::AnySize},
    {"tallest_gradient", "1 x 16384 gradient", [] { return Gradient(1, kPngLargestSide); },
     Smallness::AnySize},
    {"screen_with_logo", "1280 x 800 black with a logo", [] { return ScreenWithLogo(1280, 800); },
     Smallness::HundredthOfBitmap},
    {"wide_screen_with_logo", "1920 x 1080 black with a logo", [] { return ScreenWithLogo(1920, 1080); },
     Smallness::HundredthOfBitmap},
    {"noise", "640 x 480 noise", [] { return RandomPicture(640, 480, 6); }, Smallness::BitmapAndAHundredth},
    {"noise_odd", "333 x 211 noise", [] { return RandomPicture(333, 211, 7); }, Smallness::BitmapAndAHundredth},
    {"gradient", "1024 x 768 gradient", [] { return Gradient(1024, 768); }, Smallness::QuarterOfZlibUnfiltered},
    {"separable", "257 x 100 of steps across and down, where Paeth's guess wins",
     [] { return Separable(257, 100, 24); }, Smallness::AnySize},
};

class PngPicture : public ::testing::TestWithParam<PictureCase> {};

// Rows read through ReadRow and rows in memory make the same file.
TEST_P(PngPicture, ComesBackPixelForPixelAndSmall) {
  const PictureCase &C = GetParam();
  Picture P = C.Make();
  Encoded E = Encode(P);
  ExpectRoundTrip(P, E);
  EXPECT_GE(E.RowsRead, P.Height);
  Encoded InMemory = Encode(P, RowsFrom::Memory);
  EXPECT_EQ(InMemory.Status, EFI_SUCCESS);
  EXPECT_TRUE(InMemory.File == E.File) << "the rows in memory make another file";
  EXPECT_LE(InMemory.PeakPool, PngPeakPoolBytes(P.Width, P.Height));
  EXPECT_EQ(InMemory.RowsRead, 0u);
  double Bitmap = (double)BitmapBytes(P.Width, P.Height);
  switch (C.Small) {
    case Smallness::AnySize:
      break;
    case Smallness::HundredthOfBitmap:
      EXPECT_LE(E.File.size(), Bitmap / 100) << "BMP " << Bitmap;
      break;
    case Smallness::BitmapAndAHundredth:
      EXPECT_LE(E.File.size(), Bitmap * 1.01) << "BMP " << Bitmap;
      break;
    case Smallness::QuarterOfZlibUnfiltered: {
      size_t Zlib = ZlibUnfilteredBytes(P);
      EXPECT_LE(E.File.size(), Zlib / 4) << "zlib at level 9 on the unfiltered rows: " << Zlib;
      break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, PngPicture, ::testing::ValuesIn(kPictures), CaseName<PictureCase>);

// Small pictures of every width up to a few pixels past the filters' reach, of noise, of flat
// colour, of repeated pixels and of steps: both decoders agree, and the same picture makes the same
// file again. Among them every filter is chosen, so each one's unfiltering is held to the picture.
TEST(PngPictures, SmallOnesOfEveryShape) {
  std::mt19937 Random(11);
  bool Chosen[5] = {};
  for (int Round = 0; Round < 300; Round++) {
    Picture P(1 + Random() % 40, 1 + Random() % 12);
    int Kind = Round % 5;
    if (Kind == 4) P = Separable(P.Width, P.Height, Round);
    for (size_t Index = 0; Index < P.Rgb.size() && Kind != 4; Index++) {
      P.Rgb[Index] = Kind == 0   ? (uint8_t)Random()
                     : Kind == 1 ? (uint8_t)(Round * 7)
                     : Kind == 2 ? (uint8_t)(Index % 9 * 31)
                                 : (uint8_t)(Index / 3 % P.Width * (Round % 5) + Index % 3 * 100);
    }
    SCOPED_TRACE(std::to_string(P.Width) + " x " + std::to_string(P.Height) + ", kind " + std::to_string(Kind));
    Encoded E = Encode(P);
    std::vector<uint8_t> Filtered;
    ExpectRoundTrip(P, E, &Filtered);
    for (size_t Row = 0; Row < Filtered.size(); Row += 1 + 3 * (size_t)P.Width) Chosen[Filtered[Row]] = true;
    EXPECT_EQ(Encode(P).File, E.File);
    EXPECT_EQ(Encode(P, RowsFrom::Memory).File, E.File);
    if (HasFatalFailure() || HasNonfatalFailure()) return;
  }
  for (int Filter = 0; Filter < 5; Filter++) EXPECT_TRUE(Chosen[Filter]) << "filter " << Filter << " never chosen";
}

TEST(PngPictures, SidesOfNothingOrPastTheLargestAreRefusedHoldingNothing) {
  const Picture P(1, 1);
  const uint32_t kSides[][2] = {{0, 1},
                                {1, 0},
                                {0, 0},
                                {kPngLargestSide + 1, 1},
                                {1, kPngLargestSide + 1},
                                {kPngLargestSide + 1, kPngLargestSide + 1},
                                {UINT32_MAX, 1},
                                {1, UINT32_MAX},
                                {0x80000000u, 2}};
  for (const auto &Sides : kSides) {
    SCOPED_TRACE(std::to_string(Sides[0]) + " x " + std::to_string(Sides[1]));
    for (RowsFrom From : {RowsFrom::Calls, RowsFrom::Memory}) {
      Encoded E = Encode(P, Sides[0], Sides[1], From);
      EXPECT_EQ(E.Status, EFI_INVALID_PARAMETER);
      EXPECT_EQ(E.RowsRead, 0u);
    }
  }
}

// The bound on the file holds the rows stored as they are, at every side up to the largest, where
// a product of the sides in 32 bits would overflow.
TEST(PngPictures, LargestBytesHoldTheRowsAtEverySide) {
  const uint32_t kSides[] = {1, 2, 3, 1000, 4096, kPngLargestSide - 1, kPngLargestSide};
  for (uint32_t Width : kSides) {
    for (uint32_t Height : kSides) {
      uint64_t Rows = (uint64_t)Height * (3ull * Width + 1);
      // Signature, IHDR, IEND and one IDAT's frame, and a zlib stream's header and Adler-32.
      EXPECT_GE(PngLargestBytes(Width, Height), Rows + 8 + 25 + 12 + 12 + 6) << Width << " x " << Height;
    }
  }
}

// Each pool allocation of a run failing in turn: MakePngFile answers with the pool's status and
// holds nothing, whichever buffer it was after.
TEST(PngPictures, EachPoolFailureGivesThePoolsStatusAndLeaksNothing) {
  const Picture kPictures[] = {Picture(1, 1), RandomPicture(300, 200, 8), ScreenWithLogo(1280, 800)};
  const EFI_STATUS kStatuses[] = {EFI_OUT_OF_RESOURCES, EFI_DEVICE_ERROR};
  for (const Picture &P : kPictures) {
    int Allocations = Encode(P).Allocations;
    ASSERT_GE(Allocations, 1);
    for (int Failing = 0; Failing < Allocations; Failing++) {
      for (EFI_STATUS Status : kStatuses) {
        for (int Times : {1, -1}) {
          SCOPED_TRACE(std::to_string(P.Width) + " x " + std::to_string(P.Height) + ", allocation " +
                       std::to_string(Failing + 1) + " of " + std::to_string(Allocations) +
                       (Times < 0 ? " and every later one" : " alone"));
          for (RowsFrom From : {RowsFrom::Calls, RowsFrom::Memory}) {
            Encoded E = Encode(P, From, [&](SimFirmware &Firmware) {
              Firmware.FailCall(SimCall::AllocatePool, Status, Failing, Times);
            });
            EXPECT_EQ(E.Status, Status);
          }
        }
      }
    }
  }
}

// The checksums.

const size_t kChecksumLengths[] = {0,    1,    2,    3,    4,     7,     8,     15,    16,    17,    31,
                                   32,   33,   63,   64,   65,    255,   256,   257,   1023,  1024,  1025,
                                   4095, 4096, 4097, 5551, 5552,  5553,  11103, 11104, 11105, 65535, 65536,
                                   65537, (1 << 20) + 5};

std::vector<uint8_t> ChecksumBytes(bool AllOnes) {
  std::vector<uint8_t> Bytes((1 << 20) + 16, 0xFF);
  std::mt19937 Random(12);
  if (!AllOnes) {
    for (uint8_t &Byte : Bytes) Byte = (uint8_t)Random();
  }
  return Bytes;
}

// At lengths around every run a sum may work in (bytes, words, Adler-32's 5552 before reducing)
// and at every alignment, from the usual start and from values with sums near the modulus; bytes
// of 0xFF are those that push Adler-32's sums furthest.
TEST(Checksums, AgreeWithZlibAtLengthsAroundTheirRuns) {
  const uint32_t kAdlerStarts[] = {kAdler32Start, 0, 0xFFF0FFF0, 0x0001FFF0, 0xFFF00001};
  const uint32_t kCrcStarts[] = {kCrc32Start, 0xFFFFFFFF, 0x12345678};
  for (bool AllOnes : {false, true}) {
    const std::vector<uint8_t> Bytes = ChecksumBytes(AllOnes);
    for (size_t Length : kChecksumLengths) {
      for (size_t Offset : {0, 1, 3, 7}) {
        SCOPED_TRACE(std::to_string(Length) + " bytes at offset " + std::to_string(Offset) +
                     (AllOnes ? " of 0xFF" : " random"));
        const uint8_t *At = Bytes.data() + Offset;
        for (uint32_t Start : kAdlerStarts) EXPECT_EQ(Adler32(Start, At, Length), adler32(Start, At, Length));
        for (uint32_t Start : kCrcStarts) EXPECT_EQ(Crc32(Start, At, Length), crc32(Start, At, Length));
      }
    }
  }
}

// A long run summed in pieces of many sizes comes to what zlib makes of it whole.
TEST(Checksums, AgreeWithZlibFedInPieces) {
  const std::vector<size_t> kPieces[] = {{1}, {3, 5552, 1}, {5551}, {5553}, {7, 65536}, {16, 4095, 4097}};
  for (bool AllOnes : {false, true}) {
    const std::vector<uint8_t> Bytes = ChecksumBytes(AllOnes);
    for (size_t Length : {(size_t)5552 * 3 + 2, (size_t)(1 << 20) + 5}) {
      for (const std::vector<size_t> &Pieces : kPieces) {
        uint32_t Adler = kAdler32Start, Crc = kCrc32Start;
        size_t Done = 0;
        for (size_t Piece = 0; Done < Length; Piece++) {
          size_t Size = std::min(Pieces[Piece % Pieces.size()], Length - Done);
          Adler = Adler32(Adler, Bytes.data() + Done, Size);
          Crc = Crc32(Crc, Bytes.data() + Done, Size);
          Done += Size;
        }
        SCOPED_TRACE(std::to_string(Length) + " bytes in pieces of " + std::to_string(Pieces[0]) + "...");
        EXPECT_EQ(Adler, adler32(1, Bytes.data(), Length));
        EXPECT_EQ(Crc, crc32(0, Bytes.data(), Length));
      }
    }
  }
}

// The zlib stream.

struct StreamCase {
  const char *Name;
  const char *What;
  std::function<std::vector<uint8_t>()> Make;
  double MostOfInput;  // the stream's bytes at most this share of the input's, or 0 for no such bound
};

void PrintTo(const StreamCase &C, std::ostream *Stream) { *Stream << C.What; }

std::vector<uint8_t> RandomBytes(size_t Length, uint32_t Variant) {
  std::vector<uint8_t> Bytes(Length);
  std::mt19937 Random(Variant);
  for (uint8_t &Byte : Bytes) Byte = (uint8_t)Random();
  return Bytes;
}

// A random block, then the same block again Distance bytes after its start, Times times.
std::vector<uint8_t> Repeated(size_t Block, size_t Distance, int Times, uint32_t Variant) {
  std::vector<uint8_t> Bytes = RandomBytes(Distance * (Times - 1) + Block, Variant);
  for (int Copy = 1; Copy < Times; Copy++) {
    std::copy(Bytes.begin(), Bytes.begin() + (long)Block, Bytes.begin() + (long)(Distance * Copy));
  }
  return Bytes;
}

std::vector<uint8_t> Text(size_t Length) {
  static const char *const kWords[] = {"the ", "logo ", "firmware ", "screen ", "BGRT ", "pixels ", "of ",
                                       "a ",   "on ",   "stick ",    "kept ",   "as ",   "file.\n"};
  std::vector<uint8_t> Bytes;
  std::mt19937 Random(13);
  while (Bytes.size() < Length) {
    const char *Word = kWords[Random() % std::size(kWords)];
    Bytes.insert(Bytes.end(), Word, Word + std::strlen(Word));
  }
  Bytes.resize(Length);
  return Bytes;
}

const StreamCase kStreams[] = {
    {"empty", "no bytes", [] { return std::vector<uint8_t>(); }, 0},
    {"one_byte", "one byte", [] { return std::vector<uint8_t>{0x42}; }, 0},
    {"three_bytes", "three bytes, the shortest match", [] { return std::vector<uint8_t>{7, 7, 7}; }, 0},
    {"zeros_257", "257 zeros", [] { return std::vector<uint8_t>(257); }, 0},
    {"zeros_258", "258 zeros", [] { return std::vector<uint8_t>(258); }, 0},
    {"zeros_259", "259 zeros: past the longest match", [] { return std::vector<uint8_t>(259); }, 0},
    {"zeros_32k", "32 KiB and one zeros", [] { return std::vector<uint8_t>(32769); }, 0.02},
    {"zeros_1m", "1 MiB of zeros", [] { return std::vector<uint8_t>(1 << 20); }, 0.01},
    {"random_small", "100 random bytes", [] { return RandomBytes(100, 14); }, 0},
    {"random_64k", "65536 random bytes: a stored block's most and one more",
     [] { return RandomBytes(65536, 15); }, 0},
    {"random_1m", "1 MiB random", [] { return RandomBytes(1 << 20, 16); }, 0},
    {"distance_32768", "a random 32 KiB block twice, 32768 apart, then a third time",
     [] { return Repeated(32768, 32768, 3, 17); }, 0},
    {"distance_32768_short", "a random block of 300, again 32768 later", [] { return Repeated(300, 32768, 2, 18); },
     0},
    {"distance_32769", "a random block of 300, again 32769 later: out of reach",
     [] { return Repeated(300, 32769, 2, 19); }, 0},
    {"distance_32767", "a random block of 300, again 32767 later", [] { return Repeated(300, 32767, 2, 20); },
     0},
    {"distance_1000", "a random block of 1000 a hundred times", [] { return Repeated(1000, 1000, 100, 21); },
     0.05},
    {"distance_1_2_3", "runs of one, two and three byte patterns",
     [] {
       std::vector<uint8_t> Bytes;
       for (int Pattern = 1; Pattern <= 3; Pattern++) {
         for (int Index = 0; Index < 5000; Index++) Bytes.push_back((uint8_t)(Index % Pattern * 40 + Pattern));
       }
       return Bytes;
     },
     0.05},
    {"every_byte", "each byte value once, then in reverse",
     [] {
       std::vector<uint8_t> Bytes;
       for (int Value = 0; Value < 512; Value++) Bytes.push_back((uint8_t)(Value < 256 ? Value : 511 - Value));
       return Bytes;
     },
     0},
    {"text", "200 KiB of text of few words", [] { return Text(200 * 1024); }, 0.4},
    {"random_then_zeros", "random bytes, then zeros, then random again",
     [] {
       std::vector<uint8_t> Bytes = RandomBytes(40000, 22);
       Bytes.resize(140000);
       std::vector<uint8_t> More = RandomBytes(40000, 23);
       Bytes.insert(Bytes.end(), More.begin(), More.end());
       return Bytes;
     },
     0},
};

class ZlibStream : public ::testing::TestWithParam<StreamCase> {};

// The stream inflates to the input exactly, within ZlibLargestBytes, from working memory left full
// of old bytes (as the pool gives it), and the same input makes the same stream again.
TEST_P(ZlibStream, InflatesToTheInput) {
  const StreamCase &C = GetParam();
  const std::vector<uint8_t> In = C.Make();
  std::vector<uint32_t> Work(kDeflateWorkBytes / sizeof(uint32_t), 0xA5A5A5A5);
  const uint8_t Spare = 0;
  const uint8_t *Bytes = In.empty() ? &Spare : In.data();
  std::vector<uint8_t> Out(ZlibLargestBytes(In.size()));
  UINTN Made = ZlibCompress(Bytes, In.size(), Out.data(), Work.data());
  ASSERT_LE(Made, Out.size());
  ASSERT_GE(Made, 6u);
  EXPECT_EQ((Out[0] * 256 + Out[1]) % 31, 0) << "header check bits";
  EXPECT_EQ(Out[0] & 0x0F, 8) << "not deflate";

  std::vector<uint8_t> Back(In.size() + 1);
  z_stream Z = {};
  ASSERT_EQ(inflateInit(&Z), Z_OK);
  Z.next_in = Out.data();
  Z.avail_in = (uInt)Made;
  Z.next_out = Back.data();
  Z.avail_out = (uInt)Back.size();
  int Result = inflate(&Z, Z_FINISH);
  std::string Message = Z.msg != nullptr ? Z.msg : "";
  size_t Left = Z.avail_in, Length = Z.total_out;
  inflateEnd(&Z);
  ASSERT_EQ(Result, Z_STREAM_END) << Message;
  EXPECT_EQ(Left, 0u) << "bytes after the stream";
  ASSERT_EQ(Length, In.size());
  Back.resize(Length);
  EXPECT_TRUE(Back == In) << "inflated to other bytes";
  if (C.MostOfInput > 0) EXPECT_LE(Made, In.size() * C.MostOfInput) << "of " << In.size();

  std::vector<uint8_t> Again(Out.size());
  ASSERT_EQ(ZlibCompress(Bytes, In.size(), Again.data(), Work.data()), Made);
  EXPECT_TRUE(std::equal(Out.begin(), Out.begin() + (long)Made, Again.begin()));
}

INSTANTIATE_TEST_SUITE_P(Cases, ZlibStream, ::testing::ValuesIn(kStreams), CaseName<StreamCase>);

}  // namespace
