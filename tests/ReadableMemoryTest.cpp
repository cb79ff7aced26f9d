// The decision whether a range may be read, over a memory map shaped like a real machine's: memory
// of several types side by side, device and unusable ranges among them, a hole below 1 MiB where
// the BIOS area lies, memory above 4 GiB and across the end of the lower canonical half.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/ReadableMemory.h"

namespace {

constexpr UINT32 kOemType = 0x70000001;

struct Region {
  UINT32 Type;
  UINT64 Start;
  UINT64 Pages;
};

// Listed out of address order on purpose: firmware need not sort its map.
const Region kRegions[] = {
    {EfiACPIMemoryNVS, 0x810000, 0x10},
    {EfiBootServicesCode, 0x0, 1},
    {EfiConventionalMemory, 0x1000, 0x9F},
    {EfiMemoryMappedIO, 0x830000, 0x10},
    {EfiACPIReclaimMemory, 0x800000, 0x10},
    {EfiConventionalMemory, 0x100000, 0x700},
    {EfiReservedMemoryType, 0x820000, 0x10},
    {EfiUnusableMemory, 0x900000, 0x10},
    {EfiMemoryMappedIOPortSpace, 0x910000, 0x10},
    {EfiUnacceptedMemoryType, 0x920000, 0x10},
    {kOemType, 0x930000, 0x10},
    {EfiConventionalMemory, 0x100000000ull, 0x100000},
    {EfiConventionalMemory, 0x7FFFFFFF0000ull, 0x20},
    {EfiConventionalMemory, 0xFFFFFFFFFFFF0000ull, 1ull << 60},  // runs past the top of the address space
};

// Entries as firmware lays them out, each DescriptorSize bytes apart.
std::vector<UINT8> MapBytes(UINTN DescriptorSize) {
  std::vector<UINT8> Bytes(std::size(kRegions) * DescriptorSize, 0xCC);
  for (size_t Index = 0; Index < std::size(kRegions); Index++) {
    EFI_MEMORY_DESCRIPTOR Descriptor = {};
    Descriptor.Type = kRegions[Index].Type;
    Descriptor.PhysicalStart = kRegions[Index].Start;
    Descriptor.NumberOfPages = kRegions[Index].Pages;
    std::memcpy(&Bytes[Index * DescriptorSize], &Descriptor, sizeof Descriptor);
  }
  return Bytes;
}

struct RangeCase {
  const char *What;
  UINT64 Address;
  UINT64 Length;
  bool X64;
  bool AArch64;
  bool Ia32;
};

const RangeCase kRangeCases[] = {
    {"inside conventional memory", 0x2000, 16, true, true, true},
    {"the last byte of a region", 0x9FFFF, 1, true, true, true},
    {"one byte past a region, into a hole", 0x9FFFF, 2, false, false, false},
    {"the first page, though the map describes it", 0x0, 4, false, false, false},
    {"the first page's last byte", 0xFFF, 2, false, false, false},
    {"ACPI, NVS and reserved memory side by side are joined", 0x80FFF0, 0x20000, true, true, true},
    {"running from reserved memory into a device", 0x82FFF0, 0x20, false, false, false},
    {"memory-mapped I/O", 0x830000, 4, false, false, false},
    {"unusable memory", 0x900000, 4, false, false, false},
    {"I/O port space", 0x910000, 4, false, false, false},
    {"memory the guest has not accepted", 0x920000, 4, false, false, false},
    {"a type the specification does not define", 0x930000, 4, false, false, false},
    {"a hole below the BIOS area", 0xA0000, 4, false, false, false},
    {"the BIOS area, which x64 firmware may leave out of the map", 0xE0000, 36, true, false, false},
    {"from the BIOS area into the memory above 1 MiB", 0xFFFF0, 0x20, true, false, false},
    {"from a hole into the BIOS area", 0xDFFF0, 0x20, false, false, false},
    {"memory above 4 GiB", 0x100000000ull, 8, true, true, false},
    {"just below the end of the lower canonical half", 0x7FFFFFFFF000ull, 0x1000, true, true, false},
    {"across the end of the lower canonical half", 0x7FFFFFFFFFF0ull, 0x20, false, true, false},
    {"described memory past the lower canonical half", 0x800000000000ull, 4, false, true, false},
    {"the upper canonical half", 0xFFFF800000000000ull, 4, false, false, false},
    {"a range that wraps around", 0xFFFFFFFFFFFFFFF0ull, 0x20, false, false, false},
    {"a length that wraps around", 0x2000, ~0ull, false, false, false},
    {"a descriptor running past the top of the address space", 0xFFFFFFFFFFFF0000ull, 16, false, false, false},
    {"nothing at all, anywhere", 0x0, 0, true, true, true},
};

TEST(ReadableMemory, EachRangeOnEachProcessor) {
  for (UINTN DescriptorSize : {(UINTN)sizeof(EFI_MEMORY_DESCRIPTOR), (UINTN)48}) {
    std::vector<UINT8> Bytes = MapBytes(DescriptorSize);
    MemoryMap Map = {Bytes.data(), Bytes.size(), DescriptorSize};
    for (const RangeCase &Case : kRangeCases) {
      SCOPED_TRACE(testing::Message() << Case.What << ", entries of " << DescriptorSize << " bytes");
      EXPECT_EQ(IsReadable(Map, kX64Reach, Case.Address, Case.Length), Case.X64) << "x64";
      EXPECT_EQ(IsReadable(Map, kAArch64Reach, Case.Address, Case.Length), Case.AArch64) << "AArch64";
      EXPECT_EQ(IsReadable(Map, kIa32Reach, Case.Address, Case.Length), Case.Ia32) << "IA32";
    }
  }
}

TEST(ReadableMemory, AMapThatCannotBeReadAsDescriptorsDescribesNothing) {
  std::vector<UINT8> Bytes = MapBytes(sizeof(EFI_MEMORY_DESCRIPTOR));
  for (UINTN DescriptorSize : {(UINTN)0, (UINTN)1, (UINTN)sizeof(EFI_MEMORY_DESCRIPTOR) - 1}) {
    MemoryMap Map = {Bytes.data(), Bytes.size(), DescriptorSize};
    EXPECT_FALSE(IsReadable(Map, kX64Reach, 0x2000, 16)) << DescriptorSize;
  }
  // A size that ends inside an entry leaves that entry out.
  MemoryMap Cut = {Bytes.data(), 2 * sizeof(EFI_MEMORY_DESCRIPTOR) + 8, sizeof(EFI_MEMORY_DESCRIPTOR)};
  EXPECT_TRUE(IsReadable(Cut, kX64Reach, 0x810000, 4));   // the first entry
  EXPECT_FALSE(IsReadable(Cut, kX64Reach, 0x2000, 4));    // the third, cut off
  MemoryMap Empty = {nullptr, 0, sizeof(EFI_MEMORY_DESCRIPTOR)};
  EXPECT_FALSE(IsReadable(Empty, kX64Reach, 0x2000, 4));
  EXPECT_TRUE(IsReadable(Empty, kX64Reach, 0xE0000, 4)) << "the BIOS area needs no map";
}

TEST(ReadableMemory, OnlyDevicesUnusableUnacceptedAndUndefinedTypesAreNotMemory) {
  for (UINT32 Type = 0; Type <= EfiUnacceptedMemoryType; Type++) {
    bool NotMemory = Type == EfiUnusableMemory || Type == EfiMemoryMappedIO || Type == EfiMemoryMappedIOPortSpace ||
                     Type == EfiUnacceptedMemoryType;
    EXPECT_EQ(IsMemoryType(Type), !NotMemory) << "type " << Type;
  }
  for (UINT32 Type : {16u, kOemType, 0x80000000u, 0xFFFFFFFFu}) EXPECT_FALSE(IsMemoryType(Type)) << Type;
}

}  // namespace
