// Runs the whole application on a simulated machine whose memory is the fuzz input: the
// configuration table's RSDP address, the memory map of a region at a fixed address, and the
// region's bytes, where every table, entry and bitmap address comes from the input too. Pages the
// map does not call memory are forbidden to the address sanitizer, so reading one ends the run;
// afterwards no pool buffer or file handle may be left, and the volume must hold the older logo
// unchanged or exactly the last logo the report said it saved, and no file of its own beside it.
#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/App.h"
#include "app/ReadableMemory.h"
#include "firmware/Guids.h"
#include "fuzz/ReportInput.h"
#include "sim/SimFileSystem.h"
#include "sim/SimFirmware.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#endif
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(Start, Bytes) ((void)(Start), (void)(Bytes))
#define ASAN_UNPOISON_MEMORY_REGION(Start, Bytes) ((void)(Start), (void)(Bytes))
#endif

using namespace report_fuzz;

namespace {

constexpr const char16_t *kLogoName = u"BIOSLogo.bmp";

uint8_t *Region() {
  static uint8_t *Mapped = [] {
    void *At = mmap((void *)kRegionStart, kRegionBytes, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (At != (void *)kRegionStart) {
      std::fprintf(stderr, "report fuzz: cannot map the region at %#llx\n", (unsigned long long)kRegionStart);
      std::abort();
    }
    return (uint8_t *)At;
  }();
  return Mapped;
}

void Check(bool Condition, const char *What) {
  if (!Condition) {
    std::fprintf(stderr, "report fuzz: %s\n", What);
    std::abort();
  }
}

bool StartsWith(const std::u16string &Text, const char16_t *Prefix) { return Text.rfind(Prefix, 0) == 0; }

// The bitmap the report last said it saved: its address from the image-address line before the
// saved line. False when it saved none. Each console write is one line of the report.
bool LastSavedImage(const std::vector<std::u16string> &Shown, uint64_t *Image) {
  auto Line = Shown.rbegin();
  while (Line != Shown.rend() && *Line != u"BIOS logo has been saved to 'BIOSLogo.bmp'\r\n") ++Line;
  while (Line != Shown.rend() && !StartsWith(*Line, u"  Image address @[0x")) ++Line;
  if (Line == Shown.rend()) return false;
  *Image = std::stoull(std::string(Line->begin() + 20, Line->end() - 3), nullptr, 16);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Length) {
  if (Length < sizeof(Header)) return 0;
  Header Head;
  std::memcpy(&Head, Data, sizeof Head);
  Data += sizeof Head;
  Length -= sizeof Head;

  uint8_t *Memory = Region();
  ASAN_UNPOISON_MEMORY_REGION(Memory, kRegionBytes);
  std::memset(Memory, 0, kRegionBytes);
  std::memcpy(Memory, Data, Length < kRegionBytes ? Length : kRegionBytes);

  SimFirmware Firmware;
  SimFileSystem Volume(Firmware);
  Firmware.InstallOnImage(EFI_SHELL_PARAMETERS_PROTOCOL_GUID);
  Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, (void *)(uintptr_t)Head.Rsdp);
  for (size_t Page = 0; Page < kRegionPages; Page++) {
    uint8_t Kind = (Head.PageKinds[Page / 2] >> (4 * (Page % 2))) & 0xF;
    uint32_t Type;
    bool Described = PageType(Kind, &Type);
    if (Described) Firmware.DescribeMemory(kRegionStart + Page * EFI_PAGE_SIZE, 1, Type);
    if (!Described || !IsMemoryType(Type)) ASAN_POISON_MEMORY_REGION(Memory + Page * EFI_PAGE_SIZE, EFI_PAGE_SIZE);
  }
  std::map<std::u16string, std::vector<uint8_t>> Before;
  if ((Head.Options & kOlderLogo) != 0) {
    Before[kLogoName] = std::vector<uint8_t>(std::begin(kOlderLogoBytes), std::end(kOlderLogoBytes));
  }
  Volume.Files = Before;
  if (Head.CapacityUnits != 0) Volume.SetCapacity((uint64_t)Head.CapacityUnits * kCapacityUnit);
  uint8_t Failing = (uint8_t)(Head.Options >> 4);
  if (Failing != 0 && Failing < std::size(kFailingCalls)) {
    Firmware.FailCall(kFailingCalls[Failing], EFI_DEVICE_ERROR, Head.FailSkip, 1);
  }

  AppEntry(Firmware.ImageHandle(), Firmware.SystemTable());

  Check(Firmware.OutstandingPool() == 0, "a pool buffer was left allocated");
  Check(Firmware.BadFrees() == 0, "a pool buffer was freed that was not allocated");
  Check(Volume.OpenHandles() == 0, "a file handle was left open");

  const std::vector<std::u16string> &Shown = Firmware.ConsoleWrites();
  std::map<std::u16string, std::vector<uint8_t>> After = Volume.Files;
  uint64_t Image;
  if (LastSavedImage(Shown, &Image)) {
    // The report says so only after checking the whole bitmap, so it may be read here too.
    const std::vector<uint8_t> *Saved = Volume.Find(kLogoName);
    Check(Saved != nullptr, "a saved logo is not on the volume");
    uint32_t Size;
    std::memcpy(&Size, (const void *)(uintptr_t)(Image + 2), 4);
    Check(Saved->size() == Size && (Size == 0 || std::memcmp(Saved->data(), (const void *)(uintptr_t)Image, Size) == 0),
          "the file is not exactly the last logo saved");
    After.erase(kLogoName);
    Before.erase(kLogoName);
  }
  // A logo replaced by a later one that could not be deleted keeps its backup name, and the
  // report says so.
  bool KeptBackup = false;
  for (const std::u16string &Line : Shown) KeptBackup |= StartsWith(Line, u"Error Delete  [");
  for (auto Found = After.begin(); Found != After.end();) {
    bool Backup = KeptBackup && Before.count(Found->first) == 0 && Found->first.rfind(u"BIOSLogo.old", 0) == 0;
    Found = Backup ? After.erase(Found) : std::next(Found);
  }
  Check(After == Before, "files other than the logo were left, changed or lost");

  ASAN_UNPOISON_MEMORY_REGION(Memory, kRegionBytes);
  return 0;
}
