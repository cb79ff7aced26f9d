// Writes the report fuzz target's starting corpus: the machines of the application's scenario
// tests, laid out in the fuzz region, each a file in the folder named on the command line.
//   make_report_corpus FOLDER
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz/ReportInput.h"
#include "sim/AcpiBuilder.h"

using namespace report_fuzz;

namespace {

// A machine under construction: the header and the region's bytes.
struct Machine {
  Header Head = {};
  std::vector<uint8_t> Memory = std::vector<uint8_t>(kRegionBytes, 0);

  Machine() {
    // ACPI tables on page 0, bitmaps on pages 1 to 12, a device on page 14, nothing on page 15.
    for (size_t Page = 0; Page < kRegionPages; Page++) SetPage(Page, kConventional);
    SetPage(0, kAcpiReclaim);
    SetPage(13, kAcpiNvs);
    SetPage(14, kMemoryMappedIo);
    SetPage(15, kUndescribed);
  }
  void SetPage(size_t Page, uint8_t Kind) {
    uint8_t &Pair = Head.PageKinds[Page / 2];
    Pair = (uint8_t)(Page % 2 == 0 ? (Pair & 0xF0) | Kind : (Pair & 0x0F) | Kind << 4);
  }
  uint64_t Put(size_t Offset, const std::vector<uint8_t> &Bytes) {
    std::memcpy(&Memory[Offset], Bytes.data(), Bytes.size());
    return kRegionStart + Offset;
  }
  void Store(size_t Offset, uint64_t Value, size_t Width) {
    for (size_t Index = 0; Index < Width; Index++) Memory[Offset + Index] = (uint8_t)(Value >> (8 * Index));
  }
  uint64_t Bgrt(size_t Offset, uint64_t Image) {
    Put(Offset, AcpiBuilder::TableHeader("BGRT", 56));
    Store(Offset + 36, 1, 2);
    Store(Offset + 40, Image, 8);
    return kRegionStart + Offset;
  }
  // An RSDP at Offset for an XSDT of these entries right after it; returns the XSDT's offset.
  size_t Tables(size_t Offset, const std::vector<uint64_t> &Entries, uint32_t Length = 0) {
    std::vector<uint8_t> Rsdp(36, 0);
    std::memcpy(Rsdp.data(), "RSD PTR ", 8);
    Rsdp[15] = 2;
    size_t Xsdt = Offset + 40;
    Put(Offset, Rsdp);
    Store(Offset + 24, kRegionStart + Xsdt, 8);
    Put(Xsdt, AcpiBuilder::TableHeader("XSDT", Length != 0 ? Length : (uint32_t)(36 + 8 * Entries.size())));
    for (size_t Index = 0; Index < Entries.size(); Index++) Store(Xsdt + 36 + 8 * Index, Entries[Index], 8);
    Head.Rsdp = kRegionStart + Offset;
    return Xsdt;
  }
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> Result(sizeof Head);
    std::memcpy(Result.data(), &Head, sizeof Head);
    size_t Used = Memory.size();
    while (Used > 0 && Memory[Used - 1] == 0) Used--;
    Result.insert(Result.end(), Memory.begin(), Memory.begin() + (long)Used);
    return Result;
  }
};

// The shape OVMF publishes: other tables around one BGRT whose logo lies in boot-services data.
Machine Typical(size_t Misalign = 0, uint32_t Width = 48, uint32_t Height = 32) {
  Machine M;
  uint64_t Image = M.Put(0x1000 + Misalign, AcpiBuilder::Bitmap(Width, Height, 24));
  M.SetPage(1, kBootServicesData);
  M.SetPage(2, kBootServicesData);
  uint64_t Facp = M.Put(0x200 + Misalign, AcpiBuilder::TableHeader("FACP", 244));
  uint64_t Apic = M.Put(0x300 + Misalign, AcpiBuilder::TableHeader("APIC", 120));
  uint64_t Bgrt = M.Bgrt(0x400 + Misalign, Image);
  M.Tables(0x10 + Misalign, {Facp, Apic, Bgrt});
  return M;
}

