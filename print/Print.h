// Formatted output: the printf-style engine and the console print call built on it.
//
// Every argument travels in one 64-bit slot: integers widened by their own signedness, characters
// zero-extended, pointers as their address. The variadic templates below build the slot list, so
// no va_list ever crosses between the host's and the firmware's calling conventions.
#pragma once

#include "firmware/SimpleTextOutput.h"
#include "firmware/Uefi.h"

// Directive flags. FMT_IN_WIDE and FMT_OUT_WIDE come from the caller; the rest are set per directive.
constexpr UINTN FMT_LEFT = 0x1;
constexpr UINTN FMT_PLUS = 0x2;
constexpr UINTN FMT_SPACE = 0x4;
constexpr UINTN FMT_GROUP = 0x8;
constexpr UINTN FMT_LONG = 0x10;
constexpr UINTN FMT_ZERO = 0x20;
constexpr UINTN FMT_OUT_WIDE = 0x40;
constexpr UINTN FMT_HEX = 0x80;
constexpr UINTN FMT_IN_WIDE = 0x100;
constexpr UINTN FMT_WIDTH = 0x200;
constexpr UINTN FMT_ARG_WIDE = 0x400;
constexpr UINTN FMT_PRECISION = 0x800;
constexpr UINTN FMT_REVERSED = 0x1000;
constexpr UINTN FMT_UNSIGNED = 0x4000;

// Characters in the console buffer, terminator included.
constexpr UINTN CONSOLE_PRINT_CHARACTERS = 321;

struct FormatArguments {
  const UINT64 *Slots;
  UINTN Count;
};

constexpr UINT64 FormatSlot(bool Value) { return Value ? 1 : 0; }
constexpr UINT64 FormatSlot(char Value) { return (unsigned char)Value; }
constexpr UINT64 FormatSlot(signed char Value) { return (UINT64)(INT64)Value; }
constexpr UINT64 FormatSlot(unsigned char Value) { return Value; }
constexpr UINT64 FormatSlot(char8_t Value) { return Value; }
constexpr UINT64 FormatSlot(char16_t Value) { return Value; }
constexpr UINT64 FormatSlot(char32_t Value) { return Value; }
constexpr UINT64 FormatSlot(wchar_t Value) { return (UINT64)Value & (sizeof(wchar_t) == 2 ? 0xFFFF : 0xFFFFFFFF); }
constexpr UINT64 FormatSlot(short Value) { return (UINT64)(INT64)Value; }
constexpr UINT64 FormatSlot(unsigned short Value) { return Value; }
constexpr UINT64 FormatSlot(int Value) { return (UINT64)(INT64)Value; }
constexpr UINT64 FormatSlot(unsigned int Value) { return Value; }
constexpr UINT64 FormatSlot(long Value) { return (UINT64)(INT64)Value; }
constexpr UINT64 FormatSlot(unsigned long Value) { return Value; }
constexpr UINT64 FormatSlot(long long Value) { return (UINT64)Value; }
constexpr UINT64 FormatSlot(unsigned long long Value) { return Value; }
constexpr UINT64 FormatSlot(decltype(nullptr)) { return 0; }
template <typename Pointee>
UINT64 FormatSlot(Pointee *Value) {
  return (UINT64)(UINTN)Value;
}
// The engine has no floating-point conversions.
UINT64 FormatSlot(float) = delete;
UINT64 FormatSlot(double) = delete;
UINT64 FormatSlot(long double) = delete;

// Formats into Buffer, Size characters of one or two bytes (FMT_OUT_WIDE), never writing past
// them and always terminating when Size > 0. The format is 8-bit or UCS-2 (FMT_IN_WIDE).
// Returns the characters written before the terminator.
UINTN FormatCore(VOID *Buffer, UINTN Size, UINTN Flags, const VOID *Format, FormatArguments Arguments);

template <typename... Types>
UINTN FormatAscii(VOID *Buffer, UINTN Size, UINTN Flags, const CHAR8 *Format, Types... Arguments) {
  const UINT64 Slots[sizeof...(Types) + 1] = {FormatSlot(Arguments)..., 0};
  return FormatCore(Buffer, Size, Flags, Format, FormatArguments{Slots, sizeof...(Types)});
}

// Formats into a fresh pool buffer and writes it to Console. Returns the characters shown, or 0
// when nothing could be shown.
UINTN ConsoleVPrint(const CHAR16 *Format, EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console, FormatArguments Arguments);

// Prints to the system table's ConOut, read at each call.
UINTN ConsolePrintSlots(const CHAR16 *Format, FormatArguments Arguments);

// The argument slots a format takes: one for each '*' and each conversion that has an argument.
// It follows the directive scan of the engine, for checking literal formats while compiling.
constexpr UINTN FormatSlotCount(const CHAR16 *Format) {
  UINTN Count = 0;
  while (*Format != 0) {
    if (*Format++ != u'%') continue;
    for (;; Format++) {
      CHAR16 Character = *Format;
      if (Character == u'*') {
        Count++;
      } else if (Character == 0 || !(Character == u'-' || Character == u'+' || Character == u' ' ||
                                     Character == u',' || Character == u'l' || Character == u'L' ||
                                     Character == u'.' || (Character >= u'0' && Character <= u'9'))) {
        break;
      }
    }
    switch (*Format) {
      case u'd': case u'u': case u'x': case u'X': case u'p': case u'c': case u's': case u'S':
      case u'a': case u'r': case u'g': case u't':
        Count++;
        break;
      case 0:
        return Count;
    }
    Format++;
  }
  return Count;
}

// Never defined: a literal format whose directives take another number of arguments than the call
// passes reaches it while compiling, and the build stops there.
void FormatTakesOtherArgumentsThanPassed();

template <typename... Types>
struct CheckedFormat {
  const CHAR16 *Text;
  template <UINTN Length>
  consteval CheckedFormat(const CHAR16 (&Literal)[Length]) : Text(Literal) {
    if (FormatSlotCount(Literal) != sizeof...(Types)) FormatTakesOtherArgumentsThanPassed();
  }
};

template <typename Type>
struct NotDeduced {
  using Is = Type;
};

// The format is a literal, checked against the arguments while compiling.
template <typename... Types>
UINTN ConsolePrint(typename NotDeduced<CheckedFormat<Types...>>::Is Format, Types... Arguments) {
  const UINT64 Slots[sizeof...(Types) + 1] = {FormatSlot(Arguments)..., 0};
  return ConsolePrintSlots(Format.Text, FormatArguments{Slots, sizeof...(Types)});
}
