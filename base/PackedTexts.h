// A fixed list of texts as one block: the texts one after another, each with its terminator. A
// text is found by counting terminators: a walk of a few hundred bytes at most, for a block that
// needs neither a table of pointers for the loader to relocate nor one of where each text starts.
#pragma once

#include <stddef.h>
#include <stdint.h>

template <size_t Count, size_t Bytes>
struct PackedTexts {
  char Text[Bytes];

  // The Index-th text; Index is below Count.
  const char *operator[](size_t Index) const {
    const char *At = Text;
    for (; Index != 0; Index--) {
      while (*At != 0) At++;
      At++;
    }
    return At;
  }
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
  PackedTexts<Count, PackedBytes(Texts)> Packed = {};
  size_t At = 0;
  for (size_t Index = 0; Index < Count; Index++) {
    for (const char *Text = Texts[Index]; *Text != 0; Text++) Packed.Text[At++] = *Text;
    Packed.Text[At++] = 0;
  }
  return Packed;
}
