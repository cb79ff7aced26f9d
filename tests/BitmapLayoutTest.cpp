// The bitmap rule as a table: each case is a bitmap built field by field (one header form, depth
// and compression, then one field bent), judged with as many bytes readable as it has.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "CaseNames.h"
#include "app/BitmapLayout.h"
#include "sim/AcpiBuilder.h"

namespace {

struct Form {
  uint32_t HeaderBytes = 40;
  uint16_t Bits = 24;
  uint32_t Compression = 0;
  int32_t Width = 5;
  int32_t Height = 3;
  uint32_t Colours = 0;       // colour-table entries written, and the header's count of them
  uint32_t PixelBytes = 0;    // 0: the uncompressed array's size
  uint32_t ExtraMasks = 0;    // bit-field masks after a 40-byte header
  uint32_t TrailingBytes = 0; // after the pixels, counted in the size field
};

// A bitmap of that form: headers, masks, colour table, pixels, trailing bytes, all counted in the
// size field.
std::vector<uint8_t> Build(const Form &F) {
  uint32_t Entry = F.HeaderBytes == 12 ? 3 : 4;
  uint32_t Row = (((uint32_t)F.Width * F.Bits + 31) / 32) * 4;
  uint32_t Pixels = F.PixelBytes != 0 ? F.PixelBytes : Row * (uint32_t)(F.Height < 0 ? -F.Height : F.Height);
  uint32_t Offset = 14 + F.HeaderBytes + F.ExtraMasks + F.Colours * Entry;
  std::vector<uint8_t> B(Offset + Pixels + F.TrailingBytes, 0x5A);
  std::memset(B.data(), 0, Offset);
  B[0] = 'B';
  B[1] = 'M';
  StoreLittleEndian(B, 2, B.size(), 4);
  StoreLittleEndian(B, 10, Offset, 4);
  StoreLittleEndian(B, 14, F.HeaderBytes, 4);
  if (F.HeaderBytes == 12) {
    StoreLittleEndian(B, 18, (uint16_t)F.Width, 2);
    StoreLittleEndian(B, 20, (uint16_t)F.Height, 2);
    StoreLittleEndian(B, 22, 1, 2);
    StoreLittleEndian(B, 24, F.Bits, 2);
    return B;
  }
  StoreLittleEndian(B, 18, (uint32_t)F.Width, 4);
  StoreLittleEndian(B, 22, (uint32_t)F.Height, 4);
  StoreLittleEndian(B, 26, 1, 2);
  StoreLittleEndian(B, 28, F.Bits, 2);
  StoreLittleEndian(B, 30, F.Compression, 4);
  StoreLittleEndian(B, 34, Pixels, 4);
  StoreLittleEndian(B, 46, F.Colours, 4);
  return B;
}

void Set(std::vector<uint8_t> &B, size_t Offset, uint64_t Value, size_t Width) { StoreLittleEndian(B, Offset, Value, Width); }

uint32_t SizeField(const std::vector<uint8_t> &B) {
  uint32_t Size;
  std::memcpy(&Size, &B[2], 4);
  return Size;
}

// A 124-byte header with a colour profile after the pixels: an ICC header (its size big-endian at
// 0, "acsp" at 36), or a linked file name.
std::vector<uint8_t> WithProfile(uint32_t Space, uint32_t ProfileBytes, bool LooksLikeIcc = true) {
  Form F;
  F.HeaderBytes = 124;
  std::vector<uint8_t> B = Build(F);
  size_t Start = B.size();
  B.resize(Start + ProfileBytes, 0);
  if (LooksLikeIcc && ProfileBytes >= 40) {
    for (int Byte = 0; Byte < 4; Byte++) B[Start + Byte] = (uint8_t)(ProfileBytes >> (24 - 8 * Byte));
    std::memcpy(&B[Start + 36], "acsp", 4);
  }
  Set(B, 2, B.size(), 4);
  Set(B, 70, Space, 4);
  Set(B, 126, Start - 14, 4);
  Set(B, 130, ProfileBytes, 4);
  return B;
}

constexpr uint32_t kEmbedded = 0x4D424544;
constexpr uint32_t kLinked = 0x4C494E4B;

struct Case {
  const char *Name;  // the test's name
  const char *What;
  std::function<std::vector<uint8_t>()> Make;
  BitmapFault Fault;
  int64_t Accounted;  // -1: the size field itself (the bitmap accounts for every byte it has)
};

Form With(std::function<void(Form &)> Change) {
  Form F;
  Change(F);
  return F;
}

std::vector<uint8_t> Bent(Form F, std::function<void(std::vector<uint8_t> &)> Bend) {
  std::vector<uint8_t> B = Build(F);
  Bend(B);
  return B;
}

const Case kCases[] = {
    // Sound bitmaps of every header form, depth and compression real writers use.
    {"header_40_bits_24", "40-byte header, 24 bits", [] { return Build(Form{}); }, kBitmapSound, -1},
    {"core_header_bits_8", "12-byte core header, 8 bits with 256 three-byte colours",
     [] { return Build(With([](Form &F) { F.HeaderBytes = 12; F.Bits = 8; F.Colours = 256; })); }, kBitmapSound, -1},
    {"core_header_bit_1", "12-byte core header, 1 bit",
     [] { return Build(With([](Form &F) { F.HeaderBytes = 12; F.Bits = 1; F.Colours = 2; })); },
     kBitmapSound, -1},
    {"header_52_bits_16", "52-byte header, 16 bits, bit fields",
     [] { return Build(With([](Form &F) { F.HeaderBytes = 52; F.Bits = 16; F.Compression = 3; })); }, kBitmapSound, -1},
    {"header_56_bits_32", "56-byte header, 32 bits, bit fields",
     [] { return Build(With([](Form &F) { F.HeaderBytes = 56; F.Bits = 32; F.Compression = 3; })); }, kBitmapSound, -1},
    {"header_64_bits_4", "64-byte header, 4 bits",
     [] { return Build(With([](Form &F) { F.HeaderBytes = 64; F.Bits = 4; F.Colours = 16; })); },
     kBitmapSound, -1},
    {"header_108_bits_32", "108-byte header, 32 bits",
     [] { return Build(With([](Form &F) { F.HeaderBytes = 108; F.Bits = 32; })); },
     kBitmapSound, -1},
    {"header_124_bits_32", "124-byte header, 32 bits, bit fields",
     [] { return Build(With([](Form &F) { F.HeaderBytes = 124; F.Bits = 32; F.Compression = 3; })); }, kBitmapSound, -1},
    {"header_40_three_masks", "40-byte header, 16 bits, three masks after it",
     [] { return Build(With([](Form &F) { F.Bits = 16; F.Compression = 3; F.ExtraMasks = 12; })); }, kBitmapSound, -1},
    {"header_40_four_masks", "40-byte header, 32 bits, four masks after it (alpha bit fields)",
     [] { return Build(With([](Form &F) { F.Bits = 32; F.Compression = 6; F.ExtraMasks = 16; })); }, kBitmapSound, -1},
    {"one_bit_padded_rows", "1 bit, two colours, rows padded to four bytes",
     [] { return Build(With([](Form &F) { F.Bits = 1; F.Colours = 2; F.Width = 33; })); }, kBitmapSound, -1},
    {"fewer_colours_than_depth", "8 bits, fewer colours than the depth allows",
     [] { return Build(With([](Form &F) { F.Bits = 8; F.Colours = 17; })); }, kBitmapSound, -1},
    {"top_down", "top-down (negative height)",
     [] { return Build(With([](Form &F) { F.Height = -7; })); }, kBitmapSound, -1},
    {"rle8_worst_case", "RLE8 at its worst case: every pixel a run, an end of line a row, an end of bitmap",
     [] { return Build(With([](Form &F) { F.Bits = 8; F.Compression = 1; F.Colours = 256; F.PixelBytes = (2 * 5 + 2) * 3 + 2; })); },
     kBitmapSound, -1},
    {"rle4_stated_size", "RLE4, shorter than its worst case: its stated size",
     [] { return Build(With([](Form &F) { F.Bits = 4; F.Compression = 2; F.Colours = 16; F.PixelBytes = 10; })); },
     kBitmapSound, -1},
    {"png_inside", "PNG inside a bitmap: its stated size",
     [] {
       return Bent(With([](Form &F) { F.Bits = 0; F.Compression = 5; F.PixelBytes = 40; }),
                   [](std::vector<uint8_t> &B) { std::memcpy(&B[54], "\x89PNG\r\n\x1A\n", 8); });
     },
     kBitmapSound, -1},
    {"jpeg_inside", "JPEG inside a bitmap: its stated size",
     [] {
       return Bent(With([](Form &F) { F.Bits = 24; F.Compression = 4; F.PixelBytes = 40; }),
                   [](std::vector<uint8_t> &B) { std::memcpy(&B[54], "\xFF\xD8\xFF\xE0", 4); });
     },
     kBitmapSound, -1},
    {"two_bytes_padding", "two bytes of padding after the pixels",
     [] { return Build(With([](Form &F) { F.TrailingBytes = 2; })); },
     kBitmapSound, 14 + 40 + 16 * 3},
    {"page_of_padding", "a page of padding, the most allowed",
     [] { return Build(With([](Form &F) { F.TrailingBytes = 4096; })); },
     kBitmapSound, 14 + 40 + 16 * 3},
    {"largest_side", "the largest side a screen could show",
     [] { return Build(With([](Form &F) { F.Width = 16384; F.Height = 1; F.Bits = 1; F.Colours = 2; })); }, kBitmapSound, -1},
    {"embedded_profile", "an embedded ICC profile after the pixels",
     [] { return WithProfile(kEmbedded, 600); }, kBitmapSound, -1},
    {"linked_profile", "a linked profile's file name after the pixels",
     [] { return WithProfile(kLinked, 40, false); }, kBitmapSound, -1},
    {"data_offset_past_colours", "a data offset a little past the colour table",
     [] { return Bent(Form{}, [](std::vector<uint8_t> &B) { B.insert(B.begin() + 54, 16, 0); Set(B, 2, B.size(), 4); Set(B, 10, 70, 4); }); },
     kBitmapSound, -1},

    // A size field that claims more than the bitmap.
    {"page_and_byte_of_padding", "a page and a byte of padding",
     [] { return Build(With([](Form &F) { F.TrailingBytes = 4097; })); },
     kBitmapSizePastBitmap, 14 + 40 + 16 * 3},
    {"tiny_claims_16_mib", "a 2 x 2 bitmap claiming 16 MiB",
     [] { return Bent(With([](Form &F) { F.Width = 2; F.Height = 2; }), [](std::vector<uint8_t> &B) { Set(B, 2, 0x1000000, 4); }); },
     kBitmapSizePastBitmap, 14 + 40 + 8 * 2},
    {"profile_unsaid_in_header", "an ICC profile whose header does not say so is not counted",
     [] { return WithProfile(kEmbedded, 6000, false); }, kBitmapSizePastBitmap, 14 + 124 + 16 * 3},
    {"profile_size_mismatch", "an ICC profile of another size than its field says is not counted",
     [] {
       std::vector<uint8_t> B = WithProfile(kEmbedded, 6000);
       Set(B, 130, 5000, 4);
       return B;
     },
     kBitmapSizePastBitmap, 14 + 124 + 16 * 3},
    {"linked_name_too_long", "a linked profile name longer than any path is not counted",
     [] { return WithProfile(kLinked, 5000, false); },
     kBitmapSizePastBitmap, 14 + 124 + 16 * 3},
    {"rle8_size_page_past_data", "RLE8 whose size field claims a page more than its stated data",
     [] {
       return Bent(With([](Form &F) { F.Bits = 8; F.Compression = 1; F.PixelBytes = 20; F.TrailingBytes = 4097; }),
                   [](std::vector<uint8_t> &B) { Set(B, 34, 20, 4); });
     },
     kBitmapSizePastBitmap, 14 + 40 + 20},

    // Pixel arrays the size field or any screen cannot hold.
    {"pixels_cut_short", "pixels cut short by the size field",
     [] { return Bent(Form{}, [](std::vector<uint8_t> &B) { Set(B, 2, B.size() - 10, 4); }); }, kBitmapSizeShortOfPixels, 0},
    {"core_size_byte_short", "a size field a byte short of the pixels in a core header",
     [] {
       return Bent(With([](Form &F) { F.HeaderBytes = 12; F.Bits = 8; F.Colours = 256; }),
                   [](std::vector<uint8_t> &B) { Set(B, 2, B.size() - 1, 4); });
     },
     kBitmapSizeShortOfPixels, 0},
    {"dimensions_patched_upward", "dimensions patched upward with the size field a page past the file",
     [] {
       return Bent(Form{}, [](std::vector<uint8_t> &B) { Set(B, 18, 1920, 4); Set(B, 22, 1080, 4); Set(B, 2, B.size() + 4096, 4); });
     },
     kBitmapSizeShortOfPixels, 0},
    {"side_past_largest", "a side one past the largest a screen could show",
     [] { return Build(With([](Form &F) { F.Width = 1; F.Height = 16385; F.Bits = 1; F.Colours = 2; })); },
     kBitmapLargerThanAnyScreen, 0},
    {"three_million_wide", "3,000,000 x 2,000,000 pixels",
     [] { return Bent(Form{}, [](std::vector<uint8_t> &B) { Set(B, 18, 3000000, 4); Set(B, 22, 2000000, 4); Set(B, 2, 2111692253, 4); }); },
     kBitmapLargerThanAnyScreen, 0},
    {"largest_dimensions", "the largest dimensions are no screen's",
     [] {
       return Bent(Form{}, [](std::vector<uint8_t> &B) { Set(B, 18, 0x7FFFFFFF, 4); Set(B, 22, 0x80000000, 4); Set(B, 28, 32, 2); });
     },
     kBitmapLargerThanAnyScreen, 0},
    {"core_largest_dimensions", "a core header's largest dimensions",
     [] { return Bent(With([](Form &F) { F.HeaderBytes = 12; }), [](std::vector<uint8_t> &B) { Set(B, 18, 0xFFFF, 2); }); },
     kBitmapLargerThanAnyScreen, 0},

    // Run-length data bounded by its stated size.
    {"rle8_no_stated_size", "RLE8 with no stated size",
     [] {
       return Bent(With([](Form &F) { F.Bits = 8; F.Compression = 1; F.PixelBytes = 20; }),
                   [](std::vector<uint8_t> &B) { Set(B, 34, 0, 4); });
     },
     kBitmapNoRunLengthSize, 0},
    {"rle4_past_worst_case", "RLE4 stating more than its worst case",
     [] { return Build(With([](Form &F) { F.Bits = 4; F.Compression = 2; F.PixelBytes = (2 * 5 + 2) * 3 + 3; })); },
     kBitmapRunLengthPastWorstCase, 0},

    // OS/2's own codings in its 64-byte header.
    {"os2_huffman", "OS/2 Huffman in a 64-byte header",
     [] { return Build(With([](Form &F) { F.HeaderBytes = 64; F.Bits = 1; F.Colours = 2; F.Compression = 3; F.PixelBytes = 40; })); },
     kBitmapHuffman, 0},
    {"os2_rle24", "OS/2 RLE24 in a 64-byte header",
     [] { return Build(With([](Form &F) { F.HeaderBytes = 64; F.Compression = 4; F.PixelBytes = 40; })); }, kBitmapRle24, 0},

    // Not a bitmap at all.
    {"png_bytes", "PNG bytes where a bitmap should be",
     [] { return Bent(Form{}, [](std::vector<uint8_t> &B) { B[0] = 'P'; B[1] = 'N'; }); }, kBitmapNoSignature, 0},
    {"header_16_bytes", "a 16-byte header (OS/2 2.x short form)",
     [] { return Bent(Form{}, [](std::vector<uint8_t> &B) { Set(B, 14, 16, 4); }); },
     kBitmapUnknownHeader, 0},
    {"header_size_absurd", "a header size of 0x57565150",
     [] { return Bent(Form{}, [](std::vector<uint8_t> &B) { Set(B, 14, 0x57565150, 4); }); },
     kBitmapUnknownHeader, 0},
    {"two_planes", "two planes",
     [] { return Bent(Form{}, [](std::vector<uint8_t> &B) { Set(B, 26, 2, 2); }); }, kBitmapPlanesNotOne, 0},
    {"core_no_planes", "no planes in a core header",
     [] { return Bent(With([](Form &F) { F.HeaderBytes = 12; }), [](std::vector<uint8_t> &B) { Set(B, 22, 0, 2); }); },
     kBitmapPlanesNotOne, 0},
    {"two_bits", "2 bits per pixel", [] { return Build(With([](Form &F) { F.Bits = 2; })); }, kBitmapUnknownDepth, 0},
    {"core_bits_16", "16 bits in a core header",
     [] { return Build(With([](Form &F) { F.HeaderBytes = 12; F.Bits = 16; })); },
     kBitmapUnknownDepth, 0},
    {"zero_bits_uncompressed", "0 bits uncompressed",
     [] { return Build(With([](Form &F) { F.Bits = 0; F.PixelBytes = 8; })); }, kBitmapUnknownDepth, 0},
    {"compression_7", "compression 7",
     [] { return Build(With([](Form &F) { F.Compression = 7; })); }, kBitmapUnknownCompression, 0},
    {"rle8_with_4_bits", "RLE8 with 4 bits", [] { return Build(With([](Form &F) { F.Bits = 4; F.Compression = 1; })); },
     kBitmapUnknownCompression, 0},
    {"bit_fields_24_bits", "bit fields with 24 bits",
     [] { return Build(With([](Form &F) { F.Compression = 3; F.ExtraMasks = 12; })); },
     kBitmapUnknownCompression, 0},
    {"zero_width", "zero width",
     [] { return Build(With([](Form &F) { F.Width = 0; F.PixelBytes = 4; })); }, kBitmapNoPixels, 0},
    {"zero_height", "zero height",
     [] { return Build(With([](Form &F) { F.Height = 0; F.PixelBytes = 4; })); }, kBitmapNoPixels, 0},
    {"negative_width", "negative width",
     [] { return Build(With([](Form &F) { F.Width = -5; F.PixelBytes = 4; })); }, kBitmapNoPixels, 0},
    {"size_short_of_headers", "a size field shorter than the headers",
     [] { return Bent(With([](Form &F) { F.HeaderBytes = 124; }), [](std::vector<uint8_t> &B) { Set(B, 2, 100, 4); }); },
     kBitmapHeadersPastSize, 0},
    {"masks_past_size", "masks past the size field",
     [] {
       return Bent(With([](Form &F) { F.Bits = 16; F.Compression = 3; F.ExtraMasks = 12; }),
                   [](std::vector<uint8_t> &B) { Set(B, 2, 60, 4); });
     },
     kBitmapHeadersPastSize, 0},
    {"data_offset_in_headers", "a data offset inside the headers",
     [] { return Bent(Form{}, [](std::vector<uint8_t> &B) { Set(B, 10, 53, 4); }); },
     kBitmapDataInHeaders, 0},
    {"data_offset_in_masks", "a data offset inside the masks",
     [] {
       return Bent(With([](Form &F) { F.Bits = 32; F.Compression = 3; F.ExtraMasks = 12; }),
                   [](std::vector<uint8_t> &B) { Set(B, 10, 60, 4); });
     },
     kBitmapDataInHeaders, 0},
    {"data_offset_past_size", "a data offset past the size field",
     [] { return Bent(Form{}, [](std::vector<uint8_t> &B) { Set(B, 10, B.size() + 1, 4); }); },
     kBitmapDataPastSize, 0},
    {"data_offset_far_past_headers", "a data offset far past the headers",
     [] {
       return Bent(Form{}, [](std::vector<uint8_t> &B) { B.insert(B.begin() + 54, 5000, 0); Set(B, 2, B.size(), 4); Set(B, 10, 5054, 4); });
     },
     kBitmapDataFarFromHeaders, 0},
    {"png_compression_no_png", "PNG compression without PNG at the data offset",
     [] { return Build(With([](Form &F) { F.Bits = 0; F.Compression = 5; F.PixelBytes = 40; })); }, kBitmapNoEmbeddedImage, 0},
    {"jpeg_no_stated_size", "JPEG compression with no stated size",
     [] {
       return Bent(With([](Form &F) { F.Compression = 4; F.PixelBytes = 40; }), [](std::vector<uint8_t> &B) {
         std::memcpy(&B[54], "\xFF\xD8\xFF\xE0", 4);
         Set(B, 34, 0, 4);
       });
     },
     kBitmapNoEmbeddedImage, 0},
};

void PrintTo(const Case &C, std::ostream *Stream) { *Stream << C.What; }

class BitmapRule : public ::testing::TestWithParam<Case> {};

TEST_P(BitmapRule, JudgesAsExpected) {
  const Case &C = GetParam();
  std::vector<uint8_t> Bytes = C.Make();
  BitmapVerdict Verdict = JudgeBitmap(Bytes.data(), Bytes.size());
  EXPECT_EQ(Verdict.Fault, C.Fault) << BitmapFaultText(Verdict.Fault);
  if (C.Fault == kBitmapSound || C.Fault == kBitmapSizePastBitmap) {
    EXPECT_EQ(Verdict.Accounted, C.Accounted < 0 ? SizeField(Bytes) : (uint64_t)C.Accounted);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, BitmapRule, ::testing::ValuesIn(kCases), CaseName<Case>);

// The words the report shows for each fault, kept in one packed block; a value that names no fault
// has words of its own.
TEST(BitmapFaultTexts, EachFaultHasItsOwnWords) {
  const std::pair<BitmapFault, const char *> Texts[] = {
      {kBitmapSound, "a sound bitmap"},
      {kBitmapNoSignature, "no BM signature"},
      {kBitmapUnknownHeader, "unknown header size"},
      {kBitmapPlanesNotOne, "planes other than 1"},
      {kBitmapUnknownDepth, "unknown bits per pixel"},
      {kBitmapUnknownCompression, "unknown compression"},
      {kBitmapNoPixels, "no width or height"},
      {kBitmapHeadersPastSize, "headers past the size field"},
      {kBitmapDataInHeaders, "data offset inside the headers"},
      {kBitmapDataPastSize, "data offset past the size field"},
      {kBitmapDataFarFromHeaders, "data offset far past the headers"},
      {kBitmapNoEmbeddedImage, "no JPEG or PNG at the data offset"},
      {kBitmapSizePastBitmap, "size field past the bitmap's own bytes"},
      {kBitmapSizeShortOfPixels, "size field short of the pixels"},
      {kBitmapLargerThanAnyScreen, "larger than any screen"},
      {kBitmapNoRunLengthSize, "no run-length data size"},
      {kBitmapRunLengthPastWorstCase, "run-length data past worst case"},
      {kBitmapHuffman, "OS/2 Huffman coding"},
      {kBitmapRle24, "OS/2 RLE24 coding"},
      {(BitmapFault)(kBitmapRle24 + 1), "not a bitmap"},
      {(BitmapFault)0xFF, "not a bitmap"},
  };
  for (const auto &[Fault, Text] : Texts) EXPECT_STREQ(BitmapFaultText(Fault), Text) << (int)Fault;
}

// Nothing past the readable bytes is read: each case, cut to every shorter length, is judged from a
// heap block of exactly that length, where the address sanitizer catches a read past its end.
TEST(BitmapRuleBounds, ReadsNothingPastWhatMayBeRead) {
  for (const Case &C : kCases) {
    std::vector<uint8_t> Whole = C.Make();
    for (size_t Length = kBitmapFixedBytes; Length < Whole.size(); Length++) {
      std::unique_ptr<uint8_t[]> Cut(new uint8_t[Length]);
      std::memcpy(Cut.get(), Whole.data(), Length);
      BitmapVerdict Verdict = JudgeBitmap(Cut.get(), Length);
      // What lies past the readable bytes never makes a bitmap sound that the whole is not.
      if (C.Fault != kBitmapSound) EXPECT_NE(Verdict.Fault, kBitmapSound) << C.What << " cut to " << Length;
    }
  }
}

}  // namespace
