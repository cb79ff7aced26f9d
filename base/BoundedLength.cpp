#include "base/BoundedLength.h"

#include "base/Assert.h"

uint64_t AsciiBoundedLength(const char *String, uint64_t Maximum) {
  if (String == nullptr || Maximum == 0) {
    return 0;
  }
  uint64_t Length = 0;
  while (String[Length] != 0) {
    if (Length >= Maximum - 1) {
      return Maximum;
    }
    Length++;
  }
  return Length;
}

uint64_t WideBoundedLength(const char16_t *String, uint64_t Maximum) {
  BASE_ASSERT(((uintptr_t)String & 1) == 0);
  if (String == nullptr || Maximum == 0) {
    return 0;
  }
  uint64_t Length = 0;
  while (String[Length] != 0) {
    if (Length >= Maximum - 1) {
      return Maximum;
    }
    Length++;
  }
  return Length;
}
