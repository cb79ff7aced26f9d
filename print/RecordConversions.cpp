// '%g' and '%t': firmware records rendered as 8-bit text, written digit by digit: a record has a
// fixed shape, so no nested run of the engine is needed to lay it out.
#include "base/Unaligned.h"
#include "print/FormatInternal.h"

CHAR8 *PutHexDigits(CHAR8 *To, UINT64 Value, UINTN Count) {
  for (UINTN Place = Count; Place-- > 0;) *To++ = kFormatDigits[Value >> (4 * Place) & 0xF];
  return To;
}

namespace {

// The decimal digits of Value, at least Count of them (zeros first); returns the position after them.
CHAR8 *PutDecimalDigits(CHAR8 *To, UINT32 Value, UINTN Count) {
  UINTN Needed = 1;
  for (UINT32 Rest = Value / 10; Rest != 0; Rest /= 10) Needed++;
  if (Needed > Count) Count = Needed;
  for (UINTN Place = Count; Place-- > 0; Value /= 10) To[Place] = (CHAR8)('0' + Value % 10);
  return To + Count;
}

// The GUID's bytes in the order its text shows them, with kDash where a '-' goes: the first three
// fields are little-endian numbers, the last eight bytes stand in memory order.
constexpr UINT8 kDash = 0xFF;
constexpr UINT8 kGuidTextOrder[] = {3, 2, 1, 0, kDash, 5, 4, kDash, 7, 6, kDash, 8, 9, kDash, 10, 11, 12, 13, 14, 15};

}  // namespace

const CHAR8 *GuidText(const VOID *Guid, CHAR8 *ValueBuffer) {
  if (Guid == nullptr) {
    return "<null guid>";
  }
  const UINT8 *Bytes = (const UINT8 *)Guid;
  CHAR8 *To = ValueBuffer;
  for (UINT8 Index : kGuidTextOrder) {
    if (Index == kDash) {
      *To++ = '-';
    } else {
      To = PutHexDigits(To, Bytes[Index], 2);
    }
  }
  *To = 0;
  return ValueBuffer;
}

const CHAR8 *TimeText(const VOID *Time, CHAR8 *ValueBuffer) {
  if (Time == nullptr) {
    return "<null time>";
  }
  // EFI_TIME: year (16-bit) at 0, then month, day, hour and minute bytes: "MM/DD/YYYY  hh:mm".
  const UINT8 *Bytes = (const UINT8 *)Time;
  CHAR8 *To = PutDecimalDigits(ValueBuffer, Bytes[2], 2);
  *To++ = '/';
  To = PutDecimalDigits(To, Bytes[3], 2);
  *To++ = '/';
  To = PutDecimalDigits(To, LoadUnaligned16(Bytes), 4);
  *To++ = ' ';
  *To++ = ' ';
  To = PutDecimalDigits(To, Bytes[4], 2);
  *To++ = ':';
  To = PutDecimalDigits(To, Bytes[5], 2);
  *To = 0;
  return ValueBuffer;
}
