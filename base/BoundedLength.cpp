#include "base/BoundedLength.h"

#include "base/Assert.h"

namespace {

// Shared by both widths. Characters before index Last are checked four at a time; a character
// other than the terminator at index Last itself means the string reaches the maximum.
template <typename Character>
uint64_t BoundedLength(const Character *String, uint64_t Maximum) {
  if (String == nullptr || Maximum == 0) {
    return 0;
  }
  const uint64_t Last = Maximum - 1;
  uint64_t Length = 0;
  while (Last - Length >= 4) {
    if (String[Length] == 0) return Length;
    if (String[Length + 1] == 0) return Length + 1;
    if (String[Length + 2] == 0) return Length + 2;
    if (String[Length + 3] == 0) return Length + 3;
    Length += 4;
  }
  for (; Length < Last; Length++) {
    if (String[Length] == 0) return Length;
  }
  return String[Last] == 0 ? Last : Maximum;
}

}  // namespace

uint64_t AsciiBoundedLength(const char *String, uint64_t Maximum) { return BoundedLength(String, Maximum); }

uint64_t WideBoundedLength(const char16_t *String, uint64_t Maximum) {
  BASE_ASSERT(((uintptr_t)String & 1) == 0);
  return BoundedLength(String, Maximum);
}
