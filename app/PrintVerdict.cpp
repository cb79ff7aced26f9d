// The verdict's lines, made from its record and the texts of app/VerdictTexts.h. The README has a
// table of every line.
#include "app/BgrtVerdict.h"
#include "base/PackedTexts.h"
#include "firmware/Acpi.h"
#include "firmware/SystemTable.h"
#include "print/Print.h"

namespace {

// Modes listed a line, and at most; a broken graphics output may claim four billion, and the
// screen line says how many it claims.
constexpr UINT32 kModesALine = 5;
constexpr UINT32 kMostModesListed = 100;

constexpr const char *kVerdictTexts[] = {
#define QUILLON_VERDICT_WORDS(Name, Words) Words,
    QUILLON_VERDICT_TEXTS(QUILLON_VERDICT_WORDS)
#undef QUILLON_VERDICT_WORDS
};
constexpr UINTN kVerdictTextCount = sizeof kVerdictTexts / sizeof kVerdictTexts[0];
constexpr auto kPackedVerdictTexts = PackTexts<kVerdictTexts>();

// A text of the table with a decision's numbers in it; the longest is a reason with two of them.
constexpr UINTN kWordsChars = 80;
struct Words {
  CHAR8 Text[kWordsChars];
};

// The words of a text, its %u and %X taking Value, then Expected, in decimal and in hexadecimal,
// and %% a percent sign. Only the numbers go through the format engine, as compiled formats: a
// runtime format would bring the engine's whole scanner into the images for three directives.
Words Say(VerdictText Text, UINT32 Value = 0, UINT32 Expected = 0) {
  Words Said;
  const UINT32 Numbers[] = {Value, Expected};
  UINTN Next = 0;
  UINTN At = 0;
  for (const char *From = VerdictWords(Text); *From != 0 && At + 1 < kWordsChars; From++) {
    if (From[0] != '%' || From[1] == 0) {
      Said.Text[At++] = *From;
      continue;
    }
    From++;
    if (*From == '%') {
      Said.Text[At++] = '%';
      continue;
    }
    UINT32 Number = Next < 2 ? Numbers[Next++] : 0;
    At += *From == 'X' ? FormatCompiled(Said.Text + At, kWordsChars - At, 0, COMPILED_FORMAT("%X"), Number)
                       : FormatCompiled(Said.Text + At, kWordsChars - At, 0, COMPILED_FORMAT("%u"), Number);
  }
  Said.Text[At] = 0;
  return Said;
}

}  // namespace

void PrintBgrtTable(const BgrtFinding &Finding, const BgrtVerdict &V) {
  const BgrtTable &T = Finding.Table;
  UINT32 Status = T.Status;
  ConsolePrint(u"  BGRT %u checksum %a\n", Finding.Number, Say(V.Checksum).Text);
  // A '!' follows a value other than the one the ACPI specification gives a BGRT.
  ConsolePrint(u"  Length %u%a, revision %u%a, version %u%a, type %u%a, status 0x%02X\n", T.Length,
               V.LengthWrong ? "!" : "", (UINT32)T.Revision, V.RevisionWrong ? "!" : "", (UINT32)T.Version,
               V.VersionWrong ? "!" : "", (UINT32)T.ImageType, V.TypeWrong ? "!" : "", Status);
  ConsolePrint(u"  Status: %adisplayed, rotated %u degrees%a\n", (Status & BGRT_STATUS_DISPLAYED) != 0 ? "" : "not ",
               (Status >> BGRT_STATUS_ORIENTATION_SHIFT & 3) * 90,
               (Status & BGRT_STATUS_RESERVED) != 0 ? ", reserved bits set" : "");
}

void PrintImageMemory(const BgrtFinding &Finding, const BgrtVerdict &V) {
  const BgrtTable &T = Finding.Table;
  if (T.ImageAddress == 0) return;
  if (V.Memory.Described) {
    ConsolePrint(u"  Image memory: type %u, %a\n", V.Memory.Type,
                 Say(V.Memory.Type == EfiBootServicesData ? VerdictText::BootServicesData
                                                          : VerdictText::NotBootServicesData)
                     .Text);
  } else {
    ConsolePrint(u"  Image memory: not in the memory map\n");
  }
}

