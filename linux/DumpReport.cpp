// A dump's BGRTs: each table's lines as the image prints them for the same table, and plainly what
// a dump cannot tell.
#include <sys/stat.h>

#include <cstdio>

#include "app/BgrtVerdict.h"
#include "app/ReadBgrt.h"
#include "linux/AcpiDump.h"
#include "linux/Command.h"
#include "linux/LinuxMachine.h"
#include "linux/TableFiles.h"
#include "print/Print.h"

int ReportDump(const std::string &Path) {
  struct stat Stat;
  bool Folder = stat(Path.c_str(), &Stat) == 0 && S_ISDIR(Stat.st_mode);
  std::vector<DumpedTable> Tables;
  std::string Why;
  bool Read = Folder ? ReadAcpiBinaries(Path, &Tables, &Why) : ReadAcpiDumpText(Path, &Tables, &Why);
  if (!Read) return Fail("cannot read the dump: " + Why);

  std::vector<const DumpedTable *> Bgrts;
  for (const DumpedTable &Table : Tables) {
    if (Table.Signature == "BGRT") Bgrts.push_back(&Table);
  }
  std::printf("Quillon on a dump: %s, %zu tables, %zu BGRT%s\n", Path.c_str(), Tables.size(), Bgrts.size(),
              Bgrts.size() == 1 ? "" : "s");
  if (Bgrts.empty()) {
    std::printf("This firmware publishes no boot logo: the dump holds no BGRT.\n");
    return kExitNoLogo;
  }
  for (const DumpedTable *Bgrt : Bgrts) {
    std::string Why = WhyNotWholeBgrt(Bgrt->Bytes);
    if (!Why.empty()) return Fail(Bgrt->Where + " is no whole BGRT: " + Why);
  }

  StartLinuxMachine();
  MachineMemory Memory;
  for (size_t Index = 0; Index < Bgrts.size(); Index++) {
    const DumpedTable &Bgrt = *Bgrts[Index];
    if (Bgrt.AddressKnown) {
      std::printf("BGRT %zu: %s, at 0x%llX\n", Index + 1, Bgrt.Where.c_str(), (unsigned long long)Bgrt.Address);
    } else {
      std::printf("BGRT %zu: %s\n", Index + 1, Bgrt.Where.c_str());
    }
    BgrtFinding Finding{};
    Finding.Number = (UINT32)Index + 1;
    uint64_t Held = Memory.PlaceAnywhere(Bgrt.Bytes, EfiACPIReclaimMemory);
    MemoryMap Map = Memory.Map();
    ReadBgrt(Map, Held, &Finding.Table);
    Finding.Table.Address = Bgrt.Address;
    PrintBgrtTable(Finding, JudgeBgrt(Map, Finding, ScreenNow{}));
    ConsolePrint(u"  Image address @[0x%lX]\n", Finding.Table.ImageAddress);
    FlushConsole();
  }
  std::printf("A dump holds the tables alone: not the logo, the memory map or the screen, so it cannot\n"
              "tell what Linux, Plymouth or Windows make of the logo. Run 'sudo quillon' on the machine.\n");
  return kExitDone;
}
