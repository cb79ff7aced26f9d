#include "sim/AcpiBuilder.h"

#include <cstdlib>
#include <cstring>

#include "sim/SimFirmware.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#define SIM_POISON(Start, Bytes) ASAN_POISON_MEMORY_REGION(Start, Bytes)
#define SIM_UNPOISON(Start, Bytes) ASAN_UNPOISON_MEMORY_REGION(Start, Bytes)
#endif
#endif
#ifndef SIM_POISON
#define SIM_POISON(Start, Bytes) ((void)(Start), (void)(Bytes))
#define SIM_UNPOISON(Start, Bytes) ((void)(Start), (void)(Bytes))
#endif

void StoreLittleEndian(std::vector<uint8_t> &Bytes, size_t Offset, uint64_t Value, size_t Width) {
  if (Bytes.size() < Offset + Width) Bytes.resize(Offset + Width);
  for (size_t Index = 0; Index < Width; Index++) Bytes[Offset + Index] = (uint8_t)(Value >> (8 * Index));
}

AcpiBuilder::AcpiBuilder(SimFirmware &Firmware) : Firmware_(Firmware), Type_(EfiACPIReclaimMemory) {}

AcpiBuilder::~AcpiBuilder() {
  for (const Block &B : Blocks_) {
    SIM_UNPOISON(B.Start, B.Bytes);
    std::free(B.Start);
  }
}

uint64_t AcpiBuilder::Place(const std::vector<uint8_t> &Bytes, size_t Misalign) {
  constexpr size_t Page = EFI_PAGE_SIZE;
  size_t Pages = (Misalign + Bytes.size() + Page - 1) / Page;
  if (Pages == 0) Pages = 1;
  size_t Total = (Pages + 1) * Page;
  uint8_t *Start = (uint8_t *)std::aligned_alloc(Page, Total);
  if (Start == nullptr) std::abort();
  std::memset(Start, 0, Total);
  if (!Bytes.empty()) std::memcpy(Start + Misalign, Bytes.data(), Bytes.size());
  SIM_POISON(Start + Pages * Page, Page);
  Blocks_.push_back(Block{Start, Total});
  Firmware_.DescribeMemory((uint64_t)(uintptr_t)Start, Pages, Type_);
  return (uint64_t)(uintptr_t)Start + Misalign;
}

std::vector<uint8_t> AcpiBuilder::TableHeader(const std::string &Signature, uint32_t Length) {
  std::vector<uint8_t> Bytes(36, 0);
  for (size_t Index = 0; Index < 4 && Index < Signature.size(); Index++) Bytes[Index] = (uint8_t)Signature[Index];
  StoreLittleEndian(Bytes, 4, Length, 4);
  Bytes[8] = 1;                                  // revision
  std::memcpy(&Bytes[10], "QUILON", 6);          // OEM ID
  std::memcpy(&Bytes[16], "SIMTABLE", 8);        // OEM table ID
  return Bytes;
}

uint64_t AcpiBuilder::Rsdp(uint64_t XsdtAddress, size_t Misalign) {
  std::vector<uint8_t> Bytes(36, 0);
  std::memcpy(Bytes.data(), "RSD PTR ", 8);
  std::memcpy(&Bytes[9], "QUILON", 6);
  Bytes[15] = 2;  // ACPI 2.0 or later
  StoreLittleEndian(Bytes, 20, 36, 4);
  StoreLittleEndian(Bytes, 24, XsdtAddress, 8);
  return Place(Bytes, Misalign);
}

uint64_t AcpiBuilder::Xsdt(const std::vector<uint64_t> &Entries, size_t Misalign, const std::string &Signature,
                           std::optional<uint32_t> Length) {
  uint32_t TrueLength = (uint32_t)(36 + 8 * Entries.size());
  std::vector<uint8_t> Bytes = TableHeader(Signature, Length.value_or(TrueLength));
  for (size_t Index = 0; Index < Entries.size(); Index++) StoreLittleEndian(Bytes, 36 + 8 * Index, Entries[Index], 8);
  return Place(Bytes, Misalign);
}

uint64_t AcpiBuilder::Table(const std::string &Signature, uint32_t Length, size_t Misalign) {
  std::vector<uint8_t> Bytes = TableHeader(Signature, Length);
  Bytes.resize(Length < 36 ? 36 : Length, 0);
  return Place(Bytes, Misalign);
}

uint64_t AcpiBuilder::Bgrt(uint64_t ImageAddress, size_t Misalign, const BgrtFields &Fields) {
  std::vector<uint8_t> Bytes = TableHeader("BGRT", Fields.Length);
  Bytes.resize(Fields.Length > 56 ? Fields.Length : 56, 0);
  Bytes[8] = Fields.Revision;
  StoreLittleEndian(Bytes, 36, Fields.Version, 2);
  Bytes[38] = Fields.Status;
  Bytes[39] = Fields.ImageType;
  StoreLittleEndian(Bytes, 40, ImageAddress, 8);
  StoreLittleEndian(Bytes, 48, Fields.OffsetX, 4);
  StoreLittleEndian(Bytes, 52, Fields.OffsetY, 4);
  SetChecksum(Bytes);
  if (!Fields.RightChecksum) Bytes[9]++;
  return Place(Bytes, Misalign);
}

void AcpiBuilder::SetChecksum(std::vector<uint8_t> &Table) {
  uint32_t Length = (uint32_t)Table[4] | (uint32_t)Table[5] << 8 | (uint32_t)Table[6] << 16 | (uint32_t)Table[7] << 24;
  Table[9] = 0;
  uint8_t Sum = 0;
  for (size_t Index = 0; Index < Length && Index < Table.size(); Index++) Sum = (uint8_t)(Sum + Table[Index]);
  Table[9] = (uint8_t)(0 - Sum);
}

std::vector<uint8_t> AcpiBuilder::Bitmap(uint32_t Width, uint32_t Height, uint16_t BitsPerPixel, uint8_t PixelOffset) {
  uint32_t RowBytes = ((Width * BitsPerPixel + 31) / 32) * 4;
  uint32_t DataOffset = 14 + 40;
  uint32_t FileSize = DataOffset + RowBytes * Height;
  std::vector<uint8_t> Bytes(FileSize, 0);
  Bytes[0] = 'B';
  Bytes[1] = 'M';
  StoreLittleEndian(Bytes, 2, FileSize, 4);
  StoreLittleEndian(Bytes, 10, DataOffset, 4);
  StoreLittleEndian(Bytes, 14, 40, 4);
  StoreLittleEndian(Bytes, 18, Width, 4);
  StoreLittleEndian(Bytes, 22, Height, 4);
  StoreLittleEndian(Bytes, 26, 1, 2);
  StoreLittleEndian(Bytes, 28, BitsPerPixel, 2);
  StoreLittleEndian(Bytes, 34, RowBytes * Height, 4);
  for (size_t Index = DataOffset; Index < Bytes.size(); Index++) Bytes[Index] = (uint8_t)(Index * 31 + PixelOffset);
  return Bytes;
}
