#include "BenchCases.h"

#include <fmt/format.h>

#include <cstdio>
#include <cstring>

#include "firmware/Guids.h"
#include "firmware/SystemTable.h"
#include "print/Print.h"

namespace {

const EFI_GUID kGuid = EFI_ACPI_20_TABLE_GUID;
constexpr uint64_t kStatus = EFI_NOT_FOUND;

const char *StatusName(uint64_t Status) {
  static const char *const Names[] = {"Load Error", "Invalid Parameter", "Unsupported", "Bad Buffer Size",
                                      "Buffer Too Small", "Not Ready", "Device Error", "Write Protected",
                                      "Out of Resources", "Volume Corrupt", "Volume Full", "No Media",
                                      "Media changed", "Not Found"};
  uint64_t Code = Status & ~(1ull << 63);
  return Code >= 1 && Code <= 14 ? Names[Code - 1] : "?";
}

template <typename... Types>
size_t Wide(char16_t *Line, const char16_t *Format, Types... Values) {
  const UINT64 Slots[sizeof...(Types) + 1] = {FormatSlot(Values)..., 0};
  return FormatCore(Line, kLineCharacters, FMT_IN_WIDE | FMT_OUT_WIDE, Format,
                    FormatArguments{Slots, sizeof...(Types)});
}

// The report's 14 lines: the RSDP, XSDT, signature, "Entry 0", BGRT, image, seven bitmap and
// saved-logo lines. A line is its format for Quillon's engine, for C and for {fmt}, then its
// values; each way adds the line's end. The engine's format is 8-bit here: u"" before it makes the
// UCS-2 one, so the runtime, compiled and console ways all take the same text. C's %x is lower
// case and the report's hexadecimal upper case, so C spells every one %X.
#define REPORT_LINES(LINE)                                                                                      \
  LINE("RSDP address [%lX]", "RSDP address [%lX]", "RSDP address [{:X}]", V.Rsdp)                                \
  LINE("XSDT address [%lX]", "XSDT address [%lX]", "XSDT address [{:X}]", V.Xsdt)                                \
  LINE(" Signature [%c%c%c%c]", " Signature [%c%c%c%c]", " Signature [{}{}{}{}]", 'X', 'S', 'D', 'T')            \
  LINE(" Entry 0 @[0x%lx]", " Entry 0 @[0x%lX]", " Entry 0 @[0x{:X}]", V.Xsdt + 36)                              \
  LINE("  Found BGRT @[0x%lX]", "  Found BGRT @[0x%lX]", "  Found BGRT @[0x{:X}]", V.Bgrt)                       \
  LINE("  Image address @[0x%lX]", "  Image address @[0x%lX]", "  Image address @[0x{:X}]", V.Image)             \
  LINE("     Image size  [0x%X]", "     Image size  [0x%X]", "     Image size  [0x{:X}]", V.ImageSize)           \
  LINE("     Data offset [0x%X]", "     Data offset [0x%X]", "     Data offset [0x{:X}]", V.DataOffset)          \
  LINE("     Header size [0x%X]", "     Header size [0x%X]", "     Header size [0x{:X}]", V.HeaderSize)          \
  LINE("           Width [0x%X]", "           Width [0x%X]", "           Width [0x{:X}]", V.Width)               \
  LINE("           Height[0x%X]", "           Height[0x%X]", "           Height[0x{:X}]", V.Height)              \
  LINE("           Planes[0x%X]", "           Planes[0x%X]", "           Planes[0x{:X}]", V.Planes)              \
  LINE("           BPP   [0x%X]", "           BPP   [0x%X]", "           BPP   [0x{:X}]", V.BitsPerPixel)        \
  LINE("BIOS logo has been saved to 'BIOSLogo.bmp'", "BIOS logo has been saved to 'BIOSLogo.bmp'",               \
       "BIOS logo has been saved to 'BIOSLogo.bmp'")

// C's %lX takes an unsigned long, which holds the report's 64-bit addresses on every host the
// bench is built for.
static_assert(sizeof(unsigned long) == sizeof(uint64_t));

// One line of the report written way W, given the line in every spelling: the engine's format in
// 8-bit, in UCS-2 and parsed while compiling, C's and {fmt}'s. Returns the characters written.
template <Way W, typename Unit, typename Compiled, typename... Types>
size_t WriteLine(Unit *Out, const char *Engine8, const char16_t *Engine16, const Compiled &EngineCompiled,
                 const char *C, const char *Fmt, Types... Values) {
  if constexpr (W == Way::Runtime8) {
    return FormatAscii(Out, kLineCharacters, 0, Engine8, Values...);
  } else if constexpr (W == Way::Runtime16) {
    return Wide(Out, Engine16, Values...);
  } else if constexpr (W == Way::Compiled) {
    return FormatCompiled(Out, kLineCharacters, FMT_OUT_WIDE, EngineCompiled, Values...);
  } else if constexpr (W == Way::Snprintf) {
    return (size_t)std::snprintf(Out, kLineCharacters, C, Values...);
  } else {
    static_assert(W == Way::Fmt, "the memcpy way copies finished lines");
    return fmt::format_to_n(Out, kLineCharacters - 1, fmt::runtime(Fmt), Values...).size;
  }
}

// Every line of the report written way W, each into a line buffer of its own, Stride characters
// after the last. The engine ends a line with "\n" and writes "\r\n" for it; C and {fmt} are
// given "\r\n".
#define WRITE_LINE(Engine, C, Fmt, ...)                                                                        \
  Total += WriteLine<W>(Out, Engine "\n", u"" Engine "\n", COMPILED_FORMAT(u"" Engine "\n"), C "\r\n", Fmt "\r\n" \
                            __VA_OPT__(, ) __VA_ARGS__);                                                       \
  Out += Stride;

template <Way W, typename Unit>
size_t ReportOneWay(Unit *Out, size_t Stride, const ReportValues &V) {
  size_t Total = 0;
  REPORT_LINES(WRITE_LINE)
  return Total;
}

// The finished report, for the memcpy floor.
size_t ReportMemcpy(char *Out, size_t Stride, const ReportValues &V) {
  static char Finished[kReportLines][kLineCharacters];
  static bool Made = false;
  if (!Made) {
    ReportOneWay<Way::Snprintf>(&Finished[0][0], kLineCharacters, V);
    Made = true;
  }
  size_t Total = 0;
  for (const char *Text : Finished) {
    size_t Length = std::strlen(Text);
    std::memcpy(Out, Text, Length + 1);
    Out += Stride;
    Total += Length;
  }
  return Total;
}

}  // namespace

