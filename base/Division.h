// 64-by-32-bit division with remainder. Inline so that a caller with a constant divisor gets a
// multiply or a shift instead of a divide instruction.
#pragma once

#include <stdint.h>

#include "base/Assert.h"

inline uint64_t DivRemU64x32(uint64_t Dividend, uint32_t Divisor, uint32_t *Remainder) {
#if defined(__i386__)
  // A 32-bit target would call runtime helpers for a 64-bit division, and there is no runtime.
  // Divide the high half, then the remainder and the low half with the processor's own 64-by-32
  // divide, whose quotient fits 32 bits because that remainder is below the divisor.
  uint32_t High = (uint32_t)(Dividend >> 32);
  uint32_t QuotientHigh = High / Divisor;
  uint32_t QuotientLow;
  uint32_t Left;
  __asm__("divl %4" : "=a"(QuotientLow), "=d"(Left) : "a"((uint32_t)Dividend), "d"(High % Divisor), "rm"(Divisor));
  if (Remainder != nullptr) {
    *Remainder = Left;
  }
  return (uint64_t)QuotientHigh << 32 | QuotientLow;
#else
  if (Remainder != nullptr) {
    *Remainder = (uint32_t)(Dividend % (uint64_t)Divisor);
  }
  return Dividend / (uint64_t)Divisor;
#endif
}

// A zero divisor is outside the contract.
inline uint64_t DivU64x32Remainder(uint64_t Dividend, uint32_t Divisor, uint32_t *Remainder) {
  BASE_ASSERT(Divisor != 0);
  return DivRemU64x32(Dividend, Divisor, Remainder);
}
