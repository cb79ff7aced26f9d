// '%g' and '%t': firmware records rendered as 8-bit text by a nested call of the engine, with
// formats parsed while compiling.
#include "base/Unaligned.h"
#include "print/FormatInternal.h"
#include "print/Print.h"

const CHAR8 *GuidText(const VOID *Guid, CHAR8 *ValueBuffer) {
  if (Guid == nullptr) {
    return "<null guid>";
  }
  const UINT8 *Bytes = (const UINT8 *)Guid;
  FormatCompiled(ValueBuffer, FORMAT_VALUE_CHARACTERS, 0,
                 COMPILED_FORMAT("%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x"), LoadUnaligned32(Bytes),
                 LoadUnaligned16(Bytes + 4), LoadUnaligned16(Bytes + 6), (int)Bytes[8], (int)Bytes[9], (int)Bytes[10],
                 (int)Bytes[11], (int)Bytes[12], (int)Bytes[13], (int)Bytes[14], (int)Bytes[15]);
  return ValueBuffer;
}

const CHAR8 *TimeText(const VOID *Time, CHAR8 *ValueBuffer) {
  if (Time == nullptr) {
    return "<null time>";
  }
  // EFI_TIME: year (16-bit) at 0, then month, day, hour and minute bytes.
  const UINT8 *Bytes = (const UINT8 *)Time;
  FormatCompiled(ValueBuffer, FORMAT_VALUE_CHARACTERS, 0, COMPILED_FORMAT("%02d/%02d/%04d  %02d:%02d"),
                 (int)Bytes[2], (int)Bytes[3], (int)LoadUnaligned16(Bytes), (int)Bytes[4], (int)Bytes[5]);
  return ValueBuffer;
}
