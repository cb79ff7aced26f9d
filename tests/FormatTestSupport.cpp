#include "FormatTestSupport.h"

#include "firmware/Guids.h"

std::u16string Widen(const std::string &Text) {
  std::u16string Wide;
  for (unsigned char Character : Text) Wide.push_back(Character);
  return Wide;
}

std::string FormatWith(Widths Width, const std::string &Format, const std::vector<uint64_t> &Slots, size_t Size,
                       size_t *Returned) {
  std::u16string WideFormat = Widen(Format);
  const void *FormatText = Width.WideFormat ? (const void *)WideFormat.c_str() : (const void *)Format.c_str();
  UINTN Flags = (Width.WideFormat ? FMT_IN_WIDE : 0) | (Width.WideOutput ? FMT_OUT_WIDE : 0);
  std::vector<uint16_t> Buffer(Size + 1, 0x5A5A);
  UINTN Count = FormatCore(Buffer.data(), Size, Flags, FormatText, FormatArguments{Slots.data(), Slots.size()});
  if (Returned != nullptr) *Returned = Count;
  std::string Text;
  if (Width.WideOutput) {
    for (size_t Index = 0; Index < Count; Index++) Text.push_back(Buffer[Index] > 0xFF ? '?' : (char)Buffer[Index]);
  } else {
    const char *Bytes = (const char *)Buffer.data();
    Text.assign(Bytes, Count);
  }
  return Text;
}

const EFI_GUID kCountingGuid = {0x03020100, 0x0504, 0x0706, {0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F}};
const EFI_TIME kTime = {2017, 5, 4, 9, 7, 30, 0, 0, 0, 0, 0};
// Fields past their usual digits: each shows all its digits, as "%02d" and "%04d" would.
const EFI_TIME kWideTime = {65535, 255, 0, 123, 0, 0, 0, 0, 0, 0, 0};

