// The stick program on the simulated firmware: a machine with an internal disk the firmware lists
// first and the stick the program was loaded from. Whatever happens, nothing is written anywhere
// but the stick; the logo and the report land there; the plain words say what happened; and the
// program disarms the firmware's watchdog, waits for a key and restarts the machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "firmware/Guids.h"
#include "firmware/LoadedImage.h"
#include "sim/AcpiBuilder.h"
#include "sim/SimFileSystem.h"
#include "sim/SimFirmware.h"

extern "C" EFI_STATUS EFIAPI StickEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

namespace {

using Files = std::map<std::u16string, std::vector<uint8_t>>;

struct Machine {
  SimFirmware Firmware;
  SimFileSystem Internal{Firmware};  // registered first: the volume the firmware lists first
  SimFileSystem Stick{Firmware};
  AcpiBuilder Acpi{Firmware};
  EFI_LOADED_IMAGE_PROTOCOL Loaded{};
  std::vector<uint64_t> Entries;
  std::vector<uint8_t> Logo = AcpiBuilder::Bitmap(193, 58, 24);

  Machine() {
    Loaded.DeviceHandle = Firmware.DeviceHandle();
    Firmware.InstallOnImage(EFI_LOADED_IMAGE_PROTOCOL_GUID, &Loaded);
    Firmware.InstallOnDevice(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID, Stick.Protocol());
    Firmware.SetGlobalVariable(u"SecureBoot", {1});
    Internal.Files[u"notes.txt"] = {'n', 'o', 't', 'e', 's'};
  }

  void AddLogo() {
    Acpi.SetMemoryType(EfiBootServicesData);
    uint64_t Image = Acpi.Place(Logo);
    Acpi.SetMemoryType(EfiACPIReclaimMemory);
    Entries.push_back(Acpi.Bgrt(Image));
  }

  EFI_STATUS Run() {
    Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, (void *)Acpi.Rsdp(Acpi.Xsdt(Entries)));
    return StickEntry(Firmware.ImageHandle(), Firmware.SystemTable());
  }

  std::string Console() const {
    const std::u16string &Text = Firmware.ConsoleText();
    return std::string(Text.begin(), Text.end());
  }

  // The plain words after the report: from the Secure Boot line on.
  std::vector<std::string> Words() const {
    std::string Text = Console();
    std::vector<std::string> Lines;
    for (size_t At = Text.find("Quillon: Secure Boot"); At != std::string::npos && At < Text.size();) {
      size_t End = Text.find("\r\n", At);
      Lines.push_back(Text.substr(At, End - At));
      At = End + 2;
    }
    return Lines;
  }
};

std::vector<uint8_t> Bytes(const std::string &Text) { return std::vector<uint8_t>(Text.begin(), Text.end()); }

// What the stick must hold afterwards: the report is what the console showed from the report's
// first line to the plain words about the logo, as the screen showed it.
std::vector<uint8_t> ReportOnScreen(const Machine &M) {
  std::string Text = M.Console();
  size_t Start = Text.find("RSDP address");
  size_t End = Text.find("Quillon: this report is on the stick too");
  return Bytes(Text.substr(Start, End - Start));
}

const char *kNext = "Next: take the stick out, then press any key to restart the machine.";
const char *kCopy = "  On any computer, the stick's files are there to copy.";
const char *kKept = "Quillon: this report is on the stick too, as Quillon-report.txt.";
const char *kNotKept = "Quillon: the report could not be kept on the stick.";

struct Case {
  const char *Name;
  std::function<void(Machine &)> Build;
  std::vector<std::string> Words;
  bool LogoOnStick;
  bool ReportOnStick;
};

const Case kCases[] = {
    {"a logo: saved on the stick, the report beside it",
     [](Machine &M) { M.AddLogo(); },
     {"Quillon: Secure Boot is on.", "Quillon: the logo is on this stick as BIOSLogo.bmp, in its top folder.", "",
      kKept, kCopy, kNext},
     true, true},
    {"Secure Boot off", [](Machine &M) {
       M.Firmware.SetGlobalVariable(u"SecureBoot", {0});
       M.AddLogo();
     },
     {"Quillon: Secure Boot is off.", "Quillon: the logo is on this stick as BIOSLogo.bmp, in its top folder.", "",
      kKept, kCopy, kNext},
     true, true},
    {"firmware that keeps no SecureBoot variable", [](Machine &M) {
       M.Firmware.RemoveGlobalVariables();
       M.AddLogo();
     },
     {"Quillon: Secure Boot is in a state the firmware does not say.",
      "Quillon: the logo is on this stick as BIOSLogo.bmp, in its top folder.", "", kKept, kCopy, kNext},
     true, true},
    {"no BGRT: nothing to save, and why there may be none", [](Machine &) {},
     {"Quillon: Secure Boot is on.", "Quillon: this firmware publishes no boot logo (no BGRT): nothing to save.",
      "  Some firmware publishes it only when a screen is attached.", "", kKept, kCopy, kNext},
     false, true},
    {"a read-only stick: nothing saved, nothing kept", [](Machine &M) {
       M.Stick.SetReadOnly(true);
       M.AddLogo();
     },
     {"Quillon: Secure Boot is on.", "Quillon: this stick is read-only (a switch on its side?): nothing was saved.",
      "", kNotKept, kNext},
     false, false},
    {"a stick too full for the logo keeps the report", [](Machine &M) {
       M.Stick.SetCapacity(4000);
       M.AddLogo();
     },
     {"Quillon: Secure Boot is on.", "Quillon: this stick is full: the logo could not be saved.", "", kKept, kCopy,
      kNext},
     false, true},
    {"a logo that is no bitmap", [](Machine &M) {
       M.Logo[0] = 'P';
       M.AddLogo();
     },
     {"Quillon: Secure Boot is on.", "Quillon: the firmware's logo is no bitmap Quillon will save (see above).", "",
      kKept, kCopy, kNext},
     false, true},
    {"an XSDT entry past memory beside the logo", [](Machine &M) {
       M.AddLogo();
       M.Entries.push_back(0x8000000000000000ull);
     },
     {"Quillon: Secure Boot is on.", "Quillon: the logo is on this stick as BIOSLogo.bmp, in its top folder.",
      "  Some of what the firmware publishes could not be saved (see above).", "", kKept, kCopy, kNext},
     true, true},
    {"a stick that will not rename, too full for a second logo: the first gone, the second kept whole aside",
     [](Machine &M) {
       M.Stick.SetRenames(false);
       M.Firmware.FailCall(SimCall::FileWrite, EFI_VOLUME_FULL, 3, 1);  // each save writes twice
       M.AddLogo();
       M.AddLogo();
     },
     {"Quillon: Secure Boot is on.", "Quillon: the logo is kept whole on this stick, as the report names above.", "",
      kKept, kCopy, kNext},
     false, true},
    {"firmware that does not say where the program was loaded from: nothing saved anywhere",
     [](Machine &M) {
       M.Firmware.RemoveImageProtocols();
       M.AddLogo();
     },
     {"Quillon: Secure Boot is on.", "Quillon: the firmware does not say which stick Quillon started from,",
      "  so nothing was saved anywhere.", "", kNext},
     false, false},
};

