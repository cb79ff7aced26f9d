// EFI_SIMPLE_FILE_SYSTEM_PROTOCOL and EFI_FILE_PROTOCOL (revision 1 members), and EFI_FILE_INFO.
#pragma once

#include "firmware/Uefi.h"

constexpr UINT64 EFI_FILE_MODE_READ = 0x0000000000000001ull;
constexpr UINT64 EFI_FILE_MODE_WRITE = 0x0000000000000002ull;
constexpr UINT64 EFI_FILE_MODE_CREATE = 0x8000000000000000ull;

constexpr UINT64 EFI_FILE_READ_ONLY = 0x01;
constexpr UINT64 EFI_FILE_DIRECTORY = 0x10;

struct EFI_FILE_PROTOCOL;
struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_FILE_OPEN)(EFI_FILE_PROTOCOL *This, EFI_FILE_PROTOCOL **NewHandle,
                                          const CHAR16 *FileName, UINT64 OpenMode, UINT64 Attributes);
typedef EFI_STATUS(EFIAPI *EFI_FILE_CLOSE)(EFI_FILE_PROTOCOL *This);
typedef EFI_STATUS(EFIAPI *EFI_FILE_DELETE)(EFI_FILE_PROTOCOL *This);
typedef EFI_STATUS(EFIAPI *EFI_FILE_READ)(EFI_FILE_PROTOCOL *This, UINTN *BufferSize, VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FILE_WRITE)(EFI_FILE_PROTOCOL *This, UINTN *BufferSize, const VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FILE_GET_POSITION)(EFI_FILE_PROTOCOL *This, UINT64 *Position);
typedef EFI_STATUS(EFIAPI *EFI_FILE_SET_POSITION)(EFI_FILE_PROTOCOL *This, UINT64 Position);
typedef EFI_STATUS(EFIAPI *EFI_FILE_GET_INFO)(EFI_FILE_PROTOCOL *This, const EFI_GUID *InformationType,
                                              UINTN *BufferSize, VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FILE_SET_INFO)(EFI_FILE_PROTOCOL *This, const EFI_GUID *InformationType,
                                              UINTN BufferSize, VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FILE_FLUSH)(EFI_FILE_PROTOCOL *This);

struct EFI_FILE_PROTOCOL {
  UINT64 Revision;
  EFI_FILE_OPEN Open;
  EFI_FILE_CLOSE Close;
  EFI_FILE_DELETE Delete;
  EFI_FILE_READ Read;
  EFI_FILE_WRITE Write;
  EFI_FILE_GET_POSITION GetPosition;
  EFI_FILE_SET_POSITION SetPosition;
  EFI_FILE_GET_INFO GetInfo;
  EFI_FILE_SET_INFO SetInfo;
  EFI_FILE_FLUSH Flush;
};
static_assert(offsetof(EFI_FILE_PROTOCOL, Open) == 8);
static_assert(offsetof(EFI_FILE_PROTOCOL, Delete) == EfiLayout(24, 16));
static_assert(offsetof(EFI_FILE_PROTOCOL, Write) == EfiLayout(40, 24));
static_assert(offsetof(EFI_FILE_PROTOCOL, GetInfo) == EfiLayout(64, 36));
static_assert(offsetof(EFI_FILE_PROTOCOL, SetInfo) == EfiLayout(72, 40));
static_assert(offsetof(EFI_FILE_PROTOCOL, Flush) == EfiLayout(80, 44));
static_assert(sizeof(EFI_FILE_PROTOCOL) == EfiLayout(88, 48));

typedef EFI_STATUS(EFIAPI *EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_OPEN_VOLUME)(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *This,
                                                                        EFI_FILE_PROTOCOL **Root);

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL {
  UINT64 Revision;
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_OPEN_VOLUME OpenVolume;
};
static_assert(offsetof(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL, OpenVolume) == 8);
static_assert(sizeof(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL) == 16);

// The file name follows the fixed part; Size counts both.
struct EFI_FILE_INFO {
  UINT64 Size;
  UINT64 FileSize;
  UINT64 PhysicalSize;
  EFI_TIME CreateTime;
  EFI_TIME LastAccessTime;
  EFI_TIME ModificationTime;
  UINT64 Attribute;
  CHAR16 FileName[1];
};
static_assert(offsetof(EFI_FILE_INFO, FileSize) == 8);
static_assert(offsetof(EFI_FILE_INFO, Attribute) == 72);
static_assert(offsetof(EFI_FILE_INFO, FileName) == 80);
