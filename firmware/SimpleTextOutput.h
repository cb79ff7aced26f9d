// EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL: the console. Only OutputString is called; the other slots are
// plain pointers that keep the offsets right.
#pragma once

#include "firmware/Uefi.h"

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_TEXT_STRING)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, const CHAR16 *String);

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL {
  void *Reset;
  EFI_TEXT_STRING OutputString;
  void *TestString;
  void *QueryMode;
  void *SetMode;
  void *SetAttribute;
  void *ClearScreen;
  void *SetCursorPosition;
  void *EnableCursor;
  void *Mode;
};
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, OutputString) == EfiLayout(8, 4));
static_assert(sizeof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL) == EfiLayout(80, 40));
