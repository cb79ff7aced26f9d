// The stick program on the simulated firmware: a machine with an internal disk the firmware lists
// first and the stick the program was loaded from. Whatever happens, nothing is written anywhere
// but the stick; the logo and the report land there; the plain words say what happened; and the
// program disarms the firmware's watchdog, waits for a key and restarts the machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "firmware/ImageSecurity.h"
#include "tests/CaseNames.h"
#include "tests/StickMachine.h"

namespace {

using Files = std::map<std::u16string, std::vector<uint8_t>>;

std::vector<uint8_t> Bytes(const std::string &Text) { return std::vector<uint8_t>(Text.begin(), Text.end()); }

// What the stick must hold afterwards: the report is what the console showed from the program's
// first line to the plain words about the logo, as the screen showed it.
std::vector<uint8_t> ReportOnScreen(const StickMachine &M) {
  std::string Text = M.Console();
  size_t End = Text.find("Quillon: this report is on the stick too");
  return Bytes(Text.substr(0, End));
}

const char *kNext = "Next: take the stick out, then press any key to restart the machine.";
const char *kCopy = "  On any computer, the stick's files are there to copy.";
const char *kKept = "Quillon: this report is on the stick too, as Quillon-report.txt.";
const char *kNotKept = "Quillon: the report could not be kept on the stick.";
const char *kLogoOnStick = "Quillon: the logo is on this stick as BIOSLogo.bmp, in its top folder.";
const char *kLogoShape = "  The logo: 193 x 58 pixels, 24 bits a pixel, 33,694 bytes.";
const char *kLogoPicture = "  BIOSLogo.png beside it is the same picture, for sharing.";
// What the firmware holds for Secure Boot follows the Secure Boot line in every case: this machine
// has shim's revocation level and no db (what the lines say of db is tested on its own).
const char *kLevel = "Quillon: revocation level shim 4, grub 5, from 2025-02-18.";
const char *kNoDb = "Quillon: the firmware has no db: it holds no keys for Secure Boot.";

struct Case {
  const char *Name;  // the test's name
  const char *What;
  std::function<void(StickMachine &)> Build;
  std::vector<std::string> Words;
  bool LogoOnStick;
  bool ReportOnStick;
};

const Case kCases[] = {
    {"logo_saved", "a logo: saved on the stick, the report beside it",
     [](StickMachine &M) { M.AddLogo(); },
     {"Quillon: Secure Boot is on.", kLogoOnStick, kLogoShape, kLogoPicture, "", kKept, kCopy, kNext},
     true, true},
    {"secure_boot_off", "Secure Boot off", [](StickMachine &M) {
       M.Firmware.SetGlobalVariable(u"SecureBoot", {0});
       M.AddLogo();
     },
     {"Quillon: Secure Boot is off.", kLogoOnStick, kLogoShape, kLogoPicture, "", kKept, kCopy, kNext},
     true, true},
    {"secure_boot_unknown", "firmware that keeps no SecureBoot variable", [](StickMachine &M) {
       M.Firmware.RemoveGlobalVariables();
       M.AddLogo();
     },
     {"Quillon: Secure Boot is in a state the firmware does not say.", kLogoOnStick, kLogoShape, kLogoPicture, "",
      kKept, kCopy,
      kNext},
     true, true},
    {"no_bgrt", "no BGRT: nothing to save, and why there may be none", [](StickMachine &) {},
     {"Quillon: Secure Boot is on.", "Quillon: this firmware publishes no boot logo (no BGRT): nothing to save.",
      "  Some firmware publishes it only when a screen is attached.", "", kKept, kCopy, kNext},
     false, true},
    {"read_only_stick", "a read-only stick: nothing saved, nothing kept", [](StickMachine &M) {
       M.Stick.SetReadOnly(true);
       M.AddLogo();
     },
     {"Quillon: Secure Boot is on.", "Quillon: this stick is read-only (a switch on its side?): nothing was saved.",
      "", "Error Open NULL  [Write Protected]", kNotKept, kNext},
     false, false},
    {"stick_full", "a stick too full for the logo keeps the report", [](StickMachine &M) {
       M.Stick.SetCapacity(4000);
       M.AddLogo();
     },
     {"Quillon: Secure Boot is on.", "Quillon: this stick is full: the logo could not be saved.", "", kKept, kCopy,
      kNext},
     false, true},
    {"no_bitmap", "a logo that is no bitmap", [](StickMachine &M) {
       M.Logo[0] = 'P';
       M.AddLogo();
     },
     {"Quillon: Secure Boot is on.", "Quillon: the firmware's logo is no bitmap Quillon will save (see above).", "",
      kKept, kCopy, kNext},
     false, true},
    {"entry_past_memory", "an XSDT entry past memory beside the logo", [](StickMachine &M) {
       M.AddLogo();
       M.Entries.push_back(0x8000000000000000ull);
     },
     {"Quillon: Secure Boot is on.", kLogoOnStick, kLogoShape, kLogoPicture,
      "  Some of what the firmware publishes could not be saved (see above).", "", kKept, kCopy, kNext},
     true, true},
    {"no_renames_kept_aside", "a stick that will not rename, too full for a second logo: the first gone, the second kept whole aside",
     [](StickMachine &M) {
       M.Stick.SetRenames(false);
       M.Firmware.FailCall(SimCall::FileWrite, EFI_VOLUME_FULL, 3, 1);  // each save writes twice
       M.AddLogo();
       M.AddLogo();
     },
     {"Quillon: Secure Boot is on.", "Quillon: the logo is kept whole on this stick, as the report names above.", "",
      kKept, kCopy, kNext},
     false, true},
    {"no_memory_map", "firmware that will not give its memory map: said so, not taken for unreadable tables",
     [](StickMachine &M) {
       M.AddLogo();
       M.Firmware.FailCall(SimCall::GetMemoryMap, EFI_INVALID_PARAMETER);
     },
     {"Quillon: Secure Boot is on.", "Quillon: the firmware gave no memory map, so no table was read (see above).", "",
      kKept, kCopy, kNext},
     false, true},
    {"xsdt_unreadable", "an XSDT where nothing can be read, so no BGRT was found: said as unreadable tables, not as none",
     [](StickMachine &M) { M.Entries.push_back(0); M.XsdtAt = 0x8000000000000000ull; },
     {"Quillon: Secure Boot is on.", "Quillon: the firmware's tables point where nothing can be read (see above).",
      "", kKept, kCopy, kNext},
     false, true},
    {"logo_32_bits_top_down", "a 32-bit logo kept top-down: its size said as the bitmap means it", [](StickMachine &M) {
       M.Logo = AcpiBuilder::Bitmap(40, 30, 32);
       StoreLittleEndian(M.Logo, 22, (uint32_t)-30, 4);
       M.AddLogo();
     },
     {"Quillon: Secure Boot is on.", kLogoOnStick, "  The logo: 40 x 30 pixels, 32 bits a pixel, 4,854 bytes.", kLogoPicture, "",
      kKept, kCopy, kNext},
     true, true},
    {"no_loaded_image_device", "firmware that does not say where the program was loaded from: nothing saved anywhere",
     [](StickMachine &M) {
       M.Firmware.RemoveImageProtocols();
       M.AddLogo();
     },
     {"Quillon: Secure Boot is on.", "Quillon: the firmware does not say which stick Quillon started from,",
      "  so nothing was saved anywhere.", "", kNext},
     false, false},
};

void PrintTo(const Case &C, std::ostream *Stream) { *Stream << C.What; }

class Stick : public ::testing::TestWithParam<Case> {};

TEST_P(Stick, SavesOnTheStickAloneSaysWhatHappenedAndRestarts) {
  const Case &C = GetParam();
  StickMachine M;
  C.Build(M);
  Files InternalBefore = M.Internal.Files;

  EXPECT_EQ(M.Run(), EFI_SUCCESS) << "shim takes some statuses as a cue to start a fallback or the program again";

  std::vector<std::string> Expected = C.Words;
  Expected.insert(Expected.begin() + 1, {kLevel, kNoDb});
  // The blank line in a case's words stands where the report's text ends and the rest follows.
  Expected.erase(std::find(Expected.begin(), Expected.end(), ""));
  EXPECT_EQ(M.Words(), Expected);
  EXPECT_EQ(M.Internal.Files, InternalBefore) << "the internal disk changed";
  const std::vector<uint8_t> *Logo = M.Stick.Find(u"BIOSLogo.bmp");
  EXPECT_EQ(Logo != nullptr, C.LogoOnStick);
  if (Logo != nullptr) EXPECT_EQ(*Logo, M.Logo);
  EXPECT_EQ(M.Stick.Find(u"BIOSLogo.png") != nullptr, C.LogoOnStick) << "a logo kept without its picture, or the reverse";
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

INSTANTIATE_TEST_SUITE_P(Cases, Stick, ::testing::ValuesIn(kCases), CaseName<Case>);

// Every line the program itself shows fits an 80-column console.
TEST(StickWords, EveryLineFitsEightyColumns) {
  for (const Case &C : kCases) {
    for (const std::string &Line : C.Words) EXPECT_LT(Line.size(), 80u) << Line;
  }
}

// The report on the stick stands on its own: its first lines say which Quillon wrote it, on which
// firmware, and when, by the firmware's clock where it gives a time that could be one.
TEST(StickReport, BeginsWithWhichQuillonOnWhichFirmwareAndWhen) {
  struct Clock {
    std::optional<EFI_TIME> Time;
    const char *Said;
  };
  const Clock kClocks[] = {
      {EFI_TIME{2026, 12, 11, 1, 41, 50, 0, 0, 0, 0, 0}, "Time: 2026-12-11 01:41 by the firmware's clock"},
      {std::nullopt, "Time: the firmware's clock does not say"},
      {EFI_TIME{2026, 13, 11, 1, 41, 0, 0, 0, 0, 0, 0}, "Time: the firmware's clock does not say"},
      {EFI_TIME{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "Time: the firmware's clock does not say"},
  };
  for (const Clock &C : kClocks) {
    StickMachine M;
    M.Firmware.Clock = C.Time;
    M.AddLogo();
    M.Run();
    const std::vector<uint8_t> *Report = M.Stick.Find(u"Quillon-report.txt");
    ASSERT_NE(Report, nullptr);
    std::string Text(Report->begin(), Report->end());
    std::string Expected = std::string("Quillon 1.0: the boot logo out of this machine's firmware.\r\n") +
                           "Firmware: Simulated firmware, revision 0x00010000\r\n" + C.Said + "\r\nRSDP address [";
    EXPECT_EQ(Text.substr(0, Expected.size()), Expected);
  }
}

// A vendor's name is the firmware's to give: one with control characters, or longer than a line,
// reaches neither the screen nor the file as it stands.
TEST(StickReport, AVendorNameIsCutAndItsControlCharactersShownPlain) {
  StickMachine M;
  std::u16string Vendor = u"Vendor\x1b[2J" + std::u16string(100, u'x');
  M.Firmware.SystemTable()->FirmwareVendor = Vendor.data();
  M.Run();
  std::string Console = M.Console();
  std::string Expected = "Firmware: Vendor?[2J" + std::string(50, 'x') + ", revision 0x00010000\r\n";
  EXPECT_NE(Console.find(Expected), std::string::npos) << Console.substr(0, 200);
}

// A key pressed before the program asks for one does not restart the machine; and a report from
// an earlier, longer run is replaced whole, not written over.
TEST(StickRun, KeysPressedEarlyDoNotCountAndAnOlderReportIsReplaced) {
  StickMachine M;
  M.AddLogo();
  M.Firmware.PressedKeys = {EFI_INPUT_KEY{0, u'a'}, EFI_INPUT_KEY{0, u'\r'}};
  M.Stick.Files[u"quillon-REPORT.txt"] = std::vector<uint8_t>(100000, 'x');
  M.Run();
  EXPECT_TRUE(M.Firmware.WaitedForKey);
  const std::vector<uint8_t> *Report = M.Stick.Find(u"Quillon-report.txt");
  ASSERT_NE(Report, nullptr);
  EXPECT_EQ(*Report, ReportOnScreen(M));
  EXPECT_EQ(M.Stick.Files.size(), 3u) << "an older report was left beside the new one and the logo's two files";
}

// A firmware whose keyboard never runs out of keys does not hold the program in its wait: it
// restarts the machine, as for a key pressed.
TEST(StickRun, AKeyboardThatNeverRunsOutOfKeysDoesNotHoldTheMachine) {
  StickMachine M;
  M.AddLogo();
  M.Firmware.PressedKeys.assign(100000, EFI_INPUT_KEY{0, u'x'});
  M.Run();
  EXPECT_EQ(M.Firmware.Resets, std::vector<EFI_RESET_TYPE>{EfiResetCold});
  EXPECT_LT(M.Firmware.Calls(SimCall::ReadKeyStroke), 100);
}

}  // namespace

// The report is saved as the logo is: an earlier run's report stays whole until this one is
// written whole, and one the firmware will not delete does not keep its tail under the new text.
TEST(StickReport, AnEarlierReportStaysWholeUntilTheNewOneIs) {
  const std::vector<uint8_t> Earlier(40000, 'r');
  {
    StickMachine M;
    M.Stick.Files[u"Quillon-report.txt"] = Earlier;
    M.Firmware.FailCall(SimCall::FileWrite, EFI_DEVICE_ERROR, 0, 1);  // the report is all this machine writes
    M.Run();
    ASSERT_NE(M.Stick.Find(u"Quillon-report.txt"), nullptr) << "the earlier report is gone, and no new one kept";
    EXPECT_EQ(*M.Stick.Find(u"Quillon-report.txt"), Earlier);
    EXPECT_EQ(M.Stick.Files.size(), 1u);
    std::vector<std::string> Words = M.Words();
    EXPECT_NE(std::find(Words.begin(), Words.end(), kNotKept), Words.end());
  }
  {
    StickMachine M;
    M.Stick.Files[u"Quillon-report.txt"] = Earlier;
    M.Firmware.FailCall(SimCall::FileDelete, EFI_WARN_DELETE_FAILURE, 0, 1);
    M.Run();
    const std::vector<uint8_t> *Report = M.Stick.Find(u"Quillon-report.txt");
    ASSERT_NE(Report, nullptr);
    std::string Console = M.Console();
    EXPECT_EQ(std::string(Report->begin(), Report->end()), Console.substr(0, Report->size()))
        << "the report is not this run's text alone";
    EXPECT_EQ(Console.substr(Report->size(), 40), "Error Delete  [Warning Delete Failure]\r\n");
    std::vector<std::string> Words = M.Words();
    EXPECT_NE(std::find(Words.begin(), Words.end(), kKept), Words.end());
  }
}

// Firmware that will not wait for the key (WaitForEvent is allowed to refuse) gets its keyboard
// asked until a key comes: a restart at once would start the stick again, and again.
TEST(StickRun, AFirmwareThatWillNotWaitHasItsKeyboardAskedUntilAKeyComes) {
  for (EFI_STATUS Refusal : {EFI_UNSUPPORTED, EFI_INVALID_PARAMETER}) {
    StickMachine M;
    M.Firmware.FailCall(SimCall::WaitForEvent, Refusal);
    M.Run();
    EXPECT_TRUE(M.Firmware.WaitedForKey) << "the machine restarted before the person pressed a key";
    EXPECT_EQ(M.Firmware.WatchdogAtWaits, std::vector<UINTN>{0});
    EXPECT_EQ(M.Firmware.Resets, std::vector<EFI_RESET_TYPE>{EfiResetCold});
    EXPECT_EQ(M.Firmware.LastCall(), SimCall::ResetSystem);
  }
}

// A watchdog the firmware will not stop restarts the machine under the person: they are told.
TEST(StickRun, AWatchdogLeftRunningIsSaid) {
  StickMachine M;
  M.Firmware.FailCall(SimCall::SetWatchdogTimer, EFI_DEVICE_ERROR);
  M.Run();
  std::vector<std::string> Words = M.Words();
  std::vector<std::string> Last(Words.end() - 3, Words.end());
  EXPECT_EQ(Last, (std::vector<std::string>{"Quillon: the firmware would not stop its watchdog  [Device Error]:",
                                            "  it may restart the machine on its own within minutes.", kNext}));
}

// The pictures beside the logo: one that could not be kept is said in the plain words too, not only
// in the report's lines above them; one there was nothing to make of is not.
TEST(StickWords, APictureNotKeptIsSaid) {
  const char *kScreenNotKept = "Quillon: the screen as the firmware left it could not be kept (see above).";
  const char *kPictureNotKept = "  BIOSLogo.png, the same picture, could not be saved (see above).";
  struct Case {
    const char *What;
    std::function<void(StickMachine &)> Build;
    std::vector<std::string> Said;
  } Cases[] = {
      {"the screen not read back",
       [](StickMachine &M) {
         M.ShowScreen(64, 48);
         M.Firmware.FailCall(SimCall::Blt, EFI_DEVICE_ERROR);
       },
       {kScreenNotKept}},
      {"no screen: nothing to keep", [](StickMachine &) {}, {}},
      {"the logo's picture not written",
       [](StickMachine &M) {
         M.AddLogo();
         M.Firmware.FailCall(SimCall::FileWrite, EFI_DEVICE_ERROR, 1, 1);  // the logo's first, its picture's next
       },
       {kPictureNotKept}},
      {"an 8-bit logo: no picture to make",
       [](StickMachine &M) {
         M.Logo = AcpiBuilder::Bitmap(16, 8, 8);
         M.AddLogo();
       },
       {}},
  };
  for (const Case &C : Cases) {
    StickMachine M;
    C.Build(M);
    M.Run();
    std::vector<std::string> Said;
    for (const std::string &Line : M.Words()) {
      if (Line == kScreenNotKept || Line == kPictureNotKept) Said.push_back(Line);
    }
    EXPECT_EQ(Said, C.Said) << C.What;
  }
}

// A pool that answers without a buffer, with success or a warning, has given none: nothing is read
// into it, written from it or given back to it.
TEST(StickRun, APoolAnswerWithoutABufferIsTakenForNone) {
  StickMachine M;
  M.ShowScreen(16, 8);
  M.AddLogo();
  M.Stick.Files[u"Quillon-report.txt"] = std::vector<uint8_t>(100, 'r');
  M.Firmware.FailCall(SimCall::AllocatePool, EFI_WARN_DELETE_FAILURE);  // a warning: no buffer, no error
  M.Run();
  EXPECT_EQ(M.Firmware.BadFrees(), 0u) << "a buffer the pool never gave was given back";
  EXPECT_EQ(*M.Stick.Find(u"Quillon-report.txt"), std::vector<uint8_t>(100, 'r')) << "an empty report was kept";
  EXPECT_EQ(M.Firmware.Resets, std::vector<EFI_RESET_TYPE>{EfiResetCold});
}
