// The running machine's BGRTs, reported as the image reports them, with the kernel's copies of the
// tables and the logo held at the firmware's own addresses where this process can have them, and
// judged against what the running kernel did and the display DRM drives.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "app/App.h"
#include "app/BgrtVerdict.h"
#include "app/LogoPicture.h"
#include "firmware/Acpi.h"
#include "linux/Command.h"
#include "linux/DrmDisplays.h"
#include "linux/FolderVolume.h"
#include "linux/KernelTables.h"
#include "linux/LinuxMachine.h"
#include "linux/TableFiles.h"
#include "print/Print.h"

namespace {

// What the command read of the machine.
struct Machine {
  std::vector<KernelBgrt> Bgrts;
  KernelLogo Logo;
  KernelLog Log;
  bool HasDisplay;
  DrmOutput Shown;
  RunningOs Os;
  ScreenNow Screen;
};

uint64_t ImageAddressOf(const std::vector<uint8_t> &Bgrt) {
  uint64_t Address;
  std::memcpy(&Address, Bgrt.data() + offsetof(ACPI_BGRT, ImageAddress), sizeof Address);
  return Address;
}

const char *RotationWords(PlymouthRotation Rotation) {
  switch (Rotation) {
    case PlymouthRotation::UpsideDown: return "mounted upside down";
    case PlymouthRotation::Clockwise: return "mounted right side up";
    case PlymouthRotation::CounterClockwise: return "mounted left side up";
    default: return "upright";
  }
}

std::string CurrentFolder() {
  char Path[PATH_MAX];
  return getcwd(Path, sizeof Path) != nullptr ? Path : ".";
}

// The display's line, and Plymouth's name for its line: the connector, the mode and the kind.
void PrintDisplay(const Machine &M) {
  if (!M.HasDisplay) {
    std::printf("  Display: none connected that DRM drives\n");
    return;
  }
  const DrmOutput &O = M.Shown;
  if (O.Framebuffer) {
    std::printf("  Display: fb0, the firmware's framebuffer with no DRM driver, %u x %u: no panel properties\n",
                O.Width, O.Height);
    return;
  }
  std::printf("  Display: %s, %s, %u x %u (Plymouth's mode, of %u), %u x %u mm, %s, Plymouth's scale %d\n",
              O.Name.c_str(), O.Panel ? "a laptop's panel" : "a monitor", O.Width, O.Height, O.ModeCount, O.WidthMm,
              O.HeightMm, RotationWords(O.Rotation), M.Os.Display.Scale);
}

// The verdict's lines as the image prints them, but for the screen, which is this machine's
// display, and the kernel's decision, which its log words.
void PrintVerdict(const Machine &M, const BgrtFinding &F, const BgrtVerdict &V, bool ImageHeld) {
  PrintBgrtTable(F, V);
  if (ImageHeld || F.Table.ImageAddress == 0) {
    PrintImageMemory(F, V);
  } else {
    std::printf("  Image memory: not known, as the kernel kept no copy of this logo\n");
  }
  PrintDisplay(M);
  if (V.Place.Judged) PrintPlace(F.Table, V.Screen, V.Place);
  std::string Plymouth = std::string(VerdictWords(VerdictText::Plymouth)) + " (" + M.Shown.Name + ", " +
                         std::to_string(M.Shown.Width) + " x " + std::to_string(M.Shown.Height) +
                         (M.Shown.Framebuffer ? " framebuffer)" : M.Shown.Panel ? " panel)" : " monitor)");
  for (UINT32 Index = 0; Index < V.ReaderCount; Index++) {
    const ReaderDecision &D = V.Readers[Index];
    if (D.Reader == VerdictText::LinuxEfiBgrt && F.Number == 1 && !M.Os.KernelKept) {
      FlushConsole();
      std::printf("  %s: %s: %s\n", VerdictWords(VerdictText::LinuxEfiBgrt), VerdictWords(VerdictText::Ignored),
                  M.Log.Ignoring.empty() ? "the kernel's log does not say why" : M.Log.Ignoring.front().c_str());
    } else if (D.Reader == VerdictText::Plymouth && M.HasDisplay) {
      PrintReaderDecision(D, Plymouth.c_str());
    } else {
      PrintReaderDecision(D);
    }
    FlushConsole();
  }
}

// Reports one BGRT as the image does, its verdict after it. Returns what became of its logo.
BgrtFinding ReportOne(Machine &M, MachineMemory &Memory, FolderVolume &Volume, size_t Index, bool ImageHeld) {
  const KernelBgrt &Bgrt = M.Bgrts[Index];
  bool Listed = Index < M.Log.BgrtAddresses.size();
  uint64_t Address = Listed ? M.Log.BgrtAddresses[Index] : 0;
  bool AtItsAddress = Listed && Memory.PlaceAt(Address, Bgrt.Bytes, EfiACPIReclaimMemory);
  if (!AtItsAddress) Address = Memory.PlaceAnywhere(Bgrt.Bytes, EfiACPIReclaimMemory);

  FlushConsole();
  std::printf("BGRT %zu: %s, %s\n", Index + 1, Bgrt.Path.c_str(),
              AtItsAddress ? "at the address the kernel's log gives"
              : Listed     ? "whose address this process cannot have: the one shown is this command's copy"
                           : "at an address the kernel's log no longer gives: the one shown is this command's copy");
  if (Index != 0) {
    std::printf("  Its logo: the kernel keeps only the first BGRT's\n");
  } else if (!M.Logo.Kept) {
    std::printf("  Its logo: the kernel kept none\n");
  } else {
    std::printf("  Its logo: the kernel's copy, %s, %zu bytes%s\n", M.Logo.Path.c_str(), M.Logo.Image.size(),
                ImageHeld ? "" : ", which this process cannot hold at the logo's address");
  }
  std::fflush(stdout);

  BgrtFinding Finding;
  MemoryMap Map = Memory.Map();
  ReportBgrtAndLogo(Map, Volume.Protocol(), Address, (UINT32)Index + 1, &Finding);
  if (Finding.Table.Whole) PrintVerdict(M, Finding, JudgeBgrt(Map, Finding, M.Screen, &M.Os), ImageHeld && Index == 0);
  FlushConsole();
  return Finding;
}

// What became of the first BGRT's logo, the one the kernel keeps, in one line; the exit status.
int Conclude(const Machine &M, const BgrtFinding &First, FolderVolume &Volume, bool ImageHeld) {
  std::string Folder = CurrentFolder();
  switch (First.Outcome) {
    case LogoOutcome::Saved:
      // The same logo as a picture anyone can open, beside it, by the same save; its own line says
      // how that went.
      SaveLogoPicture(Volume.Protocol(), First);
      std::printf("Saved BIOSLogo.bmp in %s: the kernel's copy of the logo, %u bytes.\n", Folder.c_str(),
                  First.Logo.FileSize);
      return kExitDone;
    case LogoOutcome::Refused:
      return Fail("the kernel's copy of the logo is no bitmap Quillon saves (" +
                  std::string(BitmapFaultText(First.Logo.Rule.Fault)) + "): BIOSLogo.bmp not saved");
    case LogoOutcome::SaveFailed:
      return Fail("cannot save BIOSLogo.bmp in " + Folder + ": " +
                  (Volume.LastError != 0 ? std::strerror(Volume.LastError) : "the save failed"));
    case LogoOutcome::NoImage:
      std::printf("No BIOSLogo.bmp: the BGRT gives no image address.\n");
      return kExitNoLogo;
    case LogoOutcome::Unreadable:
      break;
  }
  if (!M.Logo.Kept) {
    std::printf("No BIOSLogo.bmp: the kernel kept no copy of the logo.\n");
    return kExitNoLogo;
  }
  char Address[24];
  std::snprintf(Address, sizeof Address, "0x%llX", (unsigned long long)First.Table.ImageAddress);
  if (!ImageHeld) return Fail(std::string("cannot hold the kernel's copy of the logo at ") + Address + ": BIOSLogo.bmp not saved");
  return Fail("the kernel's copy of the logo, " + std::to_string(M.Logo.Image.size()) +
              " bytes, is shorter than its bitmap's size field: BIOSLogo.bmp not saved");
}

}  // namespace

