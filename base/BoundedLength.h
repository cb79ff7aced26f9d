// String lengths that never walk further than a caller's maximum.
#pragma once

#include <stdint.h>

// The length of a zero-terminated string, or Maximum when the string has Maximum or more
// characters. A null string or a Maximum of 0 gives 0.
uint64_t AsciiBoundedLength(const char *String, uint64_t Maximum);
uint64_t WideBoundedLength(const char16_t *String, uint64_t Maximum);

// Shared by both widths, and inline for the format engine, which measures every format it is given.
// Characters before index Last are checked eight at a time; a character other than the terminator
// at index Last itself means the string reaches the maximum.
template <typename Character>
inline uint64_t BoundedLength(const Character *String, uint64_t Maximum) {
  if (String == nullptr || Maximum == 0) {
    return 0;
  }
  const uint64_t Last = Maximum - 1;
  uint64_t Length = 0;
  while (Last - Length >= 8) {
    for (uint64_t Step = 0; Step < 8; Step++) {
      if (String[Length + Step] == 0) return Length + Step;
    }
    Length += 8;
  }
  for (; Length < Last; Length++) {
    if (String[Length] == 0) return Length;
  }
  return String[Last] == 0 ? Last : Maximum;
}
