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

// The 14 lines, in each way: the RSDP, XSDT, signature, "Entry 0", BGRT, image, seven bitmap and
// saved-logo lines.
size_t ReportRuntime8(char *Out, size_t Stride, const ReportValues &V) {
  size_t Total = 0;
  auto Line = [&](const char *Format, auto... Values) {
    Total += FormatAscii(Out, kLineCharacters, 0, Format, Values...);
    Out += Stride;
  };
  Line("RSDP address [%lX]\n", V.Rsdp);
  Line("XSDT address [%lX]\n", V.Xsdt);
  Line(" Signature [%c%c%c%c]\n", 'X', 'S', 'D', 'T');
  Line(" Entry 0 @[0x%lx]\n", V.Xsdt + 36);
  Line("  Found BGRT @[0x%lX]\n", V.Bgrt);
  Line("  Image address @[0x%lX]\n", V.Image);
  Line("     Image size  [0x%X]\n", V.ImageSize);
  Line("     Data offset [0x%X]\n", V.DataOffset);
  Line("     Header size [0x%X]\n", V.HeaderSize);
  Line("           Width [0x%X]\n", V.Width);
  Line("           Height[0x%X]\n", V.Height);
  Line("           Planes[0x%X]\n", V.Planes);
  Line("           BPP   [0x%X]\n", V.BitsPerPixel);
  Line("BIOS logo has been saved to 'BIOSLogo.bmp'\n");
  return Total;
}

size_t ReportRuntime16(char16_t *Out, size_t Stride, const ReportValues &V) {
  size_t Total = 0;
  auto Line = [&](const char16_t *Format, auto... Values) {
    Total += Wide(Out, Format, Values...);
    Out += Stride;
  };
  Line(u"RSDP address [%lX]\n", V.Rsdp);
  Line(u"XSDT address [%lX]\n", V.Xsdt);
  Line(u" Signature [%c%c%c%c]\n", u'X', u'S', u'D', u'T');
  Line(u" Entry 0 @[0x%lx]\n", V.Xsdt + 36);
  Line(u"  Found BGRT @[0x%lX]\n", V.Bgrt);
  Line(u"  Image address @[0x%lX]\n", V.Image);
  Line(u"     Image size  [0x%X]\n", V.ImageSize);
  Line(u"     Data offset [0x%X]\n", V.DataOffset);
  Line(u"     Header size [0x%X]\n", V.HeaderSize);
  Line(u"           Width [0x%X]\n", V.Width);
  Line(u"           Height[0x%X]\n", V.Height);
  Line(u"           Planes[0x%X]\n", V.Planes);
  Line(u"           BPP   [0x%X]\n", V.BitsPerPixel);
  Line(u"BIOS logo has been saved to 'BIOSLogo.bmp'\n");
  return Total;
}

// The console's formats, parsed while compiling, into a UCS-2 line as ConsolePrint formats them.
#define COMPILED_LINE(Literal, ...)                                                                            \
  do {                                                                                                         \
    Total += FormatCompiled(Out, kLineCharacters, FMT_OUT_WIDE, COMPILED_FORMAT(Literal) __VA_OPT__(, ) __VA_ARGS__); \
    Out += Stride;                                                                                             \
  } while (0)

size_t ReportCompiled(char16_t *Out, size_t Stride, const ReportValues &V) {
  size_t Total = 0;
  COMPILED_LINE(u"RSDP address [%lX]\n", V.Rsdp);
  COMPILED_LINE(u"XSDT address [%lX]\n", V.Xsdt);
  COMPILED_LINE(u" Signature [%c%c%c%c]\n", u'X', u'S', u'D', u'T');
  COMPILED_LINE(u" Entry 0 @[0x%lx]\n", V.Xsdt + 36);
  COMPILED_LINE(u"  Found BGRT @[0x%lX]\n", V.Bgrt);
  COMPILED_LINE(u"  Image address @[0x%lX]\n", V.Image);
  COMPILED_LINE(u"     Image size  [0x%X]\n", V.ImageSize);
  COMPILED_LINE(u"     Data offset [0x%X]\n", V.DataOffset);
  COMPILED_LINE(u"     Header size [0x%X]\n", V.HeaderSize);
  COMPILED_LINE(u"           Width [0x%X]\n", V.Width);
  COMPILED_LINE(u"           Height[0x%X]\n", V.Height);
  COMPILED_LINE(u"           Planes[0x%X]\n", V.Planes);
  COMPILED_LINE(u"           BPP   [0x%X]\n", V.BitsPerPixel);
  COMPILED_LINE(u"BIOS logo has been saved to 'BIOSLogo.bmp'\n");
  return Total;
}

