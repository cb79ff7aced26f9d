// Drives FormatCore with arbitrary formats of both widths, flags, sizes and argument slots, into a
// buffer guarded on both sides, and checks the bounds, the terminator and the returned count. The
// same format, parsed into a program as literal formats are while compiling, must then write the
// same bytes and return the same count.
//
// Input: byte 0 selects the widths, bytes 1-2 the size, byte 3 the number of slots, then three
// bytes per slot, then the format. Any slot may be read as a string, GUID or time, so every slot
// is null or an address inside a readable arena whose tail is zero: numbers come out as those
// addresses, which still vary in length and sign.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "print/Print.h"

namespace {

constexpr size_t kArenaBytes = 4096;
constexpr size_t kArenaTail = 64;
constexpr size_t kGuardBytes = 32;
constexpr uint8_t kGuard = 0xEE;

const uint8_t *Arena() {
  static uint8_t Bytes[kArenaBytes + kArenaTail];
  static bool Filled = false;
  if (!Filled) {
    for (size_t Index = 0; Index < kArenaBytes; Index++) {
      Bytes[Index] = Index % 37 == 36 ? 0 : (uint8_t)(' ' + Index % 95);
    }
    Filled = true;
  }
  return Bytes;
}

void Check(bool Condition, const char *What) {
  if (!Condition) {
    __builtin_printf("format fuzz: %s\n", What);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Length) {
  if (Length < 4) return 0;
  const bool WideFormat = (Data[0] & 1) != 0;
  const bool WideOutput = (Data[0] & 2) != 0;
  size_t Size = (Data[1] | (size_t)Data[2] << 8) % 1024;
  if ((Data[0] & 4) != 0) Size = 1000001 + Size;  // past the size limit: refused
  const size_t SlotCount = Data[3] % 16;
  Data += 4;
  Length -= 4;

  std::vector<uint64_t> Slots;
  for (size_t Index = 0; Index < SlotCount && Length >= 3; Index++, Data += 3, Length -= 3) {
    size_t Offset = (Data[1] | (size_t)Data[2] << 8) % kArenaBytes;
    Slots.push_back(Data[0] % 8 == 0 ? 0 : (uint64_t)(uintptr_t)(Arena() + Offset));
  }

  std::vector<char> Narrow(Data, Data + Length);
  Narrow.push_back(0);
  std::vector<char16_t> Wide;
  for (size_t Index = 0; Index + 1 < Length; Index += 2) Wide.push_back((char16_t)(Data[Index] | Data[Index + 1] << 8));
  Wide.push_back(0);

  const size_t Unit = WideOutput ? 2 : 1;
  const size_t Allocated = Size > 1000000 ? 0 : Size;  // sizes past the limit are refused unwritten
  std::vector<uint8_t> Memory(Allocated * Unit + 2 * kGuardBytes, kGuard);
  uint8_t *Buffer = Memory.data() + kGuardBytes;
  UINTN Flags = (WideFormat ? FMT_IN_WIDE : 0) | (WideOutput ? FMT_OUT_WIDE : 0);
  UINTN Count = FormatCore(Buffer, Size, Flags, WideFormat ? (const void *)Wide.data() : (const void *)Narrow.data(),
                           FormatArguments{Slots.data(), Slots.size()});

  // The other path: the format parsed into a program, run into a buffer of its own.
  FormatShape Shape = WideFormat ? CompileFormatInto(FormatUnits<char16_t>{Wide.data()}, true, nullptr)
                                 : CompileFormatInto(FormatUnits<char>{Narrow.data()}, false, nullptr);
  if (Shape.Compiles) {
    std::vector<UINT8> Program(Shape.Bytes);
    if (WideFormat) {
      CompileFormatInto(FormatUnits<char16_t>{Wide.data()}, true, Program.data());
    } else {
      CompileFormatInto(FormatUnits<char>{Narrow.data()}, false, Program.data());
    }
    std::vector<uint8_t> Other(Memory.size(), kGuard);
    UINTN OtherCount =
        FormatProgram(Other.data() + kGuardBytes, Size, Flags, Program.data(), FormatArguments{Slots.data(), Slots.size()});
    Check(OtherCount == Count, "the two paths return other counts");
    Check(Other == Memory, "the two paths write other bytes");
  }

  if (Size == 0 || Size > 1000000) {
    Check(Count == 0, "a refused call returned a count");
    for (uint8_t Byte : Memory) Check(Byte == kGuard, "a refused call wrote");
    return 0;
  }
  Check(Count < Size, "count past the buffer");
  for (size_t Byte = 0; Byte < Unit; Byte++) Check(Buffer[Count * Unit + Byte] == 0, "no terminator at the count");
  for (size_t Index = 0; Index < kGuardBytes; Index++) Check(Memory[Index] == kGuard, "wrote before the buffer");
  for (size_t Index = kGuardBytes + (Count + 1) * Unit; Index < Memory.size(); Index++) {
    Check(Memory[Index] == kGuard, "wrote past the terminator");
  }
  return 0;
}
