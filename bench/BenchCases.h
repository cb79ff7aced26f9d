// The texts the benchmark produces, each written four ways: Quillon's format (8-bit and UCS-2),
// a C format for snprintf and a {fmt} format. Where C or {fmt} has no directive for a text
// (thousands grouping, status names, GUIDs), the case does what a C or {fmt} programmer would do
// to produce the same characters, and that work is part of what is measured.
#pragma once

#include <cstdint>

#include "firmware/Uefi.h"

// Values like those of OVMF under QEMU.
struct ReportValues {
  uint64_t Rsdp = 0xF77D014;
  uint64_t Xsdt = 0xF77C0E8;
  uint64_t Bgrt = 0xF773000;
  uint64_t Image = 0xDEA2018;
  uint32_t ImageSize = 0x839E;
  uint32_t DataOffset = 0x36;
  uint32_t HeaderSize = 0x28;
  uint32_t Width = 0xC1;
  uint32_t Height = 0x3A;
  uint32_t Planes = 1;
  uint32_t BitsPerPixel = 0x18;
};

constexpr size_t kLineCharacters = 321;
constexpr int kReportLines = 14;

// Each produces the whole report, line i at Out + i * Stride characters, and returns the characters
// written in all. Timing passes a stride of 0: one line buffer, as the console print uses.
size_t ReportOurs8(char *Out, size_t Stride, const ReportValues &V);
size_t ReportOurs16(char16_t *Out, size_t Stride, const ReportValues &V);
size_t ReportSnprintf(char *Out, size_t Stride, const ReportValues &V);
size_t ReportFmt(char *Out, size_t Stride, const ReportValues &V);

// Single directives.
enum class Single { NegativeDecimal, Grouped, ZeroPaddedHex, LongHex, LeftString, Width, LargestUnsigned, Status, Guid, Count };
const char *SingleName(Single Case);
size_t SingleOurs8(Single Case, char *Buffer);
size_t SingleOurs16(Single Case, char16_t *Buffer);
size_t SingleSnprintf(Single Case, char *Buffer);
size_t SingleFmt(Single Case, char *Buffer);
