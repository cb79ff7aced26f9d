// The two checksums a PNG file carries: CRC-32 over each chunk, and Adler-32 over the pixels'
// bytes before they are compressed, which ends the zlib stream. Each takes the running value and
// more bytes, so a long run can be summed in pieces; start from kCrc32Start and kAdler32Start.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr uint32_t kCrc32Start = 0;
constexpr uint32_t kAdler32Start = 1;

uint32_t Crc32(uint32_t Crc, const uint8_t *Bytes, size_t Length);
uint32_t Adler32(uint32_t Adler, const uint8_t *Bytes, size_t Length);
