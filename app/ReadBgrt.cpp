#include "app/ReadBgrt.h"

#include "base/Unaligned.h"
#include "firmware/Acpi.h"

namespace {

// A longer table is summed only this far: a BGRT has 56 bytes, and one of megabytes is wrong
// whatever its bytes add up to.
constexpr UINT32 kMostSummed = 65536;

TableChecksum SumTable(const MemoryMap &Map, UINT64 Address, UINT32 Length) {
  if (Length > kMostSummed) return TableChecksum::NotTaken;
  const UINT8 *Bytes = ReadableAt(Map, Address, Length);
  if (Bytes == nullptr) return TableChecksum::NotTaken;
  UINT8 Sum = 0;
  for (UINT32 Index = 0; Index < Length; Index++) Sum = (UINT8)(Sum + Bytes[Index]);
  return Sum == 0 ? TableChecksum::Right : TableChecksum::Wrong;
}

}  // namespace

bool ReadBgrt(const MemoryMap &Map, UINT64 Address, BgrtTable *Table) {
  *Table = BgrtTable{};
  Table->Address = Address;
  const UINT8 *Bgrt = ReadableAt(Map, Address, offsetof(ACPI_BGRT, ImageAddress) + sizeof(UINT64));
  if (Bgrt == nullptr) return false;
  Table->Length = LoadUnaligned32(Bgrt + offsetof(ACPI_BGRT, Header.Length));
  Table->Revision = Bgrt[offsetof(ACPI_BGRT, Header.Revision)];
  Table->Version = LoadUnaligned16(Bgrt + offsetof(ACPI_BGRT, Version));
  Table->Status = Bgrt[offsetof(ACPI_BGRT, Status)];
  Table->ImageType = Bgrt[offsetof(ACPI_BGRT, ImageType)];
  Table->ImageAddress = LoadUnaligned64(Bgrt + offsetof(ACPI_BGRT, ImageAddress));
  Table->Whole = ReadableAt(Map, Address, sizeof(ACPI_BGRT)) != nullptr;
  if (Table->Whole) {
    Table->OffsetX = LoadUnaligned32(Bgrt + offsetof(ACPI_BGRT, ImageOffsetX));
    Table->OffsetY = LoadUnaligned32(Bgrt + offsetof(ACPI_BGRT, ImageOffsetY));
    Table->Checksum = SumTable(Map, Address, Table->Length);
  }
  return true;
}

void ReadLogoBitmap(const MemoryMap &Map, UINT64 Address, LogoBitmap *Logo) {
  *Logo = LogoBitmap{};
  const UINT8 *Image = ReadableAt(Map, Address, kBitmapFixedBytes);
  if (Image == nullptr) return;
  Logo->HeaderRead = true;
  Logo->Magic = LoadUnaligned16(Image + offsetof(BMP_HEADER, Signature));
  Logo->FileSize = LoadUnaligned32(Image + offsetof(BMP_HEADER, FileSize));
  Logo->Reserved = LoadUnaligned32(Image + offsetof(BMP_HEADER, Reserved));
  Logo->DataOffset = LoadUnaligned32(Image + offsetof(BMP_HEADER, DataOffset));
  Logo->HeaderSize = LoadUnaligned32(Image + offsetof(BMP_HEADER, HeaderSize));
  Logo->Width = LoadUnaligned32(Image + offsetof(BMP_HEADER, Width));
  Logo->Height = LoadUnaligned32(Image + offsetof(BMP_HEADER, Height));
  Logo->Planes = LoadUnaligned16(Image + offsetof(BMP_HEADER, Planes));
  Logo->BitsPerPixel = LoadUnaligned16(Image + offsetof(BMP_HEADER, BitsPerPixel));
  Logo->Whole = ReadableAt(Map, Address, Logo->FileSize) != nullptr;
  if (!Logo->Whole) return;
  Logo->Signature = Image[0] == 'B' && Image[1] == 'M';
  // The fixed fields may be read even where the size field claims fewer bytes.
  Logo->Rule = JudgeBitmap(Image, Logo->FileSize > kBitmapFixedBytes ? Logo->FileSize : kBitmapFixedBytes);
}
