// EFI_SYSTEM_TABLE and EFI_BOOT_SERVICES in their complete member order. Services this program
// never calls are plain pointers: only their size matters, for the offsets of those it does call.
#pragma once

#include "firmware/SimpleTextInput.h"
#include "firmware/SimpleTextOutput.h"
#include "firmware/Uefi.h"

struct EFI_TABLE_HEADER {
  UINT64 Signature;
  UINT32 Revision;
  UINT32 HeaderSize;
  UINT32 CRC32;
  UINT32 Reserved;
};
static_assert(sizeof(EFI_TABLE_HEADER) == 24);

enum EFI_MEMORY_TYPE : UINT32 {
  EfiReservedMemoryType,
  EfiLoaderCode,
  EfiLoaderData,
  EfiBootServicesCode,
  EfiBootServicesData,
  EfiRuntimeServicesCode,
  EfiRuntimeServicesData,
  EfiConventionalMemory,
  EfiUnusableMemory,
  EfiACPIReclaimMemory,
  EfiACPIMemoryNVS,
  EfiMemoryMappedIO,
  EfiMemoryMappedIOPortSpace,
  EfiPalCode,
  EfiPersistentMemory,
  EfiUnacceptedMemoryType,
};
static_assert(EfiBootServicesData == 4);
static_assert(EfiMemoryMappedIOPortSpace == 12);
static_assert(EfiUnacceptedMemoryType == 15);

// One entry of the memory map. The firmware gives the size of its entries, which may be larger
// than this record; entries are stepped through by that size.
struct EFI_MEMORY_DESCRIPTOR {
  UINT32 Type;
  EFI_PHYSICAL_ADDRESS PhysicalStart;
  UINT64 VirtualStart;
  UINT64 NumberOfPages;
  UINT64 Attribute;
};
static_assert(offsetof(EFI_MEMORY_DESCRIPTOR, PhysicalStart) == 8);
static_assert(offsetof(EFI_MEMORY_DESCRIPTOR, NumberOfPages) == 24);
static_assert(sizeof(EFI_MEMORY_DESCRIPTOR) == 40);

constexpr UINT64 EFI_PAGE_SIZE = 4096;

enum EFI_ALLOCATE_TYPE : UINT32 { AllocateAnyPages, AllocateMaxAddress, AllocateAddress };

enum EFI_LOCATE_SEARCH_TYPE : UINT32 { AllHandles, ByRegisterNotify, ByProtocol };

constexpr UINT32 EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL = 0x01;
constexpr UINT32 EFI_OPEN_PROTOCOL_GET_PROTOCOL = 0x02;

typedef EFI_STATUS(EFIAPI *EFI_ALLOCATE_PAGES)(EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                                               EFI_PHYSICAL_ADDRESS *Memory);
typedef EFI_STATUS(EFIAPI *EFI_GET_MEMORY_MAP)(UINTN *MemoryMapSize, EFI_MEMORY_DESCRIPTOR *MemoryMap, UINTN *MapKey,
                                               UINTN *DescriptorSize, UINT32 *DescriptorVersion);
typedef EFI_STATUS(EFIAPI *EFI_INSTALL_CONFIGURATION_TABLE)(const EFI_GUID *Guid, VOID *Table);
typedef EFI_STATUS(EFIAPI *EFI_ALLOCATE_POOL)(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FREE_POOL)(VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_OPEN_PROTOCOL)(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface,
                                              EFI_HANDLE AgentHandle, EFI_HANDLE ControllerHandle,
                                              UINT32 Attributes);
typedef EFI_STATUS(EFIAPI *EFI_LOCATE_PROTOCOL)(const EFI_GUID *Protocol, VOID *Registration, VOID **Interface);
typedef EFI_STATUS(EFIAPI *EFI_WAIT_FOR_EVENT)(UINTN NumberOfEvents, EFI_EVENT *Event, UINTN *Index);
typedef EFI_STATUS(EFIAPI *EFI_SET_WATCHDOG_TIMER)(UINTN Timeout, UINT64 WatchdogCode, UINTN DataSize,
                                                   CHAR16 *WatchdogData);

struct EFI_BOOT_SERVICES {
  EFI_TABLE_HEADER Hdr;

  void *RaiseTPL;
  void *RestoreTPL;

  EFI_ALLOCATE_PAGES AllocatePages;
  void *FreePages;
  EFI_GET_MEMORY_MAP GetMemoryMap;
  EFI_ALLOCATE_POOL AllocatePool;
  EFI_FREE_POOL FreePool;

  void *CreateEvent;
  void *SetTimer;
  EFI_WAIT_FOR_EVENT WaitForEvent;
  void *SignalEvent;
  void *CloseEvent;
  void *CheckEvent;

  void *InstallProtocolInterface;
  void *ReinstallProtocolInterface;
  void *UninstallProtocolInterface;
  void *HandleProtocol;
  void *Reserved;
  void *RegisterProtocolNotify;
  void *LocateHandle;
  void *LocateDevicePath;
  EFI_INSTALL_CONFIGURATION_TABLE InstallConfigurationTable;

  void *LoadImage;
  void *StartImage;
  void *Exit;
  void *UnloadImage;
  void *ExitBootServices;

  void *GetNextMonotonicCount;
  void *Stall;
  EFI_SET_WATCHDOG_TIMER SetWatchdogTimer;

  void *ConnectController;
  void *DisconnectController;

  EFI_OPEN_PROTOCOL OpenProtocol;
  void *CloseProtocol;
  void *OpenProtocolInformation;

  void *ProtocolsPerHandle;
  void *LocateHandleBuffer;
  EFI_LOCATE_PROTOCOL LocateProtocol;
  void *InstallMultipleProtocolInterfaces;
  void *UninstallMultipleProtocolInterfaces;

