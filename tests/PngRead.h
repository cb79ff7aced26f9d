// A PNG file read back two ways, for the tests, the fuzz target and the benchmark of the PNG writer
// and of the pictures the stick keeps: by hand, every chunk and row checked, with zlib's inflate;
// and by libpng. Both give 8-bit RGB, the top row first.
#pragma once

#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

struct RgbPicture {
  uint32_t Width = 0;
  uint32_t Height = 0;
  std::vector<uint8_t> Rgb;  // rows top down, three bytes a pixel

  RgbPicture() = default;
  RgbPicture(uint32_t W, uint32_t H) : Width(W), Height(H), Rgb((size_t)W * H * 3) {}
  uint8_t *Pixel(uint32_t X, uint32_t Y) { return &Rgb[((size_t)Y * Width + X) * 3]; }
  void Set(uint32_t X, uint32_t Y, uint8_t R, uint8_t G, uint8_t B) {
    uint8_t *At = Pixel(X, Y);
    At[0] = R;
    At[1] = G;
    At[2] = B;
  }
  // Every pixel as 0xRRGGBB, row by row from the top.
  std::vector<uint32_t> Colours() const {
    std::vector<uint32_t> All;
    for (size_t Index = 0; Index + 3 <= Rgb.size(); Index += 3) {
      All.push_back((uint32_t)Rgb[Index] << 16 | (uint32_t)Rgb[Index + 1] << 8 | Rgb[Index + 2]);
    }
    return All;
  }
  // The pixel at X, Y as 0xRRGGBB.
  uint32_t At(uint32_t X, uint32_t Y) const {
    const uint8_t *P = &Rgb[((size_t)Y * Width + X) * 3];
    return (uint32_t)P[0] << 16 | (uint32_t)P[1] << 8 | P[2];
  }
};

inline uint32_t PngBig32(const uint8_t *At) { return (uint32_t)At[0] << 24 | At[1] << 16 | At[2] << 8 | At[3]; }

inline uint8_t PngPaeth(int Left, int Up, int UpLeft) {
  int Guess = Left + Up - UpLeft;
  int ToLeft = std::abs(Guess - Left), ToUp = std::abs(Guess - Up), ToUpLeft = std::abs(Guess - UpLeft);
  if (ToLeft <= ToUp && ToLeft <= ToUpLeft) return (uint8_t)Left;
  return ToUp <= ToUpLeft ? (uint8_t)Up : (uint8_t)UpLeft;
}

