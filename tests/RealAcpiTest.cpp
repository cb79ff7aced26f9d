// Real machines' XSDT and BGRT tables, read where the machine keeps them, replayed as they are:
// each BGRT's bytes unchanged, in an XSDT of the machine's own header whose other entries are
// tables of the signatures and lengths the machine had. Their images are not kept, so each logo
// lies where nothing can be read. Every verdict line is checked against the fields the BGRT holds,
// worked out here from the bytes; and how many machines trip each rule is printed, for the record.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "VerdictWords.h"
#include "app/App.h"
#include "firmware/Guids.h"
#include "sim/AcpiBuilder.h"
#include "sim/SimFileSystem.h"
#include "sim/SimFirmware.h"

namespace {

namespace fs = std::filesystem;
using enum VerdictText;

const fs::path kTables = fs::path(QUILLON_SHARED_DATA) / "realacpi" / "tables";

std::vector<uint8_t> ReadFile(const fs::path &Path) {
  std::ifstream Stream(Path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(Stream)), std::istreambuf_iterator<char>());
}

template <typename Type>
Type Field(const std::vector<uint8_t> &Bytes, size_t Offset) {
  Type Value;
  std::memcpy(&Value, &Bytes[Offset], sizeof Value);
  return Value;
}

// An XSDT entry of a machine: a BGRT's file, or another table's signature and length.
struct Entry {
  std::string BgrtFile;  // empty for another table
  std::string Signature;
  uint32_t Length = 0;
};

// The machine's XSDT entries in its order; BGRTs whose place is unknown come after the others.
std::vector<Entry> ReadEntries(const fs::path &Machine) {
  std::map<int, Entry> Placed;
  std::vector<Entry> Rest;
  std::vector<Entry> Anywhere;
  std::ifstream Text(Machine / "machine.txt");
  for (std::string Line; std::getline(Text, Line);) {
    std::istringstream Words(Line);
    std::string Kind;
    Words >> Kind;
    if (Kind == "entry") {
      int Index;
      std::string Address, Signature, Last;
      Words >> Index >> Address >> Signature >> Last;
      Placed[Index] = Signature == "BGRT" ? Entry{Last, "BGRT", 0} : Entry{"", Signature, (uint32_t)std::stoul(Last)};
    } else if (Kind == "pool") {
      std::string Signature;
      uint32_t Length;
      Words >> Signature >> Length;
      Rest.push_back(Entry{"", Signature, Length});
    } else if (Kind == "anywhere") {
      for (std::string File; Words >> File;) Anywhere.push_back(Entry{File, "BGRT", 0});
    }
  }
  std::vector<Entry> Entries;
  for (auto &[Index, E] : Placed) Entries.push_back(E);
  Entries.insert(Entries.end(), Rest.begin(), Rest.end());
  Entries.insert(Entries.end(), Anywhere.begin(), Anywhere.end());
  return Entries;
}