const char *WayName(Way W) {
  static const char *const Names[] = {"runtime-8bit", "runtime-ucs2", "compiled", "snprintf", "fmt", "memcpy"};
  return Names[(int)W];
}

bool WritesWide(Way W) { return W == Way::Runtime16 || W == Way::Compiled; }

size_t Report(Way W, void *Out, size_t Stride, const ReportValues &V) {
  switch (W) {
    case Way::Runtime8: return ReportOneWay<Way::Runtime8>((char *)Out, Stride, V);
    case Way::Runtime16: return ReportOneWay<Way::Runtime16>((char16_t *)Out, Stride, V);
    case Way::Compiled: return ReportOneWay<Way::Compiled>((char16_t *)Out, Stride, V);
    case Way::Snprintf: return ReportOneWay<Way::Snprintf>((char *)Out, Stride, V);
    case Way::Fmt: return ReportOneWay<Way::Fmt>((char *)Out, Stride, V);
    case Way::Memcpy: return ReportMemcpy((char *)Out, Stride, V);
    case Way::Count: break;
  }
  return 0;
}

const char *SingleName(Single Case) {
  static const char *const Names[] = {"%d of -5", "%,d",  "%08X", "%lX address",  "%-20a",
                                      "%5d",      "%lu max", "%r error", "%g", "one character"};
  return Names[(int)Case];
}