int ReportRunningMachine(const std::string &Root, bool DrmFixture) {
  // The kernel shows its ACPI tables, the logo and its log to root alone.
  if (geteuid() != 0) return Fail("the firmware's tables can be read by root alone: run it as 'sudo quillon'");
  Machine M{};
  std::string Failed;
  switch (ReadKernelBgrts(Root, &M.Bgrts, &Failed)) {
    case TablesFound::NoAcpi:
      return Fail("no ACPI tables in " + Root + "/sys/firmware/acpi/tables: the firmware gave Linux none, or "
                  "Linux runs with acpi=off");
    case TablesFound::Unreadable:
      return Fail("cannot read " + Failed + ": " + std::strerror(errno));
    case TablesFound::Read:
      break;
  }
  if (M.Bgrts.empty()) {
    std::printf("This firmware publishes no boot logo: the kernel lists no BGRT among its ACPI tables.\n");
    return kExitNoLogo;
  }
  for (const KernelBgrt &Bgrt : M.Bgrts) {
    std::string Why = WhyNotWholeBgrt(Bgrt.Bytes);
    if (!Why.empty()) return Fail(Bgrt.Path + " is no whole BGRT: " + Why);
  }
  if (!ReadKernelLogo(Root, &M.Logo, &Failed)) return Fail("cannot read " + Failed + ": " + std::strerror(errno));
  M.Log = ReadKernelLog(Root);

  std::vector<DrmOutput> Outputs;
  if (DrmFixture) {
    ReadDrmFixture(Root, &Outputs);
  } else {
    ReadDrmOutputs(&Outputs);
  }
  DrmOutput Framebuffer;
  if (Outputs.empty() && ReadFramebuffer(Root, &Framebuffer)) Outputs.push_back(Framebuffer);
  M.HasDisplay = PlymouthsDisplay(Outputs, &M.Shown, &M.Os.Display);
  M.Os.HasDisplay = M.HasDisplay;
  M.Os.KernelKept = M.Logo.Kept;
  // DRM's framebuffers and the firmware's on PCs alike hold a pixel in four bytes, blue first.
  if (M.HasDisplay) {
    M.Screen = ScreenNow{nullptr, 0, M.Shown.ModeCount, M.Shown.Width, M.Shown.Height,
                         PixelBlueGreenRedReserved8BitPerColor, M.Shown.Width, 32};
  }

  StartLinuxMachine();
  MachineMemory Memory;
  FolderVolume Volume(".");
  // The kernel checked that the logo lay in boot-services data before it kept it (efi_bgrt_init).
  bool ImageHeld = M.Logo.Kept && Memory.PlaceAt(ImageAddressOf(M.Bgrts[0].Bytes), M.Logo.Image, EfiBootServicesData);

  std::printf("Quillon on a running Linux: the firmware's BGRT as the kernel keeps it\n");
  BgrtFinding First{};
  for (size_t Index = 0; Index < M.Bgrts.size(); Index++) {
    BgrtFinding Finding = ReportOne(M, Memory, Volume, Index, ImageHeld);
    if (Index == 0) First = Finding;
  }
  return Conclude(M, First, Volume, ImageHeld);
}