// The verdict lines a BGRT's bytes call for, with no image readable and no graphics output.
std::vector<std::string> ExpectedVerdict(const std::vector<uint8_t> &Bgrt, int Number) {
  uint32_t Length = Field<uint32_t>(Bgrt, 4);
  uint8_t Revision = Bgrt[8];
  uint16_t Version = Field<uint16_t>(Bgrt, 36);
  uint8_t Status = Bgrt[38];
  uint8_t Type = Bgrt[39];
  uint64_t Image = Field<uint64_t>(Bgrt, 40);
  uint8_t Sum = 0;
  for (size_t Index = 0; Index < Length && Index < Bgrt.size(); Index++) Sum = (uint8_t)(Sum + Bgrt[Index]);
  auto Mark = [](bool Wrong) { return Wrong ? "!" : ""; };
  char Text[160];
  std::vector<std::string> Lines;
  std::snprintf(Text, sizeof Text, "  BGRT %d checksum %s", Number,
                Words(Length > Bgrt.size() ? ChecksumNotTaken : Sum == 0 ? ChecksumRight : ChecksumWrong).c_str());
  Lines.push_back(Text);
  std::snprintf(Text, sizeof Text, "  Length %u%s, revision %u%s, version %u%s, type %u%s, status 0x%02X", Length,
                Mark(Length != 56), Revision, Mark(Revision != 1), Version, Mark(Version != 1), Type, Mark(Type != 0),
                Status);
  Lines.push_back(Text);
  std::snprintf(Text, sizeof Text, "  Status: %s, rotated %d degrees%s", (Status & 1) ? "displayed" : "not displayed",
                (Status >> 1 & 3) * 90, (Status & 0xF8) ? ", reserved bits set" : "");
  Lines.push_back(Text);
  if (Image != 0) Lines.push_back("  Image memory: not in the memory map");
  Lines.push_back("  Screen: no graphics output");
  // Linux reads the first BGRT alone, and the image of none of these lies in described memory.
  if (Number != 1) {
    Lines.push_back(Says(LinuxEfiBgrt, NeverRead, NotFirstBgrt));
  } else {
    Lines.push_back(Length < 56    ? Says(LinuxEfiBgrt, Ignored, InvalidLength, Length, 56)
                    : Version > 1  ? Says(LinuxEfiBgrt, Ignored, InvalidVersion, Version, 1)
                    : Type != 0    ? Says(LinuxEfiBgrt, Ignored, InvalidImageType, Type, 0)
                    : Image == 0   ? Says(LinuxEfiBgrt, Ignored, NullImageAddress)
                                   : Says(LinuxEfiBgrt, Ignored, ImageNotInMap));
    Lines.push_back(Says(LinuxEfifb, WontRedraw, EfiBgrtIgnores));
    Lines.push_back(Says(VerdictText::Plymouth, WontShow, EfiBgrtIgnores));
  }
  Lines.push_back(Says(VerdictText::Windows, WontShow, NoBitmap));
  return Lines;
}

// The report's lines that begin a verdict and follow it, from each BGRT's verdict on.
std::vector<std::string> VerdictLines(const std::u16string &Console) {
  std::vector<std::string> Lines;
  std::string Line;
  bool In = false;
  for (char16_t Character : Console) {
    if (Character == u'\r') continue;
    if (Character != u'\n') {
      Line.push_back((char)Character);
      continue;
    }
    if (Line.rfind("  BGRT ", 0) == 0) In = true;
    if (Line.rfind("  Found BGRT", 0) == 0) In = false;
    if (In) Lines.push_back(Line);
    Line.clear();
  }
  return Lines;
}

