// BMP Suite, the standard BMP test suite (good, questionable and bad files), read where the
// machine keeps it, each file reported and saved by the whole application: in memory as a
// firmware would hold it, followed by readable memory as far as its size field reaches, whatever
// that says. Every good file is saved byte for byte; no file makes the save write more than a page
// that is not the file's own bytes.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "app/App.h"
#include "firmware/Guids.h"
#include "sim/AcpiBuilder.h"
#include "sim/SimFileSystem.h"
#include "sim/SimFirmware.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSuite = fs::path(QUILLON_SHARED_DATA) / "bmpsuite" / "images";

// A volume can take this much, so a save that runs away fails rather than fill the host.
constexpr uint64_t kVolumeBytes = 64ull << 20;

std::vector<uint8_t> ReadFile(const fs::path &Path) {
  std::ifstream Stream(Path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(Stream)), std::istreambuf_iterator<char>());
}

uint32_t SizeField(const std::vector<uint8_t> &Bytes) {
  uint32_t Size = 0;
  if (Bytes.size() >= 6) std::memcpy(&Size, &Bytes[2], 4);
  return Size;
}

void SetField(std::vector<uint8_t> &Bytes, size_t Offset, uint32_t Value) { std::memcpy(&Bytes[Offset], &Value, 4); }

// What the report made of one file.
struct Outcome {
  bool Saved;
  std::string Refusal;         // the words after "Won't save logo image @[...]: "
  std::vector<uint8_t> Logo;   // the file on the volume afterwards
  EFI_STATUS Status;
};

// The file at a page boundary in memory the map calls boot-services data, with readable memory
// behind it as far as its size field reaches, and a BGRT pointing at it.
Outcome Report(const std::vector<uint8_t> &Bytes) {
  uint64_t Reach = std::max<uint64_t>(Bytes.size(), SizeField(Bytes));
  size_t Pages = (size_t)((Reach + EFI_PAGE_SIZE - 1) / EFI_PAGE_SIZE);
  size_t Mapped = Pages * EFI_PAGE_SIZE;
  void *Memory = mmap(nullptr, Mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  EXPECT_NE(Memory, MAP_FAILED);
  std::memcpy(Memory, Bytes.data(), Bytes.size());

  SimFirmware Firmware;
  SimFileSystem Volume(Firmware);
  AcpiBuilder Acpi(Firmware);
  Volume.SetCapacity(kVolumeBytes);
  Firmware.InstallOnImage(EFI_SHELL_PARAMETERS_PROTOCOL_GUID);
  Firmware.DescribeMemory((uint64_t)(uintptr_t)Memory, Pages, EfiBootServicesData);
  uint64_t Bgrt = Acpi.Bgrt((uint64_t)(uintptr_t)Memory);
  Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, (void *)Acpi.Rsdp(Acpi.Xsdt({Bgrt})));

  Outcome Result{};
  Result.Status = AppEntry(Firmware.ImageHandle(), Firmware.SystemTable());
  std::u16string Text = Firmware.ConsoleText();
  std::string Console(Text.begin(), Text.end());
  Result.Saved = Console.find("BIOS logo has been saved to 'BIOSLogo.bmp'") != std::string::npos;
  size_t Refused = Console.find("  Won't save logo image @[");
  if (Refused != std::string::npos) {
    size_t Words = Console.find("]: ", Refused) + 3;
    Result.Refusal = Console.substr(Words, Console.find('\r', Words) - Words);
  }
  if (const std::vector<uint8_t> *Logo = Volume.Find(u"BIOSLogo.bmp")) Result.Logo = *Logo;
  munmap(Memory, Mapped);
  return Result;
}

std::vector<fs::path> SuiteFiles(const std::string &Folder) {
  std::vector<fs::path> Files;
  for (const auto &Entry : fs::directory_iterator(kSuite / Folder)) {
    if (Entry.path().extension() == ".bmp") Files.push_back(Entry.path());
  }
  std::sort(Files.begin(), Files.end());
  return Files;
}

class BmpSuite : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::is_directory(kSuite)) << "BMP Suite is not at " << kSuite << " (QUILLON_SHARED_DATA)";
  }
};

TEST_F(BmpSuite, EveryGoodFileIsSavedByteForByte) {
  std::vector<fs::path> Good = SuiteFiles("g");
  ASSERT_GE(Good.size(), 20u);
  for (const fs::path &File : Good) {
    std::vector<uint8_t> Bytes = ReadFile(File);
    Outcome Result = Report(Bytes);
    EXPECT_TRUE(Result.Saved) << File.filename() << ": " << Result.Refusal;
    EXPECT_EQ(Result.Status, EFI_SUCCESS) << File.filename();
    EXPECT_TRUE(Result.Logo == Bytes) << File.filename() << ": the saved file is not the bitmap byte for byte";
  }
}

