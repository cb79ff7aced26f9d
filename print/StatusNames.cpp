#include "print/FormatInternal.h"
#include "print/Print.h"

// Index 0 is success, 1 to 5 the warnings 1 to 5, 6 to 38 the errors 1 to 33.
const CHAR8 *const StatusNames[STATUS_NAME_COUNT] = {
    "Success",
    "Warning Unknown Glyph",
    "Warning Delete Failure",
    "Warning Write Failure",
    "Warning Buffer Too Small",
    "Warning Stale Data",
    "Load Error",
    "Invalid Parameter",
    "Unsupported",
    "Bad Buffer Size",
    "Buffer Too Small",
    "Not Ready",
    "Device Error",
    "Write Protected",
    "Out of Resources",
    "Volume Corrupt",
    "Volume Full",
    "No Media",
    "Media changed",
    "Not Found",
    "Access Denied",
    "No Response",
    "No mapping",
    "Time out",
    "Not started",
    "Already started",
    "Aborted",
    "ICMP Error",
    "TFTP Error",
    "Protocol Error",
    "Incompatible Version",
    "Security Violation",
    "CRC Error",
    "End of Media",
    "Reserved (29)",
    "Reserved (30)",
    "End of File",
    "Invalid Language",
    "Compromised Data",
};

const CHAR8 *StatusText(EFI_STATUS Status, CHAR8 *ValueBuffer) {
  constexpr UINTN WarningCount = 5;
  constexpr UINTN ErrorCount = 33;
  if (EFI_ERROR(Status)) {
    UINTN Code = Status & ~EFI_ERROR_BIT;
    if (Code >= 1 && Code <= ErrorCount) {
      return StatusNames[Code + WarningCount];
    }
  } else if (Status <= WarningCount) {
    return StatusNames[Status];
  }
  FormatCompiled(ValueBuffer, FORMAT_VALUE_CHARACTERS, 0, COMPILED_FORMAT("%08X"), Status);
  return ValueBuffer;
}
