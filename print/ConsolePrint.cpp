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

// Formats with Format into a fresh pool buffer, shows the text on Console and gives the buffer
// back. Returns the characters shown.
template <typename Formatter>
UINTN PrintThroughPool(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console, Formatter Format) {
  VOID *Buffer = AllocateBootPool(kBufferBytes);
  UINTN Shown = Format(Buffer);
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

// Before AppEntry has recorded the tables there is no console and no pool to print with.
bool CanPrint() { return gSystemTable != nullptr && gBootServices != nullptr; }

}  // namespace

UINTN ConsoleVPrint(const CHAR16 *Format, EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console, FormatArguments Arguments) {
  return PrintThroughPool(Console, [&](VOID *Buffer) {
    return FormatCore(Buffer, CONSOLE_PRINT_CHARACTERS, FMT_IN_WIDE | FMT_OUT_WIDE, Format, Arguments);
  });
}

UINTN ConsolePrintSlots(const CHAR16 *Format, FormatArguments Arguments) {
  if (!CanPrint()) return 0;
  return ConsoleVPrint(Format, gSystemTable->ConOut, Arguments);
}

UINTN ConsolePrintProgram(const UINT8 *Program, FormatArguments Arguments) {
  if (!CanPrint()) return 0;
  return PrintThroughPool(gSystemTable->ConOut, [&](VOID *Buffer) {
    return FormatProgram(Buffer, CONSOLE_PRINT_CHARACTERS, FMT_OUT_WIDE, Program, Arguments);
  });
}
