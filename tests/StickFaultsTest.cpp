// The stick program with each firmware call it makes failing in turn, with each error status the
// call may answer: a normal run first, on a machine as OVMF makes it (its tables, its logo drawn
// where the BGRT puts it on a 1280 x 800 screen, Secure Boot on with Microsoft's 2011 CAs in db)
// and a stick holding an earlier run's files; then the same run again with one call failing.
// Whatever fails, nothing is written but to the stick; every file the program keeps there is
// either this run's, whole and right, or the earlier one untouched; the plain words claim no file
// that is not so and say what could not be kept; every pool buffer goes back; the watchdog is off
// before the person is asked for a key (or the words say it is not); and the restart is the last
// call. QUILLON_FAULTS_TABLE=FILE writes what the person reads in each run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "print/Print.h"
#include "sim/DbBuilder.h"
#include "tests/StickMachine.h"

namespace {

using Files = std::map<std::u16string, std::vector<uint8_t>>;

const char *kLogoOnStick = "Quillon: the logo is on this stick as BIOSLogo.bmp, in its top folder.";
const char *kLogoPicture = "  BIOSLogo.png beside it is the same picture, for sharing.";
const char *kScreenOnStick = "Quillon: the screen as the firmware left it is on the stick as Screen.png.";
const char *kReportKept = "Quillon: this report is on the stick too, as Quillon-report.txt.";
const char *kReportNotKept = "Quillon: the report could not be kept on the stick.";
const char *kStickNotFound = "Quillon: the firmware does not say which stick Quillon started from,";
const char *kLogoPictureNotKept = "  BIOSLogo.png, the same picture, could not be saved (see above).";
const char *kScreenNotKept = "Quillon: the screen as the firmware left it could not be kept (see above).";
const char *kWatchdogLeft = "Quillon: the firmware would not stop its watchdog";
const char *kReportStarts = "Quillon 1.0: the boot logo out of this machine's firmware.";

// Where the words claim each file, and what says it could not be kept.
struct KeptFile {
  const char16_t *Name;
  const char *Claim;
};
const KeptFile kKeptFiles[] = {
    {u"BIOSLogo.bmp", kLogoOnStick},
    {u"BIOSLogo.png", kLogoPicture},
    {u"Screen.png", kScreenOnStick},
    {u"Quillon-report.txt", kReportKept},
};

std::vector<uint8_t> Bytes(const std::string &Text) { return std::vector<uint8_t>(Text.begin(), Text.end()); }

// An earlier run's files, each unlike what this run writes.
Files EarlierFiles() {
  return Files{{u"BIOSLogo.bmp", AcpiBuilder::Bitmap(20, 10, 24, 3)},
               {u"BIOSLogo.png", Bytes("an earlier BIOSLogo.png")},
               {u"Screen.png", Bytes("an earlier Screen.png")},
               {u"Quillon-report.txt", std::vector<uint8_t>(40000, 'r')}};
}

void BuildNormalMachine(StickMachine &M) {
  M.ShowScreen(1280, 800);
  M.Screen->Draw(M.Logo, 543, 371);
  M.AddLogo(M.Logo, BgrtAt(543, 371));
  M.Firmware.SetVariable(EFI_IMAGE_SECURITY_DATABASE_GUID, u"db", db_builder::Microsoft2011Db());
  M.Firmware.Clock = EFI_TIME{2026, 3, 14, 9, 26, 53, 0, 0, 0, 0, 0};
  M.Stick.Files = EarlierFiles();
}

std::string Narrow(std::u16string_view Text) {
  std::string Narrowed;
  for (char16_t Unit : Text) Narrowed.push_back(Unit < 0x80 ? (char)Unit : '?');
  return Narrowed;
}

std::vector<std::string> Lines(const std::string &Text) {
  std::vector<std::string> Split;
  for (size_t At = 0; At < Text.size();) {
    size_t End = Text.find("\r\n", At);
    if (End == std::string::npos) End = Text.size();
    Split.push_back(Text.substr(At, End - At));
    At = End + 2;
  }
  return Split;
}

bool HasLine(const std::string &Text, const std::string &Line) {
  std::vector<std::string> All = Lines(Text);
  return std::find(All.begin(), All.end(), Line) != All.end();
}

// The files, words and calls of a normal run, which the failing runs are held against.
struct NormalRun {
  Files Stick;
  std::vector<std::string> Words;
  int Calls[(int)SimCall::Count];
  std::vector<UINTN> PoolRequests;
};

const NormalRun &Normal() {
  static const NormalRun Run = [] {
    NormalRun Made{};
    StickMachine M;
    BuildNormalMachine(M);
    M.Run();
    Made.Stick = M.Stick.Files;
    Made.Words = M.Words();
    for (int Call = 0; Call < (int)SimCall::Count; Call++) Made.Calls[Call] = M.Firmware.Calls((SimCall)Call);
    Made.PoolRequests = M.Firmware.PoolRequests();
    return Made;
  }();
  return Run;
}

// The calls the stick makes and the error statuses each may answer, the most telling first. Close
// answers success always and the restart returns nothing, so neither is failed.
struct CallStatuses {
  SimCall Call;
  const char *Name;
  std::vector<EFI_STATUS> Statuses;
};

const std::vector<CallStatuses> &CallsFailed() {
  static const std::vector<CallStatuses> Calls = {
      {SimCall::OpenProtocol, "OpenProtocol",
       {EFI_UNSUPPORTED, EFI_INVALID_PARAMETER, EFI_ACCESS_DENIED, EFI_ALREADY_STARTED}},
      {SimCall::LocateProtocol, "LocateProtocol", {EFI_NOT_FOUND, EFI_INVALID_PARAMETER}},
      {SimCall::AllocatePool, "AllocatePool", {EFI_OUT_OF_RESOURCES, EFI_INVALID_PARAMETER}},
      {SimCall::FreePool, "FreePool", {EFI_INVALID_PARAMETER}},
      {SimCall::GetMemoryMap, "GetMemoryMap", {EFI_INVALID_PARAMETER, EFI_BUFFER_TOO_SMALL}},
      {SimCall::SetWatchdogTimer, "SetWatchdogTimer", {EFI_DEVICE_ERROR, EFI_UNSUPPORTED, EFI_INVALID_PARAMETER}},
      {SimCall::WaitForEvent, "WaitForEvent", {EFI_UNSUPPORTED, EFI_INVALID_PARAMETER}},
      {SimCall::GetTime, "GetTime", {EFI_DEVICE_ERROR, EFI_UNSUPPORTED, EFI_INVALID_PARAMETER}},
      {SimCall::GetVariable, "GetVariable",
       {EFI_DEVICE_ERROR, EFI_NOT_FOUND, EFI_BUFFER_TOO_SMALL, EFI_INVALID_PARAMETER, EFI_SECURITY_VIOLATION,
        EFI_UNSUPPORTED}},
      {SimCall::OutputString, "OutputString", {EFI_DEVICE_ERROR, EFI_UNSUPPORTED}},
      {SimCall::ReadKeyStroke, "ReadKeyStroke", {EFI_DEVICE_ERROR, EFI_NOT_READY, EFI_UNSUPPORTED}},
      {SimCall::QueryMode, "QueryMode", {EFI_DEVICE_ERROR, EFI_INVALID_PARAMETER}},
      {SimCall::Blt, "Blt", {EFI_DEVICE_ERROR, EFI_INVALID_PARAMETER}},
      {SimCall::OpenVolume, "OpenVolume",
       {EFI_DEVICE_ERROR, EFI_UNSUPPORTED, EFI_NO_MEDIA, EFI_VOLUME_CORRUPTED, EFI_ACCESS_DENIED, EFI_OUT_OF_RESOURCES,
        EFI_MEDIA_CHANGED}},
      {SimCall::FileOpen, "File Open",
       {EFI_DEVICE_ERROR, EFI_NOT_FOUND, EFI_NO_MEDIA, EFI_MEDIA_CHANGED, EFI_VOLUME_CORRUPTED, EFI_WRITE_PROTECTED,
        EFI_ACCESS_DENIED, EFI_OUT_OF_RESOURCES, EFI_VOLUME_FULL, EFI_INVALID_PARAMETER}},
      {SimCall::FileDelete, "File Delete", {EFI_WARN_DELETE_FAILURE}},
      {SimCall::FileWrite, "File Write",
       {EFI_DEVICE_ERROR, EFI_UNSUPPORTED, EFI_NO_MEDIA, EFI_VOLUME_CORRUPTED, EFI_WRITE_PROTECTED, EFI_ACCESS_DENIED,
        EFI_VOLUME_FULL}},
      {SimCall::FileGetInfo, "File GetInfo",
       {EFI_DEVICE_ERROR, EFI_UNSUPPORTED, EFI_NO_MEDIA, EFI_VOLUME_CORRUPTED, EFI_BUFFER_TOO_SMALL}},
      {SimCall::FileSetInfo, "File SetInfo",
       {EFI_DEVICE_ERROR, EFI_UNSUPPORTED, EFI_NO_MEDIA, EFI_VOLUME_CORRUPTED, EFI_WRITE_PROTECTED, EFI_ACCESS_DENIED,
        EFI_VOLUME_FULL, EFI_BAD_BUFFER_SIZE}},
      {SimCall::FileFlush, "File Flush",
       {EFI_DEVICE_ERROR, EFI_NO_MEDIA, EFI_VOLUME_CORRUPTED, EFI_WRITE_PROTECTED, EFI_ACCESS_DENIED, EFI_VOLUME_FULL}},
  };
  return Calls;
}

struct Failure {
  SimCall Call;
  EFI_STATUS Status;
  int Skip;   // the instance that fails first, from 0
  int Times;  // how many fail; -1 for every one from there on
  std::string What;
};

// Which instances of a call fail: every one of a call made a few times; of a frequent one, the
// first, three spread over the run and the last, and, of the pool, every allocation that is not a
// line's print buffer, as those are the memory the program's work needs.
std::vector<int> ChosenInstances(SimCall Call, int Made) {
  std::vector<int> Chosen;
  if (Made <= 8) {
    for (int Instance = 0; Instance < Made; Instance++) Chosen.push_back(Instance);
    return Chosen;
  }
  for (int Instance : {0, Made / 4, Made / 2, 3 * Made / 4, Made - 1}) Chosen.push_back(Instance);
  if (Call == SimCall::AllocatePool) {
    const std::vector<UINTN> &Sizes = Normal().PoolRequests;
    constexpr UINTN kLineBuffer = CONSOLE_PRINT_CHARACTERS * sizeof(CHAR16);
    for (size_t Instance = 0; Instance < Sizes.size(); Instance++) {
      if (Sizes[Instance] != kLineBuffer) Chosen.push_back((int)Instance);
    }
  }
  std::sort(Chosen.begin(), Chosen.end());
  Chosen.erase(std::unique(Chosen.begin(), Chosen.end()), Chosen.end());
  return Chosen;
}

// Every status at the first instance, the first status at each other chosen one, and, for a call
// made more than once, the first status at every instance from the first on.
std::vector<Failure> Failures() {
  std::vector<Failure> All;
  for (const CallStatuses &C : CallsFailed()) {
    int Made = Normal().Calls[(int)C.Call];
    if (Made == 0) {
      ADD_FAILURE() << C.Name << " is not called by a normal run";
      continue;
    }
    std::vector<int> Chosen = ChosenInstances(C.Call, Made);
    for (EFI_STATUS Status : C.Statuses) {
      All.push_back({C.Call, Status, 0, 1, std::string(C.Name) + " #1 of " + std::to_string(Made)});
    }
    for (size_t Index = 1; Index < Chosen.size(); Index++) {
      All.push_back({C.Call, C.Statuses[0], Chosen[Index], 1,
                     std::string(C.Name) + " #" + std::to_string(Chosen[Index] + 1) + " of " + std::to_string(Made)});
    }
    if (Made > 1) All.push_back({C.Call, C.Statuses[0], 0, -1, std::string(C.Name) + " every one"});
  }
  return All;
}

std::string StatusName(EFI_STATUS Status) {
  switch (Status) {
    case EFI_INVALID_PARAMETER: return "Invalid Parameter";
    case EFI_UNSUPPORTED: return "Unsupported";
    case EFI_BAD_BUFFER_SIZE: return "Bad Buffer Size";
    case EFI_BUFFER_TOO_SMALL: return "Buffer Too Small";
    case EFI_NOT_READY: return "Not Ready";
    case EFI_DEVICE_ERROR: return "Device Error";
    case EFI_WRITE_PROTECTED: return "Write Protected";
    case EFI_OUT_OF_RESOURCES: return "Out of Resources";
    case EFI_VOLUME_CORRUPTED: return "Volume Corrupt";
    case EFI_VOLUME_FULL: return "Volume Full";
    case EFI_NO_MEDIA: return "No Media";
    case EFI_MEDIA_CHANGED: return "Media changed";
    case EFI_NOT_FOUND: return "Not Found";
    case EFI_ACCESS_DENIED: return "Access Denied";
    case EFI_SECURITY_VIOLATION: return "Security Violation";
    case EFI_ALREADY_STARTED: return "Already started";
    case EFI_WARN_DELETE_FAILURE: return "Warning Delete Failure";
    default: return "0x" + std::to_string(Status);
  }
}

// What the person reads that a normal run does not show, and what a normal run shows that is gone.
std::vector<std::string> WordsChanged(const std::vector<std::string> &Words) {
  const std::vector<std::string> &Usual = Normal().Words;
  std::vector<std::string> Changed;
  for (const std::string &Line : Words) {
    if (std::find(Usual.begin(), Usual.end(), Line) == Usual.end()) Changed.push_back("+ " + Line);
  }
  for (const std::string &Line : Usual) {
    if (std::find(Words.begin(), Words.end(), Line) == Words.end()) Changed.push_back("- " + Line);
  }
  return Changed;
}

TEST(StickFaults, EveryCallFailedInTurnLeavesTheStickWholeAndTheWordsTrue) {
  const NormalRun &Usual = Normal();
  // The normal run itself: every file this run's, every claim made.
  for (const KeptFile &File : kKeptFiles) {
    ASSERT_NE(Usual.Stick.at(File.Name), EarlierFiles().at(File.Name)) << Narrow(File.Name) << " was not written";
    ASSERT_NE(std::find(Usual.Words.begin(), Usual.Words.end(), File.Claim), Usual.Words.end()) << File.Claim;
  }

  std::string Table = "| Call failed | Status | What the person reads besides a normal run's words |\n|---|---|---|\n";
  for (const Failure &F : Failures()) {
    SCOPED_TRACE(F.What + " failing with " + StatusName(F.Status));
    StickMachine M;
    BuildNormalMachine(M);
    Files InternalBefore = M.Internal.Files;
    M.Firmware.FailCall(F.Call, F.Status, F.Skip, F.Times);
    M.Run();
    const SimFirmware &Firmware = M.Firmware;
    ASSERT_GT(Firmware.FailedCalls(F.Call), 0);

    EXPECT_EQ(M.Internal.Files, InternalBefore) << "the internal disk changed";
    EXPECT_EQ(M.Internal.HandlesGiven(), 0u) << "the program opened the internal disk";
    EXPECT_EQ(M.Stick.OpenHandles(), 0u);
    EXPECT_EQ(Firmware.OutstandingPool(), (size_t)Firmware.FailedCalls(SimCall::FreePool))
        << "a pool buffer was kept that the firmware would have taken back";
    EXPECT_EQ(Firmware.BadFrees(), 0u);

    // Each file: this run's whole and right, or the earlier one untouched; and claimed only when
    // it is this run's. The report is the text from the first line to the plain words' end.
    std::string Offered = Narrow(Firmware.OfferedText());
    bool LinesLost = F.Call == SimCall::AllocatePool || F.Call == SimCall::OutputString;
    for (const KeptFile &File : kKeptFiles) {
      SCOPED_TRACE(Narrow(File.Name));
      const std::vector<uint8_t> *Now = M.Stick.Find(File.Name);
      if (Now == nullptr) {
        ADD_FAILURE() << "the earlier file is gone and no new one is there";
        continue;
      }
      bool Earlier = *Now == EarlierFiles().at(File.Name);
      bool Right;
      if (std::u16string(File.Name) == u"Quillon-report.txt") {
        std::string Text(Now->begin(), Now->end());
        size_t Start = Offered.find(kReportStarts);
        Right = Start == 0 && Offered.compare(0, Text.size(), Text) == 0 && Text.size() < Offered.size() &&
                Offered.compare(Text.size(), 2, "\r\n") != 0 && Text.size() >= 2 &&
                Text.compare(Text.size() - 2, 2, "\r\n") == 0;
      } else {
        Right = *Now == Usual.Stick.at(File.Name);
      }
      EXPECT_TRUE(Earlier || Right) << "neither the earlier file nor this run's, whole";
      bool Claimed = HasLine(Offered, File.Claim);
      if (Claimed) EXPECT_TRUE(Right) << "the words claim a file that is not this run's";
      if (!LinesLost) EXPECT_EQ(Claimed, Right) << "a file kept and not said, or not kept and not said";
    }
    // No file but the four, but one the report names, or an older file whose backup would not be
    // deleted, after the line that says so.
    for (const auto &[Name, Contents] : M.Stick.Files) {
      std::string Narrowed = Narrow(Name);
      bool Kept = std::any_of(std::begin(kKeptFiles), std::end(kKeptFiles),
                              [&](const KeptFile &File) { return Name == File.Name; });
      bool Named = Offered.find("'" + Narrowed + "'") != std::string::npos;
      bool Backup = Narrowed.find(".old") != std::string::npos && HasLine(Offered, "Error Delete  [" + StatusName(F.Status) + "]");
      EXPECT_TRUE(Kept || Named || Backup) << Narrowed << " was left and not named";
    }
    bool StickFound = !HasLine(Offered, kStickNotFound);
    if (!LinesLost && StickFound) {
      EXPECT_NE(HasLine(Offered, kReportKept), HasLine(Offered, kReportNotKept));
      if (HasLine(Offered, kLogoOnStick) && *M.Stick.Find(u"BIOSLogo.png") != Usual.Stick.at(u"BIOSLogo.png")) {
        EXPECT_TRUE(HasLine(Offered, kLogoPictureNotKept));
      }
      if (*M.Stick.Find(u"Screen.png") != Usual.Stick.at(u"Screen.png") &&
          !HasLine(Offered, "Screen: no graphics output: no picture taken")) {
        EXPECT_TRUE(HasLine(Offered, kScreenNotKept));
      }
    }

    // The person had the time to read: the watchdog off, or the words saying it is not; then the
    // key, and the restart last.
    EXPECT_TRUE(Firmware.WaitedForKey) << "restarted without waiting for the person";
    bool WatchdogLeft = F.Call == SimCall::SetWatchdogTimer;
    EXPECT_EQ(Firmware.WatchdogAtWaits, std::vector<UINTN>{WatchdogLeft ? 300u : 0u});
    EXPECT_EQ(Offered.find(kWatchdogLeft) != std::string::npos, WatchdogLeft)
        << "the person was not told the machine may restart under them";
    EXPECT_EQ(Firmware.Resets, std::vector<EFI_RESET_TYPE>{EfiResetCold});
    EXPECT_EQ(Firmware.LastCall(), SimCall::ResetSystem);

    std::vector<std::string> Changed = WordsChanged(M.Words());
    std::string Said;
    for (const std::string &Line : Changed) Said += (Said.empty() ? "" : "<br>") + Line;
    Table += "| " + F.What + " | " + StatusName(F.Status) + " | " + (Said.empty() ? "(nothing)" : Said) + " |\n";
  }
  if (const char *Path = std::getenv("QUILLON_FAULTS_TABLE")) std::ofstream(Path) << Table;
}

}  // namespace
