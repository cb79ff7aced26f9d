// Runs the whole stick program on a simulated machine made of the fuzz input: the report's ACPI
// tables and memory, a screen of the input's size, pixel format and pixels with a logo drawn on it
// or not, the Secure Boot variables as the input gives them, a stick that is full, read-only or
// refuses to rename, and any one kind of firmware call failing from any of its calls on. After
// each run: nothing written but to the stick; each of the stick's four files the earlier one
// untouched or this run's, whole and right; the words claim no file that is not so; every pool
// buffer and file handle given back; the watchdog off before the person is asked for a key, or the
// words saying it is not; and the restart the last call.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/BitmapLayout.h"
#include "app/ReadableMemory.h"
#include "firmware/Guids.h"
#include "firmware/ImageSecurity.h"
#include "firmware/LoadedImage.h"
#include "fuzz/FuzzRegion.h"
#include "fuzz/StickInput.h"
#include "sim/SimFileSystem.h"
#include "sim/SimFirmware.h"
#include "sim/SimGraphicsOutput.h"
#include "tests/PngRead.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#endif
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(Start, Bytes) ((void)(Start), (void)(Bytes))
#define ASAN_UNPOISON_MEMORY_REGION(Start, Bytes) ((void)(Start), (void)(Bytes))
#endif

extern "C" EFI_STATUS EFIAPI StickEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

using namespace report_fuzz;
using namespace stick_fuzz;

extern "C" const char *__asan_default_options() { return "quarantine_size_mb=16"; }

