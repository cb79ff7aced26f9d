#include <gtest/gtest.h>

#include <cstring>

#include "base/BoundedLength.h"
#include "base/Division.h"
#include "base/Guid.h"
#include "base/PackedTexts.h"
#include "base/Unaligned.h"
#include "firmware/Guids.h"

namespace {

TEST(Unaligned, LoadsLittleEndianAtEveryByteOffset) {
  alignas(16) uint8_t Memory[32];
  for (size_t Index = 0; Index < sizeof Memory; Index++) Memory[Index] = (uint8_t)(0x10 + Index);
  for (size_t Offset = 0; Offset < 16; Offset++) {
    const uint8_t *At = Memory + Offset;
    uint64_t Expected = 0;
    for (int Byte = 7; Byte >= 0; Byte--) Expected = Expected << 8 | At[Byte];
    EXPECT_EQ(LoadUnaligned16(At), (uint16_t)Expected) << Offset;
    EXPECT_EQ(LoadUnaligned32(At), (uint32_t)Expected) << Offset;
    EXPECT_EQ(LoadUnaligned64(At), Expected) << Offset;
  }
}

struct LengthCase {
  const char *String;
  uint64_t Maximum;
  uint64_t Length;
};

const LengthCase kLengthCases[] = {
    {nullptr, 10, 0}, {"abc", 0, 0}, {"", 5, 0},  {"abc", 4, 3},         {"abc", 3, 3},
    {"abc", 2, 2},    {"abc", 1, 1}, {"abc", 100, 3}, {"abc", UINT64_MAX, 3},
};

TEST(BoundedLength, AsciiBelowAtAndAboveTheMaximum) {
  for (const LengthCase &Case : kLengthCases) {
    EXPECT_EQ(AsciiBoundedLength(Case.String, Case.Maximum), Case.Length)
        << (Case.String ? Case.String : "null") << " max " << Case.Maximum;
  }
}

TEST(BoundedLength, WideBelowAtAndAboveTheMaximum) {
  for (const LengthCase &Case : kLengthCases) {
    std::u16string Wide;
    if (Case.String != nullptr) {
      for (const char *Character = Case.String; *Character != 0; Character++) Wide.push_back((char16_t)(0x2600 + *Character));
    }
    EXPECT_EQ(WideBoundedLength(Case.String ? Wide.c_str() : nullptr, Case.Maximum), Case.Length)
        << (Case.String ? Case.String : "null") << " max " << Case.Maximum;
  }
}

TEST(BoundedLength, StopsReadingAtTheMaximum) {
  // No terminator within reach: the walk must end at the maximum, not run on.
  char Unterminated[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(AsciiBoundedLength(Unterminated, 4), 4u);
  char16_t WideUnterminated[4] = {u'a', u'b', u'c', u'd'};
  EXPECT_EQ(WideBoundedLength(WideUnterminated, 4), 4u);
}

TEST(Division, QuotientAndRemainder) {
  struct DivisionCase {
    uint64_t Dividend;
    uint32_t Divisor;
  };
  const DivisionCase Cases[] = {{0, 16},
                                {255, 16},
                                {1, 1},
                                {UINT64_MAX, 1},
                                {UINT64_MAX, 10},
                                {UINT64_MAX, UINT32_MAX},
                                {0x123456789ABCDEF0ull, 0xFFFFFFFEu},
                                {(1ull << 32) + 5, 1u << 31},
                                {(1ull << 63), 3}};
  for (const DivisionCase &Case : Cases) {
    uint32_t Remainder = 0xDEADBEEF;
    uint64_t Quotient = DivU64x32Remainder(Case.Dividend, Case.Divisor, &Remainder);
    EXPECT_EQ(Quotient, Case.Dividend / Case.Divisor) << Case.Dividend << " / " << Case.Divisor;
    EXPECT_EQ(Remainder, Case.Dividend % Case.Divisor) << Case.Dividend << " / " << Case.Divisor;
    EXPECT_EQ(Quotient * Case.Divisor + Remainder, Case.Dividend);
    EXPECT_EQ(DivU64x32Remainder(Case.Dividend, Case.Divisor, nullptr), Case.Dividend / Case.Divisor);
  }
  uint32_t Remainder = 1;
  EXPECT_EQ(DivU64x32Remainder(255, 16, &Remainder), 15u);
  EXPECT_EQ(Remainder, 15u);
  EXPECT_EQ(DivU64x32Remainder(0, 16, &Remainder), 0u);
  EXPECT_EQ(Remainder, 0u);
}

TEST(GuidEquals, ComparesAllSixteenBytesAtAnyAlignment) {
  alignas(16) uint8_t First[40];
  alignas(16) uint8_t Second[40];
  for (size_t FirstOffset = 0; FirstOffset < 8; FirstOffset++) {
    for (size_t SecondOffset = 0; SecondOffset < 8; SecondOffset += 3) {
      std::memcpy(First + FirstOffset, &EFI_ACPI_20_TABLE_GUID, 16);
      std::memcpy(Second + SecondOffset, &EFI_ACPI_20_TABLE_GUID, 16);
      EXPECT_TRUE(GuidEquals(First + FirstOffset, Second + SecondOffset));
      for (size_t Byte : {0, 7, 8, 15}) {
        Second[SecondOffset + Byte] ^= 0x01;
        EXPECT_FALSE(GuidEquals(First + FirstOffset, Second + SecondOffset)) << "byte " << Byte;
        Second[SecondOffset + Byte] ^= 0x01;
      }
    }
  }
  EXPECT_FALSE(GuidEquals(&EFI_ACPI_20_TABLE_GUID, &EFI_ACPI_10_TABLE_GUID));
}

}  // namespace

// Texts of every length from 1 to 35 characters: 630 characters and 35 terminators, so that texts
// start in each of the three pages an indexed block may have, and texts cross both boundaries.
constexpr auto kLengthTexts = [] {
  struct Texts {
    char Units[35][36];
  } T = {};
  for (int Length = 1; Length <= 35; Length++) {
    for (int At = 0; At < Length; At++) T.Units[Length - 1][At] = (char)('a' + (Length + At) % 26);
  }
  return T;
}();
constexpr auto kTextsOfEveryLength = [] {
  struct Pointers {
    const char *Texts[35];
  } P = {};
  for (int Index = 0; Index < 35; Index++) P.Texts[Index] = kLengthTexts.Units[Index];
  return P;
}();

TEST(PackedTexts, EveryTextFoundByCountingAndByItsIndex) {
  constexpr auto Packed = PackTexts<kTextsOfEveryLength.Texts>();
  constexpr auto Indexed = IndexTexts<kTextsOfEveryLength.Texts>();
  static_assert(Indexed.kPages == 3);
  for (size_t Index = 0; Index < 35; Index++) {
    EXPECT_STREQ(Packed[Index], kTextsOfEveryLength.Texts[Index]) << Index;
    EXPECT_STREQ(Indexed[Index], kTextsOfEveryLength.Texts[Index]) << Index;
  }
}
