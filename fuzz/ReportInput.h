// How a report fuzz input becomes a machine, shared by the fuzz target and the generator of its
// starting corpus. The input is a header, then the contents of a region of simulated physical
// memory at a fixed address, so that addresses inside the input can point into the input.
#pragma once

#include <cstddef>
#include <cstdint>

#include "firmware/SystemTable.h"
#include "sim/SimFirmware.h"

namespace report_fuzz {

constexpr uint64_t kRegionStart = 0x10000000;
constexpr size_t kRegionPages = 16;
constexpr size_t kRegionBytes = kRegionPages * EFI_PAGE_SIZE;

// What the memory map says of each page of the region, one kind to a nibble.
enum PageKind : uint8_t {
  kUndescribed,
  kConventional,
  kAcpiReclaim,
  kAcpiNvs,
  kReserved,
  kBootServicesData,
  kMemoryMappedIo,
  kUnusable,
  kPortSpace,
  kUnaccepted,
  kOemType,
  kPageKinds,  // the nibbles from here on are conventional memory
};

// The kind of a page of the region, from the header's nibbles.
inline uint8_t PageKindOf(const uint8_t (&PageKinds)[kRegionPages / 2], size_t Page) {
  return (PageKinds[Page / 2] >> (4 * (Page % 2))) & 0xF;
}

// The memory type of a page kind; false for a page the map leaves out.
inline bool PageType(uint8_t Kind, uint32_t *Type) {
  static constexpr uint32_t kTypes[kPageKinds] = {
      0, EfiConventionalMemory, EfiACPIReclaimMemory, EfiACPIMemoryNVS, EfiReservedMemoryType, EfiBootServicesData,
      EfiMemoryMappedIO, EfiUnusableMemory, EfiMemoryMappedIOPortSpace, EfiUnacceptedMemoryType, 0x70000001};
  if (Kind == kUndescribed) return false;
  *Type = Kind < kPageKinds ? kTypes[Kind] : (uint32_t)EfiConventionalMemory;
  return true;
}

// The firmware calls an input may make fail, by the option nibble; 0 fails none.
inline constexpr SimCall kFailingCalls[] = {
    SimCall::Count,     SimCall::GetMemoryMap, SimCall::AllocatePool, SimCall::LocateProtocol,
    SimCall::OpenVolume, SimCall::FileOpen,    SimCall::FileWrite,    SimCall::FileFlush,
    SimCall::FileGetInfo, SimCall::FileSetInfo, SimCall::FileDelete, SimCall::QueryMode,
};

#pragma pack(push, 1)
struct Header {
  uint8_t Options;         // bit 0: an older BIOSLogo.bmp is on the volume; bit 1: the volume refuses
                           // renames; bit 2: a graphics output; bit 3: its panel is portrait;
                           // bits 4-7: the failing call
  uint8_t FailSkip;        // the failing call fails from this call of its kind on, once
  uint16_t CapacityUnits;  // the volume holds this many 256-byte units; 0 is no limit
  uint8_t PageKinds[kRegionPages / 2];  // low nibble first
  uint64_t Rsdp;           // the ACPI 2.0 configuration-table entry
};
#pragma pack(pop)

constexpr uint8_t kOlderLogo = 0x01;
constexpr uint8_t kRenamesRefused = 0x02;
constexpr uint8_t kScreen = 0x04;
constexpr uint8_t kPortrait = 0x08;
constexpr size_t kCapacityUnit = 256;

// The older logo an input may put on the volume first.
inline constexpr uint8_t kOlderLogoBytes[] = {'B', 'M', 'o', 'l', 'd', 'e', 'r', ' ', 'l', 'o', 'g', 'o'};

}  // namespace report_fuzz