  void *CalculateCrc32;

  void *CopyMem;
  void *SetMem;
  void *CreateEventEx;
};
static_assert(offsetof(EFI_BOOT_SERVICES, AllocatePages) == EfiLayout(40, 32));
static_assert(offsetof(EFI_BOOT_SERVICES, GetMemoryMap) == EfiLayout(56, 40));
static_assert(offsetof(EFI_BOOT_SERVICES, AllocatePool) == EfiLayout(64, 44));
static_assert(offsetof(EFI_BOOT_SERVICES, FreePool) == EfiLayout(72, 48));
static_assert(offsetof(EFI_BOOT_SERVICES, WaitForEvent) == EfiLayout(96, 60));
static_assert(offsetof(EFI_BOOT_SERVICES, InstallConfigurationTable) == EfiLayout(192, 108));
static_assert(offsetof(EFI_BOOT_SERVICES, SetWatchdogTimer) == EfiLayout(256, 140));
static_assert(offsetof(EFI_BOOT_SERVICES, OpenProtocol) == EfiLayout(280, 152));
static_assert(offsetof(EFI_BOOT_SERVICES, LocateProtocol) == EfiLayout(320, 172));
static_assert(sizeof(EFI_BOOT_SERVICES) == EfiLayout(376, 200));

enum EFI_RESET_TYPE : UINT32 { EfiResetCold, EfiResetWarm, EfiResetShutdown, EfiResetPlatformSpecific };

constexpr UINT32 EFI_VARIABLE_NON_VOLATILE = 0x01;
constexpr UINT32 EFI_VARIABLE_BOOTSERVICE_ACCESS = 0x02;
constexpr UINT32 EFI_VARIABLE_RUNTIME_ACCESS = 0x04;

typedef EFI_STATUS(EFIAPI *EFI_GET_VARIABLE)(const CHAR16 *VariableName, const EFI_GUID *VendorGuid,
                                             UINT32 *Attributes, UINTN *DataSize, VOID *Data);
typedef EFI_STATUS(EFIAPI *EFI_GET_TIME)(EFI_TIME *Time, VOID *Capabilities);
typedef EFI_STATUS(EFIAPI *EFI_SET_VARIABLE)(const CHAR16 *VariableName, const EFI_GUID *VendorGuid,
                                             UINT32 Attributes, UINTN DataSize, const VOID *Data);
typedef VOID(EFIAPI *EFI_RESET_SYSTEM)(EFI_RESET_TYPE ResetType, EFI_STATUS ResetStatus, UINTN DataSize,
                                       VOID *ResetData);

// EFI_RUNTIME_SERVICES in its complete member order; only GetTime, GetVariable, SetVariable (by a
// test-only program) and ResetSystem are called.
struct EFI_RUNTIME_SERVICES {
  EFI_TABLE_HEADER Hdr;
  EFI_GET_TIME GetTime;
  void *SetTime;
  void *GetWakeupTime;
  void *SetWakeupTime;
  void *SetVirtualAddressMap;
  void *ConvertPointer;
  EFI_GET_VARIABLE GetVariable;
  void *GetNextVariableName;
  EFI_SET_VARIABLE SetVariable;
  void *GetNextHighMonotonicCount;
  EFI_RESET_SYSTEM ResetSystem;
  void *UpdateCapsule;
  void *QueryCapsuleCapabilities;
  void *QueryVariableInfo;
};
static_assert(offsetof(EFI_RUNTIME_SERVICES, GetTime) == 24);
static_assert(offsetof(EFI_RUNTIME_SERVICES, GetVariable) == EfiLayout(72, 48));
static_assert(offsetof(EFI_RUNTIME_SERVICES, SetVariable) == EfiLayout(88, 56));
static_assert(offsetof(EFI_RUNTIME_SERVICES, ResetSystem) == EfiLayout(104, 64));
static_assert(sizeof(EFI_RUNTIME_SERVICES) == EfiLayout(136, 80));

struct EFI_CONFIGURATION_TABLE {
  EFI_GUID VendorGuid;
  VOID *VendorTable;
};
static_assert(offsetof(EFI_CONFIGURATION_TABLE, VendorTable) == 16);
static_assert(sizeof(EFI_CONFIGURATION_TABLE) == EfiLayout(24, 20));

struct EFI_SYSTEM_TABLE {
  EFI_TABLE_HEADER Hdr;
  CHAR16 *FirmwareVendor;
  UINT32 FirmwareRevision;
  EFI_HANDLE ConsoleInHandle;
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL *ConIn;
  EFI_HANDLE ConsoleOutHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ConOut;
  EFI_HANDLE StandardErrorHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *StdErr;
  EFI_RUNTIME_SERVICES *RuntimeServices;
  EFI_BOOT_SERVICES *BootServices;
  UINTN NumberOfTableEntries;
  EFI_CONFIGURATION_TABLE *ConfigurationTable;
};
static_assert(offsetof(EFI_SYSTEM_TABLE, ConOut) == EfiLayout(64, 44));
static_assert(offsetof(EFI_SYSTEM_TABLE, BootServices) == EfiLayout(96, 60));
static_assert(offsetof(EFI_SYSTEM_TABLE, NumberOfTableEntries) == EfiLayout(104, 64));
static_assert(offsetof(EFI_SYSTEM_TABLE, ConfigurationTable) == EfiLayout(112, 68));
static_assert(sizeof(EFI_SYSTEM_TABLE) == EfiLayout(120, 72));

// Set once by AppEntry before anything else runs, read afterwards.
extern EFI_SYSTEM_TABLE *gSystemTable;
extern EFI_BOOT_SERVICES *gBootServices;