namespace {

using Files = std::map<std::u16string, std::vector<uint8_t>>;

constexpr const char16_t *kLogo = u"BIOSLogo.bmp";
constexpr const char16_t *kLogoPng = u"BIOSLogo.png";
constexpr const char16_t *kScreenPng = u"Screen.png";
constexpr const char16_t *kReport = u"Quillon-report.txt";
constexpr size_t kReportRoom = 256 * 1024;

std::vector<uint8_t> Text(const char *Words) { return std::vector<uint8_t>(Words, Words + std::strlen(Words)); }

Files EarlierFiles() {
  return Files{{kLogo, Text("BMan earlier logo")},
               {kLogoPng, Text("an earlier BIOSLogo.png")},
               {kScreenPng, Text("an earlier Screen.png")},
               {kReport, std::vector<uint8_t>(3000, 'r')}};
}

const std::string *gShown = nullptr;
const SimFileSystem *gShownStick = nullptr;

void Check(bool Condition, const char *What) {
  if (Condition) return;
  std::fprintf(stderr, "stick fuzz: %s\n", What);
  if (gShown != nullptr) std::fprintf(stderr, "%s\n", gShown->c_str());
  if (gShownStick != nullptr) {
    for (const auto &[Name, Bytes] : gShownStick->Files) {
      std::fprintf(stderr, "  file: %s, %zu bytes\n", std::string(Name.begin(), Name.end()).c_str(), Bytes.size());
    }
  }
  std::abort();
}

std::string Narrow(std::u16string_view Wide) {
  std::string Narrowed(Wide.size(), '?');
  for (size_t Index = 0; Index < Wide.size(); Index++) {
    if (Wide[Index] < 0x80) Narrowed[Index] = (char)Wide[Index];
  }
  return Narrowed;
}

// A line, whole, among the text offered to the console (which begins with a line feed here).
bool Said(const std::string &Offered, const std::string &Line) {
  return Offered.find("\n" + Line + "\r\n") != std::string::npos;
}

// The pixels of a bitmap the stick draws itself (24 or 32 bits, uncompressed), from the top row.
bool BitmapPixels(const std::vector<uint8_t> &Bitmap, RgbPicture *Pixels) {
  BitmapVerdict Verdict = JudgeBitmap(Bitmap.data(), Bitmap.size());
  const BitmapShape &Shape = Verdict.Shape;
  if (Verdict.Fault != kBitmapSound || Shape.Compression != 0 || (Shape.BitsPerPixel != 24 && Shape.BitsPerPixel != 32)) {
    return false;
  }
  uint32_t Offset;
  std::memcpy(&Offset, &Bitmap[10], 4);
  uint32_t Bytes = Shape.BitsPerPixel / 8, RowBytes = ((Shape.Width * Shape.BitsPerPixel + 31) >> 5) << 2;
  *Pixels = RgbPicture(Shape.Width, Shape.Height);
  for (uint32_t Y = 0; Y < Shape.Height; Y++) {
    uint32_t Row = Shape.TopDown ? Y : Shape.Height - 1 - Y;
    for (uint32_t X = 0; X < Shape.Width; X++) {
      const uint8_t *Pixel = &Bitmap[Offset + (size_t)Row * RowBytes + X * Bytes];
      Pixels->Set(X, Y, Pixel[2], Pixel[1], Pixel[0]);
    }
  }
  return true;
}

// A report is the text offered from the first line on, to the end of a line or of its room.
bool IsReport(const std::vector<uint8_t> &File, const std::string &Offered) {
  if (File.size() < 2 || File.size() + 1 > Offered.size()) return false;
  if (std::memcmp(File.data(), Offered.data() + 1, File.size()) != 0) return false;
  return File.size() == kReportRoom || (File[File.size() - 2] == '\r' && File.back() == '\n');
}

// The number of bytes the words give the logo, from "  The logo: ... N bytes."; 0 when not said.
uint64_t LogoBytesSaid(const std::string &Offered) {
  size_t At = Offered.find("\n  The logo: ");
  if (At == std::string::npos) return 0;
  size_t End = Offered.find(" bytes.\r\n", At);
  size_t Start = Offered.rfind(", ", End) + 2;
  uint64_t Bytes = 0;
  for (size_t Index = Start; Index < End; Index++) {
    if (Offered[Index] != ',') Bytes = Bytes * 10 + (uint64_t)(Offered[Index] - '0');
  }
  return Bytes;
}

// The names the report gives files it kept aside: "The new NAME is kept as 'FILE'".
std::vector<std::u16string> KeptAside(const std::string &Offered, const std::string &What) {
  std::vector<std::u16string> Names;
  std::string Lead = "\nThe new " + What + " is kept as '";
  for (size_t At = Offered.find(Lead); At != std::string::npos; At = Offered.find(Lead, At + 1)) {
    size_t Start = At + Lead.size();
    std::string Name = Offered.substr(Start, Offered.find('\'', Start) - Start);
    Names.emplace_back(Name.begin(), Name.end());
  }
  return Names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Length) {
  StickHeader Stick;
  if (Length < sizeof Stick) return 0;
  std::memcpy(&Stick, Data, sizeof Stick);
  Data += sizeof Stick;
  Length -= sizeof Stick;
  auto Take = [&](size_t Wanted) {
    size_t Taken = Wanted < Length ? Wanted : Length;
    std::vector<uint8_t> Bytes(Data, Data + Taken);
    Data += Taken;
    Length -= Taken;
    return Bytes;
  };
  std::vector<uint8_t> Level = Take(Stick.LevelBytes);
  std::vector<uint8_t> Db = Take(Stick.DbBytes);
  std::vector<uint8_t> Pixels = Take(Stick.PixelBytes);
  Header Head;
  if (Length < sizeof Head) return 0;
  std::memcpy(&Head, Data, sizeof Head);
  Data += sizeof Head;
  Length -= sizeof Head;

  uint8_t *Memory = FillRegion(Data, Length);

  SimFirmware Firmware;
  SimFileSystem Internal(Firmware);  // registered first: the volume the firmware lists first
  SimFileSystem Volume(Firmware);
  Internal.Files[u"notes.txt"] = Text("notes");
  Files InternalBefore = Internal.Files;
  EFI_LOADED_IMAGE_PROTOCOL Loaded{};
  Loaded.DeviceHandle = Firmware.DeviceHandle();
  if ((Stick.Flags & kStickUnknown) == 0) Firmware.InstallOnImage(EFI_LOADED_IMAGE_PROTOCOL_GUID, &Loaded);
  Firmware.InstallOnDevice(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID, Volume.Protocol());
  if ((Stick.Flags & kSecureBootKept) != 0) Firmware.SetGlobalVariable(u"SecureBoot", {Stick.SecureBoot});
  if ((Stick.Flags & kLevelKept) != 0) Firmware.SetVariable(SHIM_LOCK_GUID, u"SbatLevelRT", Level);
  if ((Stick.Flags & kDbKept) != 0) Firmware.SetVariable(EFI_IMAGE_SECURITY_DATABASE_GUID, u"db", Db);
  Firmware.Clock = EFI_TIME{2026, 3, 14, 9, 26, 53, 0, 0, 0, 0, 0};
  Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, (void *)(uintptr_t)Head.Rsdp);

