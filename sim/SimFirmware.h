// A simulated UEFI firmware for host tests: system table, boot services, a recording console and
// a configuration table, with a switch that makes any simulated call fail. One instance at a time
// is current; the firmware-facing functions find it through SimFirmware::Current().
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "firmware/SystemTable.h"

enum class SimCall {
  OpenProtocol,
  LocateProtocol,
  AllocatePool,
  FreePool,
  OutputString,
  OpenVolume,
  FileOpen,
  FileClose,
  FileDelete,
  FileWrite,
  FileGetInfo,
  FileSetInfo,
  FileFlush,
  GetMemoryMap,
  QueryMode,
  Blt,
  GetVariable,
  GetTime,
  SetWatchdogTimer,
  ReadKeyStroke,
  WaitForEvent,
  ResetSystem,  // counted, never failed: the call returns nothing
  Count,
};

class SimFirmware {
 public:
  SimFirmware();
  ~SimFirmware();
  SimFirmware(const SimFirmware &) = delete;
  SimFirmware &operator=(const SimFirmware &) = delete;

  static SimFirmware &Current();

  EFI_SYSTEM_TABLE *SystemTable() { return &SystemTable_; }
  EFI_HANDLE ImageHandle() { return &ImageHandleStorage_; }

  // Records the tables in gSystemTable and gBootServices, as AppEntry would, for tests of code
  // below the entry point.
  void Activate();

  // OpenProtocol answers success for these GUIDs on the image handle, with Interface, or with an
  // interface of no use when none is given.
  void InstallOnImage(const EFI_GUID &Protocol, VOID *Interface = nullptr);
  void RemoveImageProtocols() { ImageProtocols_.clear(); }
  // The device the image was loaded from: its loaded-image protocol names this handle, and
  // OpenProtocol answers for what is installed on it.
  EFI_HANDLE DeviceHandle() { return &DeviceHandleStorage_; }
  void InstallOnDevice(const EFI_GUID &Protocol, VOID *Interface);
  // LocateProtocol answers with the first interface registered for a GUID.
  void RegisterProtocol(const EFI_GUID &Protocol, VOID *Interface);
  void UnregisterProtocols() { Protocols_.clear(); }
  void AddConfigurationEntry(const EFI_GUID &Guid, VOID *Table);
  void RemoveConsole() { SystemTable_.ConOut = nullptr; }

  // Variables by vendor GUID and name; GetVariable answers Not Found for any other. The global
  // ones are the UEFI specification's own vendor's (SecureBoot).
  void SetVariable(const EFI_GUID &Vendor, const std::u16string &Name, std::vector<UINT8> Value);
  void SetGlobalVariable(const std::u16string &Name, std::vector<UINT8> Value);
  void RemoveGlobalVariables();
  // Keys already pressed when the program starts, and whether it then waited for one more. A
  // program that polls rather than waits gets a key once it has found none this many times.
  std::vector<EFI_INPUT_KEY> PressedKeys;
  bool WaitedForKey = false;
  int PollsBeforeKey = 1000;
  int NotReadyAnswers = 0;
  // What GetTime answers: this time, or Unsupported, as firmware without a clock does, when unset.
  std::optional<EFI_TIME> Clock;
  // The firmware's watchdog, in seconds, 0 when disarmed: the boot manager arms it for five
  // minutes before it starts a program. SetWatchdogTimer's calls, by timeout, and the watchdog as
  // it stood at each wait for a key.
  UINTN WatchdogSeconds = 300;
  std::vector<UINTN> WatchdogTimeouts;
  std::vector<UINTN> WatchdogAtWaits;
  // ResetSystem's calls, by reset type; the simulated reset returns.
  std::vector<EFI_RESET_TYPE> Resets;

  // The memory map GetMemoryMap answers with, in the order described. Entries are as large as
  // real firmware makes them, larger than the descriptor record.
  static constexpr UINTN kDescriptorSize = 48;
  void DescribeMemory(UINT64 Start, UINT64 Pages, UINT32 Type);
  std::vector<EFI_MEMORY_DESCRIPTOR> MemoryMap_;