TEST(RealMachines, EachVerdictLineSaysWhatTheBgrtsFieldsHold) {
  ASSERT_TRUE(fs::is_directory(kTables)) << "the real machines' tables are not at " << kTables
                                         << " (QUILLON_SHARED_DATA)";
  std::vector<fs::path> Machines;
  for (const auto &Folder : fs::directory_iterator(kTables)) Machines.push_back(Folder.path());
  std::sort(Machines.begin(), Machines.end());
  ASSERT_EQ(Machines.size(), 107u);

  // Machines that trip each rule, and BGRTs that do.
  std::map<std::string, int> TrippedMachines;
  std::map<std::string, int> TrippedBgrts;
  int BgrtCount = 0;
  for (const fs::path &Machine : Machines) {
    SCOPED_TRACE(Machine.filename().string());
    SimFirmware Firmware;
    SimFileSystem Volume(Firmware);
    AcpiBuilder Acpi(Firmware);
    Firmware.InstallOnImage(EFI_SHELL_PARAMETERS_PROTOCOL_GUID);

    std::vector<uint64_t> Addresses;
    std::vector<std::vector<uint8_t>> Bgrts;
    for (const Entry &E : ReadEntries(Machine)) {
      if (E.BgrtFile.empty()) {
        Addresses.push_back(Acpi.Table(E.Signature, E.Length));
      } else {
        Bgrts.push_back(ReadFile(Machine / E.BgrtFile));
        Addresses.push_back(Acpi.Place(Bgrts.back()));
      }
    }
    ASSERT_FALSE(Bgrts.empty());
    // The machine's own XSDT header, its entries those placed here.
    std::vector<uint8_t> Xsdt = ReadFile(Machine / "XSDT.bin");
    Xsdt.resize(36);
    for (uint64_t Address : Addresses) {
      for (int Byte = 0; Byte < 8; Byte++) Xsdt.push_back((uint8_t)(Address >> (8 * Byte)));
    }
    uint32_t XsdtLength = (uint32_t)Xsdt.size();
    std::memcpy(&Xsdt[4], &XsdtLength, 4);
    AcpiBuilder::SetChecksum(Xsdt);
    Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, (void *)Acpi.Rsdp(Acpi.Place(Xsdt)));

    AppEntry(Firmware.ImageHandle(), Firmware.SystemTable());

    std::vector<std::string> Expected;
    std::map<std::string, bool> Tripped;
    int Displayed = 0;
    int LastDisplayed = 0;
    for (size_t Index = 0; Index < Bgrts.size(); Index++) {
      const std::vector<uint8_t> &B = Bgrts[Index];
      std::vector<std::string> Lines = ExpectedVerdict(B, (int)Index + 1);
      Expected.insert(Expected.end(), Lines.begin(), Lines.end());
      uint8_t Status = B[38];
      uint64_t Image = Field<uint64_t>(B, 40);
      if (Status & 1) {
        Displayed++;
        LastDisplayed = (int)Index + 1;
      }
      std::map<std::string, bool> Rules = {
          {"checksum wrong", Lines[0].find("wrong") != std::string::npos},
          {"length not 56", Field<uint32_t>(B, 4) != 56},
          {"header revision not 1", B[8] != 1},
          {"version not 1", Field<uint16_t>(B, 36) != 1},
          {"image type not 0", B[39] != 0},
          {"not marked displayed", (Status & 1) == 0},
          {"rotated", (Status & 6) != 0},
          {"reserved status bits set", (Status & 0xF8) != 0},
          {"no image address", Image == 0},
          {"image above 4 GiB", Image >> 32 != 0},
          {"Linux's efi-bgrt ignores it for its fields",
           Index == 0 && (Field<uint32_t>(B, 4) < 56 || Field<uint16_t>(B, 36) > 1 || B[39] != 0 || Image == 0)},
          {"Linux never reads it: not the first BGRT", Index != 0},
      };
      for (const auto &[Rule, Broken] : Rules) {
        TrippedMachines[Rule] += 0;  // every rule is listed, tripped or not
        if (!Broken) continue;
        TrippedBgrts[Rule]++;
        Tripped[Rule] = true;
      }
      BgrtCount++;
    }
    if (Bgrts.size() > 1) {
      Tripped["several BGRTs"] = true;
      char Text[120];
      std::snprintf(Text, sizeof Text, "  BGRTs: %zu, marked displayed: %d, the last BGRT %d", Bgrts.size(), Displayed,
                    LastDisplayed);
      Expected.push_back(Text);
      Expected.push_back("  BIOSLogo.bmp holds the last logo saved, BGRT 0's (0: none)");
    }
    for (const auto &[Rule, Broken] : Tripped) TrippedMachines[Rule] += Broken;
    EXPECT_EQ(VerdictLines(Firmware.ConsoleText()), Expected);
    EXPECT_EQ(Firmware.OutstandingPool(), 0u);
  }

  std::printf("%d BGRTs on %zu machines; how many trip each rule:\n", BgrtCount, Machines.size());
  for (const auto &[Rule, Machines] : TrippedMachines) {
    std::printf("  %-44s %3d machines, %3d BGRTs\n", Rule.c_str(), Machines, TrippedBgrts[Rule]);
  }
}

}  // namespace
