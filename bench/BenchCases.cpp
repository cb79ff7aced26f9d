#include "BenchCases.h"

#include <fmt/format.h>

#include <cstdio>

#include "firmware/Guids.h"
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

}  // namespace

// The 14 lines: the RSDP, XSDT, signature, "Entry 0", BGRT, image, seven bitmap and saved-logo
// lines. Line i goes to Out + i * Stride: a stride of 0 reuses one line buffer, as the console does.
size_t ReportOurs8(char *Out, size_t Stride, const ReportValues &V) {
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

template <typename... Types>
size_t Wide(char16_t *Line, const char16_t *Format, Types... Values) {
  const UINT64 Slots[sizeof...(Types) + 1] = {FormatSlot(Values)..., 0};
  return FormatCore(Line, kLineCharacters, FMT_IN_WIDE | FMT_OUT_WIDE, Format,
                    FormatArguments{Slots, sizeof...(Types)});
}

size_t ReportOurs16(char16_t *Out, size_t Stride, const ReportValues &V) {
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

const char *SingleName(Single Case) {
  static const char *const Names[] = {"%d of -5", "%,d", "%08X", "%lX address", "%-20a", "%5d", "%lu max", "%r error", "%g"};
  return Names[(int)Case];
}

size_t SingleOurs8(Single Case, char *Buffer) {
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
    case Single::Count: break;
  }
  return 0;
}

size_t SingleOurs16(Single Case, char16_t *Buffer) {
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
    case Single::Count: break;
  }
  return 0;
}
