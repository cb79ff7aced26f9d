// Formats parsed while compiling against the same formats scanned at run time: one grammar, so the
// two paths must write the same characters and return the same counts, case by case and cut at
// every capacity. Programs are built at run time here with the very parse that builds them while
// compiling; a few literal formats check that the compiled ones agree too.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "FormatTestSupport.h"
#include "firmware/Guids.h"
#include "print/Print.h"

namespace {

struct Program {
  bool Compiles;
  UINTN Slots;
  std::vector<UINT8> Bytes;
};

template <typename Unit>
Program Compile(const std::basic_string<Unit> &Format) {
  FormatUnits<Unit> Units{Format.c_str()};
  bool Wide = sizeof(Unit) == 2;
  FormatShape Shape = CompileFormatInto(Units, Wide, nullptr);
  Program P{Shape.Compiles, Shape.Slots, std::vector<UINT8>(Shape.Bytes)};
  CompileFormatInto(Units, Wide, P.Bytes.data());
  return P;
}

// The program's steps: each one's literal units, and what follows them (a bare directive as any
// other). The last step must end exactly at the program's end.
std::vector<std::pair<UINT8, UINT8>> Steps(const Program &P) {
  std::vector<std::pair<UINT8, UINT8>> Found;
  size_t At = 0;
  while (At + kStepHeadBytes <= P.Bytes.size()) {
    UINT8 Units = P.Bytes[At];
    UINT8 Follows = P.Bytes[At + 1];
    bool Fields = Follows != kStepEnd && Follows != kStepLiteral && (Follows & kStepBare) == 0;
    Found.emplace_back(Units, (UINT8)(Follows & ~kStepBare));
    At += kStepHeadBytes + Units + (Fields ? sizeof(FormatStepFields) : 0);
    if (Follows == kStepEnd) break;
  }
  EXPECT_EQ(At, P.Bytes.size()) << "the steps do not end where the program does";
  return Found;
}

Program CompileWith(Widths Width, const std::string &Format) {
  return Width.WideFormat ? Compile(Widen(Format)) : Compile(Format);
}

// The program's output read back as FormatWith reads the engine's.
std::string RunProgram(const Program &P, bool WideOutput, const std::vector<uint64_t> &Slots, size_t Size,
                       size_t *Returned) {
  std::vector<uint16_t> Buffer(Size + 1, 0x5A5A);
  UINTN Count = FormatProgram(Buffer.data(), Size, WideOutput ? FMT_OUT_WIDE : 0, P.Bytes.data(),
                              FormatArguments{Slots.data(), Slots.size()});
  *Returned = Count;
  std::string Text;
  for (size_t Index = 0; Index < Count; Index++) {
    uint16_t Unit = WideOutput ? Buffer[Index] : ((const uint8_t *)Buffer.data())[Index];
    Text.push_back(Unit > 0xFF ? '?' : (char)Unit);
  }
  return Text;
}

TEST(FormatTwoPaths, EveryGrammarCaseWritesTheSameAtEveryCapacity) {
  size_t Compiled = 0;
  for (const GrammarCase &Case : GrammarCases()) {
    for (Widths Width : kAllWidths) {
      Program P = CompileWith(Width, Case.Format);
      if (!P.Compiles) continue;
      Compiled++;
      Steps(P);  // the program's steps lie end to end
      const std::string Full = FormatWith(Width, Case.Format, Case.Slots);
      for (size_t Size = 0; Size <= Full.size() + 2; Size++) {
        size_t Scanned = 0;
        size_t Run = 0;
        std::string Expected = FormatWith(Width, Case.Format, Case.Slots, Size, &Scanned);
        EXPECT_EQ(RunProgram(P, Width.WideOutput, Case.Slots, Size, &Run), Expected)
            << "format \"" << Case.Format << "\" size " << Size;
        EXPECT_EQ(Run, Scanned) << Case.Format << " size " << Size;
      }
    }
  }
  EXPECT_GT(Compiled, GrammarCases().size() * 3) << "most of the grammar must compile for this to prove much";
}

// What the compact steps cannot hold stays a runtime format; its slots count all the same.
TEST(FormatTwoPaths, FormatsThatDoNotCompileStayRuntimeFormats) {
  struct Case {
    std::u16string Format;
    UINTN Slots;
  };
  const Case Cases[] = {
      {u"\u263A %d", 1}, {u"%256d", 1}, {u"%.300s", 1}, {u"%****d", 5}, {u"%\u263A", 0}, {u"%3\x01", 0},
  };
  for (const Case &C : Cases) {
    Program P = Compile(C.Format);
    EXPECT_FALSE(P.Compiles) << (const char *)std::string(C.Format.begin(), C.Format.end()).c_str();
    EXPECT_EQ(P.Slots, C.Slots);
  }
  EXPECT_TRUE(Compile(std::u16string(u"caf\u00E9 %255d %.255s %***d")).Compiles) << "all of this fits a step";
}

// A literal longer than a step's 255 units goes on in further steps.
TEST(FormatTwoPaths, LongLiteralsSpanSteps) {
  std::string Long(700, 'x');
  using Step = std::pair<UINT8, UINT8>;
  const std::pair<std::string, std::vector<Step>> Cases[] = {
      {Long + "%d" + Long,
       {{255, kStepLiteral}, {255, kStepLiteral}, {190, 'd'}, {255, kStepLiteral}, {255, kStepLiteral}, {190, kStepEnd}}},
      // 1402 units of text: the line end is "\r\n" in it.
      {Long + "\n" + Long, {{255, kStepLiteral}, {255, kStepLiteral}, {255, kStepLiteral}, {255, kStepLiteral},
                            {255, kStepLiteral}, {127, kStepEnd}}},
  };
  for (const auto &[Format, Expected] : Cases) {
    Program P = Compile(Format);
    ASSERT_TRUE(P.Compiles);
    EXPECT_EQ(Steps(P), Expected);
    for (size_t Size : {(size_t)1024, (size_t)2048, (size_t)700, (size_t)256}) {
      size_t Scanned = 0;
      size_t Run = 0;
      std::string Expected = FormatWith({false, true}, Format, Slots(42), Size, &Scanned);
      EXPECT_EQ(RunProgram(P, true, Slots(42), Size, &Run), Expected) << Size;
      EXPECT_EQ(Run, Scanned);
    }
  }
}

// Literal formats parsed while compiling, through FormatCompiled, against FormatCore on the same
// literal: the parse while compiling is the one at run time.
template <FormatShape Shape, typename... Types>
std::u16string BothPaths(UINTN Size, const CompiledFormat<Shape> &Compiled, const char16_t *Literal,
                         Types... Arguments) {
  std::vector<uint64_t> Slots = {FormatSlot(Arguments)...};
  std::vector<char16_t> Scanned(Size + 1, 0x5A5A);
  std::vector<char16_t> Run(Size + 1, 0xA5A5);
  UINTN ScannedCount = FormatCore(Scanned.data(), Size, FMT_IN_WIDE | FMT_OUT_WIDE, Literal,
                                  FormatArguments{Slots.data(), Slots.size()});
  UINTN RunCount = FormatCompiled(Run.data(), Size, FMT_OUT_WIDE, Compiled, Arguments...);
  EXPECT_EQ(RunCount, ScannedCount);
  EXPECT_EQ(std::u16string(Run.data(), RunCount), std::u16string(Scanned.data(), ScannedCount));
  return std::u16string(Run.data(), RunCount);
}

#define BOTH_PATHS(Size, Literal, ...) BothPaths(Size, COMPILED_FORMAT(Literal), Literal __VA_OPT__(, ) __VA_ARGS__)

TEST(FormatTwoPaths, LiteralFormatsParsedWhileCompilingWriteWhatTheScanWrites) {
  const EFI_GUID Guid = EFI_ACPI_20_TABLE_GUID;
  EXPECT_EQ(BOTH_PATHS(321, u"  Image address @[0x%lX]\n", 0xDEA2018ull), u"  Image address @[0xDEA2018]\r\n");
  EXPECT_EQ(BOTH_PATHS(321, u" Signature [%c%c%c%c]\n", u'X', u'S', 0, u'T'), u" Signature [XS T]\r\n");
  EXPECT_EQ(BOTH_PATHS(321, u"%*.*d|%-6r|%5%|%\r\n%5\n", 6, 3, 7, EFI_SUCCESS),
            u"   007|Success|    %|\r\n   \r\n");
  EXPECT_EQ(BOTH_PATHS(321, u"%g ends%5", &Guid), u"8868E871-E4F1-11D3-BC22-0080C73C8881 ends     ");
  EXPECT_EQ(BOTH_PATHS(12, u"cut %s here", u"in the middle"), u"cut in the ");
  // Formats that stay runtime formats print through the engine all the same.
  EXPECT_EQ(BOTH_PATHS(400, u"\u263A %300d|", 1).size(), 303u);
  EXPECT_EQ(BOTH_PATHS(8, u"%****d", 1, 2, 3, 4, 5), u"   5");
  // And 8-bit formats into 8-bit output.
  char Narrow[40];
  EXPECT_EQ(FormatCompiled(Narrow, 40, 0, COMPILED_FORMAT("%,d and %-4a|"), 1234567, "ab"), 19u);
  EXPECT_STREQ(Narrow, "1,234,567 and ab  |");
}

}  // namespace
