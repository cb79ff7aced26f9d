#include "sim/SimFirmware.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

SimFirmware *gCurrent = nullptr;

EFI_STATUS EFIAPI SimOpenProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface,
                                  EFI_HANDLE AgentHandle, EFI_HANDLE ControllerHandle, UINT32 Attributes) {
  SimFirmware &Firmware = SimFirmware::Current();
  EFI_STATUS Status;
  if (Firmware.ShouldFail(SimCall::OpenProtocol, &Status)) return Status;
  if (Protocol == nullptr || Handle == nullptr) return EFI_INVALID_PARAMETER;
  // GET_PROTOCOL needs an interface pointer; an agent other than the handle itself, or a
  // controller, would be a misuse for an application looking at its own image.
  if (Attributes != EFI_OPEN_PROTOCOL_GET_PROTOCOL || Interface == nullptr) return EFI_INVALID_PARAMETER;
  if (AgentHandle != Handle || ControllerHandle != nullptr) return EFI_INVALID_PARAMETER;
  if (Handle != Firmware.ImageHandle()) return EFI_UNSUPPORTED;
  for (const EFI_GUID &Installed : Firmware.ImageProtocols_) {
    if (SameGuid(Installed, *Protocol)) {
      *Interface = (VOID *)&Installed;
      return EFI_SUCCESS;
    }
  }
  *Interface = nullptr;
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SimLocateProtocol(const EFI_GUID *Protocol, VOID *Registration, VOID **Interface) {
  SimFirmware &Firmware = SimFirmware::Current();
  EFI_STATUS Status;
  if (Firmware.ShouldFail(SimCall::LocateProtocol, &Status)) return Status;
  if (Protocol == nullptr || Interface == nullptr || Registration != nullptr) return EFI_INVALID_PARAMETER;
  for (const auto &[Guid, Registered] : Firmware.Protocols_) {
    if (SameGuid(Guid, *Protocol)) {
      *Interface = Registered;
      return EFI_SUCCESS;
    }
  }
  *Interface = nullptr;
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI SimAllocatePool(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer) {
  SimFirmware &Firmware = SimFirmware::Current();
  Firmware.PoolRequests_.push_back(Size);
  EFI_STATUS Status;
  if (Firmware.ShouldFail(SimCall::AllocatePool, &Status)) return Status;
  if (Buffer == nullptr || PoolType != EfiBootServicesData) return EFI_INVALID_PARAMETER;
  // Fill with a pattern so that reading memory nobody wrote shows up in the text.
  VOID *Memory = std::malloc(Size == 0 ? 1 : Size);
  if (Memory == nullptr) return EFI_OUT_OF_RESOURCES;
  std::memset(Memory, 0xA5, Size);
  Firmware.Pool_.insert(Memory);
  *Buffer = Memory;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimFreePool(VOID *Buffer) {
  SimFirmware &Firmware = SimFirmware::Current();
  EFI_STATUS Status;
  if (Firmware.ShouldFail(SimCall::FreePool, &Status)) return Status;
  if (Firmware.Pool_.erase(Buffer) == 0) {
    Firmware.BadFrees_++;
    return EFI_INVALID_PARAMETER;
  }
  std::free(Buffer);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimGetMemoryMap(UINTN *MemoryMapSize, EFI_MEMORY_DESCRIPTOR *MemoryMap, UINTN *MapKey,
                                  UINTN *DescriptorSize, UINT32 *DescriptorVersion) {
  SimFirmware &Firmware = SimFirmware::Current();
  EFI_STATUS Status;
  if (Firmware.ShouldFail(SimCall::GetMemoryMap, &Status)) return Status;
  if (MemoryMapSize == nullptr || MapKey == nullptr || DescriptorSize == nullptr || DescriptorVersion == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  UINTN Needed = Firmware.MemoryMap_.size() * SimFirmware::kDescriptorSize;
  *DescriptorSize = SimFirmware::kDescriptorSize;
  *DescriptorVersion = 1;
  if (*MemoryMapSize < Needed) {
    *MemoryMapSize = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (MemoryMap == nullptr) return EFI_INVALID_PARAMETER;
  UINT8 *Entry = (UINT8 *)MemoryMap;
  std::memset(Entry, 0, Needed);
  for (const EFI_MEMORY_DESCRIPTOR &Descriptor : Firmware.MemoryMap_) {
    std::memcpy(Entry, &Descriptor, sizeof Descriptor);
    Entry += SimFirmware::kDescriptorSize;
  }
  *MemoryMapSize = Needed;
  *MapKey = Firmware.MemoryMap_.size();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, const CHAR16 *String) {
  SimFirmware &Firmware = SimFirmware::Current();
  EFI_STATUS Status;
  if (Firmware.ShouldFail(SimCall::OutputString, &Status)) return Status;
  if (This == nullptr || String == nullptr) return EFI_INVALID_PARAMETER;
  Firmware.ConsoleWrites_.emplace_back(String);
  return EFI_SUCCESS;
}

}  // namespace

bool SameGuid(const EFI_GUID &First, const EFI_GUID &Second) {
  return std::memcmp(&First, &Second, sizeof(EFI_GUID)) == 0;
}

SimFirmware::SimFirmware() {
  gCurrent = this;
  BootServices_.Hdr.Signature = 0x56524553544f4f42ull;  // "BOOTSERV"
  BootServices_.Hdr.HeaderSize = sizeof BootServices_;
  BootServices_.GetMemoryMap = SimGetMemoryMap;
  BootServices_.AllocatePool = SimAllocatePool;
  BootServices_.FreePool = SimFreePool;
  BootServices_.OpenProtocol = SimOpenProtocol;
  BootServices_.LocateProtocol = SimLocateProtocol;
  Console_.OutputString = SimOutputString;
  SystemTable_.Hdr.Signature = 0x5453595320494249ull;  // "IBI SYST"
  SystemTable_.Hdr.HeaderSize = sizeof SystemTable_;
  SystemTable_.ConOut = &Console_;
  SystemTable_.BootServices = &BootServices_;
  std::memset(BiosArea(), 0, kBiosAreaBytes);
}

SimFirmware::~SimFirmware() {
  for (VOID *Buffer : Pool_) std::free(Buffer);
  if (gSystemTable == &SystemTable_) {
    gSystemTable = nullptr;
    gBootServices = nullptr;
  }
  if (gCurrent == this) gCurrent = nullptr;
}

SimFirmware &SimFirmware::Current() {
  if (gCurrent == nullptr) std::abort();
  return *gCurrent;
}

void SimFirmware::Activate() {
  gSystemTable = &SystemTable_;
  gBootServices = &BootServices_;
}

void SimFirmware::InstallOnImage(const EFI_GUID &Protocol) { ImageProtocols_.push_back(Protocol); }

void SimFirmware::RegisterProtocol(const EFI_GUID &Protocol, VOID *Interface) {
  Protocols_.emplace_back(Protocol, Interface);
}

void SimFirmware::AddConfigurationEntry(const EFI_GUID &Guid, VOID *Table) {
  Configuration_.push_back(EFI_CONFIGURATION_TABLE{Guid, Table});
  SystemTable_.ConfigurationTable = Configuration_.data();
  SystemTable_.NumberOfTableEntries = Configuration_.size();
}

void SimFirmware::DescribeMemory(UINT64 Start, UINT64 Pages, UINT32 Type) {
  EFI_MEMORY_DESCRIPTOR Descriptor = {};
  Descriptor.Type = Type;
  Descriptor.PhysicalStart = Start;
  Descriptor.VirtualStart = Start;
  Descriptor.NumberOfPages = Pages;
  Descriptor.Attribute = 0xF;  // uncached, write-combining, write-through and write-back, as RAM is
  MemoryMap_.push_back(Descriptor);
}

UINT8 *SimFirmware::BiosArea() {
  static UINT8 *Area = [] {
    void *Mapped = mmap((void *)kBiosAreaStart, kBiosAreaBytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (Mapped != (void *)kBiosAreaStart) {
      std::fprintf(stderr, "sim: cannot map the BIOS area at 0xE0000 in this process\n");
      std::abort();
    }
    return (UINT8 *)Mapped;
  }();
  return Area;
}

std::u16string SimFirmware::ConsoleText() const {
  std::u16string Text;
  for (const std::u16string &Write : ConsoleWrites_) Text += Write;
  return Text;
}

void SimFirmware::FailCall(SimCall Call, EFI_STATUS Status, int Skip, int Times) {
  Failures_[(int)Call] = Failure{Status, Skip, Times};
}

bool SimFirmware::ShouldFail(SimCall Call, EFI_STATUS *Status) {
  int Number = Calls_[(int)Call]++;
  auto Found = Failures_.find((int)Call);
  if (Found == Failures_.end()) return false;
  const Failure &F = Found->second;
  if (Number < F.Skip) return false;
  if (F.Times >= 0 && Number >= F.Skip + F.Times) return false;
  *Status = F.Status;
  return true;
}
