// Little-endian loads and stores at any byte address. Firmware tables and bitmaps may sit at odd addresses,
// where a plain dereference is undefined behaviour in C++ even though x64 would allow it.
#pragma once

#include <stdint.h>

#include "base/Assert.h"

inline uint16_t LoadUnaligned16(const void *Buffer) {
  BASE_ASSERT(Buffer != nullptr);
  uint16_t Value;
  __builtin_memcpy(&Value, Buffer, sizeof Value);
  return Value;
}

inline uint32_t LoadUnaligned32(const void *Buffer) {
  BASE_ASSERT(Buffer != nullptr);
  uint32_t Value;
  __builtin_memcpy(&Value, Buffer, sizeof Value);
  return Value;
}

inline uint64_t LoadUnaligned64(const void *Buffer) {
  BASE_ASSERT(Buffer != nullptr);
  uint64_t Value;
  __builtin_memcpy(&Value, Buffer, sizeof Value);
  return Value;
}

inline void StoreUnaligned16(void *Buffer, uint16_t Value) {
  BASE_ASSERT(Buffer != nullptr);
  __builtin_memcpy(Buffer, &Value, sizeof Value);
}

inline void StoreUnaligned32(void *Buffer, uint32_t Value) {
  BASE_ASSERT(Buffer != nullptr);
  __builtin_memcpy(Buffer, &Value, sizeof Value);
}

inline void StoreUnaligned64(void *Buffer, uint64_t Value) {
  BASE_ASSERT(Buffer != nullptr);
  __builtin_memcpy(Buffer, &Value, sizeof Value);
}
