// EFI_SIMPLE_TEXT_INPUT_PROTOCOL: the keyboard. A key is waited for on WaitForKey and taken with
// ReadKeyStroke; Reset is a plain pointer that keeps the offsets right.
#pragma once

#include "firmware/Uefi.h"

struct EFI_INPUT_KEY {
  UINT16 ScanCode;
  CHAR16 UnicodeChar;
};

struct EFI_SIMPLE_TEXT_INPUT_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_INPUT_READ_KEY)(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *This, EFI_INPUT_KEY *Key);

struct EFI_SIMPLE_TEXT_INPUT_PROTOCOL {
  void *Reset;
  EFI_INPUT_READ_KEY ReadKeyStroke;
  EFI_EVENT WaitForKey;
};
static_assert(offsetof(EFI_SIMPLE_TEXT_INPUT_PROTOCOL, WaitForKey) == EfiLayout(16, 8));