  Files Before = (Stick.Flags & kEarlierFiles) != 0 ? EarlierFiles() : Files{};
  Volume.Files = Before;
  if (Head.CapacityUnits != 0) Volume.SetCapacity((uint64_t)Head.CapacityUnits * kCapacityUnit);
  Volume.SetRenames((Head.Options & kRenamesRefused) == 0);
  Volume.SetReadOnly((Stick.Flags & kReadOnly) != 0);

  // The screen: the input's pixels over and over, and the bitmap at LogoOffset drawn where it says,
  // when it is one the firmware could draw. Drawn before the pages that are no memory are poisoned.
  std::optional<SimGraphicsOutput> Screen;
  if (Stick.ScreenWidth != 0 && Stick.ScreenHeight != 0) {
    // Up to 128 a side: rows past a deflate block's 16,384 symbols, and runs fast enough to be many.
    SimGraphicsOutput::Mode Mode{1u + (Stick.ScreenWidth - 1u) % 128u, 1u + (Stick.ScreenHeight - 1u) % 128u};
    Mode.Format = (EFI_GRAPHICS_PIXEL_FORMAT)(Stick.PixelFormat % 5);
    Screen.emplace(Firmware, std::vector<SimGraphicsOutput::Mode>{Mode}, 0);
    size_t Count = Pixels.size() / 3;
    Screen->Pixels.assign((size_t)Mode.Width * Mode.Height, 0);
    for (size_t At = 0; Count != 0 && At < Screen->Pixels.size(); At++) {
      const uint8_t *Pixel = &Pixels[At % Count * 3];
      Screen->Pixels[At] = (uint32_t)Pixel[0] << 16 | (uint32_t)Pixel[1] << 8 | Pixel[2];
    }
    size_t Offset = Stick.LogoOffset % kRegionBytes;
    std::vector<uint8_t> Logo(Memory + Offset, Memory + kRegionBytes);
    RgbPicture Unused;
    if ((Stick.Flags & kLogoDrawn) != 0 && Logo.size() >= kBitmapFixedBytes && BitmapPixels(Logo, &Unused)) {
      Screen->Draw(Logo, Stick.LogoX, Stick.LogoY, Stick.LogoQuarters % 4);
    }
  }

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

  SimCall Failing = SimCall::Count;
  if (Stick.FailingCall != 0 && Stick.FailingCall < std::size(stick_fuzz::kFailingCalls)) {
    Failing = stick_fuzz::kFailingCalls[Stick.FailingCall];
    EFI_STATUS Status = kStatuses[Stick.FailingStatus % std::size(kStatuses)];
    // A warning is a success with a caveat, which only Delete answers for a failure; the pool's
    // warning stays, as an answer without a buffer, which the program must take for none.
    if (!EFI_ERROR(Status) && Failing != SimCall::FileDelete && Failing != SimCall::AllocatePool) {
      Status = EFI_DEVICE_ERROR;
    }
    Firmware.FailCall(Failing, Status, Stick.FailSkip, Stick.FailTimes == 0 ? -1 : Stick.FailTimes);
  }

