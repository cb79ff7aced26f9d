// The stick program, Quillon as the boot manager starts it from a USB stick, through shim or
// directly, with no shell. Its story: find the stick it was loaded from, run the report saving the
// logo there and nowhere else, keep the report on the stick too, say in plain words what happened
// and what to do next, wait for a key, and restart the machine. It never returns to shim, which
// would take some statuses as a cue to start its fallback loader or this program again.
#include "app/App.h"
#include "app/LogoPicture.h"
#include "base/BoundedLength.h"
#include "firmware/Guids.h"
#include "firmware/LoadedImage.h"
#include "print/Print.h"
#include "stick/ConsoleRecord.h"
#include "stick/LogoOnScreen.h"
#include "stick/ScreenPicture.h"
#include "stick/SecureBootKeys.h"
#include "stick/Stick.h"
#include "stick/Words.h"

namespace {

constexpr SavedFileNames kReportNames = {u"Quillon-report.txt", u"Quillon-report.new", u"Quillon-report.old",
                                         "report"};
// Room for the report's text: a few dozen lines on any machine; a broken XSDT can make hundreds,
// and past this the file ends where the room does.
constexpr UINTN kReportRoom = 256 * 1024;

// Keys pressed before the program asks for one, set aside unread.
constexpr UINT32 kMostKeysAhead = 64;

// A firmware vendor's name is a few words; a longer one is cut here.
constexpr UINTN kMostVendorCharacters = 60;

enum class SecureBoot { Off, On, Unknown };

// What became of a file the program keeps beside the logo: kept, not to be made at all (no screen,
// a logo the program does not draw), or not kept for a fault, which the lines above it name.
enum class Kept { Saved, NotMade, Failed, KeptAside };

// The file-system volume on the device this program was loaded from; null when the firmware will
// not say which, or the device has none.
EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *StickVolume(EFI_HANDLE ImageHandle) {
  EFI_LOADED_IMAGE_PROTOCOL *Loaded = nullptr;
  if (EFI_ERROR(gBootServices->OpenProtocol(ImageHandle, &EFI_LOADED_IMAGE_PROTOCOL_GUID, (VOID **)&Loaded,
                                            ImageHandle, nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL)) ||
      Loaded == nullptr || Loaded->DeviceHandle == nullptr) {
    return nullptr;
  }
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume = nullptr;
  if (EFI_ERROR(gBootServices->OpenProtocol(Loaded->DeviceHandle, &EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID,
                                            (VOID **)&Volume, ImageHandle, nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL))) {
    return nullptr;
  }
  return Volume;
}

SecureBoot SecureBootState() {
  UINT8 Enabled = 0;
  UINTN Size = sizeof Enabled;
  EFI_RUNTIME_SERVICES *Runtime = gSystemTable->RuntimeServices;
  if (Runtime == nullptr ||
      EFI_ERROR(Runtime->GetVariable(u"SecureBoot", &EFI_GLOBAL_VARIABLE, nullptr, &Size, &Enabled)) || Size != 1) {
    return SecureBoot::Unknown;
  }
  return Enabled == 1 ? SecureBoot::On : SecureBoot::Off;
}

// A volume that cannot be opened: where the stick is not known, the report saves nowhere rather
// than on whatever volume the firmware lists first.
EFI_STATUS EFIAPI NoVolume(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *, EFI_FILE_PROTOCOL **) { return EFI_NOT_FOUND; }

// The logo BIOSLogo.bmp now holds, as a picture anyone can open too.
Kept KeepLogoPicture(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, const ReportRecord &Report) {
  if (Report.SavedNumber == 0) return Kept::NotMade;
  if (Report.SavedNumber > kBgrtsRecorded) {
    ConsolePrint(u"Logo: no BIOSLogo.png: BGRT %u is past those recorded\n", Report.SavedNumber);
    return Kept::NotMade;
  }
  const BgrtFinding &Finding = Report.Bgrts[Report.SavedNumber - 1];
  LogoPixels Pixels;
  bool Drawable = ReadLogoPixels(Finding, &Pixels) == nullptr;
  if (SaveLogoPicture(Volume, Finding)) return Kept::Saved;
  return Drawable ? Kept::Failed : Kept::NotMade;
}

Kept KeepScreenPicture(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, const ScreenPicture &Picture) {
  if (SaveScreenPicture(Volume, Picture)) return Kept::Saved;
  bool NoneToTake = Picture.Outcome == PictureOutcome::NoScreen || Picture.Outcome == PictureOutcome::TooLarge;
  return NoneToTake ? Kept::NotMade : Kept::Failed;
}

// Writes the record's text to the stick as the report, by the same safe save as the logo: an
// earlier run's report stays whole until this one is.
Kept KeepReport(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Stick, const ConsoleRecord &Text) {
  // The save's own error lines go on into the record, after the text it writes.
  SaveOutcome Outcome;
  EFI_STATUS Status = SaveWholeFile(Stick, kReportNames, (UINT64)(UINTN)Text.Text, Text.Length, &Outcome);
  if (!EFI_ERROR(Status)) return Kept::Saved;
  return Outcome.KeptAside ? Kept::KeptAside : Kept::Failed;
}

// The report's first lines, so that the file on the stick says on its own which Quillon wrote it,
// on which firmware, and when by the firmware's clock.
void SayWhoWhereWhen() {
  ConsolePrint(QUILLON_STICK_FIRST_LINE, kStickVersion);
  // The vendor's name as the firmware gives it, up to a line's worth, control characters shown as '?'.
  CHAR16 Vendor[kMostVendorCharacters + 1] = {};
  const CHAR16 *Given = gSystemTable->FirmwareVendor;
  UINTN Length = Given != nullptr ? (UINTN)WideBoundedLength(Given, kMostVendorCharacters) : 0;
  for (UINTN Index = 0; Index < Length; Index++) Vendor[Index] = Given[Index] < u' ' ? u'?' : Given[Index];
  ConsolePrint(u"Firmware: %s, revision 0x%08X\n", Vendor, gSystemTable->FirmwareRevision);
  EFI_TIME Now{};
  EFI_RUNTIME_SERVICES *Runtime = gSystemTable->RuntimeServices;
  bool Told = Runtime != nullptr && !EFI_ERROR(Runtime->GetTime(&Now, nullptr));
  // A clock that was never set may give anything; only a time that could be one is shown.
  if (Told && Now.Year >= 1998 && Now.Year <= 9999 && Now.Month >= 1 && Now.Month <= 12 && Now.Day >= 1 &&
      Now.Day <= 31 && Now.Hour < 24 && Now.Minute < 60) {
    ConsolePrint(u"Time: %04u-%02u-%02u %02u:%02u by the firmware's clock\n", (UINT32)Now.Year, (UINT32)Now.Month,
                 (UINT32)Now.Day, (UINT32)Now.Hour, (UINT32)Now.Minute);
  } else {
    ConsolePrint(u"Time: the firmware's clock does not say\n");
  }
}

// The plain words after the report: whether Secure Boot is on, and where the logo is or what kept
// it from the stick. Every line is under 80 columns.
void SayWhatHappened(const ReportRecord &Report, EFI_STATUS Status, SecureBoot Boot, bool StickFound,
                     Kept LogoPicture, Kept Screen) {
  ConsolePrint(u"\n");
  ConsolePrint(u"Quillon: Secure Boot is %a.\n", Boot == SecureBoot::On    ? "on"
                                                 : Boot == SecureBoot::Off ? "off"
                                                                           : "in a state the firmware does not say");
  SayFirmwareKeys();
  if (!StickFound) {
    ConsolePrint(u"Quillon: the firmware does not say which stick Quillon started from,\n");
    ConsolePrint(u"  so nothing was saved anywhere.\n");
  } else if (Report.SavedNumber != 0) {
    ConsolePrint(u"Quillon: the logo is on this stick as BIOSLogo.bmp, in its top folder.\n");
    const BitmapShape &Shape = Report.Saved.Rule.Shape;
    ConsolePrint(u"  The logo: %u x %u pixels, %u bits a pixel, %,u bytes.\n", Shape.Width, Shape.Height,
                 Shape.BitsPerPixel, Report.Saved.FileSize);
    if (LogoPicture == Kept::Saved) ConsolePrint(u"  BIOSLogo.png beside it is the same picture, for sharing.\n");
    if (LogoPicture == Kept::Failed) ConsolePrint(u"  BIOSLogo.png, the same picture, could not be saved (see above).\n");
  } else if (Report.KeptAside) {
    ConsolePrint(u"Quillon: the logo is kept whole on this stick, as the report names above.\n");
  } else if (Report.NoMemoryMap) {
    ConsolePrint(u"Quillon: the firmware gave no memory map, so no table was read (see above).\n");
  } else if (Report.BgrtCount == 0 && Report.Unreadable) {
    ConsolePrint(u"Quillon: the firmware's tables point where nothing can be read (see above).\n");
  } else if (Report.BgrtCount == 0) {
    ConsolePrint(u"Quillon: this firmware publishes no boot logo (no BGRT): nothing to save.\n");
    ConsolePrint(u"  Some firmware publishes it only when a screen is attached.\n");
  } else if (Status == EFI_WRITE_PROTECTED) {
    ConsolePrint(u"Quillon: this stick is read-only (a switch on its side?): nothing was saved.\n");
  } else if (Status == EFI_VOLUME_FULL) {
    ConsolePrint(u"Quillon: this stick is full: the logo could not be saved.\n");
  } else if (Report.Refused) {
    ConsolePrint(u"Quillon: the firmware's logo is no bitmap Quillon will save (see above).\n");
  } else if (Report.Unreadable) {
    ConsolePrint(u"Quillon: the firmware's tables point where nothing can be read (see above).\n");
  } else {
    ConsolePrint(u"Quillon: the logo could not be saved on this stick (see above).\n");
  }
  if (Report.SavedNumber != 0 && (Report.Refused || Report.Unreadable || Report.SaveFailed)) {
    ConsolePrint(u"  Some of what the firmware publishes could not be saved (see above).\n");
  }
  if (Screen == Kept::Saved) {
    ConsolePrint(u"Quillon: the screen as the firmware left it is on the stick as Screen.png.\n");
  } else if (Screen == Kept::Failed && StickFound) {
    ConsolePrint(u"Quillon: the screen as the firmware left it could not be kept (see above).\n");
  }
}

// Where the report is, whether the firmware may restart the machine by itself, and what to do next:
// the last line, as the key it asks for is the next thing read.
void SayWhatNext(bool StickFound, Kept Report, EFI_STATUS Watchdog) {
  if (Report == Kept::Saved) {
    ConsolePrint(u"Quillon: this report is on the stick too, as Quillon-report.txt.\n");
    ConsolePrint(u"  On any computer, the stick's files are there to copy.\n");
  } else if (Report == Kept::KeptAside) {
    ConsolePrint(u"Quillon: this report is kept whole on the stick, as the line above names.\n");
  } else if (StickFound) {
    ConsolePrint(u"Quillon: the report could not be kept on the stick.\n");
  }
  if (EFI_ERROR(Watchdog)) {
    ConsolePrint(u"Quillon: the firmware would not stop its watchdog  [%r]:\n", Watchdog);
    ConsolePrint(u"  it may restart the machine on its own within minutes.\n");
  }
  ConsolePrint(QUILLON_STICK_LAST_LINE);
}

// Waits for a key: any pressed before now does not count. Where the firmware will not wait, the
// keyboard is asked until a key comes: restarting at once would start the stick again, and again.
void WaitForKey() {
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Keyboard = gSystemTable->ConIn;
  if (Keyboard == nullptr) return;
  EFI_INPUT_KEY Key;
  // A keyboard's buffer holds a few dozen keys; a firmware that never runs out of them would
  // otherwise hold the machine here for ever.
  for (UINT32 Drained = 0; Drained < kMostKeysAhead && !EFI_ERROR(Keyboard->ReadKeyStroke(Keyboard, &Key));
       Drained++) {
  }
  UINTN Index = 0;
  if (!EFI_ERROR(gBootServices->WaitForEvent(1, &Keyboard->WaitForKey, &Index))) {
    Keyboard->ReadKeyStroke(Keyboard, &Key);
    return;
  }
  bool Told = false;
  for (;;) {
    EFI_STATUS Status = Keyboard->ReadKeyStroke(Keyboard, &Key);
    if (!EFI_ERROR(Status)) return;
    if (Status != EFI_NOT_READY && !Told) {
      ConsolePrint(u"Quillon: the keyboard cannot be read  [%r]: switch the machine off.\n", Status);
      Told = true;
    }
  }
}

}  // namespace