std::vector<GrammarCase> GrammarCases() {
  return {
      // Line ends become carriage return and line feed; a lone '\r' stays alone.
      {"Line\n", {}, "Line\r\n"},
      {"a\n\rb", {}, "a\r\nb"},
      {"a\r\nb", {}, "a\r\nb"},
      {"a\rb", {}, "a\rb"},
      {"\n\n", {}, "\r\n\r\n"},
      {"plain text", {}, "plain text"},
      // Hexadecimal: upper case for both 'x' and 'X', 32 bits unless 'l'.
      {"%X", Slots(0xA2B), "A2B"},
      {"%x", Slots(255), "FF"},
      {"%X", Slots(-1), "FFFFFFFF"},
      {"%lX", Slots(-1), "FFFFFFFFFFFFFFFF"},
      {"%X", Slots(0x1000000ABull), "AB"},
      {"%lX", Slots(0x1000000ABull), "1000000AB"},
      {"%08X", Slots(0xABC), "00000ABC"},
      {"%-8X|", Slots(0xABC), "ABC     |"},
      {"%+X", Slots(255), "+FF"},
      {"%8.3X", Slots(0xA), "     00A"},
      {"%X", Slots(0), "0"},
      // Decimal.
      {"%d", Slots(-5), "-5"},
      {"%d", Slots(0x80000000u), "-2147483648"},
      {"%ld", Slots(INT64_MIN), "-9223372036854775808"},
      {"%5d", Slots(42), "   42"},
      {"%05d", Slots(42), "00042"},
      {"%-05d|", Slots(42), "42   |"},
      {"%+08d", Slots(5), "+0000005"},
      {"%+d %+d", Slots(5, -5), "+5 -5"},
      {"% d", Slots(5), " 5"},
      {"%+ d", Slots(5), "+5"},
      {"%.3d", Slots(7), "007"},
      {"%+.3d", Slots(7), "+007"},
      {"%.0d", Slots(0), ""},
      {"%5.0d|", Slots(0), "     |"},
      {"%.d", Slots(0), "0"},
      {"%,d", Slots(1234567), "1,234,567"},
      {"%,d", Slots(-1234), "-1,234"},
      {"%,d", Slots(123), "123"},
      {"%,d", Slots(1000), "1,000"},
      {"%,d", Slots(0), "0"},
      {"%,010d", Slots(1234), "     1,234"},
      {"%,.6d", Slots(1234), "1,234"},
      {"%,ld", Slots(INT64_MIN), "-9,223,372,036,854,775,808"},
      {"%,X", Slots(0x12345), "12345"},
      {"%u", Slots(-1), "4294967295"},
      {"%lu", Slots(-1), "18446744073709551615"},
      {"%+u", Slots(5), "5"},
      {"% u", Slots(5), " 5"},
      {"%p", Slots(0x1234), "1234"},
      {"%16p", Slots(0x1234), "0000000000001234"},
      {"%+ p", Slots(0x1234), "1234"},
      // Characters and strings.
      {"%c", Slots('A'), "A"},
      {"%c", Slots(0), " "},
      {"%3c", Slots('A'), "  A"},
      {"%-3c|", Slots('A'), "A  |"},
      {"%.5s", Slots(u"ab"), "   ab"},
      {"%.5s", Slots(u"abcdefg"), "abcde"},
      {"%-5s|", Slots(u"ab"), "ab   |"},
      {"%5s", Slots(u"ab"), "   ab"},
      {"%S", Slots(u"wide"), "wide"},
      {"%s", Slots(nullptr), "<null string>"},
      {"%.4s", Slots(nullptr), "<nul"},
      {"%a", Slots("abc"), "abc"},
      {"%5a", Slots("abc"), "  abc"},
      {"%.2a", Slots("abc"), "ab"},
      {"%a", Slots(nullptr), "<null string>"},
      {"%.s", Slots(u"ab"), "a"},
      {"%s|", Slots(u""), "|"},
      // Other characters after '%' stand for themselves, with width applied.
      {"%%", {}, "%"},
      {"%5%", {}, "    %"},
      {"%q", {}, "q"},
      {"%5\n", {}, "   \r\n"},
      {"%\r\n", {}, "\r\n"},
      {"%\r.", {}, "\r."},
      {"ab%", {}, "ab"},
      {"ab%5", {}, "ab     "},
      {"ab%-3", {}, "ab   "},
      {"ab%.", {}, "ab"},
      // Width and precision from arguments; a later number overrides an earlier one.
      {"%*d", Slots(4, 7), "   7"},
      {"%-*d|", Slots(4, 7), "7   |"},
      {"%.*d", Slots(3, 7), "007"},
      {"%3*d", Slots(5, 7), "    7"},
      {"%5.1.3d", Slots(7), "  007"},
      // Missing arguments read 0.
      {"%d %d", Slots(5), "5 0"},
      {"%s", {}, "<null string>"},
      // Status names.
      {"%r", Slots(0), "Success"},
      {"%r", Slots(1), "Warning Unknown Glyph"},
      {"%r", Slots(5), "Warning Stale Data"},
      {"%r", Slots(6), "00000006"},
      {"%r", Slots(kError | 1), "Load Error"},
      {"%r", Slots(kError | 14), "Not Found"},
      {"%r", Slots(kError | 33), "Compromised Data"},
      {"%r", Slots(kError | 34), "00000022"},
      {"%r", Slots(kError), "00000000"},
      {"%r", Slots(kError | 0x100000001ull), "00000001"},
      {"%-20r|", Slots(0), "Success             |"},
      {"%.r", Slots(0), "S"},
      {"%10r", Slots(kError | 34), "  00000022"},
      // GUIDs and times.
      {"%g", Slots(&kCountingGuid), "03020100-0504-0706-0809-0A0B0C0D0E0F"},
      {"%g", Slots(&EFI_ACPI_20_TABLE_GUID), "8868E871-E4F1-11D3-BC22-0080C73C8881"},
      {"%.8g", Slots(&kCountingGuid), "03020100"},
      {"[%38g]", Slots(&kCountingGuid), "[  03020100-0504-0706-0809-0A0B0C0D0E0F]"},
      {"%g", Slots(nullptr), "<null guid>"},
      {"%t", Slots(&kTime), "05/04/2017  09:07"},
      {"%-18t|", Slots(&kTime), "05/04/2017  09:07 |"},
      {"%t", Slots(&kWideTime), "255/00/65535  123:00"},
      {"%t", Slots(nullptr), "<null time>"},
  };
}
