// The texts the benchmark produces, each written several ways: Quillon's engine with runtime
// formats (8-bit and UCS-2) and with formats parsed while compiling (UCS-2, as ConsolePrint has
// them), a C format for snprintf and a {fmt} format. Where C or {fmt} has no directive for a text
// (thousands grouping, status names, GUIDs), the case does what a C or {fmt} programmer would do to
// produce the same characters, and that work is part of what is measured.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

enum class Way { Runtime8, Runtime16, Compiled, Snprintf, Fmt, Memcpy, Count };
const char *WayName(Way W);
// Ways that write UCS-2 characters; the others write 8-bit ones.
bool WritesWide(Way W);

// Produces the whole report one way, line i at Out + i * Stride characters (char or char16_t as
// the way writes), and returns the characters written in all. Timing passes a stride of 0: one
// line buffer, as the console print uses. Memcpy copies the finished lines of Finished.
size_t Report(Way W, void *Out, size_t Stride, const ReportValues &V);

// Single directives, and one character with no directive at all.
enum class Single { NegativeDecimal, Grouped, ZeroPaddedHex, LongHex, LeftString, Width, LargestUnsigned, Status,
                    Guid, OneCharacter, Count };
const char *SingleName(Single Case);
size_t SingleCase(Way W, Single Case, void *Buffer);

// The report and one character through ConsolePrint itself, end to end, on a firmware whose pool
// hands back one static buffer and whose console reads the first character. While Capture is set,
// the console also keeps the text there, for checking it.
void InstallCostlessFirmware(std::u16string *Capture);
size_t ReportThroughConsole(const ReportValues &V);
size_t OneCharacterThroughConsole();
// One character through the engine alone, as ConsolePrint formats it.
size_t OneCharacterCompiled(char16_t *Line);
