#include "base/PackedTexts.h"
#include "print/FormatInternal.h"

namespace {

constexpr UINTN kStatusNameCount = 39;

// Index 0 is success, 1 to 5 the warnings 1 to 5, 6 to 38 the errors 1 to 33.
constexpr const CHAR8 *kStatusNames[kStatusNameCount] = {
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

constexpr auto kPackedNames = IndexTexts<kStatusNames>();

}  // namespace

const CHAR8 *StatusText(EFI_STATUS Status, CHAR8 *ValueBuffer) {
  constexpr UINTN WarningCount = 5;
  constexpr UINTN ErrorCount = 33;
  UINTN Index = kStatusNameCount;  // no name
  if (EFI_ERROR(Status)) {
    UINTN Code = Status & ~EFI_ERROR_BIT;
    if (Code >= 1 && Code <= ErrorCount) Index = Code + WarningCount;
  } else if (Status <= WarningCount) {
    Index = Status;
  }
  // One lookup, so the compiler sees the whole block and folds its page bounds into the code.
  if (Index < kStatusNameCount) return kPackedNames[Index];
  *PutHexDigits(ValueBuffer, (UINT32)Status, 8) = 0;  // as "%08X" shows it
  return ValueBuffer;
}