// Whatever a file's size field says, what is saved is the file's own bytes and at most a page more
// of the memory behind it. The most any file made the save write past its own bytes is printed, as
// are the counts, for the record.
TEST_F(BmpSuite, NoFileMakesTheSaveWriteMoreThanAPageThatIsNotItsOwn) {
  for (const std::string Folder : {"g", "q", "b", "x"}) {
    if (!fs::is_directory(kSuite / Folder)) continue;
    size_t Saved = 0;
    size_t Refused = 0;
    uint64_t MostNotOwn = 0;
    for (const fs::path &File : SuiteFiles(Folder)) {
      std::vector<uint8_t> Bytes = ReadFile(File);
      Outcome Result = Report(Bytes);
      if (!Result.Saved) {
        Refused++;
        EXPECT_FALSE(Result.Refusal.empty()) << File.filename() << ": neither saved nor refused by the bitmap rule";
        std::printf("  %s/%s: %s\n", Folder.c_str(), File.filename().c_str(), Result.Refusal.c_str());
        continue;
      }
      Saved++;
      size_t Own = std::min(Bytes.size(), Result.Logo.size());
      EXPECT_TRUE(std::equal(Result.Logo.begin(), Result.Logo.begin() + (long)Own, Bytes.begin()))
          << File.filename() << ": the saved file does not start with the file's bytes";
      uint64_t NotOwn = Result.Logo.size() > Bytes.size() ? Result.Logo.size() - Bytes.size() : 0;
      EXPECT_LE(NotOwn, EFI_PAGE_SIZE) << File.filename();
      MostNotOwn = std::max(MostNotOwn, NotOwn);
    }
    std::printf("BMP Suite %s/: %zu saved, %zu refused; the most saved that was not a file's own bytes: %llu\n",
                Folder.c_str(), Saved, Refused, (unsigned long long)MostNotOwn);
  }
}

// Files changed the way a lying or broken firmware would, and what the rule says of each.
struct Bent {
  const char *File;
  const char *What;
  std::function<void(std::vector<uint8_t> &)> Bend;
  const char *Refusal;
};

const Bent kBent[] = {
    {"b/reallybig.bmp", "3,000,000 x 2,000,000 pixels and a 2 GiB size field", [](std::vector<uint8_t> &) {},
     "larger than any screen"},
    {"g/rgb24.bmp", "set to 1920 x 1080 with a size field 64 KiB past its end",
     [](std::vector<uint8_t> &B) {
       SetField(B, 18, 1920);
       SetField(B, 22, 1080);
       SetField(B, 2, (uint32_t)B.size() + 65536);
     },
     "size field short of the pixels"},
    {"g/pal8rle.bmp", "RLE8 with a size field 64 KiB past its end",
     [](std::vector<uint8_t> &B) { SetField(B, 2, (uint32_t)B.size() + 65536); }, "size field past the bitmap's own bytes"},
    {"g/pal8rle.bmp", "RLE8 set to 1920 x 1080, its worst case megabytes, with a size field 1 MiB past its end",
     [](std::vector<uint8_t> &B) {
       SetField(B, 18, 1920);
       SetField(B, 22, 1080);
       SetField(B, 2, (uint32_t)B.size() + (1u << 20));
     },
     "size field past the bitmap's own bytes"},
    {"g/pal4rle.bmp", "RLE4 with no stated data size", [](std::vector<uint8_t> &B) { SetField(B, 34, 0); },
     "no run-length data size"},
    {"q/pal1huffmsb.bmp", "OS/2 Huffman", [](std::vector<uint8_t> &) {}, "OS/2 Huffman coding"},
    {"q/rgb24rle24.bmp", "OS/2 RLE24", [](std::vector<uint8_t> &) {}, "OS/2 RLE24 coding"},
};

TEST_F(BmpSuite, LyingSizesAndOs2CodingsAreRefusedForTheirOwnReason) {
  for (const Bent &B : kBent) {
    std::vector<uint8_t> Bytes = ReadFile(kSuite / B.File);
    ASSERT_GT(Bytes.size(), 54u) << B.File;
    B.Bend(Bytes);
    Outcome Result = Report(Bytes);
    EXPECT_FALSE(Result.Saved) << B.File << ", " << B.What;
    EXPECT_EQ(Result.Refusal, B.Refusal) << B.File << ", " << B.What;
    EXPECT_EQ(Result.Status, EFI_COMPROMISED_DATA) << B.File << ", " << B.What;
  }
}

// Every run-length file the suite holds states its data size exactly: the data offset and that
// size make the file, so the rule bounds such a logo to its own bytes.
TEST_F(BmpSuite, RunLengthFilesAreBoundedByTheirStatedSize) {
  size_t Checked = 0;
  for (const std::string Folder : {"g", "q", "b"}) {
    for (const fs::path &File : SuiteFiles(Folder)) {
      std::vector<uint8_t> Bytes = ReadFile(File);
      uint32_t HeaderBytes, Compression, DataOffset, ImageSize;
      std::memcpy(&HeaderBytes, &Bytes[14], 4);
      std::memcpy(&Compression, &Bytes[30], 4);
      if (HeaderBytes < 40 || (Compression != 1 && Compression != 2)) continue;
      std::memcpy(&DataOffset, &Bytes[10], 4);
      std::memcpy(&ImageSize, &Bytes[34], 4);
      Checked++;
      EXPECT_EQ((uint64_t)DataOffset + ImageSize, Bytes.size()) << File.filename();
      Outcome Result = Report(Bytes);
      if (Result.Saved) EXPECT_EQ(Result.Logo, Bytes) << File.filename();
    }
  }
  EXPECT_GE(Checked, 12u) << "fewer run-length files than the suite holds";
}

}  // namespace
