// Builds ACPI tables and bitmaps in host memory for the report to read: an RSDP, an XSDT, BGRTs
// and BMP logos, each in a block of its own at a chosen distance from a 16-byte boundary. Host heap
// addresses lie above 4 GiB. Blocks live as long as the builder.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class AcpiBuilder {
 public:
  // Copies Bytes into a fresh block, Misalign bytes past a 16-byte boundary; returns the address.
  uint64_t Place(const std::vector<uint8_t> &Bytes, size_t Misalign = 0);

  uint64_t Rsdp(uint64_t XsdtAddress, size_t Misalign = 0);
  // An XSDT of these entries; Length overrides the length field (the block still holds them all).
  uint64_t Xsdt(const std::vector<uint64_t> &Entries, size_t Misalign = 0, const std::string &Signature = "XSDT",
                std::optional<uint32_t> Length = std::nullopt);
  // Any other table: a header with this signature and length, zero bytes after it.
  uint64_t Table(const std::string &Signature, uint32_t Length = 36, size_t Misalign = 0);
  uint64_t Bgrt(uint64_t ImageAddress, size_t Misalign = 0);

  // A complete BMP file of the given shape with a deterministic pixel pattern.
  static std::vector<uint8_t> Bitmap(uint32_t Width, uint32_t Height, uint16_t BitsPerPixel, uint8_t PixelOffset = 1);

  static std::vector<uint8_t> TableHeader(const std::string &Signature, uint32_t Length);

 private:
  std::vector<std::unique_ptr<uint8_t[]>> Blocks_;
};

void StoreLittleEndian(std::vector<uint8_t> &Bytes, size_t Offset, uint64_t Value, size_t Width);
