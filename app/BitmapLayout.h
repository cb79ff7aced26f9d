// Whether the bytes a BGRT points at are a bitmap, and how many bytes the bitmap's own headers
// account for: the decision made before a logo is written out, so that neither memory behind a
// bitmap nor an image that is no bitmap ends up in the file. Pure: it looks only at the bytes it
// is given.
#pragma once

#include "firmware/Acpi.h"
#include "firmware/Uefi.h"

// Why a logo is not saved; kBitmapSound when it is.
enum BitmapFault : UINT8 {
  kBitmapSound,
  kBitmapNoSignature,
  kBitmapUnknownHeader,
  kBitmapPlanesNotOne,
  kBitmapUnknownDepth,
  kBitmapUnknownCompression,
  kBitmapNoPixels,
  kBitmapHeadersPastSize,
  kBitmapDataInHeaders,
  kBitmapDataPastSize,
  kBitmapDataFarFromHeaders,
  kBitmapNoEmbeddedImage,
  kBitmapSizePastBitmap,
  kBitmapSizeShortOfPixels,
  kBitmapLargerThanAnyScreen,
  kBitmapNoRunLengthSize,
  kBitmapRunLengthPastWorstCase,
  kBitmapHuffman,
  kBitmapRle24,
};

// What a bitmap's headers say of its pixels, for judging how it will be shown.
struct BitmapShape {
  bool Known;  // false when the header is of no known size or could not be read
  UINT32 HeaderBytes;
  UINT32 Width;
  UINT32 Height;  // rows, whichever way they run
  bool TopDown;   // the first row is the top one, where a negative height says so
  UINT32 BitsPerPixel;
  UINT32 Compression;
};

struct BitmapVerdict {
  BitmapFault Fault;
  // The bytes the headers account for: headers, colour table or masks, pixel array and embedded
  // colour profile, as far as the size field reaches. Meaningful only for a sound bitmap and for
  // kBitmapSizePastBitmap.
  UINT64 Accounted;
  // What the headers say, wherever they could be read, sound bitmap or not.
  BitmapShape Shape;
};

// The most a size field may exceed what the headers account for. Writers that pad add a few bytes
// (two after the pixels is common) or align the file; a page covers any such padding and caps what
// a lying size field can carry out of the memory behind a bitmap at one page, where the field
// alone could claim 4 GiB.
constexpr UINT64 kBitmapPaddingBytes = 4096;

// The largest side of a logo any screen could show. Display standards stop at 16K (15360 x 8640,
// DisplayPort 2.1 and HDMI 2.1; 8K is 7680 x 4320), and firmware draws the logo within its screen;
// 16384 on either side leaves room for a panel turned either way. A bitmap past it is no logo, and
// its pixel array could claim gigabytes of whatever memory lies behind it.
constexpr UINT64 kBitmapLargestSide = 16384;

// The least a caller must let JudgeBitmap read: the file header and the fields every info header
// shares (the bitmap header the report prints).
constexpr UINT64 kBitmapFixedBytes = sizeof(BMP_HEADER);

// Judges the bitmap at Image, of which the first Readable bytes may be read (at least
// kBitmapFixedBytes). Nothing past Readable, and nothing past the bitmap's size field but its fixed
// fields, is read.
BitmapVerdict JudgeBitmap(const UINT8 *Image, UINT64 Readable);

// A few words for the report on why a bitmap was refused.
const char *BitmapFaultText(BitmapFault Fault);
