// What the running kernel keeps of the firmware's BGRT: the tables under
// /sys/firmware/acpi/tables (BGRT, or BGRT1, BGRT2... where the firmware published several), the
// logo and fields it kept of the first under /sys/firmware/acpi/bgrt (drivers/acpi/bgrt.c, only
// where efi_bgrt_init took the table), and what its log says of them. Everything is read under a
// root, "/" on the running machine, a fixture tree in the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct KernelBgrt {
  std::string Path;  // where it was read
  std::vector<uint8_t> Bytes;
};

// The kernel's copy of the first BGRT's logo, where it kept one.
struct KernelLogo {
  bool Kept;
  std::string Path;
  std::vector<uint8_t> Image;
};

// What the kernel's log says of the BGRTs, where it can be read and still holds the boot's lines.
struct KernelLog {
  bool Readable;
  std::vector<uint64_t> BgrtAddresses;  // "ACPI: BGRT 0x...", in the order the kernel listed them
  std::vector<std::string> Ignoring;    // what follows each "Ignoring BGRT: " of efi-bgrt's and bgrt's
};

enum class TablesFound { Read, NoAcpi, Unreadable };

// The BGRTs among the kernel's ACPI tables, in its order. NoAcpi where the kernel has no tables
// folder; Unreadable, with *Failed naming the file and errno set, where one will not be read.
TablesFound ReadKernelBgrts(const std::string &Root, std::vector<KernelBgrt> *Bgrts, std::string *Failed);

// The logo the kernel kept. False, with *Failed naming the file and errno set, where the kernel
// kept one that cannot be read.
bool ReadKernelLogo(const std::string &Root, KernelLogo *Logo, std::string *Failed);

KernelLog ReadKernelLog(const std::string &Root);
