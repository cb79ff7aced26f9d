// The directive grammar, in every pairing of 8-bit and UCS-2 format and output.
#include <gtest/gtest.h>

#include <cstring>

#include "FormatTestSupport.h"
#include "firmware/Guids.h"
#include "print/FormatInternal.h"

namespace {

TEST(FormatGrammar, EveryCaseInEveryWidth) {
  for (const GrammarCase &Case : GrammarCases()) {
    for (Widths Width : kAllWidths) {
      size_t Returned = 0;
      std::string Text = FormatWith(Width, Case.Format, Case.Slots, 512, &Returned);
      EXPECT_EQ(Text, Case.Expected) << "format \"" << Case.Format << "\" wide format " << Width.WideFormat
                                     << " wide output " << Width.WideOutput;
      EXPECT_EQ(Returned, Case.Expected.size()) << Case.Format;
    }
  }
}

// Literal text is copied in blocks; a directive or line end at any offset inside a long run, and
// a buffer ending at any offset, must cut the run exactly there, and nothing else may.
TEST(FormatGrammar, LongLiteralRunsStopAtEveryOffset) {
  const std::string Letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (size_t Offset = 0; Offset < 40; Offset++) {
    std::string Head = Letters.substr(0, Offset);
    std::string Tail = Letters.substr(Offset, 20);
    const std::vector<std::pair<std::string, std::string>> Cases = {
        {Head + "%d" + Tail, Head + "7" + Tail},
        {Head + "\n" + Tail, Head + "\r\n" + Tail},
        {Head + "\r" + Tail, Head + "\r" + Tail},
        {Head + Tail, Head + Tail},
        // Other control characters are text like any other, however the block copy looks for specials.
        {Head + "\t\x01\x0B\x0C\x0E" + Tail, Head + "\t\x01\x0B\x0C\x0E" + Tail},
    };
    for (const auto &[Format, Expected] : Cases) {
      for (Widths Width : kAllWidths) {
        EXPECT_EQ(FormatWith(Width, Format, Slots(7)), Expected) << Format;
        for (size_t Size : {Offset, Offset + 1, Offset + 17}) {
          std::string Cut = Expected.substr(0, Size == 0 ? 0 : std::min(Expected.size(), Size - 1));
          EXPECT_EQ(FormatWith(Width, Format, Slots(7), Size), Cut) << Format << " size " << Size;
        }
      }
    }
  }
}

TEST(FormatGrammar, GuidAtOddAddressReadsTheSame) {
  alignas(16) uint8_t Storage[40];
  for (size_t Offset = 0; Offset < 8; Offset++) {
    std::memcpy(Storage + Offset, &EFI_ACPI_20_TABLE_GUID, sizeof(EFI_GUID));
    EXPECT_EQ(FormatWith({true, true}, "%g", Slots(Storage + Offset)), "8868E871-E4F1-11D3-BC22-0080C73C8881")
        << "offset " << Offset;
  }
}

TEST(FormatGrammar, UcsTwoCharactersKeepBothBytesInWideOutput) {
  const char16_t Smile[] = u"\u263A";
  std::vector<uint64_t> Arguments = Slots(Smile, u'\u263A');
  for (bool WideFormat : {false, true}) {
    UINTN Flags = FMT_OUT_WIDE | (WideFormat ? FMT_IN_WIDE : 0);
    std::u16string Format = Widen("%s%c");
    char16_t Out[8] = {};
    UINTN Count = FormatCore(Out, 8, Flags, WideFormat ? (const void *)Format.c_str() : (const void *)"%s%c",
                             FormatArguments{Arguments.data(), Arguments.size()});
    EXPECT_EQ(Count, 2u);
    EXPECT_EQ(std::u16string(Out), u"\u263A\u263A");
    // In 8-bit output only the low byte of each character remains.
    char Narrow[8] = {};
    FormatCore(Narrow, 8, WideFormat ? FMT_IN_WIDE : 0, WideFormat ? (const void *)Format.c_str() : "%s%c",
               FormatArguments{Arguments.data(), Arguments.size()});
    EXPECT_STREQ(Narrow, "::");
  }
}

TEST(FormatGrammar, FormatUnitsAboveEightBitsPassThroughWideOutput) {
  const char16_t Format[] = u"\u00E9t\u00E9 \u4E2D %d";
  char16_t Out[32] = {};
  std::vector<uint64_t> Arguments = Slots(7);
  FormatCore(Out, 32, FMT_IN_WIDE | FMT_OUT_WIDE, Format, FormatArguments{Arguments.data(), Arguments.size()});
  EXPECT_EQ(std::u16string(Out), u"\u00E9t\u00E9 \u4E2D 7");
}

// Every kind of text, cut at every capacity: the output is the head of the full text, always
// terminated, the count says how much, and nothing outside the buffer changes.
TEST(FormatBounds, CutAtEveryCapacityWithGuards) {
  const std::vector<GrammarCase> Cases = {
      {"digits %d end", Slots(-1234567), ""},
      {"%,d", Slots(-1234567), ""},
      {"%+010d", Slots(42), ""},
      {"%-12X|", Slots(0xABC), ""},
      {"%12s|", Slots(u"wide"), ""},
      {"%a and %r", Slots("narrow", kError | 14), ""},
      {"%g\n", Slots(&EFI_ACPI_20_TABLE_GUID), ""},
      {"x\ny\rz%5\n", {}, ""},
  };
  for (const GrammarCase &Case : Cases) {
    for (Widths Width : kAllWidths) {
      const std::string Full = FormatWith(Width, Case.Format, Case.Slots);
      const size_t Unit = Width.WideOutput ? 2 : 1;
      for (size_t Size = 0; Size <= Full.size() + 2; Size++) {
        constexpr size_t Guard = 8;
        std::vector<uint8_t> Memory((Size + 2 * Guard) * Unit, 0xEE);
        uint8_t *Buffer = Memory.data() + Guard * Unit;
        std::u16string WideFormat = Widen(Case.Format);
        UINTN Flags = (Width.WideFormat ? FMT_IN_WIDE : 0) | (Width.WideOutput ? FMT_OUT_WIDE : 0);
        UINTN Count = FormatCore(Buffer, Size, Flags,
                                 Width.WideFormat ? (const void *)WideFormat.c_str() : (const void *)Case.Format,
                                 FormatArguments{Case.Slots.data(), Case.Slots.size()});
        size_t Expected = Size == 0 ? 0 : std::min(Full.size(), Size - 1);
        ASSERT_EQ(Count, Expected) << Case.Format << " size " << Size;
        for (size_t Index = 0; Index < Count; Index++) {
          uint16_t Unit16 = Unit == 2 ? (uint16_t)(Buffer[2 * Index] | Buffer[2 * Index + 1] << 8) : Buffer[Index];
          ASSERT_EQ(Unit16, (uint8_t)Full[Index]) << Case.Format << " size " << Size << " index " << Index;
        }
        if (Size > 0) {
          for (size_t Byte = 0; Byte < Unit; Byte++) ASSERT_EQ(Buffer[Count * Unit + Byte], 0) << "terminator";
        }
        size_t Used = Size == 0 ? 0 : (Count + 1) * Unit;
        for (size_t Index = 0; Index < Memory.size(); Index++) {
          bool Inside = Index >= Guard * Unit && Index < Guard * Unit + Used;
          if (!Inside) ASSERT_EQ(Memory[Index], 0xEE) << Case.Format << " size " << Size << " byte " << Index;
        }
      }
    }
  }
}

// A width or precision near 2^63, from digits or from '*', fills the buffer and stops at once.
TEST(FormatBounds, HugeWidthAndPrecisionStopAtTheBuffer) {
  const std::vector<GrammarCase> Cases = {
      {"%9223372036854775000d", Slots(1), ""},
      {"%.9223372036854775000d", Slots(1), ""},
      {"%*d", Slots(INT64_MAX - 5, 1), ""},
      {"%.*s", Slots(INT64_MAX, u"ab"), ""},
      {"%-*d", Slots(INT64_MAX - 5, 1), ""},
  };
  for (const GrammarCase &Case : Cases) {
    size_t Returned = 0;
    std::string Text = FormatWith({false, false}, Case.Format, Case.Slots, 64, &Returned);
    EXPECT_EQ(Returned, 63u) << Case.Format;
  }
}

TEST(FormatCoreArguments, RejectedCallsWriteNothing) {
  char Buffer[8] = "guard!!";
  std::vector<uint64_t> None;
  FormatArguments NoArguments{None.data(), 0};
  EXPECT_EQ(FormatCore(nullptr, 8, 0, "abc", NoArguments), 0u);
  EXPECT_EQ(FormatCore(Buffer, 8, 0, nullptr, NoArguments), 0u);
  EXPECT_EQ(FormatCore(Buffer, 1000001, 0, "abc", NoArguments), 0u);
  EXPECT_EQ(FormatCore(Buffer, 0, 0, "abc", NoArguments), 0u);
  EXPECT_STREQ(Buffer, "guard!!");
  std::string Long(1000001, 'a');
  EXPECT_EQ(FormatCore(Buffer, 8, 0, Long.c_str(), NoArguments), 0u);
  EXPECT_STREQ(Buffer, "guard!!");
  // A format of exactly the limit is accepted.
  Long.pop_back();
  EXPECT_EQ(FormatCore(Buffer, 8, 0, Long.c_str(), NoArguments), 7u);
  EXPECT_STREQ(Buffer, "aaaaaaa");
}

TEST(FormatPieces, FillCharsStopsAtTheEnd) {
  uint8_t Buffer[10];
  std::memset(Buffer, 0, sizeof Buffer);
  EXPECT_EQ(FillChars(Buffer, Buffer + 6, 100, 'x', 1), Buffer + 6);
  EXPECT_EQ(std::string((char *)Buffer), "xxxxxx");
  EXPECT_EQ(FillChars(Buffer, Buffer + 6, -3, 'y', 1), Buffer);
  EXPECT_EQ(FillChars(Buffer, Buffer + 6, 0, 'y', 1), Buffer);
  std::memset(Buffer, 0, sizeof Buffer);
  EXPECT_EQ(FillChars(Buffer, Buffer + 8, 3, 0x4142, 2), Buffer + 6);
  EXPECT_EQ(Buffer[0], 0x42);
  EXPECT_EQ(Buffer[1], 0x41);
  EXPECT_EQ(Buffer[6], 0);
}

TEST(FormatPieces, DigitsReversedEndsAtZeroByte) {
  struct DigitCase {
    uint64_t Value;
    uint32_t Radix;
    std::string Digits;
  };
  for (const DigitCase &Case : std::vector<DigitCase>{{0, 10, "0"},
                                                      {0, 16, "0"},
                                                      {1234, 10, "1234"},
                                                      {UINT64_MAX, 10, "18446744073709551615"},
                                                      {UINT64_MAX, 16, "FFFFFFFFFFFFFFFF"},
                                                      {0xA2B, 16, "A2B"}}) {
    char Buffer[FORMAT_VALUE_CHARACTERS];
    char *Digit = DigitsReversed(Buffer, Case.Value, Case.Radix);
    std::string Read;
    for (; *Digit != 0; Digit--) Read.push_back(*Digit);
    EXPECT_EQ(Read, Case.Digits);
    EXPECT_EQ(Digit, Buffer);
  }
}

}  // namespace