  // The legacy BIOS area, 0xE0000 to 0xFFFFF, mapped in this process so that the report may read
  // there as firmware lets it on x64. Whoever asks for it may write there; it is zeroed again
  // when the next SimFirmware is made.
  static UINT8 *BiosArea();
  static constexpr UINT64 kBiosAreaStart = 0xE0000;
  static constexpr UINT64 kBiosAreaBytes = 0x20000;

  // Everything the console was given, in order, and each OutputString call on its own. The text is
  // kept in one string, so a report of thousands of lines costs no allocation a line.
  const std::u16string &ConsoleText() const { return ConsoleText_; }
  size_t ConsoleWriteCount() const { return ConsoleWriteEnds_.size(); }
  std::u16string_view ConsoleWrite(size_t Index) const;
  std::vector<std::u16string> ConsoleWrites() const;

  size_t OutstandingPool() const { return Pool_.size(); }
  // The most bytes of pool the program held at once.
  UINT64 PeakPoolBytes() const { return PeakPoolBytes_; }
  size_t BadFrees() const { return BadFrees_; }
  const std::vector<UINTN> &PoolRequests() const { return PoolRequests_; }
  int Calls(SimCall Call) const { return Calls_[(int)Call]; }
  // The last call made of any kind, Count before the first; and how many calls failed on purpose.
  SimCall LastCall() const { return LastCall_; }
  int FailedCalls(SimCall Call) const { return Failed_[(int)Call]; }
  // Everything the program asked the console to show, shown or refused.
  const std::u16string &OfferedText() const { return OfferedText_; }

  // From the (Skip + 1)th call of that kind on, Times calls (all, when negative) return Status.
  void FailCall(SimCall Call, EFI_STATUS Status, int Skip = 0, int Times = -1);

  // Counts a call and answers whether it is to fail, and with what.
  bool ShouldFail(SimCall Call, EFI_STATUS *Status);

  // Firmware-side state the service functions work on.
  std::u16string ConsoleText_;
  std::vector<size_t> ConsoleWriteEnds_;
  std::u16string OfferedText_;
  struct PoolBuffer {
    VOID *Memory;
    UINTN Size;
  };
  std::vector<PoolBuffer> Pool_;  // buffers given out and not yet freed; few at a time
  std::vector<UINTN> PoolRequests_;
  UINT64 PoolBytes_ = 0;
  UINT64 PeakPoolBytes_ = 0;
  size_t BadFrees_ = 0;
  std::vector<std::pair<EFI_GUID, VOID *>> ImageProtocols_;
  std::vector<std::pair<EFI_GUID, VOID *>> DeviceProtocols_;
  struct StoredVariable {
    EFI_GUID Vendor;
    std::u16string Name;
    std::vector<UINT8> Value;
  };
  std::vector<StoredVariable> Variables_;
  std::vector<std::pair<EFI_GUID, VOID *>> Protocols_;

 private:
  struct Failure {
    bool Armed;
    EFI_STATUS Status;
    int Skip;
    int Times;
  };

  EFI_SYSTEM_TABLE SystemTable_{};
  EFI_BOOT_SERVICES BootServices_{};
  EFI_RUNTIME_SERVICES RuntimeServices_{};
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL Keyboard_{};
  int KeyEvent_ = 0;
  int DeviceHandleStorage_ = 0;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL Console_{};
  std::vector<EFI_CONFIGURATION_TABLE> Configuration_;
  int ImageHandleStorage_ = 0;
  int Calls_[(int)SimCall::Count] = {};
  int Failed_[(int)SimCall::Count] = {};
  SimCall LastCall_ = SimCall::Count;
  Failure Failures_[(int)SimCall::Count] = {};
};

bool SameGuid(const EFI_GUID &First, const EFI_GUID &Second);
