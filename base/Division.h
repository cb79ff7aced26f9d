// 64-by-32-bit division with remainder. Inline so that a caller with a constant divisor gets a
// multiply or a shift instead of a divide instruction.
#pragma once

#include <stdint.h>

#include "base/Assert.h"

inline uint64_t DivRemU64x32(uint64_t Dividend, uint32_t Divisor, uint32_t *Remainder) {
  if (Remainder != nullptr) {
    *Remainder = (uint32_t)(Dividend % (uint64_t)Divisor);
  }
  return Dividend / (uint64_t)Divisor;
}

// A zero divisor is outside the contract.
inline uint64_t DivU64x32Remainder(uint64_t Dividend, uint32_t Divisor, uint32_t *Remainder) {
  BASE_ASSERT(Divisor != 0);
  return DivRemU64x32(Dividend, Divisor, Remainder);
}
