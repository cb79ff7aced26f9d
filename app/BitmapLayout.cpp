// The bitmap rule. A BMP file is a 14-byte file header ("BM", the file's size, the offset of the
// pixel data), an information header whose first field is its own size, then bit-field masks or a
// colour table, the pixel array and, in the largest header form, perhaps a colour profile. Every
// size here is counted in 64 bits, saturated well above any 32-bit size field, so no field of a
// lying header can wrap a sum.
#include "app/BitmapLayout.h"

#include "base/PackedTexts.h"
#include "base/Unaligned.h"
#include "firmware/Acpi.h"

namespace {

constexpr UINT64 kFileHeaderBytes = 14;
constexpr UINT64 kFileSize = offsetof(BMP_HEADER, FileSize);
constexpr UINT64 kDataOffset = offsetof(BMP_HEADER, DataOffset);
constexpr UINT64 kHeaderSize = offsetof(BMP_HEADER, HeaderSize);

// The 12-byte core header has 16-bit dimensions and no compression.
constexpr UINT64 kCoreHeaderBytes = 12;
constexpr UINT64 kCoreWidth = 18;
constexpr UINT64 kCoreHeight = 20;
constexpr UINT64 kCorePlanes = 22;
constexpr UINT64 kCoreBitsPerPixel = 24;

// The information headers of 40 bytes and more.
constexpr UINT64 kWidth = offsetof(BMP_HEADER, Width);
constexpr UINT64 kHeight = offsetof(BMP_HEADER, Height);
constexpr UINT64 kPlanes = offsetof(BMP_HEADER, Planes);
constexpr UINT64 kBitsPerPixel = offsetof(BMP_HEADER, BitsPerPixel);
constexpr UINT64 kCompression = 30;
constexpr UINT64 kImageSize = 34;
constexpr UINT64 kColoursUsed = 46;
constexpr UINT64 kColourSpace = 70;   // 108 and 124 bytes
constexpr UINT64 kProfileData = 126;  // 124 bytes: from the start of the information header
constexpr UINT64 kProfileSize = 130;

constexpr UINT32 kRgb = 0;
constexpr UINT32 kRle8 = 1;
constexpr UINT32 kRle4 = 2;
constexpr UINT32 kBitFields = 3;
constexpr UINT32 kJpeg = 4;
constexpr UINT32 kPng = 5;
constexpr UINT32 kAlphaBitFields = 6;

constexpr UINT32 kProfileEmbedded = 0x4D424544;  // 'MBED'
constexpr UINT32 kProfileLinked = 0x4C494E4B;    // 'LINK'
// A linked profile is a file name; an embedded one an ICC profile, which begins with its own size
// (big-endian) and carries "acsp" at byte 36 of its 128-byte header.
constexpr UINT64 kLinkedProfileMost = 260;
constexpr UINT64 kIccHeaderBytes = 128;
constexpr UINT64 kIccSignature = 36;

constexpr UINT64 kMostColours = 256;
UINT64 Larger(UINT64 First, UINT64 Second) { return First > Second ? First : Second; }

// Bit n set: a header of 4n bytes exists (12, 40, 52, 56, 64, 108, 124).
constexpr UINT32 kHeaderSizes = 1u << 3 | 1u << 10 | 1u << 13 | 1u << 14 | 1u << 16 | 1u << 27 | 1u << 31;

bool IsHeaderSize(UINT32 Bytes) { return Bytes % 4 == 0 && Bytes <= 124 && (kHeaderSizes >> (Bytes / 4) & 1) != 0; }

// Bit n - 1 set: n bits per pixel go with that compression. Only JPEG and PNG may say 0.
constexpr UINT32 Depth(UINT32 Bits) { return 1u << (Bits - 1); }
constexpr UINT32 kUncompressedDepths = Depth(1) | Depth(4) | Depth(8) | Depth(16) | Depth(24) | Depth(32);
constexpr UINT32 kBitFieldDepths = Depth(16) | Depth(32);
constexpr UINT32 kDepthsOf[] = {
    kUncompressedDepths,  // none
    Depth(8),             // RLE8
    Depth(4),             // RLE4
    kBitFieldDepths,      // bit fields
    kUncompressedDepths,  // JPEG, usually 0
    kUncompressedDepths,  // PNG, usually 0
    kBitFieldDepths,      // alpha bit fields
};
constexpr UINT32 kCoreDepths = Depth(1) | Depth(4) | Depth(8) | Depth(24);

UINT32 LoadBigEndian32(const UINT8 *At) {
  return (UINT32)At[0] << 24 | (UINT32)At[1] << 16 | (UINT32)At[2] << 8 | At[3];
}

bool SameBytes(const UINT8 *At, const char *Expected, UINTN Count) {
  for (UINTN Index = 0; Index < Count; Index++) {
    if (At[Index] != (UINT8)Expected[Index]) return false;
  }
  return true;
}

// What the headers say of the image, the same for either header form.
struct Shape {
  UINT32 HeaderBytes;
  UINT32 Width;
  UINT32 Height;  // rows, whichever way they run
  bool TopDown;
  UINT32 Planes;
  UINT32 BitsPerPixel;
  UINT32 Compression;
  UINT32 ImageSize;
  UINT32 ColoursUsed;
  UINT32 ColourEntryBytes;
  bool NegativeWidth;
};

Shape ReadShape(const UINT8 *Image, UINT32 HeaderBytes) {
  Shape S{};
  S.HeaderBytes = HeaderBytes;
  if (HeaderBytes == kCoreHeaderBytes) {
    S.Width = LoadUnaligned16(Image + kCoreWidth);
    S.Height = LoadUnaligned16(Image + kCoreHeight);
    S.Planes = LoadUnaligned16(Image + kCorePlanes);
    S.BitsPerPixel = LoadUnaligned16(Image + kCoreBitsPerPixel);
    S.Compression = kRgb;
    S.ColourEntryBytes = 3;
    return S;
  }
  INT32 Width = (INT32)LoadUnaligned32(Image + kWidth);
  INT32 Height = (INT32)LoadUnaligned32(Image + kHeight);
  S.NegativeWidth = Width < 0;
  S.Width = Width < 0 ? 0 : (UINT32)Width;
  // A negative height is a top-down bitmap; -INT32_MIN does not fit in 32 signed bits, but does
  // in 32 unsigned ones.
  S.Height = Height < 0 ? 0u - (UINT32)Height : (UINT32)Height;
  S.TopDown = Height < 0;
  S.Planes = LoadUnaligned16(Image + kPlanes);
  S.BitsPerPixel = LoadUnaligned16(Image + kBitsPerPixel);
  S.Compression = LoadUnaligned32(Image + kCompression);
  S.ImageSize = LoadUnaligned32(Image + kImageSize);
  S.ColoursUsed = LoadUnaligned32(Image + kColoursUsed);
  S.ColourEntryBytes = 4;
  return S;
}

// The 64-byte header is OS/2's, whose compression 3 and 4 are its own Huffman and RLE24 codings
// rather than Windows' bit fields and JPEG; no firmware or OS draws either.
constexpr UINT32 kOs2HeaderBytes = 64;
constexpr UINT32 kOs2Huffman = 3;
constexpr UINT32 kOs2Rle24 = 4;

BitmapFault CheckDepthAndCompression(const Shape &S) {
  bool Core = S.HeaderBytes == kCoreHeaderBytes;
  if (S.HeaderBytes == kOs2HeaderBytes && S.Compression == kOs2Huffman) return kBitmapHuffman;
  if (S.HeaderBytes == kOs2HeaderBytes && S.Compression == kOs2Rle24) return kBitmapRle24;
  if (S.Compression > kAlphaBitFields) return kBitmapUnknownCompression;
  UINT32 Bits = S.BitsPerPixel;
  bool Embedded = S.Compression == kJpeg || S.Compression == kPng;
  if (Bits == 0) {
    if (Embedded && !Core) return kBitmapSound;
    return S.Compression == kRgb ? kBitmapUnknownDepth : kBitmapUnknownCompression;
  }
  UINT32 Known = Core ? kCoreDepths : kUncompressedDepths;
  if (Bits > 32 || (Known >> (Bits - 1) & 1) == 0) return kBitmapUnknownDepth;
  if ((kDepthsOf[S.Compression] >> (Bits - 1) & 1) == 0) {
    return S.Compression == kRgb ? kBitmapUnknownDepth : kBitmapUnknownCompression;
  }
  return kBitmapSound;
}

// Masks that follow a 40-byte header; larger headers hold them.
UINT32 MaskBytes(const Shape &S) {
  if (S.HeaderBytes != 40) return 0;
  if (S.Compression == kBitFields) return 12;
  if (S.Compression == kAlphaBitFields) return 16;
  return 0;
}

// The most room a colour table may take: every colour of the depth, or as many as the header says
// are used, never more than 256.
UINT32 MostColourTableBytes(const Shape &S) {
  UINT32 Colours = S.BitsPerPixel <= 8 ? 1u << S.BitsPerPixel : 0;
  UINT32 Used = S.ColoursUsed < kMostColours ? S.ColoursUsed : kMostColours;
  return (Colours > Used ? Colours : Used) * S.ColourEntryBytes;
}

bool IsRunLength(const Shape &S) { return S.Compression == kRle8 || S.Compression == kRle4; }

// The two below are asked only of sides within kBitmapLargestSide, where no product passes 2^31.
static_assert(kBitmapLargestSide * 32 / 8 * kBitmapLargestSide < 1ull << 31);

// Run-length data at its worst: every pixel a run of its own (two bytes), an end-of-line pair a
// row, and one more pair to end the bitmap.
UINT32 WorstRunLengthBytes(const Shape &S) { return (2 * S.Width + 2) * S.Height + 2; }

// The pixel array's bytes. Uncompressed rows are padded to four bytes. Run-length data, JPEG and
// PNG state their size (run-length data within its worst case, checked before).
UINT32 PixelBytes(const Shape &S) {
  if (IsRunLength(S) || S.Compression == kJpeg || S.Compression == kPng) return S.ImageSize;
  return ((S.Width * S.BitsPerPixel + 31) >> 5 << 2) * S.Height;
}

// The end of an embedded or linked colour profile that lies whole within the first Within bytes and
// past the headers, and looks like one; 0 when there is none.
UINT64 ProfileEnd(const UINT8 *Image, const Shape &S, UINT32 HeadersEnd, UINT32 Within) {
  if (S.HeaderBytes != 124) return 0;
  UINT32 Space = LoadUnaligned32(Image + kColourSpace);
  if (Space != kProfileEmbedded && Space != kProfileLinked) return 0;
  UINT64 Start = kFileHeaderBytes + LoadUnaligned32(Image + kProfileData);
  UINT64 Bytes = LoadUnaligned32(Image + kProfileSize);
  if (Start < HeadersEnd || Bytes == 0 || Start + Bytes > Within) return 0;
  if (Space == kProfileLinked) return Bytes <= kLinkedProfileMost ? Start + Bytes : 0;
  const UINT8 *Profile = Image + Start;
  if (Bytes < kIccHeaderBytes || LoadBigEndian32(Profile) != Bytes) return 0;
  return SameBytes(Profile + kIccSignature, "acsp", 4) ? Start + Bytes : 0;
}

// JPEG's start-of-image marker or PNG's signature at the data offset.
bool HoldsEmbeddedImage(const UINT8 *Image, const Shape &S, UINT32 DataOffset, UINT32 Within) {
  if (Within < 8 || DataOffset > Within - 8) return false;
  const UINT8 *Data = Image + DataOffset;
  if (S.Compression == kJpeg) return SameBytes(Data, "\xFF\xD8\xFF", 3);
  return SameBytes(Data, "\x89PNG\r\n\x1A\n", 8);
}

// Judges what the headers say, once they could be read. Sets *Accounted for a sound bitmap and
// for one whose size field claims more than it.
BitmapFault JudgeShape(const UINT8 *Image, const Shape &S, UINT32 Size, UINT32 DataOffset, UINT32 HeadersEnd,
                       UINT32 Within, UINT64 *Accounted) {
  if (S.Planes != 1) return kBitmapPlanesNotOne;
  BitmapFault Fault = CheckDepthAndCompression(S);
  if (Fault != kBitmapSound) return Fault;
  if (S.Width == 0 || S.Height == 0 || S.NegativeWidth) return kBitmapNoPixels;
  if (S.Width > kBitmapLargestSide || S.Height > kBitmapLargestSide) return kBitmapLargerThanAnyScreen;
  // Every writer of run-length data states its size, and the file ends right after it; without
  // that field only the worst case would bound what a lying size field takes from memory.
  if (IsRunLength(S) && S.ImageSize == 0) return kBitmapNoRunLengthSize;
  if (IsRunLength(S) && S.ImageSize > WorstRunLengthBytes(S)) return kBitmapRunLengthPastWorstCase;

  HeadersEnd += MaskBytes(S);
  if (HeadersEnd > Within) return kBitmapHeadersPastSize;
  if (DataOffset < HeadersEnd) return kBitmapDataInHeaders;
  if (DataOffset > Size) return kBitmapDataPastSize;
  // Between the headers and the pixels lie the colour table, perhaps the profile, and a little
  // padding; a data offset further on would take memory that is no part of the bitmap.
  UINT64 Profile = ProfileEnd(Image, S, HeadersEnd, Within);
  if (DataOffset > Larger((UINT64)HeadersEnd + MostColourTableBytes(S), Profile) + kBitmapPaddingBytes) {
    return kBitmapDataFarFromHeaders;
  }
  if ((S.Compression == kJpeg || S.Compression == kPng) &&
      (S.ImageSize == 0 || !HoldsEmbeddedImage(Image, S, DataOffset, Within))) {
    return kBitmapNoEmbeddedImage;
  }

  // Every writer's size field takes in the whole pixel array; one that stops short describes a
  // bitmap other than its headers do.
  bool Uncompressed = !IsRunLength(S) && S.Compression != kJpeg && S.Compression != kPng;
  if (Uncompressed && Size < (UINT64)DataOffset + PixelBytes(S)) return kBitmapSizeShortOfPixels;

  *Accounted = Larger((UINT64)DataOffset + PixelBytes(S), Profile);
  return Size > *Accounted + kBitmapPaddingBytes ? kBitmapSizePastBitmap : kBitmapSound;
}

BitmapVerdict Refuse(BitmapFault Fault) { return BitmapVerdict{Fault, 0, {}}; }

}  // namespace

