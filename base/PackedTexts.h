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

// The same block with where each text starts, for lists read often enough that the walk counts
// (status names: one is looked up for every %r). A start takes one byte: the block is cut into
// pages of 256 bytes, and a text's page is known from its index, as texts lie in index order.
template <size_t Count, size_t Bytes>
struct IndexedTexts {
  static constexpr size_t kPages = (Bytes + 255) / 256;
  static_assert(kPages <= 3, "the lookup below counts at most three pages");
  uint8_t Start[Count];          // where each text starts within its page
  uint8_t FirstOfPage[kPages];   // the first index whose text starts in each page
  char Text[Bytes];

  const char *operator[](size_t Index) const {
    const char *At = Text + Start[Index];
    if constexpr (kPages > 1) {
      if (Index >= FirstOfPage[1]) At += 256;
    }
    if constexpr (kPages > 2) {
      if (Index >= FirstOfPage[2]) At += 256;
    }
    return At;
  }
};

// Indexes a constant array of texts while compiling: IndexTexts<kTexts>().
template <const auto &Texts>
consteval auto IndexTexts() {
  constexpr size_t Count = sizeof Texts / sizeof Texts[0];
  constexpr auto Packed = PackTexts<Texts>();
  IndexedTexts<Count, sizeof Packed.Text> Indexed = {};
  for (size_t Page = 0; Page < Indexed.kPages; Page++) Indexed.FirstOfPage[Page] = (uint8_t)Count;
  size_t At = 0;
  for (size_t Index = 0; Index < Count; Index++) {
    size_t Page = At / 256;
    if (Indexed.FirstOfPage[Page] == Count) Indexed.FirstOfPage[Page] = (uint8_t)Index;
    Indexed.Start[Index] = (uint8_t)(At % 256);
    while (Packed.Text[At] != 0) At++;
    At++;
  }
  // A page no text starts in takes the next page's first index, so the pages before it still count.
  for (size_t Page = Indexed.kPages; Page-- > 1;) {
    if (Indexed.FirstOfPage[Page] == Count && Page + 1 < Indexed.kPages) {
      Indexed.FirstOfPage[Page] = Indexed.FirstOfPage[Page + 1];
    }
  }
  for (size_t Byte = 0; Byte < sizeof Packed.Text; Byte++) Indexed.Text[Byte] = Packed.Text[Byte];
  return Indexed;
}
