// A fixed list of texts as one block: the texts one after another, each with its terminator, and
// where each starts. Half the size of a table of pointers, and nothing for the loader to relocate.
#pragma once

#include <stddef.h>
#include <stdint.h>

template <size_t Count, size_t Bytes>
struct PackedTexts {
  uint16_t Start[Count];
  char Text[Bytes];

  const char *operator[](size_t Index) const { return &Text[Start[Index]]; }
};

template <size_t Count>
consteval size_t PackedBytes(const char *const (&Texts)[Count]) {
  size_t Bytes = 0;
  for (const char *Text : Texts) {
    for (; *Text != 0; Text++) Bytes++;
    Bytes++;
  }
  return Bytes;
}

// Packs a constant array of texts while compiling: PackTexts<kTexts>(). Only the packed block is
// kept in the program; the array itself is read by the compiler alone.
template <const auto &Texts>
consteval auto PackTexts() {
  constexpr size_t Count = sizeof Texts / sizeof Texts[0];
  static_assert(PackedBytes(Texts) <= 0xFFFF, "every text must start within reach of a 16-bit offset");
  PackedTexts<Count, PackedBytes(Texts)> Packed = {};
  size_t At = 0;
  for (size_t Index = 0; Index < Count; Index++) {
    Packed.Start[Index] = (uint16_t)At;
    for (const char *Text = Texts[Index]; *Text != 0; Text++) Packed.Text[At++] = *Text;
    Packed.Text[At++] = 0;
  }
  return Packed;
}