void PrintTo(const Case &C, std::ostream *Stream) { *Stream << C.Name; }

class Stick : public ::testing::TestWithParam<Case> {};

TEST_P(Stick, SavesOnTheStickAloneSaysWhatHappenedAndRestarts) {
  const Case &C = GetParam();
  Machine M;
  C.Build(M);
  Files InternalBefore = M.Internal.Files;

  EXPECT_EQ(M.Run(), EFI_SUCCESS) << "shim takes some statuses as a cue to start a fallback or the program again";

  std::vector<std::string> Expected = C.Words;
  // The blank line in a case's words stands where the report's text ends and the rest follows.
  Expected.erase(std::find(Expected.begin(), Expected.end(), ""));
  EXPECT_EQ(M.Words(), Expected);
  EXPECT_EQ(M.Internal.Files, InternalBefore) << "the internal disk changed";
  const std::vector<uint8_t> *Logo = M.Stick.Find(u"BIOSLogo.bmp");
  EXPECT_EQ(Logo != nullptr, C.LogoOnStick);
  if (Logo != nullptr) EXPECT_EQ(*Logo, M.Logo);
  const std::vector<uint8_t> *Report = M.Stick.Find(u"Quillon-report.txt");
  EXPECT_EQ(Report != nullptr, C.ReportOnStick);
  if (Report != nullptr) EXPECT_EQ(*Report, ReportOnScreen(M)) << "the report on the stick is not the screen's";
  EXPECT_TRUE(M.Firmware.WaitedForKey);
  EXPECT_EQ(M.Firmware.WatchdogAtWaits, std::vector<UINTN>{0})
      << "the boot manager's five-minute watchdog was still armed as the program waited for the person";
  EXPECT_EQ(M.Firmware.WatchdogTimeouts, std::vector<UINTN>{0}) << "the program set a watchdog of its own";
  EXPECT_EQ(M.Firmware.Resets, std::vector<EFI_RESET_TYPE>{EfiResetCold});
  EXPECT_EQ(M.Firmware.OutstandingPool(), 0u);
  EXPECT_EQ(M.Stick.OpenHandles() + M.Internal.OpenHandles(), 0u);
}

std::string CaseName(const ::testing::TestParamInfo<Case> &Info) {
  std::string Name;
  for (const char *At = Info.param.Name; *At != 0; At++) Name += std::isalnum((unsigned char)*At) ? *At : '_';
  return std::to_string(Info.index) + "_" + Name;
}

INSTANTIATE_TEST_SUITE_P(Cases, Stick, ::testing::ValuesIn(kCases), CaseName);

// Every line the program itself shows fits an 80-column console.
TEST(StickWords, EveryLineFitsEightyColumns) {
  for (const Case &C : kCases) {
    for (const std::string &Line : C.Words) EXPECT_LT(Line.size(), 80u) << Line;
  }
}

// A key pressed before the program asks for one does not restart the machine; and a report from
// an earlier, longer run is replaced whole, not written over.
TEST(StickRun, KeysPressedEarlyDoNotCountAndAnOlderReportIsReplaced) {
  Machine M;
  M.AddLogo();
  M.Firmware.PressedKeys = {EFI_INPUT_KEY{0, u'a'}, EFI_INPUT_KEY{0, u'\r'}};
  M.Stick.Files[u"quillon-REPORT.txt"] = std::vector<uint8_t>(100000, 'x');
  M.Run();
  EXPECT_TRUE(M.Firmware.WaitedForKey);
  const std::vector<uint8_t> *Report = M.Stick.Find(u"Quillon-report.txt");
  ASSERT_NE(Report, nullptr);
  EXPECT_EQ(*Report, ReportOnScreen(M));
  EXPECT_EQ(M.Stick.Files.size(), 2u) << "an older report was left beside the new one";
}

}  // namespace
