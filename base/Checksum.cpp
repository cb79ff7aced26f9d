#include "base/Checksum.h"

#include "base/Unaligned.h"

namespace {

// CRC-32 (the reflected polynomial 0xEDB88320) four bits at a time: a table of 16 entries rather
// than 256 keeps it small, and it is fast enough for files the size of a screen.
constexpr uint32_t kCrcNibbles[16] = {
    0x00000000, 0x1DB71064, 0x3B6E20C8, 0x26D930AC, 0x76DC4190, 0x6B6B51F4, 0x4DB26158, 0x5005713C,
    0xEDB88320, 0xF00F9344, 0xD6D6A3E8, 0xCB61B38C, 0x9B64C2B0, 0x86D3D2D4, 0xA00AE278, 0xBDBDF21C,
};

constexpr uint32_t kAdlerModulus = 65521;
// The most bytes whose sums cannot overflow 32 bits before they are reduced.
constexpr size_t kAdlerRun = 5552;

}  // namespace

uint32_t Crc32(uint32_t Crc, const uint8_t *Bytes, size_t Length) {
  Crc = ~Crc;
  for (size_t Index = 0; Index < Length; Index++) {
    Crc ^= Bytes[Index];
    Crc = (Crc >> 4) ^ kCrcNibbles[Crc & 15];
    Crc = (Crc >> 4) ^ kCrcNibbles[Crc & 15];
  }
  return ~Crc;
}

uint32_t Adler32(uint32_t Adler, const uint8_t *Bytes, size_t Length) {
  uint32_t Low = Adler & 0xFFFF;
  uint32_t High = Adler >> 16;
  while (Length != 0) {
    size_t Run = Length < kAdlerRun ? Length : kAdlerRun;
    Length -= Run;
    // Zeros leave the low sum as it is: eight of them add it to the high sum eight times. Most of
    // a firmware's screen is black.
    for (; Run >= 8; Run -= 8, Bytes += 8) {
      if (LoadUnaligned64(Bytes) == 0) {
        High += 8 * Low;
        continue;
      }
      for (uint32_t Byte = 0; Byte < 8; Byte++) {
        Low += Bytes[Byte];
        High += Low;
      }
    }
    while (Run-- != 0) {
      Low += *Bytes++;
      High += Low;
    }
    Low %= kAdlerModulus;
    High %= kAdlerModulus;
  }
  return High << 16 | Low;
}
