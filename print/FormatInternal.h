// Pieces of the format engine shared between its files and open to the tests.
#pragma once

#include "base/Division.h"
#include "firmware/Uefi.h"

// Scratch for one directive's text: number digits, a status without a name, a GUID or a time.
constexpr UINTN FORMAT_VALUE_CHARACTERS = 38;

// The engine's digits, upper case in every radix.
inline constexpr CHAR8 kFormatDigits[] = "0123456789ABCDEF";

// Writes Count copies of Character, each one unit (1 or 2 bytes) wide, but never at or past End.
// Returns the new position. A Count of 0 or less writes nothing.
UINT8 *FillChars(UINT8 *Position, UINT8 *End, INT64 Count, UINT16 Character, UINTN Unit);

// Stores a zero byte at Buffer[0], then the digits of Value least significant first. Returns the
// address of the most significant digit, from which the number reads backwards to the zero byte.
inline CHAR8 *DigitsReversed(CHAR8 *Buffer, UINT64 Value, UINT32 Radix) {
  CHAR8 *Digit = Buffer;
  *Digit = 0;
  if (Radix == 10) {
    // Two decimal digits a division: half the chain of dependent divisions of a long number.
    while (Value >= 100) {
      UINT32 Pair;
      Value = DivU64x32Remainder(Value, 100, &Pair);
      *++Digit = kFormatDigits[Pair % 10];
      *++Digit = kFormatDigits[Pair / 10];
    }
  }
  do {
    UINT32 Remainder;
    Value = DivU64x32Remainder(Value, Radix, &Remainder);
    *++Digit = kFormatDigits[Remainder];
  } while (Value != 0);
  return Digit;
}

// Writes the low Count hexadecimal digits of Value, most significant first, in upper case as the
// engine's own. Returns the position after them.
CHAR8 *PutHexDigits(CHAR8 *To, UINT64 Value, UINTN Count);

// The 8-bit text of '%r': the status's name, or its low 32 bits in hexadecimal in ValueBuffer.
const CHAR8 *StatusText(EFI_STATUS Status, CHAR8 *ValueBuffer);

// The 8-bit texts of '%g' and '%t', built in ValueBuffer; a null record gives a fixed text.
const CHAR8 *GuidText(const VOID *Guid, CHAR8 *ValueBuffer);
const CHAR8 *TimeText(const VOID *Time, CHAR8 *ValueBuffer);