void Write(const std::string &Folder, const std::string &Name, const Machine &M) {
  std::string Path = Folder + "/" + Name;
  FILE *File = std::fopen(Path.c_str(), "wb");
  if (File == nullptr) {
    std::perror(Path.c_str());
    std::exit(1);
  }
  std::vector<uint8_t> Bytes = M.Bytes();
  std::fwrite(Bytes.data(), 1, Bytes.size(), File);
  std::fclose(File);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_report_corpus FOLDER\n");
    return 2;
  }
  const std::string Folder = argv[1];
  Write(Folder, "typical", Typical());
  Write(Folder, "odd-addresses", Typical(3));

  Machine Older = Typical();
  Older.Head.Options |= kOlderLogo;
  Write(Folder, "older-logo", Older);

  Machine Two = Typical();
  uint64_t Small = Two.Put(0x4000 + 1, AcpiBuilder::Bitmap(8, 4, 24, 2));
  uint64_t Second = Two.Bgrt(0x800 + 1, Small);
  Two.Tables(0x10, {kRegionStart + 0x400, Second});
  Write(Folder, "two-bgrts", Two);

  Machine LongXsdt = Typical();
  LongXsdt.Store(0x10 + 40 + 4, 0xFFFFFFF0, 4);
  Write(Folder, "xsdt-length-past-memory", LongXsdt);

  Machine Device = Typical();
  Device.Store(0x400 + 40, kRegionStart + 14 * EFI_PAGE_SIZE, 8);
  Write(Folder, "image-on-a-device-page", Device);

  Machine Huge = Typical();
  Huge.Store(0x1000 + 2, 0x7FFFFFF0, 4);
  Write(Folder, "image-size-past-memory", Huge);

  Machine Entries = Typical();
  Entries.Tables(0x10, {0x8000000000000000ull, 0x10, kRegionStart + 15 * EFI_PAGE_SIZE, 0xFEC00000ull,
                        kRegionStart + 0x400});
  Write(Folder, "entries-outside-memory", Entries);

  Machine CutBgrt = Typical();
  uint64_t AtEnd = CutBgrt.Bgrt(14 * EFI_PAGE_SIZE - 20, 0);
  CutBgrt.Tables(0x10, {AtEnd});
  Write(Folder, "bgrt-cut-by-a-device", CutBgrt);

  Machine Bios = Typical();
  Bios.Head.Rsdp = 0xE0010;
  Write(Folder, "rsdp-in-the-bios-area", Bios);

  Machine NoAcpi = Typical();
  NoAcpi.Head.Rsdp = 0;
  Write(Folder, "no-acpi-table", NoAcpi);

  Machine Full = Typical();
  Full.Head.Options |= kOlderLogo;
  Full.Head.CapacityUnits = 4;
  Write(Folder, "full-volume", Full);

  // Images the bitmap rule refuses, and sound but less common bitmaps.
  Machine NotBitmap = Typical();
  NotBitmap.Store(0x1000, 'P' | 'N' << 8, 2);
  Write(Folder, "image-not-a-bitmap", NotBitmap);

  Machine SizePast = Typical();
  SizePast.Store(0x1000 + 2, 0x9000, 4);
  Write(Folder, "size-field-past-the-bitmap", SizePast);

  Machine BitFields = Typical();
  std::vector<uint8_t> Odd(14 + 124 + 5 * 3 * 4 + 2, 0x3C);
  std::memset(Odd.data(), 0, 14 + 124);
  Odd[0] = 'B';
  Odd[1] = 'M';
  for (auto [Offset, Value, Width] : {std::tuple<size_t, uint64_t, size_t>{2, Odd.size(), 4}, {10, 14 + 124, 4},
                                      {14, 124, 4}, {18, 5, 4}, {22, (uint32_t)-3, 4}, {26, 1, 2}, {28, 32, 2},
                                      {30, 3, 4}, {54, 0x00FF0000, 4}, {58, 0x0000FF00, 4}, {62, 0x000000FF, 4}}) {
    StoreLittleEndian(Odd, Offset, Value, Width);
  }
  BitFields.Put(0x1000, Odd);
  Write(Folder, "bit-fields-top-down-padded", BitFields);

  Machine Rle = Typical();
  Rle.Store(0x1000 + 28, 8, 2);
  Rle.Store(0x1000 + 30, 1, 4);
  Rle.Store(0x1000 + 2, 0x36 + 1024 + 200, 4);
  Rle.Store(0x1000 + 10, 0x36 + 1024, 4);
  Write(Folder, "rle8", Rle);

  // Screens to judge the logo against: landscape with the logo centred, a portrait panel with it
  // turned, and an output that will not describe its modes.
  Machine Screen = Typical();
  Screen.Head.Options |= kScreen;
  Screen.Store(0x400 + 48, (1280 - 48) / 2, 4);
  Screen.Store(0x400 + 52, (800 - 32) / 2, 4);
  Write(Folder, "screen-centred", Screen);
  Machine Portrait = Screen;
  Portrait.Head.Options |= kPortrait;
  Portrait.Store(0x400 + 38, 0x03, 1);
  Write(Folder, "screen-portrait-turned", Portrait);
  Machine Silent = Screen;
  Silent.Head.Options |= (uint8_t)(11 << 4);
  Write(Folder, "screen-query-mode-fails", Silent);

  // A volume that will not rename, as U-Boot's: with and without an older logo, nearly full.
  for (uint8_t Options : {kRenamesRefused, (uint8_t)(kRenamesRefused | kOlderLogo)}) {
    Machine NoRename = Typical();
    NoRename.Head.Options = Options;
    Write(Folder, "renames-refused-" + std::to_string(Options), NoRename);
    NoRename.Head.CapacityUnits = 30;
    Write(Folder, "renames-refused-full-" + std::to_string(Options), NoRename);
  }

  // Every kind of call failing, early; pool allocations at every line of the report, since one
  // failing there keeps that line off the console.
  for (uint8_t Failing = 1; Failing < std::size(kFailingCalls); Failing++) {
    uint8_t Skips = kFailingCalls[Failing] == SimCall::AllocatePool ? 20 : 2;
    for (uint8_t Skip = 0; Skip < Skips; Skip++) {
      Machine Fails = Typical();
      Fails.Head.Options = (uint8_t)(kOlderLogo | Failing << 4);
      Fails.Head.FailSkip = Skip;
      Write(Folder, "failing-call-" + std::to_string(Failing) + "-" + std::to_string(Skip), Fails);
      if (Skip < 3) {
        Fails.Head.Options |= kRenamesRefused;
        Write(Folder, "failing-call-" + std::to_string(Failing) + "-" + std::to_string(Skip) + "-no-rename", Fails);
      }
    }
  }
  return 0;
}
