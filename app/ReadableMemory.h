// Whether a range of physical addresses may be read: the decision made before the report touches
// any address that firmware tables hold. Pure: it looks only at the memory map it is given.
#pragma once

#include "firmware/SystemTable.h"
#include "firmware/Uefi.h"

// The firmware's memory map as GetMemoryMap returned it: Size bytes of entries, each
// DescriptorSize bytes apart.
struct MemoryMap {
  const UINT8 *Descriptors;
  UINTN Size;
  UINTN DescriptorSize;
};

// What the processor can address at all. Past End an address faults or wraps whatever the map
// says; on x64 the BIOS area is readable even where the map does not describe it.
struct AddressReach {
  UINT64 End;
  bool BiosArea;
};

// x64: the lower canonical half, where the firmware's identity map lies.
constexpr AddressReach kX64Reach = {1ull << 47, true};
// AArch64: the 48-bit input range of the firmware's translation tables.
constexpr AddressReach kAArch64Reach = {1ull << 48, false};
// IA32: a 32-bit pointer.
constexpr AddressReach kIa32Reach = {1ull << 32, false};

#if defined(__x86_64__)
constexpr AddressReach kProcessorReach = kX64Reach;
#elif defined(__aarch64__)
constexpr AddressReach kProcessorReach = kAArch64Reach;
#elif defined(__i386__)
constexpr AddressReach kProcessorReach = kIa32Reach;
#else
#error "no address reach for this processor"
#endif

// True when the memory map describes the type as memory that reading cannot disturb or fault.
bool IsMemoryType(UINT32 Type);

// True when every byte of [Address, Address + Length) may be read: the range does not wrap, lies
// within Reach, avoids the first page, and is covered by descriptors of memory types (adjacent or
// overlapping descriptors joined) or, where Reach says so, by the BIOS area. An empty range reads
// nothing and is always readable.
bool IsReadable(const MemoryMap &Map, const AddressReach &Reach, UINT64 Address, UINT64 Length);

// The address as a pointer, when Length bytes there may be read by this processor; null otherwise.
// The one way from an address a firmware table holds to memory, so that nothing is read unchecked
// or through a pointer cut to fewer bits than the address has.
const UINT8 *ReadableAt(const MemoryMap &Map, UINT64 Address, UINT64 Length);

// The memory type of the first descriptor that covers Address; false when none does.
bool MemoryTypeAt(const MemoryMap &Map, UINT64 Address, UINT32 *Type);