// Reads a file as an 8-bit RGB PNG with our own hands: chunks in order, each CRC, the header's
// fields, the zlib stream through zlib's inflate (which checks its Adler-32) to exactly the filtered
// rows, then each row unfiltered. Returns what is wrong, or nothing; Filtered, where given, gets the
// inflated rows, each with its filter's byte in front.
inline std::string ReadPngByHand(const std::vector<uint8_t> &File, RgbPicture *Out,
                                 std::vector<uint8_t> *Filtered = nullptr) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (File.size() < 8 || std::memcmp(File.data(), kSignature, 8) != 0) return "no PNG signature";
  std::vector<uint8_t> Stream;
  bool SeenHeader = false, SeenData = false, DataEnded = false, SeenEnd = false;
  uint32_t Width = 0, Height = 0;
  for (size_t At = 8; At < File.size();) {
    if (SeenEnd) return "bytes after IEND";
    if (File.size() - At < 12) return "a chunk cut off at " + std::to_string(At);
    uint32_t Length = PngBig32(&File[At]);
    if (Length > 0x7FFFFFFF || File.size() - At - 12 < Length) return "a chunk's length runs past the file";
    std::string Type(File.begin() + (long)At + 4, File.begin() + (long)At + 8);
    const uint8_t *Data = &File[At + 8];
    if (PngBig32(Data + Length) != crc32(crc32(0, nullptr, 0), &File[At + 4], Length + 4)) {
      return "wrong CRC on " + Type;
    }
    At += 12 + Length;
    if (!SeenHeader && Type != "IHDR") return "first chunk " + Type;
    if (SeenData && Type != "IDAT") DataEnded = true;
    if (Type == "IHDR") {
      if (SeenHeader) return "a second IHDR";
      SeenHeader = true;
      if (Length != 13) return "IHDR of " + std::to_string(Length) + " bytes";
      Width = PngBig32(Data);
      Height = PngBig32(Data + 4);
      if (Width == 0 || Height == 0 || Width > 0x7FFFFFFF || Height > 0x7FFFFFFF) return "sides out of range";
      if (Data[8] != 8 || Data[9] != 2) return "not 8-bit RGB";
      if (Data[10] != 0 || Data[11] != 0 || Data[12] != 0) return "unknown compression, filtering or interlacing";
    } else if (Type == "IDAT") {
      if (DataEnded) return "IDAT chunks apart";
      SeenData = true;
      Stream.insert(Stream.end(), Data, Data + Length);
    } else if (Type == "IEND") {
      if (Length != 0) return "IEND with data";
      SeenEnd = true;
    } else if ((Type[0] & 0x20) == 0) {
      return "unknown critical chunk " + Type;
    }
  }
  if (!SeenEnd) return "no IEND";
  if (!SeenData) return "no IDAT";

  const size_t Stride = (size_t)Width * 3;
  const size_t RowsBytes = (Stride + 1) * Height;
  std::vector<uint8_t> Rows(RowsBytes + 1);  // a byte over, so a stream that runs long shows
  z_stream Z = {};
  if (inflateInit(&Z) != Z_OK) return "inflateInit failed";
  Z.next_in = Stream.data();
  Z.avail_in = (uInt)Stream.size();
  Z.next_out = Rows.data();
  Z.avail_out = (uInt)Rows.size();
  int Result = inflate(&Z, Z_FINISH);
  std::string Message = Z.msg != nullptr ? Z.msg : "";
  size_t Left = Z.avail_in, Made = Z.total_out;
  inflateEnd(&Z);
  if (Result != Z_STREAM_END) return "inflate: " + std::to_string(Result) + " " + Message;
  if (Left != 0) return std::to_string(Left) + " bytes after the zlib stream";
  if (Made != RowsBytes) return "inflated " + std::to_string(Made) + " bytes, wanted " + std::to_string(RowsBytes);

  *Out = RgbPicture(Width, Height);
  std::vector<uint8_t> Above(Stride, 0);
  for (uint32_t Y = 0; Y < Height; Y++) {
    const uint8_t *Row = &Rows[Y * (Stride + 1)];
    uint8_t *Line = Out->Pixel(0, Y);
    uint8_t Filter = Row[0];
    if (Filter > 4) return "row " + std::to_string(Y) + " has filter " + std::to_string(Filter);
    for (size_t Index = 0; Index < Stride; Index++) {
      int Left = Index >= 3 ? Line[Index - 3] : 0, Up = Above[Index], UpLeft = Index >= 3 ? Above[Index - 3] : 0;
      int Predicted = Filter == 0   ? 0
                      : Filter == 1 ? Left
                      : Filter == 2 ? Up
                      : Filter == 3 ? (Left + Up) / 2
                                    : PngPaeth(Left, Up, UpLeft);
      Line[Index] = (uint8_t)(Row[1 + Index] + Predicted);
    }
    std::memcpy(Above.data(), Line, Stride);
  }
  if (Filtered != nullptr) Filtered->assign(Rows.begin(), Rows.begin() + (long)RowsBytes);
  return "";
}

// The same file through libpng, asked for 8-bit RGB; a warning counts as a fault.
inline std::string ReadPngWithLibpng(const std::vector<uint8_t> &File, RgbPicture *Out) {
  png_image Image = {};
  Image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&Image, File.data(), File.size())) return Image.message;
  Image.format = PNG_FORMAT_RGB;
  *Out = RgbPicture(Image.width, Image.height);
  if (!png_image_finish_read(&Image, nullptr, Out->Rgb.data(), 0, nullptr)) return Image.message;
  if (Image.warning_or_error != 0) return std::string("libpng warns: ") + Image.message;
  return "";
}