namespace {

size_t SingleRuntime8(Single Case, char *Buffer) {
  switch (Case) {
    case Single::NegativeDecimal: return FormatAscii(Buffer, kLineCharacters, 0, "%d", -5);
    case Single::Grouped: return FormatAscii(Buffer, kLineCharacters, 0, "%,d", 1234567);
    case Single::ZeroPaddedHex: return FormatAscii(Buffer, kLineCharacters, 0, "%08X", 0xABCu);
    case Single::LongHex: return FormatAscii(Buffer, kLineCharacters, 0, "%lX", 0x1DEA2018Full);
    case Single::LeftString: return FormatAscii(Buffer, kLineCharacters, 0, "%-20a", "BIOSLogo.bmp");
    case Single::Width: return FormatAscii(Buffer, kLineCharacters, 0, "%5d", 42);
    case Single::LargestUnsigned: return FormatAscii(Buffer, kLineCharacters, 0, "%lu", UINT64_MAX);
    case Single::Status: return FormatAscii(Buffer, kLineCharacters, 0, "%r", kStatus);
    case Single::Guid: return FormatAscii(Buffer, kLineCharacters, 0, "%g", &kGuid);
    case Single::OneCharacter: return FormatAscii(Buffer, kLineCharacters, 0, "x");
    case Single::Count: break;
  }
  return 0;
}

size_t SingleRuntime16(Single Case, char16_t *Buffer) {
  switch (Case) {
    case Single::NegativeDecimal: return Wide(Buffer, u"%d", -5);
    case Single::Grouped: return Wide(Buffer, u"%,d", 1234567);
    case Single::ZeroPaddedHex: return Wide(Buffer, u"%08X", 0xABCu);
    case Single::LongHex: return Wide(Buffer, u"%lX", 0x1DEA2018Full);
    case Single::LeftString: return Wide(Buffer, u"%-20a", "BIOSLogo.bmp");
    case Single::Width: return Wide(Buffer, u"%5d", 42);
    case Single::LargestUnsigned: return Wide(Buffer, u"%lu", UINT64_MAX);
    case Single::Status: return Wide(Buffer, u"%r", kStatus);
    case Single::Guid: return Wide(Buffer, u"%g", &kGuid);
    case Single::OneCharacter: return Wide(Buffer, u"x");
    case Single::Count: break;
  }
  return 0;
}

#define COMPILED_SINGLE(Literal, ...) \
  FormatCompiled(Buffer, kLineCharacters, FMT_OUT_WIDE, COMPILED_FORMAT(Literal) __VA_OPT__(, ) __VA_ARGS__)

size_t SingleCompiled(Single Case, char16_t *Buffer) {
  switch (Case) {
    case Single::NegativeDecimal: return COMPILED_SINGLE(u"%d", -5);
    case Single::Grouped: return COMPILED_SINGLE(u"%,d", 1234567);
    case Single::ZeroPaddedHex: return COMPILED_SINGLE(u"%08X", 0xABCu);
    case Single::LongHex: return COMPILED_SINGLE(u"%lX", 0x1DEA2018Full);
    case Single::LeftString: return COMPILED_SINGLE(u"%-20a", "BIOSLogo.bmp");
    case Single::Width: return COMPILED_SINGLE(u"%5d", 42);
    case Single::LargestUnsigned: return COMPILED_SINGLE(u"%lu", UINT64_MAX);
    case Single::Status: return COMPILED_SINGLE(u"%r", kStatus);
    case Single::Guid: return COMPILED_SINGLE(u"%g", &kGuid);
    case Single::OneCharacter: return COMPILED_SINGLE(u"x");
    case Single::Count: break;
  }
  return 0;
}

size_t SingleSnprintf(Single Case, char *Buffer) {
  switch (Case) {
    case Single::NegativeDecimal: return (size_t)std::snprintf(Buffer, kLineCharacters, "%d", -5);
    case Single::Grouped: {
      int Value = 1234567;  // C's %d has no grouping in the C locale: groups by hand
      return (size_t)std::snprintf(Buffer, kLineCharacters, "%d,%03d,%03d", Value / 1000000, Value / 1000 % 1000,
                                   Value % 1000);
    }
    case Single::ZeroPaddedHex: return (size_t)std::snprintf(Buffer, kLineCharacters, "%08X", 0xABCu);
    case Single::LongHex: return (size_t)std::snprintf(Buffer, kLineCharacters, "%lX", 0x1DEA2018Ful);
    case Single::LeftString: return (size_t)std::snprintf(Buffer, kLineCharacters, "%-20s", "BIOSLogo.bmp");
    case Single::Width: return (size_t)std::snprintf(Buffer, kLineCharacters, "%5d", 42);
    case Single::LargestUnsigned: return (size_t)std::snprintf(Buffer, kLineCharacters, "%lu", UINT64_MAX);
    case Single::Status: return (size_t)std::snprintf(Buffer, kLineCharacters, "%s", StatusName(kStatus));
    case Single::Guid:
      return (size_t)std::snprintf(Buffer, kLineCharacters, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                                   kGuid.Data1, kGuid.Data2, kGuid.Data3, kGuid.Data4[0], kGuid.Data4[1],
                                   kGuid.Data4[2], kGuid.Data4[3], kGuid.Data4[4], kGuid.Data4[5], kGuid.Data4[6],
                                   kGuid.Data4[7]);
    case Single::OneCharacter: return (size_t)std::snprintf(Buffer, kLineCharacters, "x");
    case Single::Count: break;
  }
  return 0;
}

size_t SingleFmt(Single Case, char *Buffer) {
  auto Format = [Buffer](const char *Text, auto... Values) {
    return fmt::format_to_n(Buffer, kLineCharacters - 1, fmt::runtime(Text), Values...).size;
  };
  switch (Case) {
    case Single::NegativeDecimal: return Format("{}", -5);
    case Single::Grouped: {
      int Value = 1234567;
      return Format("{},{:03},{:03}", Value / 1000000, Value / 1000 % 1000, Value % 1000);
    }
    case Single::ZeroPaddedHex: return Format("{:08X}", 0xABCu);
    case Single::LongHex: return Format("{:X}", 0x1DEA2018Full);
    case Single::LeftString: return Format("{:<20}", "BIOSLogo.bmp");
    case Single::Width: return Format("{:5}", 42);
    case Single::LargestUnsigned: return Format("{}", UINT64_MAX);
    case Single::Status: return Format("{}", StatusName(kStatus));
    case Single::Guid:
      return Format("{:08X}-{:04X}-{:04X}-{:02X}{:02X}-{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}", kGuid.Data1, kGuid.Data2,
                    kGuid.Data3, kGuid.Data4[0], kGuid.Data4[1], kGuid.Data4[2], kGuid.Data4[3], kGuid.Data4[4],
                    kGuid.Data4[5], kGuid.Data4[6], kGuid.Data4[7]);
    case Single::OneCharacter: return Format("x");
    case Single::Count: break;
  }
  return 0;
}

size_t SingleMemcpy(Single Case, char *Buffer) {
  static std::string Finished[(int)Single::Count];
  std::string &Text = Finished[(int)Case];
  if (Text.empty()) {
    char Made[kLineCharacters];
    Text.assign(Made, SingleSnprintf(Case, Made));
  }
  std::memcpy(Buffer, Text.data(), Text.size() + 1);
  return Text.size();
}

}  // namespace

