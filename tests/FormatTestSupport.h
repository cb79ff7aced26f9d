// Helpers for format tests: run the engine with any format and output width and read the result
// back as 8-bit text, and build slot lists from ordinary values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "print/Print.h"

// A format of the directive grammar, its argument slots and what it must print.
struct GrammarCase {
  const char *Format;
  std::vector<uint64_t> Slots;
  std::string Expected;
};

constexpr uint64_t kError = 0x8000000000000000ull;

// The grammar, case by case: every flag, conversion and corner the engine knows.
std::vector<GrammarCase> GrammarCases();

struct Widths {
  bool WideFormat;
  bool WideOutput;
};

inline const Widths kAllWidths[] = {{false, false}, {false, true}, {true, false}, {true, true}};

std::u16string Widen(const std::string &Text);
// The output of FormatCore in the given widths, each unit as one char (units above 0xFF as '?').
std::string FormatWith(Widths Width, const std::string &Format, const std::vector<uint64_t> &Slots,
                       size_t Size = 512, size_t *Returned = nullptr);

template <typename... Types>
std::vector<uint64_t> Slots(Types... Values) {
  return {FormatSlot(Values)...};
}
