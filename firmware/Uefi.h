// Basic UEFI data types, the status word and the calling convention, as the firmware lays them out
// on x64, IA32 and AArch64.
#pragma once

#include <stddef.h>
#include <stdint.h>

// x64 firmware uses the Microsoft x64 convention: the image target's default, and on the host the
// attribute makes simulated firmware and real callers agree. IA32 and AArch64 firmware use the
// platform's own C convention, which is the default there.
#if defined(__x86_64__)
#define EFIAPI __attribute__((ms_abi))
#else
#define EFIAPI
#endif

// Pointer-sized: 64 bits on x64 and AArch64, 32 on IA32.
typedef uint8_t BOOLEAN;
typedef intptr_t INTN;
typedef uintptr_t UINTN;
typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef uint64_t UINT64;
typedef int64_t INT64;
typedef int32_t INT32;
typedef char CHAR8;
typedef char16_t CHAR16;  // UCS-2, so u"..." literals are firmware strings
typedef void VOID;
typedef void *EFI_HANDLE;
typedef void *EFI_EVENT;
typedef UINT64 EFI_PHYSICAL_ADDRESS;

// Layouts are pinned below each record for both widths of firmware: the first offset or size for
// 64-bit firmware (x64, AArch64), the second for 32-bit firmware (IA32).
constexpr size_t EfiLayout(size_t For64Bit, size_t For32Bit) { return sizeof(UINTN) == 8 ? For64Bit : For32Bit; }

// An open value of UINTN's width: firmware may return codes this program has no name for. The top
// bit marks an error.
typedef UINTN EFI_STATUS;

constexpr EFI_STATUS EFI_ERROR_BIT = (EFI_STATUS)1 << (sizeof(EFI_STATUS) * 8 - 1);

constexpr bool EFI_ERROR(EFI_STATUS Status) { return (Status & EFI_ERROR_BIT) != 0; }
constexpr EFI_STATUS EfiErrorCode(UINTN Code) { return EFI_ERROR_BIT | Code; }

constexpr EFI_STATUS EFI_SUCCESS = 0;
constexpr EFI_STATUS EFI_WARN_DELETE_FAILURE = 2;
constexpr EFI_STATUS EFI_LOAD_ERROR = EfiErrorCode(1);
constexpr EFI_STATUS EFI_INVALID_PARAMETER = EfiErrorCode(2);
constexpr EFI_STATUS EFI_UNSUPPORTED = EfiErrorCode(3);
constexpr EFI_STATUS EFI_BAD_BUFFER_SIZE = EfiErrorCode(4);
constexpr EFI_STATUS EFI_BUFFER_TOO_SMALL = EfiErrorCode(5);
constexpr EFI_STATUS EFI_NOT_READY = EfiErrorCode(6);
constexpr EFI_STATUS EFI_DEVICE_ERROR = EfiErrorCode(7);
constexpr EFI_STATUS EFI_WRITE_PROTECTED = EfiErrorCode(8);
constexpr EFI_STATUS EFI_OUT_OF_RESOURCES = EfiErrorCode(9);
constexpr EFI_STATUS EFI_VOLUME_CORRUPTED = EfiErrorCode(10);
constexpr EFI_STATUS EFI_VOLUME_FULL = EfiErrorCode(11);
constexpr EFI_STATUS EFI_NO_MEDIA = EfiErrorCode(12);
constexpr EFI_STATUS EFI_MEDIA_CHANGED = EfiErrorCode(13);
constexpr EFI_STATUS EFI_NOT_FOUND = EfiErrorCode(14);
constexpr EFI_STATUS EFI_ACCESS_DENIED = EfiErrorCode(15);
constexpr EFI_STATUS EFI_ALREADY_STARTED = EfiErrorCode(20);
constexpr EFI_STATUS EFI_ABORTED = EfiErrorCode(21);
constexpr EFI_STATUS EFI_INCOMPATIBLE_VERSION = EfiErrorCode(25);
constexpr EFI_STATUS EFI_SECURITY_VIOLATION = EfiErrorCode(26);
constexpr EFI_STATUS EFI_COMPROMISED_DATA = EfiErrorCode(33);

struct EFI_GUID {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
};
static_assert(sizeof(EFI_GUID) == 16);

struct EFI_TIME {
  UINT16 Year;
  UINT8 Month;
  UINT8 Day;
  UINT8 Hour;
  UINT8 Minute;
  UINT8 Second;
  UINT8 Pad1;
  UINT32 Nanosecond;
  int16_t TimeZone;
  UINT8 Daylight;
  UINT8 Pad2;
};
static_assert(sizeof(EFI_TIME) == 16);
static_assert(offsetof(EFI_TIME, Minute) == 5);