namespace {

void PrintScreen(const ScreenNow &S) {
  if (S.Output == nullptr) {
    ConsolePrint(u"  Screen: no graphics output\n");
    return;
  }
  ConsolePrint(u"  Screen now: %u x %u, mode %u of %u\n", S.Width, S.Height, S.Mode, S.MaxMode);
  ConsolePrint(u"  Pixels: format %u, %u a scan line\n", S.PixelFormat, S.PixelsPerScanLine);

  // Every mode the output offers, a few a line, in mode order; one it will not describe is 0 x 0.
  UINT32 Listed = S.MaxMode < kMostModesListed ? S.MaxMode : kMostModesListed;
  for (UINT32 Mode = 0; Mode < Listed; Mode++) {
    UINTN SizeOfInfo = 0;
    EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *Info = nullptr;
    if (EFI_ERROR(S.Output->QueryMode(S.Output, Mode, &SizeOfInfo, &Info))) Info = nullptr;
    bool Known = Info != nullptr && SizeOfInfo >= offsetof(EFI_GRAPHICS_OUTPUT_MODE_INFORMATION, PixelFormat);
    ConsolePrint(u"%a%u x %u", Mode % kModesALine == 0 ? "  Modes: " : ", ", Known ? Info->HorizontalResolution : 0,
                 Known ? Info->VerticalResolution : 0);
    if (Info != nullptr) gBootServices->FreePool(Info);
    if (Mode % kModesALine == kModesALine - 1 || Mode + 1 == Listed) ConsolePrint(u"\n");
  }
}

}  // namespace

void PrintPlace(const BgrtTable &T, const ScreenNow &S, const PlaceVerdict &P) {
  ConsolePrint(u"  Across: at %u of %u: %a\n", T.OffsetX, S.Width, Say(P.Across).Text);
  ConsolePrint(u"  Down: at %u of %u, centre %u.%u%%: %a\n", T.OffsetY, S.Height, P.CentrePermille / 10,
               P.CentrePermille % 10, Say(P.Down).Text);
  ConsolePrint(u"  Size: %u%% of the width, %u%% of the height: %a\n", P.WidthPercent, P.HeightPercent,
               Say(P.Size).Text);
}

void PrintReaderDecision(const ReaderDecision &D, const CHAR8 *Who) {
  bool Reason = D.Reason != VerdictText::None;
  Words Reader = Say(D.Reader);
  ConsolePrint(u"  %a: %a%a%a\n", Who != nullptr ? Who : Reader.Text, Say(D.Outcome).Text, Reason ? ": " : "",
               Say(D.Reason, D.Value, D.Expected).Text);
}

const char *VerdictWords(VerdictText Text) {
  UINTN Index = (UINTN)Text;
  return kPackedVerdictTexts[Index < kVerdictTextCount ? Index : 0];
}

void PrintBgrtVerdict(const BgrtFinding &Finding, const BgrtVerdict &Verdict) {
  PrintBgrtTable(Finding, Verdict);
  PrintImageMemory(Finding, Verdict);
  PrintScreen(Verdict.Screen);
  if (Verdict.Place.Judged) PrintPlace(Finding.Table, Verdict.Screen, Verdict.Place);
  for (UINT32 Index = 0; Index < Verdict.ReaderCount && Index < kMostReaders; Index++) {
    PrintReaderDecision(Verdict.Readers[Index]);
  }
}

void PrintSeveralBgrts(const ReportRecord &Record) {
  if (Record.BgrtCount < 2) return;
  ConsolePrint(u"  BGRTs: %u, marked displayed: %u, the last BGRT %u\n", Record.BgrtCount, Record.Displayed,
               Record.LastDisplayed);
  ConsolePrint(u"  BIOSLogo.bmp holds the last logo saved, BGRT %u's (0: none)\n", Record.SavedNumber);
}