size_t SingleCase(Way W, Single Case, void *Buffer) {
  switch (W) {
    case Way::Runtime8: return SingleRuntime8(Case, (char *)Buffer);
    case Way::Runtime16: return SingleRuntime16(Case, (char16_t *)Buffer);
    case Way::Compiled: return SingleCompiled(Case, (char16_t *)Buffer);
    case Way::Snprintf: return SingleSnprintf(Case, (char *)Buffer);
    case Way::Fmt: return SingleFmt(Case, (char *)Buffer);
    case Way::Memcpy: return SingleMemcpy(Case, (char *)Buffer);
    case Way::Count: break;
  }
  return 0;
}

// A firmware that costs nothing: the pool hands back one static buffer, the console reads the
// first character of what it is given. A second console keeps the text, for checking it; it is
// not the one timed, as keeping text is work a console that costs nothing does not do.
namespace {

alignas(8) UINT8 PoolBuffer[CONSOLE_PRINT_CHARACTERS * sizeof(CHAR16)];
std::u16string *ConsoleCapture = nullptr;
volatile CHAR16 FirstCharacter;

EFI_STATUS EFIAPI CostlessAllocatePool(EFI_MEMORY_TYPE, UINTN, VOID **Buffer) {
  *Buffer = PoolBuffer;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI CostlessFreePool(VOID *) { return EFI_SUCCESS; }

EFI_STATUS EFIAPI CostlessOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, const CHAR16 *String) {
  FirstCharacter = String[0];
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI CapturingOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, const CHAR16 *String) {
  ConsoleCapture->append(String);
  return EFI_SUCCESS;
}

EFI_SYSTEM_TABLE CostlessSystemTable;
EFI_BOOT_SERVICES CostlessBootServices;
EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL CostlessConsole;

}  // namespace

void InstallCostlessFirmware(std::u16string *Capture) {
  CostlessBootServices.AllocatePool = CostlessAllocatePool;
  CostlessBootServices.FreePool = CostlessFreePool;
  CostlessConsole.OutputString = Capture != nullptr ? CapturingOutputString : CostlessOutputString;
  CostlessSystemTable.BootServices = &CostlessBootServices;
  CostlessSystemTable.ConOut = &CostlessConsole;
  gSystemTable = &CostlessSystemTable;
  gBootServices = &CostlessBootServices;
  ConsoleCapture = Capture;
}

#define CONSOLE_LINE(Engine, C, Fmt, ...) Total += ConsolePrint(u"" Engine "\n" __VA_OPT__(, ) __VA_ARGS__);

size_t ReportThroughConsole(const ReportValues &V) {
  size_t Total = 0;
  REPORT_LINES(CONSOLE_LINE)
  return Total;
}

size_t OneCharacterThroughConsole() { return ConsolePrint(u"x"); }

size_t OneCharacterCompiled(char16_t *Line) {
  return FormatCompiled(Line, kLineCharacters, FMT_OUT_WIDE, COMPILED_FORMAT(u"x"));
}