extern "C" EFI_STATUS EFIAPI StickEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gSystemTable = SystemTable;
  gBootServices = SystemTable->BootServices;
  // Before the first line, which the console draws over the screen.
  ScreenPicture Picture;
  TakeScreenPicture(&Picture);
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Stick = StickVolume(ImageHandle);
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL Nowhere = {0x00010000, NoVolume};
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume = Stick != nullptr ? Stick : &Nowhere;

  ConsoleRecord Text;
  bool Recording = StartRecording(&Text, kReportRoom);
  SayWhoWhereWhen();
  ReportRecord Report;
  EFI_STATUS Status = ReportBootLogo(Volume, &Report);
  Kept LogoPicture = KeepLogoPicture(Volume, Report);
  Kept Screen = KeepScreenPicture(Volume, Picture);
  SayLogosOnScreen(Picture, Report);
  ReleaseScreenPicture(&Picture);
  SayWhatHappened(Report, Status, SecureBootState(), Stick != nullptr, LogoPicture, Screen);
  Kept Saved = Recording && Stick != nullptr ? KeepReport(Stick, Text) : Kept::Failed;
  if (Recording) StopRecording(&Text);

  // The boot manager armed the firmware's watchdog for five minutes before it started shim: left
  // armed, it restarts the machine under a person still reading, and the stick runs again.
  EFI_STATUS Watchdog = gBootServices->SetWatchdogTimer(0, 0, 0, nullptr);
  SayWhatNext(Stick != nullptr, Saved, Watchdog);
  WaitForKey();
  gSystemTable->RuntimeServices->ResetSystem(EfiResetCold, EFI_SUCCESS, 0, nullptr);
  return EFI_SUCCESS;
}