BitmapVerdict JudgeBitmap(const UINT8 *Image, UINT64 Readable) {
  if (Readable < kBitmapFixedBytes) return Refuse(kBitmapHeadersPastSize);
  if (Image[0] != 'B' || Image[1] != 'M') return Refuse(kBitmapNoSignature);
  UINT32 Size = LoadUnaligned32(Image + kFileSize);
  UINT32 DataOffset = LoadUnaligned32(Image + kDataOffset);
  UINT32 HeaderBytes = LoadUnaligned32(Image + kHeaderSize);
  if (!IsHeaderSize(HeaderBytes)) return Refuse(kBitmapUnknownHeader);

  // Only what lies within the file, and within what may be read, is looked at.
  UINT32 Within = Size < Readable ? Size : (UINT32)Readable;
  UINT32 HeadersEnd = kFileHeaderBytes + HeaderBytes;
  if (HeadersEnd > Within) return Refuse(kBitmapHeadersPastSize);
  Shape S = ReadShape(Image, HeaderBytes);
  BitmapVerdict Verdict{kBitmapSound, 0,
                        {true, HeaderBytes, S.Width, S.Height, S.TopDown, S.BitsPerPixel, S.Compression}};
  Verdict.Fault = JudgeShape(Image, S, Size, DataOffset, HeadersEnd, Within, &Verdict.Accounted);
  return Verdict;
}

const char *BitmapFaultText(BitmapFault Fault) {
  static constexpr const char *kFaultTexts[] = {
      "a sound bitmap",
      "no BM signature",
      "unknown header size",
      "planes other than 1",
      "unknown bits per pixel",
      "unknown compression",
      "no width or height",
      "headers past the size field",
      "data offset inside the headers",
      "data offset past the size field",
      "data offset far past the headers",
      "no JPEG or PNG at the data offset",
      "size field past the bitmap's own bytes",
      "size field short of the pixels",
      "larger than any screen",
      "no run-length data size",
      "run-length data past worst case",
      "OS/2 Huffman coding",
      "OS/2 RLE24 coding",
      "not a bitmap",  // a value that names no fault
  };
  constexpr unsigned kFaults = kBitmapRle24 + 1;
  static_assert(sizeof kFaultTexts / sizeof kFaultTexts[0] == kFaults + 1, "a text for every fault");
  static constexpr auto kPacked = PackTexts<kFaultTexts>();
  return kPacked[Fault < kFaults ? Fault : kFaults];
}
