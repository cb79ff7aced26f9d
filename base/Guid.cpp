#include "base/Guid.h"

#include "base/Unaligned.h"

bool GuidEquals(const void *Guid1, const void *Guid2) {
  const uint8_t *First = (const uint8_t *)Guid1;
  const uint8_t *Second = (const uint8_t *)Guid2;
  return LoadUnaligned64(First) == LoadUnaligned64(Second) &&
         LoadUnaligned64(First + 8) == LoadUnaligned64(Second + 8);
}
