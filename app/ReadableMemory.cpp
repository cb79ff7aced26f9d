#include "app/ReadableMemory.h"

namespace {

// Firmware may leave the first page unmapped to catch null pointers, and no table lives there.
constexpr UINT64 kFirstPageEnd = EFI_PAGE_SIZE;

// Some x64 firmware keeps the RSDP in the legacy BIOS area without describing it in the map.
constexpr UINT64 kBiosAreaStart = 0xE0000;
constexpr UINT64 kBiosAreaLast = 0xFFFFF;

constexpr UINT64 kLastAddress = ~(UINT64)0;

struct Span {
  UINT64 First;
  UINT64 Last;
};

// The span a descriptor covers; false for one that covers nothing. A span running past the top of
// the address space ends there.
bool DescriptorSpan(const EFI_MEMORY_DESCRIPTOR &Descriptor, Span *Covered) {
  UINT64 Pages = Descriptor.NumberOfPages;
  if (Pages == 0) return false;
  Covered->First = Descriptor.PhysicalStart;
  UINT64 PagesToTop = (kLastAddress - Descriptor.PhysicalStart) / EFI_PAGE_SIZE;
  Covered->Last = Pages <= PagesToTop ? Descriptor.PhysicalStart + Pages * EFI_PAGE_SIZE - 1 : kLastAddress;
  return true;
}

// The last address of readable memory that starts at or before Address and reaches it; false when
// none covers Address.
bool ReadableSpanLast(const MemoryMap &Map, const AddressReach &Reach, UINT64 Address, UINT64 *Last) {
  if (Reach.BiosArea && Address >= kBiosAreaStart && Address <= kBiosAreaLast) {
    *Last = kBiosAreaLast;
    return true;
  }
  bool Found = false;
  for (UINTN Offset = 0; Map.Size - Offset >= Map.DescriptorSize; Offset += Map.DescriptorSize) {
    EFI_MEMORY_DESCRIPTOR Descriptor;
    __builtin_memcpy(&Descriptor, Map.Descriptors + Offset, sizeof Descriptor);
    Span Covered;
    if (!IsMemoryType(Descriptor.Type) || !DescriptorSpan(Descriptor, &Covered)) continue;
    if (Covered.First <= Address && Address <= Covered.Last && (!Found || Covered.Last > *Last)) {
      *Last = Covered.Last;
      Found = true;
    }
  }
  return Found;
}

}  // namespace

bool IsMemoryType(UINT32 Type) {
  switch (Type) {
    case EfiUnusableMemory:
    case EfiMemoryMappedIO:
    case EfiMemoryMappedIOPortSpace:
    case EfiUnacceptedMemoryType:  // reading memory the guest has not accepted faults
      return false;
    default:
      // Types past those the UEFI specification defines belong to the platform or the OS; nothing
      // says what lies there.
      return Type <= EfiUnacceptedMemoryType;
  }
}

bool IsReadable(const MemoryMap &Map, const AddressReach &Reach, UINT64 Address, UINT64 Length) {
  if (Length == 0) return true;
  UINT64 Last = Address + (Length - 1);
  if (Last < Address || Last >= Reach.End || Address < kFirstPageEnd) return false;
  if (Map.DescriptorSize < sizeof(EFI_MEMORY_DESCRIPTOR)) return false;

  // Step from span to span: each step starts past the end of the one before, so no descriptor
  // serves twice and the walk ends after at most one step per descriptor.
  UINT64 Cursor = Address;
  for (;;) {
    UINT64 SpanLast;
    if (!ReadableSpanLast(Map, Reach, Cursor, &SpanLast)) return false;
    if (SpanLast >= Last) return true;
    Cursor = SpanLast + 1;
  }
}

const UINT8 *ReadableAt(const MemoryMap &Map, UINT64 Address, UINT64 Length) {
  if (!IsReadable(Map, kProcessorReach, Address, Length)) return nullptr;
  return (const UINT8 *)(UINTN)Address;
}

bool MemoryTypeAt(const MemoryMap &Map, UINT64 Address, UINT32 *Type) {
  if (Map.DescriptorSize < sizeof(EFI_MEMORY_DESCRIPTOR)) return false;
  for (UINTN Offset = 0; Map.Size - Offset >= Map.DescriptorSize; Offset += Map.DescriptorSize) {
    EFI_MEMORY_DESCRIPTOR Descriptor;
    __builtin_memcpy(&Descriptor, Map.Descriptors + Offset, sizeof Descriptor);
    // Pages from the start rather than the end's address: a descriptor may run past the top.
    if (Address >= Descriptor.PhysicalStart && (Address - Descriptor.PhysicalStart) / EFI_PAGE_SIZE < Descriptor.NumberOfPages) {
      *Type = Descriptor.Type;
      return true;
    }
  }
  return false;
}
