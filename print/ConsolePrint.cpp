#include "firmware/SystemTable.h"
#include "print/Print.h"

namespace {

constexpr UINTN kBufferBytes = CONSOLE_PRINT_CHARACTERS * sizeof(CHAR16);

VOID *AllocateBootPool(UINTN Size) {
  VOID *Buffer = nullptr;
  if (EFI_ERROR(gBootServices->AllocatePool(EfiBootServicesData, Size, &Buffer))) {
    return nullptr;
  }
  return Buffer;
}

}  // namespace

UINTN ConsoleVPrint(const CHAR16 *Format, EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console, FormatArguments Arguments) {
  VOID *Buffer = AllocateBootPool(kBufferBytes);
  UINTN Shown = FormatCore(Buffer, CONSOLE_PRINT_CHARACTERS, FMT_IN_WIDE | FMT_OUT_WIDE, Format, Arguments);
  if (Console != nullptr && Shown != 0) {
    if (EFI_ERROR(Console->OutputString(Console, (const CHAR16 *)Buffer))) {
      Shown = 0;
    }
  }
  if (Buffer != nullptr) {
    gBootServices->FreePool(Buffer);
  }
  return Shown;
}

UINTN ConsolePrintSlots(const CHAR16 *Format, FormatArguments Arguments) {
  // Before AppEntry has recorded the tables there is no console and no pool to print with.
  if (gSystemTable == nullptr || gBootServices == nullptr) {
    return 0;
  }
  return ConsoleVPrint(Format, gSystemTable->ConOut, Arguments);
}