// C's %x is lower case; the report's hexadecimal is upper case, so C spells every one %X.
size_t ReportSnprintf(char *Out, size_t Stride, const ReportValues &V) {
  size_t Total = 0;
  auto Line = [&](const char *Format, auto... Values) {
    Total += (size_t)std::snprintf(Out, kLineCharacters, Format, Values...);
    Out += Stride;
  };
  Line("RSDP address [%lX]\r\n", (unsigned long)V.Rsdp);
  Line("XSDT address [%lX]\r\n", (unsigned long)V.Xsdt);
  Line(" Signature [%c%c%c%c]\r\n", 'X', 'S', 'D', 'T');
  Line(" Entry 0 @[0x%lX]\r\n", (unsigned long)(V.Xsdt + 36));
  Line("  Found BGRT @[0x%lX]\r\n", (unsigned long)V.Bgrt);
  Line("  Image address @[0x%lX]\r\n", (unsigned long)V.Image);
  Line("     Image size  [0x%X]\r\n", V.ImageSize);
  Line("     Data offset [0x%X]\r\n", V.DataOffset);
  Line("     Header size [0x%X]\r\n", V.HeaderSize);
  Line("           Width [0x%X]\r\n", V.Width);
  Line("           Height[0x%X]\r\n", V.Height);
  Line("           Planes[0x%X]\r\n", V.Planes);
  Line("           BPP   [0x%X]\r\n", V.BitsPerPixel);
  Line("BIOS logo has been saved to 'BIOSLogo.bmp'\r\n");
  return Total;
}

size_t ReportFmt(char *Out, size_t Stride, const ReportValues &V) {
  size_t Total = 0;
  auto Line = [&](const char *Format, auto... Values) {
    Total += fmt::format_to_n(Out, kLineCharacters - 1, fmt::runtime(Format), Values...).size;
    Out += Stride;
  };
  Line("RSDP address [{:X}]\r\n", V.Rsdp);
  Line("XSDT address [{:X}]\r\n", V.Xsdt);
  Line(" Signature [{}{}{}{}]\r\n", 'X', 'S', 'D', 'T');
  Line(" Entry 0 @[0x{:X}]\r\n", V.Xsdt + 36);
  Line("  Found BGRT @[0x{:X}]\r\n", V.Bgrt);
  Line("  Image address @[0x{:X}]\r\n", V.Image);
  Line("     Image size  [0x{:X}]\r\n", V.ImageSize);
  Line("     Data offset [0x{:X}]\r\n", V.DataOffset);
  Line("     Header size [0x{:X}]\r\n", V.HeaderSize);
  Line("           Width [0x{:X}]\r\n", V.Width);
  Line("           Height[0x{:X}]\r\n", V.Height);
  Line("           Planes[0x{:X}]\r\n", V.Planes);
  Line("           BPP   [0x{:X}]\r\n", V.BitsPerPixel);
  Line("BIOS logo has been saved to 'BIOSLogo.bmp'\r\n");
  return Total;
}

// The finished report, for the memcpy floor.
size_t ReportMemcpy(char *Out, size_t Stride, const ReportValues &V) {
  static char Finished[kReportLines][kLineCharacters];
  static bool Made = false;
  if (!Made) {
    ReportSnprintf(&Finished[0][0], kLineCharacters, V);
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
    case Way::Runtime8: return ReportRuntime8((char *)Out, Stride, V);
    case Way::Runtime16: return ReportRuntime16((char16_t *)Out, Stride, V);
    case Way::Compiled: return ReportCompiled((char16_t *)Out, Stride, V);
    case Way::Snprintf: return ReportSnprintf((char *)Out, Stride, V);
    case Way::Fmt: return ReportFmt((char *)Out, Stride, V);
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

size_t ReportThroughConsole(const ReportValues &V) {
  size_t Total = 0;
  Total += ConsolePrint(u"RSDP address [%lX]\n", V.Rsdp);
  Total += ConsolePrint(u"XSDT address [%lX]\n", V.Xsdt);
  Total += ConsolePrint(u" Signature [%c%c%c%c]\n", u'X', u'S', u'D', u'T');
  Total += ConsolePrint(u" Entry 0 @[0x%lx]\n", V.Xsdt + 36);
  Total += ConsolePrint(u"  Found BGRT @[0x%lX]\n", V.Bgrt);
  Total += ConsolePrint(u"  Image address @[0x%lX]\n", V.Image);
  Total += ConsolePrint(u"     Image size  [0x%X]\n", V.ImageSize);
  Total += ConsolePrint(u"     Data offset [0x%X]\n", V.DataOffset);
  Total += ConsolePrint(u"     Header size [0x%X]\n", V.HeaderSize);
  Total += ConsolePrint(u"           Width [0x%X]\n", V.Width);
  Total += ConsolePrint(u"           Height[0x%X]\n", V.Height);
  Total += ConsolePrint(u"           Planes[0x%X]\n", V.Planes);
  Total += ConsolePrint(u"           BPP   [0x%X]\n", V.BitsPerPixel);
  Total += ConsolePrint(u"BIOS logo has been saved to 'BIOSLogo.bmp'\n");
  return Total;
}

size_t OneCharacterThroughConsole() { return ConsolePrint(u"x"); }

size_t OneCharacterCompiled(char16_t *Line) {
  return FormatCompiled(Line, kLineCharacters, FMT_OUT_WIDE, COMPILED_FORMAT(u"x"));
}
