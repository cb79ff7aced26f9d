// The region of simulated physical memory a fuzz input fills, mapped at its fixed address in this
// process, and the check the targets share on a logo file: that it is a whole bitmap from there.
#pragma once

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/BitmapLayout.h"
#include "app/ReadableMemory.h"
#include "fuzz/ReportInput.h"

namespace report_fuzz {

inline uint8_t *Region() {
  static uint8_t *Mapped = [] {
    void *At = mmap((void *)kRegionStart, kRegionBytes, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (At != (void *)kRegionStart) {
      std::fprintf(stderr, "fuzz: cannot map the region at %#llx\n", (unsigned long long)kRegionStart);
      std::abort();
    }
    return (uint8_t *)At;
  }();
  return Mapped;
}

// Fills the region with the input, and zeros after it; only what the last input left there is
// zeroed. Returns the region.
inline uint8_t *FillRegion(const uint8_t *Data, size_t Length) {
  uint8_t *Memory = Region();
  static size_t LastFilled = kRegionBytes;
  size_t Filled = Length < kRegionBytes ? Length : kRegionBytes;
  std::memcpy(Memory, Data, Filled);
  if (LastFilled > Filled) std::memset(Memory + Filled, 0, LastFilled - Filled);
  LastFilled = Filled;
  return Memory;
}

// Whether Bytes are a whole bitmap somewhere in readable memory: the bytes at some address whose
// size field says as many, and which the bitmap rule, judging the bytes in memory, calls sound.
inline bool IsWholeBitmapInMemory(const std::vector<uint8_t> &Bytes, const Header &Head) {
  uint32_t Size;
  if (Bytes.size() < kBitmapFixedBytes) return false;
  std::memcpy(&Size, &Bytes[2], 4);
  if (Size != Bytes.size()) return false;
  bool PageIsMemory[kRegionPages];
  for (size_t Page = 0; Page < kRegionPages; Page++) {
    uint32_t Type;
    PageIsMemory[Page] = PageType(PageKindOf(Head.PageKinds, Page), &Type) && IsMemoryType(Type);
  }
  const uint8_t *Memory = Region();
  for (size_t Start = 0; Start + Size <= kRegionBytes; Start++) {
    if (!PageIsMemory[Start / EFI_PAGE_SIZE] || Memory[Start] != Bytes[0]) continue;
    bool Readable = true;
    for (size_t Page = Start / EFI_PAGE_SIZE; Readable && Page <= (Start + Size - 1) / EFI_PAGE_SIZE; Page++) {
      Readable = PageIsMemory[Page];
    }
    if (Readable && std::memcmp(Memory + Start, Bytes.data(), Size) == 0 &&
        JudgeBitmap(Memory + Start, Size).Fault == kBitmapSound) {
      return true;
    }
  }
  return false;
}

}  // namespace report_fuzz
