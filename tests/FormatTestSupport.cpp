#include "FormatTestSupport.h"

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
