// Builds ACPI tables and bitmaps in host memory for the report to read: an RSDP, an XSDT, BGRTs
// and BMP logos, each in whole pages of its own at a chosen distance from the first page's start.
// Every block is described in the firmware's memory map, as ACPI memory unless the builder is told
// otherwise, and followed by a page the map leaves out (and that the address sanitizer, where it
// runs, forbids). Host heap addresses lie above 4 GiB. Blocks live as long as the builder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class SimFirmware;

// A BGRT's fields besides its image address, as OVMF fills them unless a test says otherwise.
struct BgrtFields {
  uint8_t Revision = 1;
  uint16_t Version = 1;
  uint8_t Status = 1;  // displayed, not rotated
  uint8_t ImageType = 0;
  uint32_t OffsetX = 0x100;
  uint32_t OffsetY = 0x80;
  uint32_t Length = 56;
  bool RightChecksum = true;
};

// The fields of a BGRT whose logo the firmware drew at X, Y, with this status.
inline BgrtFields BgrtAt(uint32_t X, uint32_t Y, uint8_t Status = 1) {
  BgrtFields Fields;
  Fields.OffsetX = X;
  Fields.OffsetY = Y;
  Fields.Status = Status;
  return Fields;
}

class AcpiBuilder {
 public:
  explicit AcpiBuilder(SimFirmware &Firmware);
  ~AcpiBuilder();
  AcpiBuilder(const AcpiBuilder &) = delete;
  AcpiBuilder &operator=(const AcpiBuilder &) = delete;

  // The memory type blocks placed from now on are described with.
  void SetMemoryType(uint32_t Type) { Type_ = Type; }

  // Copies Bytes into fresh pages, Misalign bytes past the start of the first; returns the address.
  uint64_t Place(const std::vector<uint8_t> &Bytes, size_t Misalign = 0);

  uint64_t Rsdp(uint64_t XsdtAddress, size_t Misalign = 0);
  // An XSDT of these entries; Length overrides the length field (the block still holds them all).
  uint64_t Xsdt(const std::vector<uint64_t> &Entries, size_t Misalign = 0, const std::string &Signature = "XSDT",
                std::optional<uint32_t> Length = std::nullopt);
  // Any other table: a header with this signature and length, zero bytes after it.
  uint64_t Table(const std::string &Signature, uint32_t Length = 36, size_t Misalign = 0);
  uint64_t Bgrt(uint64_t ImageAddress, size_t Misalign = 0, const BgrtFields &Fields = BgrtFields{});

  // A complete BMP file of the given shape with a deterministic pixel pattern.
  static std::vector<uint8_t> Bitmap(uint32_t Width, uint32_t Height, uint16_t BitsPerPixel, uint8_t PixelOffset = 1);

  static std::vector<uint8_t> TableHeader(const std::string &Signature, uint32_t Length);
  // Sets the checksum byte so that the table's Length bytes add up to 0.
  static void SetChecksum(std::vector<uint8_t> &Table);

 private:
  struct Block {
    uint8_t *Start;
    size_t Bytes;  // the described pages and the page after them
  };
  SimFirmware &Firmware_;
  uint32_t Type_;
  std::vector<Block> Blocks_;
};

void StoreLittleEndian(std::vector<uint8_t> &Bytes, size_t Offset, uint64_t Value, size_t Width);