  StickEntry(Firmware.ImageHandle(), Firmware.SystemTable());
  ASAN_UNPOISON_MEMORY_REGION(Memory, kRegionBytes);

  std::string Offered = "\n" + Narrow(Firmware.OfferedText());
  gShown = &Offered;
  gShownStick = &Volume;

  Check(Internal.Files == InternalBefore && Internal.HandlesGiven() == 0, "the internal disk was opened or changed");
  Check(Volume.OpenHandles() == 0, "a file handle was left open");
  Check(Firmware.OutstandingPool() == (size_t)Firmware.FailedCalls(SimCall::FreePool), "a pool buffer was left");
  Check(Firmware.BadFrees() == 0, "a pool buffer was freed that was not allocated");
  Check(Firmware.WaitedForKey, "the machine restarted without waiting for the person");
  bool WatchdogLeft = Failing == SimCall::SetWatchdogTimer && Firmware.FailedCalls(Failing) > 0;
  Check(Firmware.WatchdogAtWaits == std::vector<UINTN>{WatchdogLeft ? 300u : 0u}, "the watchdog was armed at the wait");
  Check(!WatchdogLeft || Said(Offered, "  it may restart the machine on its own within minutes."),
        "a watchdog left running was not said");
  Check(Firmware.Resets == std::vector<EFI_RESET_TYPE>{EfiResetCold} && Firmware.LastCall() == SimCall::ResetSystem,
        "the restart was not the last call");

  // Each of the four files: the earlier one untouched, or this run's whole and right; or, where the
  // firmware would delete nothing, one the report names as left; or, on a stick that will not
  // rename, none, once the earlier one is deleted and the new one would not fit beside the whole
  // copy the save keeps under another name, which the report names; or the older one under the
  // backup name the report gives, where every way to the new one failed.
  RgbPicture LogoPixels;
  const std::vector<uint8_t> *LogoFile = Volume.Find(kLogo);
  bool LogoRight = LogoFile != nullptr && IsWholeBitmapInMemory(*LogoFile, Head);
  bool LogoDrawable = LogoRight && BitmapPixels(*LogoFile, &LogoPixels);
  const std::pair<const char16_t *, const char *> kWhats[] = {
      {kLogo, "logo"}, {kLogoPng, "logo picture"}, {kScreenPng, "screen picture"}, {kReport, "report"}};
  for (const auto &[Name, What] : kWhats) {
    const std::vector<uint8_t> *Now = Volume.Find(Name);
    bool KeptElsewhere = Now == nullptr && !KeptAside(Offered, What).empty() && (Head.Options & kRenamesRefused) != 0;
    auto Was = Before.find(Name);
    bool Unchanged = Now == nullptr ? Was == Before.end() : Was != Before.end() && Was->second == *Now;
    bool Right = false;
    if (Now != nullptr) {
      if (Name == kLogo) {
        Right = LogoRight;
      } else if (Name == kReport) {
        Right = IsReport(*Now, Offered);
      } else {
        RgbPicture Read;
        Right = ReadPngWithLibpng(*Now, &Read).empty();
        if (Right && Name == kScreenPng) {
          Right = Screen.has_value() && Read.Width == Screen->Width() && Read.Height == Screen->Height() &&
                  Read.Colours() == Screen->Pixels;
        }
      }
    }
    std::string Narrowed = Narrow(Name);
    bool Left = Failing == SimCall::FileDelete && Offered.find("'" + Narrowed + "' is left") != std::string::npos;
    // Where the new file took neither its name nor, written afresh, the name itself, and the older
    // one would not take its name back: none under the name, the older one whole under the backup
    // name the report gives.
    bool OlderAside = false;
    std::string Aside = "the older " + std::string(What) + " is left as '";
    size_t AsideAt = Offered.find(Aside);
    if (Now == nullptr && Was != Before.end() && AsideAt != std::string::npos) {
      size_t From = AsideAt + Aside.size();
      std::string Backup = Offered.substr(From, Offered.find('\'', From) - From);
      const std::vector<uint8_t> *Older = Volume.Find(std::u16string(Backup.begin(), Backup.end()));
      OlderAside = Older != nullptr && *Older == Was->second;
    }
    Check(Unchanged || Right || Left || KeptElsewhere || OlderAside,
          "a file under its name is neither the earlier one nor this run's, whole");
  }