namespace {

// Each argument reaches its slot widened by its own type: signed integers sign-extended, unsigned
// ones and characters zero-extended, pointers as their address. '%l' directives show the whole slot.
TEST(FormatArgumentsSlots, ValuesWidenByTheirOwnType) {
  char Text[FORMAT_VALUE_CHARACTERS];
  auto Show = [&](const char *Format, auto Value) {
    FormatAscii(Text, sizeof Text, 0, Format, Value);
    return std::string(Text);
  };
  EXPECT_EQ(Show("%lX", (signed char)-1), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(Show("%lX", (short)-2), "FFFFFFFFFFFFFFFE");
  EXPECT_EQ(Show("%lX", -3), "FFFFFFFFFFFFFFFD");
  EXPECT_EQ(Show("%lX", -4L), "FFFFFFFFFFFFFFFC");
  EXPECT_EQ(Show("%lX", (unsigned char)0xFF), "FF");
  EXPECT_EQ(Show("%lX", (unsigned short)0xFFFF), "FFFF");
  EXPECT_EQ(Show("%lX", 0xFFFFFFFFu), "FFFFFFFF");
  EXPECT_EQ(Show("%lX", (char)-1), "FF");
  EXPECT_EQ(Show("%lX", u'\uFFFF'), "FFFF");
  EXPECT_EQ(Show("%lX", true), "1");
  EXPECT_EQ(Show("%lX", (const void *)0x123456789ABCull), "123456789ABC");
  EXPECT_EQ(Show("%lX", nullptr), "0");
  EXPECT_EQ(Show("%ld", INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(Show("%lu", UINT64_MAX), "18446744073709551615");
}

}  // namespace
