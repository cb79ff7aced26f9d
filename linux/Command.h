// The Linux command: the firmware's boot logo and the verdict on it, from the running kernel or
// from a dump of the firmware's tables.
#pragma once

#include <string>

// Exit statuses.
constexpr int kExitDone = 0;     // the logo saved, or the dump judged
constexpr int kExitFailed = 1;   // what failed is said in one line
constexpr int kExitUsage = 2;    // an option the command does not know
constexpr int kExitNoLogo = 3;   // nothing to save: no BGRT, or the kernel kept no logo

// Says on standard error what failed, in one line, and returns kExitFailed.
int Fail(const std::string &What);

// The running machine, read under Root ("" for "/"), its displays from DRM through libdrm, or with
// DrmFixture from Root's sysfs-shaped DRM folders. Saves BIOSLogo.bmp in the current folder.
int ReportRunningMachine(const std::string &Root, bool DrmFixture);

// acpidump's text at Path, or a folder of "acpidump -b" files.
int ReportDump(const std::string &Path);
