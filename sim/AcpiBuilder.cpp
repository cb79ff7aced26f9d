#include "sim/AcpiBuilder.h"

#include <cstring>

void StoreLittleEndian(std::vector<uint8_t> &Bytes, size_t Offset, uint64_t Value, size_t Width) {
  if (Bytes.size() < Offset + Width) Bytes.resize(Offset + Width);
  for (size_t Index = 0; Index < Width; Index++) Bytes[Offset + Index] = (uint8_t)(Value >> (8 * Index));
}

uint64_t AcpiBuilder::Place(const std::vector<uint8_t> &Bytes, size_t Misalign) {
  constexpr size_t Alignment = 16;
  auto Block = std::make_unique<uint8_t[]>(Bytes.size() + Alignment + Misalign);
  uintptr_t Start = ((uintptr_t)Block.get() + Alignment - 1) / Alignment * Alignment + Misalign;
  if (!Bytes.empty()) std::memcpy((void *)Start, Bytes.data(), Bytes.size());
  Blocks_.push_back(std::move(Block));
  return Start;
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

uint64_t AcpiBuilder::Bgrt(uint64_t ImageAddress, size_t Misalign) {
  std::vector<uint8_t> Bytes = TableHeader("BGRT", 56);
  StoreLittleEndian(Bytes, 36, 1, 2);  // version
  Bytes[38] = 1;                       // status: displayed
  Bytes[39] = 0;                       // image type: bitmap
  StoreLittleEndian(Bytes, 40, ImageAddress, 8);
  StoreLittleEndian(Bytes, 48, 0x100, 4);
  StoreLittleEndian(Bytes, 52, 0x80, 4);
  return Place(Bytes, Misalign);
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
