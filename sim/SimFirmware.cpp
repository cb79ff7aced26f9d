#include "sim/SimFirmware.h"

#include "firmware/Guids.h"

#include <sys/mman.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#endif
#elif defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(Start, Bytes) ((void)(Start), (void)(Bytes))
#define ASAN_UNPOISON_MEMORY_REGION(Start, Bytes) ((void)(Start), (void)(Bytes))
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

SimFirmware *gCurrent = nullptr;
bool gBiosAreaWritten = true;

// The room the last firmware's console and pool records had grown to, handed on to the next, so
// that a run of thousands of lines does not grow them from nothing again.
std::u16string gSpareConsoleText;
std::u16string gSpareOfferedText;
std::vector<size_t> gSpareConsoleWriteEnds;
std::vector<UINTN> gSparePoolRequests;

template <typename Container>
void TakeRoom(Container &Into, Container &Spare) {
  Into.swap(Spare);
  Into.clear();
}

UINT8 *MapBiosArea() {
  static UINT8 *Area = [] {
    void *Mapped = mmap((void *)SimFirmware::kBiosAreaStart, SimFirmware::kBiosAreaBytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (Mapped != (void *)SimFirmware::kBiosAreaStart) {
      std::fprintf(stderr, "sim: cannot map the BIOS area at 0xE0000 in this process\n");
      std::abort();
    }
    return (UINT8 *)Mapped;
  }();
  return Area;
}

EFI_STATUS EFIAPI SimOpenProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface,
                                  EFI_HANDLE AgentHandle, EFI_HANDLE ControllerHandle, UINT32 Attributes) {
  SimFirmware &Firmware = SimFirmware::Current();
  EFI_STATUS Status;
  if (Firmware.ShouldFail(SimCall::OpenProtocol, &Status)) return Status;
  if (Protocol == nullptr || Handle == nullptr) return EFI_INVALID_PARAMETER;
  // GET_PROTOCOL needs an interface pointer; an agent other than the handle itself, or a
  // controller, would be a misuse for an application looking at its own image.
  if (Attributes != EFI_OPEN_PROTOCOL_GET_PROTOCOL || Interface == nullptr) return EFI_INVALID_PARAMETER;
  if (AgentHandle != Firmware.ImageHandle() || ControllerHandle != nullptr) return EFI_INVALID_PARAMETER;
  const auto *Installed = Handle == Firmware.ImageHandle()    ? &Firmware.ImageProtocols_
                          : Handle == Firmware.DeviceHandle() ? &Firmware.DeviceProtocols_
                                                              : nullptr;
  if (Installed == nullptr) return EFI_INVALID_PARAMETER;
  for (const auto &[Guid, Given] : *Installed) {
    if (SameGuid(Guid, *Protocol)) {
      *Interface = Given != nullptr ? Given : (VOID *)&Guid;
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

// Freed pool buffers kept for the next request of the same size, so that a report of thousands of
// lines does not cost an allocation each. Large buffers are kept by the power of two they round up
// to, so that pictures of many sizes reuse them too rather than each mapping fresh pages; the room
// past the size asked for stays poisoned, as is a kept buffer, so the address sanitizer still
// catches a write past the end or a use after FreePool.
struct KeptBuffer {
  UINTN Capacity;
  VOID *Memory;
};
constexpr size_t kMostKept = 32;
constexpr UINTN kExactBelow = 64 * 1024;
KeptBuffer gKept[kMostKept];
size_t gKeptCount = 0;

UINTN CapacityFor(UINTN Size) {
  if (Size < kExactBelow) return Size == 0 ? 1 : Size;
  UINTN Capacity = kExactBelow;
  while (Capacity < Size) Capacity *= 2;
  return Capacity;
}

VOID *TakeBuffer(UINTN Size) {
  UINTN Capacity = CapacityFor(Size);
  VOID *Memory = nullptr;
  for (size_t Index = gKeptCount; Index-- > 0 && Memory == nullptr;) {
    if (gKept[Index].Capacity != Capacity) continue;
    Memory = gKept[Index].Memory;
    gKept[Index] = gKept[--gKeptCount];
  }
  if (Memory == nullptr) Memory = std::malloc(Capacity);
  if (Memory == nullptr) return nullptr;
  ASAN_UNPOISON_MEMORY_REGION(Memory, Size);
  ASAN_POISON_MEMORY_REGION((UINT8 *)Memory + Size, Capacity - Size);
  return Memory;
}

void KeepBuffer(VOID *Memory, UINTN Size) {
  if (gKeptCount == kMostKept) {
    ASAN_UNPOISON_MEMORY_REGION(Memory, CapacityFor(Size));
    std::free(Memory);
    return;
  }
  ASAN_POISON_MEMORY_REGION(Memory, CapacityFor(Size));
  gKept[gKeptCount++] = KeptBuffer{CapacityFor(Size), Memory};
}

EFI_STATUS EFIAPI SimAllocatePool(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer) {
  SimFirmware &Firmware = SimFirmware::Current();
  Firmware.PoolRequests_.push_back(Size);
  EFI_STATUS Status;
  if (Firmware.ShouldFail(SimCall::AllocatePool, &Status)) return Status;
  if (Buffer == nullptr || PoolType != EfiBootServicesData) return EFI_INVALID_PARAMETER;
  // Fill with a pattern so that reading memory nobody wrote shows up in the text.
  VOID *Memory = TakeBuffer(Size);
  if (Memory == nullptr) return EFI_OUT_OF_RESOURCES;
  std::memset(Memory, 0xA5, Size);
  Firmware.Pool_.push_back(SimFirmware::PoolBuffer{Memory, Size});
  Firmware.PoolBytes_ += Size;
  if (Firmware.PoolBytes_ > Firmware.PeakPoolBytes_) Firmware.PeakPoolBytes_ = Firmware.PoolBytes_;
  *Buffer = Memory;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimFreePool(VOID *Buffer) {
  SimFirmware &Firmware = SimFirmware::Current();
  EFI_STATUS Status;
  if (Firmware.ShouldFail(SimCall::FreePool, &Status)) return Status;
  auto Found = std::find_if(Firmware.Pool_.rbegin(), Firmware.Pool_.rend(),
                            [Buffer](const SimFirmware::PoolBuffer &Given) { return Given.Memory == Buffer; });
  if (Found == Firmware.Pool_.rend()) {
    Firmware.BadFrees_++;
    return EFI_INVALID_PARAMETER;
  }
  UINTN Size = Found->Size;
  Firmware.PoolBytes_ -= Size;
  Firmware.Pool_.erase(std::next(Found).base());
  KeepBuffer(Buffer, Size);
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

EFI_STATUS EFIAPI SimGetVariable(const CHAR16 *Name, const EFI_GUID *Vendor, UINT32 *Attributes, UINTN *DataSize,
                                 VOID *Data) {
  SimFirmware &Firmware = SimFirmware::Current();
  EFI_STATUS Status;
  if (Firmware.ShouldFail(SimCall::GetVariable, &Status)) return Status;
  if (Name == nullptr || Vendor == nullptr || DataSize == nullptr) return EFI_INVALID_PARAMETER;
  for (const auto &[StoredVendor, Stored, Value] : Firmware.Variables_) {
    if (!SameGuid(StoredVendor, *Vendor) || Stored != Name) continue;
    if (*DataSize < Value.size()) {
      *DataSize = Value.size();
      return EFI_BUFFER_TOO_SMALL;
    }
    if (Data == nullptr) return EFI_INVALID_PARAMETER;
    if (!Value.empty()) std::memcpy(Data, Value.data(), Value.size());
    *DataSize = Value.size();
    if (Attributes != nullptr) *Attributes = EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
    return EFI_SUCCESS;
  }
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI SimGetTime(EFI_TIME *Time, VOID *) {
  SimFirmware &Firmware = SimFirmware::Current();
  EFI_STATUS Status;
  if (Firmware.ShouldFail(SimCall::GetTime, &Status)) return Status;
  if (Time == nullptr) return EFI_INVALID_PARAMETER;
  if (!Firmware.Clock.has_value()) return EFI_UNSUPPORTED;
  *Time = *Firmware.Clock;
  return EFI_SUCCESS;
}

VOID EFIAPI SimResetSystem(EFI_RESET_TYPE Type, EFI_STATUS, UINTN, VOID *) {
  SimFirmware &Firmware = SimFirmware::Current();
  EFI_STATUS Ignored;
  Firmware.ShouldFail(SimCall::ResetSystem, &Ignored);
  Firmware.Resets.push_back(Type);
}

// The person presses a key: the watchdog as it stands then is what decides whether they had time.
void PressKey(SimFirmware &Firmware) {
  Firmware.WaitedForKey = true;
  Firmware.WatchdogAtWaits.push_back(Firmware.WatchdogSeconds);
  Firmware.PressedKeys.push_back(EFI_INPUT_KEY{0, u' '});
}

// A key pressed before the program waits is read at once; after them, waiting for one brings one,
// and so does asking often enough.
EFI_STATUS EFIAPI SimReadKeyStroke(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *, EFI_INPUT_KEY *Key) {
  SimFirmware &Firmware = SimFirmware::Current();
  EFI_STATUS Status;
  if (Firmware.ShouldFail(SimCall::ReadKeyStroke, &Status)) return Status;
  if (Key == nullptr) return EFI_INVALID_PARAMETER;
  if (Firmware.PressedKeys.empty() && ++Firmware.NotReadyAnswers <= Firmware.PollsBeforeKey) return EFI_NOT_READY;
  if (Firmware.PressedKeys.empty()) PressKey(Firmware);
  *Key = Firmware.PressedKeys.front();
  Firmware.PressedKeys.erase(Firmware.PressedKeys.begin());
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimSetWatchdogTimer(UINTN Timeout, UINT64, UINTN, CHAR16 *) {
  SimFirmware &Firmware = SimFirmware::Current();
  EFI_STATUS Status;
  if (Firmware.ShouldFail(SimCall::SetWatchdogTimer, &Status)) return Status;
  Firmware.WatchdogTimeouts.push_back(Timeout);
  Firmware.WatchdogSeconds = Timeout;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimWaitForEvent(UINTN Count, EFI_EVENT *Events, UINTN *Index) {
  SimFirmware &Firmware = SimFirmware::Current();
  EFI_STATUS Status;
  if (Firmware.ShouldFail(SimCall::WaitForEvent, &Status)) return Status;
  if (Count != 1 || Events == nullptr || Index == nullptr || Events[0] != Firmware.SystemTable()->ConIn->WaitForKey) {
    return EFI_INVALID_PARAMETER;
  }
  PressKey(Firmware);
  *Index = 0;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, const CHAR16 *String) {
  SimFirmware &Firmware = SimFirmware::Current();
  EFI_STATUS Status;
  if (String != nullptr) Firmware.OfferedText_ += String;
  if (Firmware.ShouldFail(SimCall::OutputString, &Status)) return Status;
  if (This == nullptr || String == nullptr) return EFI_INVALID_PARAMETER;
  Firmware.ConsoleText_ += String;
  Firmware.ConsoleWriteEnds_.push_back(Firmware.ConsoleText_.size());
  return EFI_SUCCESS;
}

}  // namespace

bool SameGuid(const EFI_GUID &First, const EFI_GUID &Second) {
  return std::memcmp(&First, &Second, sizeof(EFI_GUID)) == 0;
}

SimFirmware::SimFirmware() {
  gCurrent = this;
  TakeRoom(ConsoleText_, gSpareConsoleText);
  TakeRoom(ConsoleWriteEnds_, gSpareConsoleWriteEnds);
  TakeRoom(OfferedText_, gSpareOfferedText);
  TakeRoom(PoolRequests_, gSparePoolRequests);
  BootServices_.Hdr.Signature = 0x56524553544f4f42ull;  // "BOOTSERV"
  BootServices_.Hdr.HeaderSize = sizeof BootServices_;
  BootServices_.GetMemoryMap = SimGetMemoryMap;
  BootServices_.AllocatePool = SimAllocatePool;
  BootServices_.FreePool = SimFreePool;
  BootServices_.OpenProtocol = SimOpenProtocol;
  BootServices_.LocateProtocol = SimLocateProtocol;
  BootServices_.WaitForEvent = SimWaitForEvent;
  BootServices_.SetWatchdogTimer = SimSetWatchdogTimer;
  RuntimeServices_.Hdr.Signature = 0x56524553544e5552ull;  // "RUNTSERV"
  RuntimeServices_.GetTime = SimGetTime;
  RuntimeServices_.GetVariable = SimGetVariable;
  RuntimeServices_.ResetSystem = SimResetSystem;
  Keyboard_.ReadKeyStroke = SimReadKeyStroke;
  Keyboard_.WaitForKey = &KeyEvent_;
  Console_.OutputString = SimOutputString;
  SystemTable_.Hdr.Signature = 0x5453595320494249ull;  // "IBI SYST"
  SystemTable_.Hdr.HeaderSize = sizeof SystemTable_;
  SystemTable_.FirmwareVendor = const_cast<CHAR16 *>(u"Simulated firmware");
  SystemTable_.FirmwareRevision = 0x00010000;
  SystemTable_.ConOut = &Console_;
  SystemTable_.BootServices = &BootServices_;
  SystemTable_.RuntimeServices = &RuntimeServices_;
  SystemTable_.ConIn = &Keyboard_;
  // Zeroing the area costs more than a whole fuzz run; only where someone may have written.
  UINT8 *Area = MapBiosArea();
  if (gBiosAreaWritten) std::memset(Area, 0, kBiosAreaBytes);
  gBiosAreaWritten = false;
}

SimFirmware::~SimFirmware() {
  for (const PoolBuffer &Given : Pool_) std::free(Given.Memory);
  TakeRoom(gSpareConsoleText, ConsoleText_);
  TakeRoom(gSpareConsoleWriteEnds, ConsoleWriteEnds_);
  TakeRoom(gSpareOfferedText, OfferedText_);
  TakeRoom(gSparePoolRequests, PoolRequests_);
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

void SimFirmware::InstallOnImage(const EFI_GUID &Protocol, VOID *Interface) {
  ImageProtocols_.emplace_back(Protocol, Interface);
}

void SimFirmware::InstallOnDevice(const EFI_GUID &Protocol, VOID *Interface) {
  DeviceProtocols_.emplace_back(Protocol, Interface);
}

void SimFirmware::SetVariable(const EFI_GUID &Vendor, const std::u16string &Name, std::vector<UINT8> Value) {
  for (auto &[StoredVendor, Stored, Held] : Variables_) {
    if (SameGuid(StoredVendor, Vendor) && Stored == Name) {
      Held = std::move(Value);
      return;
    }
  }
  Variables_.push_back({Vendor, Name, std::move(Value)});
}

void SimFirmware::SetGlobalVariable(const std::u16string &Name, std::vector<UINT8> Value) {
  SetVariable(EFI_GLOBAL_VARIABLE, Name, std::move(Value));
}

void SimFirmware::RemoveGlobalVariables() {
  std::erase_if(Variables_, [](const StoredVariable &Held) { return SameGuid(Held.Vendor, EFI_GLOBAL_VARIABLE); });
}

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
  gBiosAreaWritten = true;
  return MapBiosArea();
}

std::u16string_view SimFirmware::ConsoleWrite(size_t Index) const {
  size_t Start = Index == 0 ? 0 : ConsoleWriteEnds_[Index - 1];
  return std::u16string_view(ConsoleText_).substr(Start, ConsoleWriteEnds_[Index] - Start);
}

std::vector<std::u16string> SimFirmware::ConsoleWrites() const {
  std::vector<std::u16string> Writes;
  for (size_t Index = 0; Index < ConsoleWriteCount(); Index++) Writes.emplace_back(ConsoleWrite(Index));
  return Writes;
}

void SimFirmware::FailCall(SimCall Call, EFI_STATUS Status, int Skip, int Times) {
  Failures_[(int)Call] = Failure{true, Status, Skip, Times};
}

bool SimFirmware::ShouldFail(SimCall Call, EFI_STATUS *Status) {
  int Number = Calls_[(int)Call]++;
  LastCall_ = Call;
  const Failure &F = Failures_[(int)Call];
  if (!F.Armed) return false;
  if (Number < F.Skip) return false;
  if (F.Times >= 0 && Number >= F.Skip + F.Times) return false;
  *Status = F.Status;
  Failed_[(int)Call]++;
  return true;
}