  // The claims.
  if (Said(Offered, "Quillon: the logo is on this stick as BIOSLogo.bmp, in its top folder.")) {
    Check(LogoRight, "the words claim a logo that is not a whole bitmap from memory");
    uint64_t Bytes = LogoBytesSaid(Offered);
    Check(Bytes == 0 || Bytes == LogoFile->size(), "the words give the logo another size than the file's");
  }
  if (Said(Offered, "  BIOSLogo.png beside it is the same picture, for sharing.")) {
    const std::vector<uint8_t> *Png = Volume.Find(kLogoPng);
    Check(Png != nullptr && LogoDrawable, "the words claim a BIOSLogo.png beside no drawable logo");
    RgbPicture Read;
    Check(ReadPngWithLibpng(*Png, &Read).empty() && Read.Width == LogoPixels.Width &&
              Read.Height == LogoPixels.Height && Read.Rgb == LogoPixels.Rgb,
          "BIOSLogo.png is not the logo's picture");
  }
  if (Said(Offered, "Quillon: the screen as the firmware left it is on the stick as Screen.png.")) {
    const std::vector<uint8_t> *Png = Volume.Find(kScreenPng);
    Check(Png != nullptr && Screen.has_value(), "the words claim a Screen.png that is not there");
    RgbPicture Read;
    Check(ReadPngWithLibpng(*Png, &Read).empty() && Read.Colours() == Screen->Pixels, "Screen.png is not the screen");
  }
  if (Said(Offered, "Quillon: this report is on the stick too, as Quillon-report.txt.")) {
    const std::vector<uint8_t> *Report = Volume.Find(kReport);
    Check(Report != nullptr && IsReport(*Report, Offered), "the words claim a report that is not this run's");
  }
  // Files kept aside are whole; any other file is named by the report, or an older file's backup
  // that would not go, after the line that says so.
  std::vector<std::u16string> Aside = KeptAside(Offered, "logo");
  for (const std::u16string &Name : Aside) {
    Check(Volume.Find(Name) != nullptr && IsWholeBitmapInMemory(*Volume.Find(Name), Head), "a logo kept aside is not whole");
  }
  for (const std::u16string &Name : KeptAside(Offered, "report")) {
    Check(Volume.Find(Name) != nullptr && IsReport(*Volume.Find(Name), Offered), "a report kept aside is not whole");
  }
  for (const char *What : {"logo picture", "screen picture"}) {
    for (const std::u16string &Name : KeptAside(Offered, What)) {
      const std::vector<uint8_t> *Kept = Volume.Find(Name);
      Check(Kept != nullptr, "a picture said to be kept aside is not there");
      RgbPicture Read;
      Check(ReadPngWithLibpng(*Kept, &Read).empty() &&
                (std::string(What) != "screen picture" || Read.Colours() == Screen->Pixels),
            "a picture kept aside is not whole");
    }
  }
  for (const auto &[Name, Bytes] : Volume.Files) {
    std::string Narrowed = Narrow(Name);
    bool Four = Name == kLogo || Name == kLogoPng || Name == kScreenPng || Name == kReport;
    bool Named = Offered.find("'" + Narrowed + "'") != std::string::npos;
    bool Backup = Narrowed.find(".old") != std::string::npos && Offered.find("\nError Delete  [") != std::string::npos;
    Check(Four || Named || Backup, "a file was left on the stick that the report does not name");
  }

  gShown = nullptr;
  gShownStick = nullptr;
  return 0;
}
