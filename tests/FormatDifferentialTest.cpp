// The engine against glibc's snprintf on the grammar both share: signed and unsigned decimals of
// 32 and 64 bits with '-', '+', ' ', '0', width and precision; 'X' of 32-bit values; 8-bit strings
// with width and '-'. Where the engine differs from C by design (upper-case 'x', '+' and ' ' on
// hexadecimal and unsigned numbers, 'X' filling with zeros, precision on strings) the grammar table covers it instead.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "FormatTestSupport.h"

namespace {

struct Directive {
  std::string Ours;
  std::string Theirs;
  uint64_t Slot;
  std::string Reference;  // snprintf's text for this directive alone
};

std::string Flags(std::mt19937_64 &Random, const char *Allowed) {
  std::string Chosen;
  for (const char *Flag = Allowed; *Flag != 0; Flag++) {
    if (Random() % 4 == 0) Chosen.push_back(*Flag);
  }
  return Chosen;
}

std::string WidthAndPrecision(std::mt19937_64 &Random, bool AllowPrecision) {
  std::string Text;
  if (Random() % 2 == 0) Text += std::to_string(1 + Random() % 24);
  if (AllowPrecision && Random() % 3 == 0) Text += "." + std::to_string(Random() % 24);
  return Text;
}

uint64_t Value(std::mt19937_64 &Random) {
  static const uint64_t Edges[] = {0, 1, (uint64_t)-1, 9, 10, 999, 1000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF,
                                   0x100000000ull, (uint64_t)INT64_MAX, (uint64_t)INT64_MIN};
  switch (Random() % 4) {
    case 0: return Edges[Random() % (sizeof Edges / sizeof Edges[0])];
    case 1: return Random() % 100000;
    case 2: return (uint64_t)(int64_t)(int32_t)Random();
    default: return Random();
  }
}

const char *const kStrings[] = {"", "a", "ab", "quillon", "BIOSLogo.bmp", "Found BGRT @", "0123456789abcdef"};

Directive MakeDirective(std::mt19937_64 &Random) {
  char Reference[256];
  uint64_t Slot = Value(Random);
  switch (Random() % 6) {
    case 0: {
      std::string Spec = "%" + Flags(Random, "-+ 0") + WidthAndPrecision(Random, true) + "d";
      std::snprintf(Reference, sizeof Reference, Spec.c_str(), (int)(int32_t)Slot);
      return {Spec, Spec, (uint64_t)(int64_t)(int32_t)Slot, Reference};
    }
    case 1: {
      std::string Spec = "%" + Flags(Random, "-+ 0") + WidthAndPrecision(Random, true) + "ld";
      std::snprintf(Reference, sizeof Reference, Spec.c_str(), (long)Slot);
      return {Spec, Spec, Slot, Reference};
    }
    case 2: {
      std::string Spec = "%" + Flags(Random, "-0") + WidthAndPrecision(Random, true) + "u";
      std::snprintf(Reference, sizeof Reference, Spec.c_str(), (unsigned)Slot);
      return {Spec, Spec, (uint32_t)Slot, Reference};
    }
    case 3: {
      std::string Spec = "%" + Flags(Random, "-0") + WidthAndPrecision(Random, true) + "lu";
      std::snprintf(Reference, sizeof Reference, Spec.c_str(), (unsigned long)Slot);
      return {Spec, Spec, Slot, Reference};
    }
    case 4: {
      // 'X' fills its width with zeros by itself; C does so only with '0', so '0' is always given.
      std::string Spec = "%0" + Flags(Random, "-") + WidthAndPrecision(Random, true) + "X";
      std::snprintf(Reference, sizeof Reference, Spec.c_str(), (unsigned)Slot);
      return {Spec, Spec, (uint32_t)Slot, Reference};
    }
    default: {
      const char *String = kStrings[Random() % (sizeof kStrings / sizeof kStrings[0])];
      std::string Modifiers = Flags(Random, "-") + WidthAndPrecision(Random, false);
      std::snprintf(Reference, sizeof Reference, ("%" + Modifiers + "s").c_str(), String);
      return {"%" + Modifiers + "a", "%" + Modifiers + "s", FormatSlot(String), Reference};
    }
  }
}

TEST(FormatDifferential, AgreesWithSnprintfOnTheSharedGrammar) {
  std::mt19937_64 Random(20261210);
  constexpr int kFormats = 1500;
  int Directives = 0;
  for (int Index = 0; Index < kFormats; Index++) {
    // A few directives with literal text between them, compared as one line.
    std::string Ours;
    std::string Expected;
    std::vector<uint64_t> Arguments;
    int Count = 1 + (int)(Random() % 4);
    for (int Part = 0; Part < Count; Part++) {
      Directive D = MakeDirective(Random);
      Ours += D.Ours + " |";
      Expected += D.Reference + " |";
      Arguments.push_back(D.Slot);
      Directives++;
    }
    for (Widths Width : kAllWidths) {
      ASSERT_EQ(FormatWith(Width, Ours, Arguments), Expected)
          << "format \"" << Ours << "\" wide format " << Width.WideFormat << " wide output " << Width.WideOutput;
    }
  }
  RecordProperty("directives", Directives);
  std::printf("compared %d directives in %d formats, each in four widths\n", Directives, kFormats);
}

}  // namespace
