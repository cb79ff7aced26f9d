// quillon: the firmware's boot logo on a running Linux. Reads the options, runs the report on the
// running machine or on a dump, and turns what happened into the exit status.
#include <cstdio>
#include <cstring>
#include <string>

#include "linux/Command.h"
#include "linux/LinuxMachine.h"

namespace {

constexpr const char *kHelp =
    "Usage: sudo quillon\n"
    "       quillon --acpidump FILE|FOLDER\n"
    "\n"
    "Reports the firmware's boot logo (its ACPI BGRT) as the running kernel keeps it,\n"
    "saves the logo as BIOSLogo.bmp in the current folder, byte for byte, and judges\n"
    "what Linux, Plymouth (on this machine's display) and Windows make of it.\n"
    "\n"
    "  --acpidump FILE    judge the BGRTs in acpidump's text instead, or in FOLDER,\n"
    "                     the files \"acpidump -b\" writes; a dump holds no logo, no\n"
    "                     memory map and no screen, and says so\n"
    "  --root DIR         for tests: read DIR/sys, DIR/dev/kmsg, and the displays as\n"
    "                     DIR/sys/class/drm shows them, in place of this machine's\n"
    "  -h, --help         this text\n"
    "\n"
    "Exit status: 0 the logo saved, or the dump judged; 1 a failure, said in one\n"
    "line; 2 an option it does not know; 3 no logo to save (no BGRT, or the kernel\n"
    "kept none).\n";

int Usage(const std::string &What) {
  std::fprintf(stderr, "quillon: %s (see quillon --help)\n", What.c_str());
  return kExitUsage;
}

}  // namespace

int Fail(const std::string &What) {
  FlushConsole();
  std::fprintf(stderr, "quillon: %s\n", What.c_str());
  return kExitFailed;
}

int main(int ArgumentCount, char **Arguments) {
  std::string Dump;
  std::string Root;
  bool RootGiven = false;
  for (int Index = 1; Index < ArgumentCount; Index++) {
    std::string Option = Arguments[Index];
    bool HasValue = Index + 1 < ArgumentCount;
    if (Option == "-h" || Option == "--help") {
      std::fputs(kHelp, stdout);
      return kExitDone;
    } else if (Option == "--acpidump" && HasValue) {
      Dump = Arguments[++Index];
    } else if (Option == "--root" && HasValue) {
      Root = Arguments[++Index];
      RootGiven = true;
    } else if (Option == "--acpidump" || Option == "--root") {
      return Usage(Option + " wants a value");
    } else {
      return Usage("no option " + Option);
    }
  }
  int Status = Dump.empty() ? ReportRunningMachine(Root, RootGiven) : ReportDump(Dump);
  FlushConsole();
  return Status;
}
