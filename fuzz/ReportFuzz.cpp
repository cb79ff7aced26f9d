// Runs the whole application on a simulated machine whose memory is the fuzz input: the
// configuration table's RSDP address, the memory map of a region at a fixed address, and the
// region's bytes, where every table, entry and bitmap address comes from the input too. Pages the
// map does not call memory are forbidden to the address sanitizer, so reading one ends the run;
// afterwards no pool buffer or file handle may be left, and the volume must hold the older logo
// unchanged or exactly the last logo the report said it saved, a sound bitmap from memory, and no
// file of its own beside it.
#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/App.h"
#include "app/BitmapLayout.h"
#include "app/ReadableMemory.h"
#include "firmware/Guids.h"
#include "fuzz/FuzzRegion.h"
#include "fuzz/ReportInput.h"
#include "sim/SimFileSystem.h"
#include "sim/SimFirmware.h"
#include "sim/SimGraphicsOutput.h"

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

// One run allocates far less than this quarantine, so a use after free within a run is still
// caught; a larger one only keeps handing out fresh pages, whose faults then cost more than the run.
extern "C" const char *__asan_default_options() { return "quarantine_size_mb=16"; }

namespace {

constexpr const char16_t *kLogoName = u"BIOSLogo.bmp";

// What the run showed and left, printed before a failed check ends it.
const SimFirmware *gShownFirmware = nullptr;
const SimFileSystem *gShownVolume = nullptr;

void Check(bool Condition, const char *What) {
  if (Condition) return;
  std::fprintf(stderr, "report fuzz: %s\n", What);
  if (gShownFirmware != nullptr) {
    for (size_t Index = 0; Index < gShownFirmware->ConsoleWriteCount(); Index++) {
      std::u16string_view Line = gShownFirmware->ConsoleWrite(Index);
      std::fprintf(stderr, "  console: %s", std::string(Line.begin(), Line.end()).c_str());
    }
  }
  if (gShownVolume != nullptr) {
    for (const auto &[Name, Bytes] : gShownVolume->Files) {
      std::fprintf(stderr, "  file: %s, %zu bytes\n", std::string(Name.begin(), Name.end()).c_str(), Bytes.size());
    }
  }
  std::abort();
}

bool StartsWith(std::u16string_view Text, std::u16string_view Prefix) { return Text.substr(0, Prefix.size()) == Prefix; }

// The bitmap the report last said it saved: its address from the lines of that BGRT's block, the
// image address or the same address again. False when it saved none, or when a pool allocation
// that failed on purpose kept both of those lines off the console. Each write is one line.
bool LastSavedImage(const SimFirmware &Firmware, uint64_t *Image) {
  size_t Line = Firmware.ConsoleWriteCount();
  while (Line > 0 && Firmware.ConsoleWrite(Line - 1) != u"BIOS logo has been saved to 'BIOSLogo.bmp'\r\n") Line--;
  for (; Line > 0 && !StartsWith(Firmware.ConsoleWrite(Line - 1), u"  Found BGRT @["); Line--) {
    std::u16string_view Shown = Firmware.ConsoleWrite(Line - 1);
    for (std::u16string_view Prefix : {u"  Image address @[0x", u"     [0x"}) {
      if (StartsWith(Shown, Prefix)) {
        *Image = std::stoull(std::string(Shown.begin() + (long)Prefix.size(), Shown.end() - 3), nullptr, 16);
        return true;
      }
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Length) {
  if (Length < sizeof(Header)) return 0;
  Header Head;
  std::memcpy(&Head, Data, sizeof Head);
  Data += sizeof Head;
  Length -= sizeof Head;

  uint8_t *Memory = FillRegion(Data, Length);

  SimFirmware Firmware;
  SimFileSystem Volume(Firmware);
  Firmware.InstallOnImage(EFI_SHELL_PARAMETERS_PROTOCOL_GUID);
  Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, (void *)(uintptr_t)Head.Rsdp);
  // Pages of one kind side by side are one descriptor, as firmware describes them; the report reads
  // across descriptors of different types that meet all the same.
  for (size_t Page = 0, Pages; Page < kRegionPages; Page += Pages) {
    uint8_t Kind = PageKindOf(Head.PageKinds, Page);
    for (Pages = 1; Page + Pages < kRegionPages; Pages++) {
      if (PageKindOf(Head.PageKinds, Page + Pages) != Kind) break;
    }
    uint32_t Type;
    bool Described = PageType(Kind, &Type);
    if (Described) Firmware.DescribeMemory(kRegionStart + Page * EFI_PAGE_SIZE, Pages, Type);
    if (!Described || !IsMemoryType(Type)) ASAN_POISON_MEMORY_REGION(Memory + Page * EFI_PAGE_SIZE, Pages * EFI_PAGE_SIZE);
  }
  std::map<std::u16string, std::vector<uint8_t>> Before;
  if ((Head.Options & kOlderLogo) != 0) {
    Before[kLogoName] = std::vector<uint8_t>(std::begin(kOlderLogoBytes), std::end(kOlderLogoBytes));
  }
  Volume.Files = Before;
  if (Head.CapacityUnits != 0) Volume.SetCapacity((uint64_t)Head.CapacityUnits * kCapacityUnit);
  Volume.SetRenames((Head.Options & kRenamesRefused) == 0);
  // A screen in its second of three modes, as QEMU's VGA under OVMF, or a tablet's portrait panel.
  std::optional<SimGraphicsOutput> Screen;
  if ((Head.Options & kScreen) != 0) {
    if ((Head.Options & kPortrait) != 0) {
      Screen.emplace(Firmware, std::vector<SimGraphicsOutput::Mode>{{800, 1280}}, 0);
    } else {
      Screen.emplace(Firmware, std::vector<SimGraphicsOutput::Mode>{{640, 480}, {1280, 800}, {1920, 1080}}, 1);
    }
  }
  uint8_t Failing = (uint8_t)(Head.Options >> 4);
  if (Failing != 0 && Failing < std::size(kFailingCalls)) {
    Firmware.FailCall(kFailingCalls[Failing], EFI_DEVICE_ERROR, Head.FailSkip, 1);
  }

  // The report as AppEntry runs it once a shell started it, keeping its record.
  Firmware.Activate();
  ReportRecord Record;
  ReportBootLogo(nullptr, &Record);
  gShownFirmware = &Firmware;
  gShownVolume = &Volume;

  Check(Firmware.OutstandingPool() == 0, "a pool buffer was left allocated");
  Check(Firmware.BadFrees() == 0, "a pool buffer was freed that was not allocated");
  Check(Volume.OpenHandles() == 0, "a file handle was left open");

  std::map<std::u16string, std::vector<uint8_t>> After = Volume.Files;
  // Files the report says it left: a scratch file that would not go, one kept because it holds the
  // only whole copy of the new logo, a logo file whose failed write would not go (empty, or cut
  // off), and an older logo that could not take its name back.
  std::vector<std::u16string> KeptNew;  // in the order the report names them
  bool SavedSinceKept = false;          // a later BGRT's logo saved after the last one kept aside
  std::u16string OlderLeftAs;
  std::map<std::u16string, std::u16string> Left;  // name, and what the report says of it
  bool KeptBackup = false;
  for (size_t Line = 0; Line < Firmware.ConsoleWriteCount(); Line++) {
    std::u16string_view Shown = Firmware.ConsoleWrite(Line);
    if (Shown == u"BIOS logo has been saved to 'BIOSLogo.bmp'\r\n") SavedSinceKept = !KeptNew.empty();
    bool Kept = StartsWith(Shown, u"The new logo is kept as '");
    bool Renamed = StartsWith(Shown, u"Error Rename  [");
    if (!Kept && !Renamed && !StartsWith(Shown, u"Error Delete  [")) continue;
    size_t Quote = Shown.find(u'\'');
    if (Quote == Shown.npos) {
      KeptBackup = KeptBackup || !Renamed;
      continue;
    }
    size_t EndQuote = Shown.find(u'\'', Quote + 1);
    std::u16string Named(Shown.substr(Quote + 1, EndQuote - Quote - 1));
    if (Kept) {
      KeptNew.push_back(Named);
      SavedSinceKept = false;
    }
    else if (Renamed) OlderLeftAs = Named;
    else Left[Named] = std::u16string(Shown.substr(EndQuote + 1));
  }

  // The logo: as it was, or a whole bitmap from memory, and exactly the last one the report says
  // it saved when its lines say which. Without a rename, a failed write after the old logo is gone
  // keeps the new one whole under the scratch name; a logo file beside it is only what the report
  // names, and holds nothing or the start of the new logo.
  const std::vector<uint8_t> *Saved = Volume.Find(kLogoName);
  auto Older = Before.find(kLogoName);
  bool Unchanged = Saved == nullptr ? Older == Before.end() : Older != Before.end() && Older->second == *Saved;
  auto LogoLeft = Left.find(kLogoName);
  if (!KeptNew.empty()) {
    const std::vector<uint8_t> *Kept = nullptr;
    for (const std::u16string &Name : KeptNew) {
      Kept = Volume.Find(Name);
      Check(Kept != nullptr, "the new logo is not kept where the report says");
      Check(IsWholeBitmapInMemory(*Kept, Head), "the kept new logo is not a whole bitmap from memory");
    }
    if (SavedSinceKept) {
      // A later BGRT's logo was saved after this one was kept aside. The kept file stays, the only
      // whole copy of the earlier logo, and the logo file is the last logo saved, as checked below.
    } else if (LogoLeft == Left.end()) {
      Check(Saved == nullptr, "a new logo kept aside beside a logo file");
    } else if (LogoLeft->second == u" is left empty\r\n") {
      Check(Saved != nullptr && Saved->empty(), "the logo file said to be left empty is not");
    } else {
      Check(LogoLeft->second == u" is left cut off\r\n", "a logo file left is named with other words");
      Check(Saved != nullptr && Saved->size() <= Kept->size() && std::equal(Saved->begin(), Saved->end(), Kept->begin()),
            "the logo file said to be left cut off is not the start of the new logo");
    }
    for (const std::u16string &Name : KeptNew) After.erase(Name);
  } else if (!OlderLeftAs.empty()) {
    Check(Older != Before.end() && Saved == nullptr, "an older logo said to be left aside where there was none");
    Check(After.count(OlderLeftAs) != 0 && After[OlderLeftAs] == Older->second,
          "the older logo is not where the report says it is left");
    After.erase(OlderLeftAs);
  } else {
    Check(LogoLeft == Left.end(), "a logo file is left without the new logo kept whole");
    if (!Unchanged) {
      Check(Saved != nullptr, "the older logo was lost");
      Check(IsWholeBitmapInMemory(*Saved, Head), "the file is not a whole bitmap from memory");
    }
  }
  // After several BGRTs the report says which one's logo the file holds; a later failed save may
  // have taken an earlier one from the name, and then it says none.
  bool NoneHeld = false;
  for (size_t Line = 0; Line < Firmware.ConsoleWriteCount(); Line++) {
    NoneHeld = NoneHeld || Firmware.ConsoleWrite(Line) == u"  BIOSLogo.bmp holds the last logo saved, BGRT 0's (0: none)\r\n";
  }
  uint64_t Image;
  if (!NoneHeld && LastSavedImage(Firmware, &Image)) {
    // The report says so only after checking the whole bitmap, so it may be read here too.
    Check(Saved != nullptr, "a saved logo is not on the volume");
    uint32_t Size;
    std::memcpy(&Size, (const void *)(uintptr_t)(Image + 2), 4);
    Check(Saved->size() == Size && (Size == 0 || std::memcmp(Saved->data(), (const void *)(uintptr_t)Image, Size) == 0),
          "the file is not exactly the last logo saved");
  }
  // The record says the same as the volume: the BGRT it names as the file's holds the file's bytes,
  // and where it names none, no save left a logo of this run under the name.
  if (Record.SavedNumber != 0) {
    Check(Saved != nullptr && Saved->size() == Record.Saved.FileSize, "the record names a saved logo the file is not");
    if (Record.SavedNumber <= kBgrtsRecorded) {
      const BgrtFinding &Finding = Record.Bgrts[Record.SavedNumber - 1];
      Check(Finding.Outcome == LogoOutcome::Saved, "the record's saved BGRT is not recorded as saved");
      Check(std::memcmp(Saved->data(), (const void *)(uintptr_t)Finding.Table.ImageAddress, Saved->size()) == 0,
            "the file is not the logo of the BGRT the record names");
    }
  } else {
    Check(Unchanged || Saved == nullptr || !KeptNew.empty() || LogoLeft != Left.end(),
          "the file holds a logo of this run the record does not name");
  }
  After.erase(kLogoName);
  Before.erase(kLogoName);
  for (const auto &[Name, Said] : Left) After.erase(Name);
  // A logo replaced by a later one that could not be deleted keeps its backup name, and the
  // report says so.
  for (auto Found = After.begin(); Found != After.end();) {
    bool Backup = KeptBackup && Before.count(Found->first) == 0 && Found->first.rfind(u"BIOSLogo.old", 0) == 0;
    Found = Backup ? After.erase(Found) : std::next(Found);
  }
  Check(After == Before, "files other than the logo were left, changed or lost");

  gShownFirmware = nullptr;
  gShownVolume = nullptr;
  ASAN_UNPOISON_MEMORY_REGION(Memory, kRegionBytes);
  return 0;
}
