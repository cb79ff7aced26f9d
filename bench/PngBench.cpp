// Quillon's PNG files of the screens the stick keeps, beside zlib, the yardstick: for each screen,
// MakePngFile's bytes and time, then zlib's compress2 at levels 1 and 6 on the very rows
// MakePngFile filtered (taken back out of its file), so the two deflates are held against each
// other on the same bytes. zlib's streams are counted with the 57 bytes of framing a PNG file puts
// around them, so every column is a whole file. Each file is read back, and must give the screen.
//
// usage: png_bench [--check]   (--check: one run of each, read back, no table)
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/Deflate.h"
#include "app/PngFile.h"
#include "firmware/SystemTable.h"
#include "tests/PngRead.h"

namespace {

// A pool that keeps freed buffers for the next request of their size, so that the timings are the
// encoder's and not the host's page faults; firmware hands out memory it has already touched.
struct Kept {
  UINTN Size;
  VOID *Memory;
};
std::vector<Kept> gKept;

EFI_STATUS EFIAPI BenchAllocatePool(EFI_MEMORY_TYPE, UINTN Size, VOID **Buffer) {
  for (size_t Index = 0; Index < gKept.size(); Index++) {
    if (gKept[Index].Size == Size) {
      *Buffer = gKept[Index].Memory;
      gKept.erase(gKept.begin() + (long)Index);
      return EFI_SUCCESS;
    }
  }
  *Buffer = std::malloc(Size + sizeof(UINTN));
  if (*Buffer == nullptr) return EFI_OUT_OF_RESOURCES;
  *(UINTN *)*Buffer = Size;
  *Buffer = (UINT8 *)*Buffer + sizeof(UINTN);
  return EFI_SUCCESS;
}

void Release(VOID *Buffer) { std::free((UINT8 *)Buffer - sizeof(UINTN)); }

EFI_STATUS EFIAPI BenchFreePool(VOID *Buffer) {
  if (gKept.size() == 4) {
    Release(gKept.front().Memory);
    gKept.erase(gKept.begin());
  }
  gKept.push_back({*((UINTN *)Buffer - 1), Buffer});
  return EFI_SUCCESS;
}

void ReleaseKept() {
  for (const Kept &Buffer : gKept) Release(Buffer.Memory);
  gKept.clear();
}

EFI_BOOT_SERVICES gBenchBootServices;

struct Screen {
  const char *Name;
  uint32_t Width;
  uint32_t Height;
  std::vector<uint8_t> Rgb;
};

void ReadScreenRow(const VOID *Pixels, UINT32 Y, UINT8 *Row) {
  const Screen *S = (const Screen *)Pixels;
  std::memcpy(Row, &S->Rgb[(size_t)Y * S->Width * 3], (size_t)S->Width * 3);
}

void Fail(const Screen &S, const char *What) {
  std::fprintf(stderr, "png bench: %s: %s\n", S.Name, What);
  std::exit(1);
}

// QUILLON in a 5 x 7 font, each dot 8 pixels square.
const char *const kLetters[7][7] = {
    {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"},
    {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."},
    {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."},
    {"#....", "#....", "#....", "#....", "#....", "#....", "#####"},
    {"#....", "#....", "#....", "#....", "#....", "#....", "#####"},
    {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."},
    {"#...#", "##..#", "#.#.#", "#.#.#", "#..##", "#...#", "#...#"},
};

// What OVMF leaves: black, and a logo of 543 x 80 in four colours centred across, 38% down.
Screen BlackWithLogo(const char *Name, uint32_t Width, uint32_t Height) {
  Screen S = {Name, Width, Height, std::vector<uint8_t>((size_t)Width * Height * 3)};
  const int Left = ((int)Width - 543) / 2, Top = (int)Height * 38 / 100 - 40;
  for (int Y = 0; Y < 80; Y++) {
    for (int X = 0; X < 543; X++) {
      int Dx = X - 40, Dy = Y - 40, Distance = Dx * Dx + Dy * Dy;
      uint32_t Colour = Distance <= 38 * 38 && Distance >= 28 * 28 ? 0xD70A53 : 0;
      int Column = (X - 100) / 8, Row = (Y - 4) / 8;
      if (X >= 100 && Y >= 4 && Row < 7 && Column % 6 < 5 && Column / 6 < 7 &&
          kLetters[Column / 6][Row][Column % 6] == '#') {
        Colour = 0xFFFFFF;
      }
      if (Y >= 66 && Y < 70 && X >= 100 && X < 430) Colour = 0x808080;
      uint8_t *At = &S.Rgb[((size_t)(Top + Y) * Width + (size_t)(Left + X)) * 3];
      At[0] = (uint8_t)(Colour >> 16);
      At[1] = (uint8_t)(Colour >> 8);
      At[2] = (uint8_t)Colour;
    }
  }
  return S;
}

Screen Noise(const char *Name, uint32_t Width, uint32_t Height) {
  Screen S = {Name, Width, Height, std::vector<uint8_t>((size_t)Width * Height * 3)};
  std::mt19937 Random(1);
  for (uint8_t &Byte : S.Rgb) Byte = (uint8_t)Random();
  return S;
}

// A vendor's splash photograph, roughly: broad smooth shading in each channel, and sensor noise
// of a few levels on top.
Screen Photo(const char *Name, uint32_t Width, uint32_t Height) {
  Screen S = {Name, Width, Height, std::vector<uint8_t>((size_t)Width * Height * 3)};
  std::mt19937 Random(2);
  for (uint32_t Y = 0; Y < Height; Y++) {
    for (uint32_t X = 0; X < Width; X++) {
      double U = (double)X / Width, V = (double)Y / Height;
      double Base[3] = {110 + 90 * std::sin(3.1 * U + 1.3 * V), 100 + 80 * std::cos(2.3 * V - 1.7 * U),
                        140 + 70 * std::sin(4.0 * U * V + 0.5)};
      for (int Channel = 0; Channel < 3; Channel++) {
        int Value = (int)Base[Channel] + (int)(Random() % 9) - 4;
        S.Rgb[((size_t)Y * Width + X) * 3 + Channel] = (uint8_t)std::clamp(Value, 0, 255);
      }
    }
  }
  return S;
}

// The filtered rows out of the file, which must read back, by hand, to the screen.
std::vector<uint8_t> FilteredRows(const Screen &S, const std::vector<uint8_t> &File) {
  RgbPicture Read;
  std::vector<uint8_t> Rows;
  std::string Fault = ReadPngByHand(File, &Read, &Rows);
  if (!Fault.empty()) Fail(S, Fault.c_str());
  if (Read.Width != S.Width || Read.Height != S.Height || Read.Rgb != S.Rgb) Fail(S, "the file reads back wrong");
  return Rows;
}

// The median of Runs timings of Work, in milliseconds.
double MedianMs(int Runs, const std::function<void()> &Work) {
  std::vector<double> Times;
  for (int Run = 0; Run < Runs; Run++) {
    auto Start = std::chrono::steady_clock::now();
    Work();
    Times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Start).count());
  }
  std::sort(Times.begin(), Times.end());
  return Times[Times.size() / 2];
}

std::string Grouped(uint64_t Value) {
  std::string Digits = std::to_string(Value), Text;
  for (size_t Index = 0; Index < Digits.size(); Index++) {
    if (Index != 0 && (Digits.size() - Index) % 3 == 0) Text += ',';
    Text += Digits[Index];
  }
  return Text;
}

constexpr size_t kPngFraming = 8 + 25 + 12 + 12;  // signature, IHDR, IDAT's frame, IEND

}  // namespace

int main(int argc, char **argv) {
  const bool CheckOnly = argc > 1 && std::strcmp(argv[1], "--check") == 0;
  const int Runs = CheckOnly ? 1 : 5;
  gBenchBootServices.AllocatePool = BenchAllocatePool;
  gBenchBootServices.FreePool = BenchFreePool;
  gBootServices = &gBenchBootServices;

  const std::function<Screen()> kScreens[] = {
      [] { return BlackWithLogo("black 1280x800, logo", 1280, 800); },
      [] { return BlackWithLogo("black 1920x1080, logo", 1920, 1080); },
      [] { return BlackWithLogo("black 2560x1600, logo", 2560, 1600); },
      [] { return Noise("noise 1280x800", 1280, 800); },
      [] { return Photo("photo 1920x1080", 1920, 1080); },
  };
  if (!CheckOnly) {
    std::printf("PNG files of screens: Quillon's MakePngFile, and zlib's compress2 on the same filtered rows\n");
    std::printf("(bytes of whole files, zlib's with PNG's %zu bytes of framing; ms the median of %d runs;\n", kPngFraming,
                Runs);
    std::printf("Quillon's ms filter and deflate, its deflate ms is ZlibCompress alone on those rows)\n");
    std::printf("%-22s %11s %11s %8s %8s %11s %7s %11s %7s %6s\n", "screen", "BMP bytes", "Quillon", "ms",
                "deflate", "zlib -1", "ms", "zlib -6", "ms", "Q/z6");
  }
  for (const auto &Make : kScreens) {
    const Screen S = Make();
    PngSource Source = {S.Width, S.Height, &S, ReadScreenRow};
    std::vector<uint8_t> File;
    double QuillonMs = MedianMs(Runs, [&] {
      UINT8 *Made = nullptr;
      UINTN Bytes = 0;
      if (MakePngFile(Source, &Made, &Bytes) != EFI_SUCCESS) Fail(S, "MakePngFile failed");
      File.assign(Made, Made + Bytes);
      gBootServices->FreePool(Made);
    });
    if (File.size() > PngLargestBytes(S.Width, S.Height)) Fail(S, "the file is past PngLargestBytes");
    const std::vector<uint8_t> Rows = FilteredRows(S, File);

    std::vector<uint32_t> Work(kDeflateWorkBytes / sizeof(uint32_t));
    std::vector<uint8_t> Stream(ZlibLargestBytes(Rows.size()));
    double DeflateMs = MedianMs(Runs, [&] { ZlibCompress(Rows.data(), Rows.size(), Stream.data(), Work.data()); });

    uLongf ZlibBytes[2] = {};
    double ZlibMs[2] = {};
    const int kLevels[2] = {1, 6};
    std::vector<uint8_t> Out(compressBound(Rows.size()));
    for (int Level = 0; Level < 2; Level++) {
      ZlibMs[Level] = MedianMs(Runs, [&] {
        ZlibBytes[Level] = Out.size();
        if (compress2(Out.data(), &ZlibBytes[Level], Rows.data(), Rows.size(), kLevels[Level]) != Z_OK) {
          Fail(S, "compress2 failed");
        }
      });
    }
    if (CheckOnly) continue;
    uint64_t Bitmap = 54 + (uint64_t)S.Height * ((3ull * S.Width + 3) & ~3ull);
    uint64_t Zlib1 = ZlibBytes[0] + kPngFraming, Zlib6 = ZlibBytes[1] + kPngFraming;
    std::printf("%-22s %11s %11s %8.1f %8.1f %11s %7.1f %11s %7.1f %6.2f\n", S.Name, Grouped(Bitmap).c_str(),
                Grouped(File.size()).c_str(), QuillonMs, DeflateMs, Grouped(Zlib1).c_str(), ZlibMs[0],
                Grouped(Zlib6).c_str(), ZlibMs[1], (double)File.size() / (double)Zlib6);
  }
  ReleaseKept();
  if (CheckOnly) std::printf("png bench: every screen's file reads back\n");
  return 0;
}
