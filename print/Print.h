// Formatted output: the printf-style engine and the console print call built on it.
//
// Every argument travels in one 64-bit slot: integers widened by their own signedness, characters
// zero-extended, pointers as their address. The variadic templates below build the slot list, so
// no va_list ever crosses between the host's and the firmware's calling conventions.
#pragma once

#include "firmware/SimpleTextOutput.h"
#include "firmware/Uefi.h"
#include "print/FormatGrammar.h"
#include "print/FormatProgram.h"

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
// Room for Count slots in an array, which cannot be empty.
constexpr UINTN SlotRoom(UINTN Count) { return Count > 0 ? Count : 1; }

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
  const UINT64 Slots[SlotRoom(sizeof...(Types))] = {FormatSlot(Arguments)...};
  return FormatCore(Buffer, Size, Flags, Format, FormatArguments{Slots, sizeof...(Types)});
}

// Formats into a fresh pool buffer and writes it to Console. Returns the characters shown, or 0
// when nothing could be shown.
UINTN ConsoleVPrint(const CHAR16 *Format, EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console, FormatArguments Arguments);

// Prints to the system table's ConOut, read at each call.
UINTN ConsolePrintSlots(const CHAR16 *Format, FormatArguments Arguments);

// Runs a format parsed while compiling (print/FormatProgram.h) into Buffer, with the bounds and
// the result of FormatCore. Only FMT_OUT_WIDE of Flags counts: the format is already parsed.
UINTN FormatProgram(VOID *Buffer, UINTN Size, UINTN Flags, const UINT8 *Program, FormatArguments Arguments);

// Prints a format parsed while compiling to the system table's ConOut.
UINTN ConsolePrintProgram(const UINT8 *Program, FormatArguments Arguments);

// The argument slots a format takes: one for each '*' and each conversion that has an argument.
template <typename Unit, UINTN Length>
consteval UINTN FormatSlotCount(const Unit (&Literal)[Length]) {
  return ShapeOfFormat(Literal).Slots;
}

template <FormatShape Shape, typename... Types>
constexpr void CheckArgumentCount() {
  static_assert(Shape.Slots == sizeof...(Types),
                "the format's directives take another number of arguments than the call passes");
}

// Formats a compiled format into Buffer, as FormatCore would format the literal itself.
template <FormatShape Shape, typename... Types>
UINTN FormatCompiled(VOID *Buffer, UINTN Size, UINTN Flags, const CompiledFormat<Shape> &Format,
                     Types... Arguments) {
  CheckArgumentCount<Shape, Types...>();
  const UINT64 Slots[SlotRoom(sizeof...(Types))] = {FormatSlot(Arguments)...};
  if constexpr (Shape.Compiles) {
    return FormatProgram(Buffer, Size, Flags, Format.Program, FormatArguments{Slots, sizeof...(Types)});
  } else {
    return FormatCore(Buffer, Size, Flags | (Shape.WideFormat ? FMT_IN_WIDE : 0), Format.Runtime,
                      FormatArguments{Slots, sizeof...(Types)});
  }
}

template <FormatShape Shape, typename... Types>
UINTN ConsolePrintCompiled(const CompiledFormat<Shape> &Format, Types... Arguments) {
  static_assert(Shape.WideFormat, "console formats are UCS-2");
  CheckArgumentCount<Shape, Types...>();
  const UINT64 Slots[SlotRoom(sizeof...(Types))] = {FormatSlot(Arguments)...};
  if constexpr (Shape.Compiles) {
    return ConsolePrintProgram(Format.Program, FormatArguments{Slots, sizeof...(Types)});
  } else {
    return ConsolePrintSlots((const CHAR16 *)Format.Runtime, FormatArguments{Slots, sizeof...(Types)});
  }
}

// ConsolePrint(u"literal format", arguments...): prints to the system table's ConOut, read at
// each call, and returns the characters shown, or 0 when nothing could be shown. The format is
// parsed while compiling, and a call whose arguments do not match its directives does not build.
#define ConsolePrint(Format, ...) ConsolePrintCompiled(COMPILED_FORMAT(Format) __VA_OPT__(, ) __VA_ARGS__)
