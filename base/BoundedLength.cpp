#include "base/BoundedLength.h"

#include "base/Assert.h"

uint64_t AsciiBoundedLength(const char *String, uint64_t Maximum) { return BoundedLength(String, Maximum); }

uint64_t WideBoundedLength(const char16_t *String, uint64_t Maximum) {
  BASE_ASSERT(((uintptr_t)String & 1) == 0);
  return BoundedLength(String, Maximum);
}
