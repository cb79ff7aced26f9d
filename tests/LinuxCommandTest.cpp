// The Linux command, run as people run it, on machines made as fixture trees: the kernel's BGRTs,
// its copy of the logo and its fields laid out as sysfs shows them, its log as /dev/kmsg gives it,
// and the displays as sysfs shows DRM's. And on dumps of the real machines' tables, made with
// acpica-tools' acpidump, whose table lines must be the image's for the same table.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "CaseNames.h"
#include "PngRead.h"
#include "VerdictWords.h"
#include "app/App.h"
#include "app/BitmapLayout.h"
#include "firmware/Guids.h"
#include "sim/AcpiBuilder.h"
#include "sim/SimFileSystem.h"
#include "sim/SimFirmware.h"

namespace {

namespace fs = std::filesystem;
using enum VerdictText;

std::vector<uint8_t> ReadFile(const fs::path &Path) {
  std::ifstream Stream(Path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(Stream)), std::istreambuf_iterator<char>());
}

std::string ReadText(const fs::path &Path) {
  std::vector<uint8_t> Bytes = ReadFile(Path);
  return std::string(Bytes.begin(), Bytes.end());
}

void WriteFile(const fs::path &Path, const std::string &Text) {
  fs::create_directories(Path.parent_path());
  std::ofstream(Path, std::ios::binary) << Text;
}

void WriteFile(const fs::path &Path, const std::vector<uint8_t> &Bytes) {
  WriteFile(Path, std::string(Bytes.begin(), Bytes.end()));
}

std::vector<std::string> Lines(const std::string &Text) {
  std::vector<std::string> Split;
  std::istringstream Stream(Text);
  for (std::string Line; std::getline(Stream, Line);) Split.push_back(Line);
  return Split;
}

bool Holds(const std::vector<std::string> &Haystack, const std::string &Line) {
  return std::find(Haystack.begin(), Haystack.end(), Line) != Haystack.end();
}

// A BGRT's 56 bytes, its checksum right unless Length is cut.
std::vector<uint8_t> Bgrt(uint64_t Image, uint32_t X, uint32_t Y, uint8_t Status = 1) {
  std::vector<uint8_t> Table = AcpiBuilder::TableHeader("BGRT", 56);
  Table.resize(56);
  StoreLittleEndian(Table, 36, 1, 2);  // version
  Table[38] = Status;
  StoreLittleEndian(Table, 40, Image, 8);
  StoreLittleEndian(Table, 48, X, 4);
  StoreLittleEndian(Table, 52, Y, 4);
  AcpiBuilder::SetChecksum(Table);
  return Table;
}

// A connected DRM output: its sysfs folder's name, its modes (the preferred one first), and what
// DRM's connector gives beside.
struct Output {
  std::string Folder;
  std::vector<std::string> Modes;
  std::string Orientation;  // "" where the connector has no such property
  std::string MmSize;       // "WIDTH HEIGHT"
};

// Where the fixtures put the logo, and the kernel's log the BGRT (0x7A40BF00): below 2 GiB, where
// a process under the address sanitizer may map pages too.
constexpr uint64_t kImageAddress = 0x6A0F0018;

// A running machine as the kernel shows it.
struct Tree {
  std::vector<std::vector<uint8_t>> Bgrts;
  bool Kept = true;  // the kernel kept the first BGRT's logo
  std::vector<uint8_t> Image = AcpiBuilder::Bitmap(193, 58, 24);
  std::vector<std::string> Log = {"ACPI: BGRT 0x000000007A40BF00 000038 (v01 ALASKA A M I    01072009 AMI  00010013)"};
  std::vector<Output> Outputs;
  std::string Framebuffer;  // fb0's "WIDTH,HEIGHT", where the kernel has a framebuffer device
  bool Acpi = true;

  void Write(const fs::path &Root) const {
    fs::create_directories(Root / "dev");
    if (Acpi) fs::create_directories(Root / "sys/firmware/acpi/tables");
    if (Acpi) WriteFile(Root / "sys/firmware/acpi/tables/FACP", AcpiBuilder::TableHeader("FACP", 36));
    for (size_t Index = 0; Index < Bgrts.size(); Index++) {
      std::string Name = Bgrts.size() == 1 ? "BGRT" : "BGRT" + std::to_string(Index + 1);
      WriteFile(Root / "sys/firmware/acpi/tables" / Name, Bgrts[Index]);
    }
    if (Kept && !Bgrts.empty() && Bgrts.front().size() >= 56) {
      const std::vector<uint8_t> &First = Bgrts.front();
      fs::path Folder = Root / "sys/firmware/acpi/bgrt";
      WriteFile(Folder / "image", Image);
      auto Field = [&](size_t Offset, size_t Width) {
        uint64_t Value = 0;
        std::memcpy(&Value, &First[Offset], Width);
        return std::to_string(Width == 4 ? (int32_t)Value : (int64_t)Value) + "\n";
      };
      WriteFile(Folder / "version", Field(36, 2));
      WriteFile(Folder / "status", Field(38, 1));
      WriteFile(Folder / "type", Field(39, 1));
      WriteFile(Folder / "xoffset", Field(48, 4));
      WriteFile(Folder / "yoffset", Field(52, 4));
    }
    std::string Kmsg;
    for (size_t Index = 0; Index < Log.size(); Index++) {
      Kmsg += "6," + std::to_string(Index) + "," + std::to_string(Index * 1000) + ",-;" + Log[Index] + "\n";
    }
    WriteFile(Root / "dev/kmsg", Kmsg);
    for (const Output &O : Outputs) {
      fs::path Folder = Root / "sys/class/drm" / O.Folder;
      std::string Modes;
      for (const std::string &Mode : O.Modes) Modes += Mode + "\n";
      WriteFile(Folder / "status", std::string("connected\n"));
      WriteFile(Folder / "modes", Modes);
      if (!O.Orientation.empty()) WriteFile(Folder / "panel_orientation", O.Orientation + "\n");
      if (!O.MmSize.empty()) WriteFile(Folder / "mm_size", O.MmSize + "\n");
    }
    if (!Framebuffer.empty()) WriteFile(Root / "sys/class/graphics/fb0/virtual_size", Framebuffer + "\n");
  }
};

const Output kLaptopPanel = {"card0-eDP-1", {"1920x1080", "1680x1050", "1280x800"}, "Normal", "344 194"};
const Output kHiDpiPanel = {"card0-eDP-1", {"2880x1800", "1920x1200"}, "Normal", "286 179"};
const Output kMonitor = {"card0-DP-1", {"1920x1080", "1280x720"}, "", "527 296"};
const Output kWideMonitor = {"card0-DP-2", {"2560x1440", "1920x1080"}, "", "597 336"};
// A tablet's panel, 800 x 1280 as it is made, mounted with its right side up: landscape as held.
const Output kTurnedPanel = {"card0-DSI-1", {"800x1280"}, "Right Side Up", "135 216"};

struct Ran {
  int Status;
  std::string Out;
  std::string Err;
};

// A folder of a test's own: Root for the machine, Here for where the command runs.
struct Place {
  fs::path Base;
  fs::path Root;
  fs::path Here;

  Place() {
    const testing::TestInfo *Info = testing::UnitTest::GetInstance()->current_test_info();
    std::string Name = std::string(Info->test_suite_name()) + "-" + Info->name();
    std::replace(Name.begin(), Name.end(), '/', '-');
    Base = fs::temp_directory_path() / ("quillon-linux-" + std::to_string(getpid())) / Name;
    fs::remove_all(Base);
    Root = Base / "root";
    Here = Base / "here";
    fs::create_directories(Here);
    // Run as another user, the command must reach its own file.
    fs::permissions(Base.parent_path(), fs::perms::others_exec | fs::perms::others_read, fs::perm_options::add);
  }

  // Runs the command in Here, through Wrapper where one is given (setpriv, or a shell that makes
  // Here read-only first), with these arguments.
  Ran Run(const std::string &Arguments, const std::string &Wrapper = "") const {
    std::string Command = "cd '" + Here.string() + "' && " + Wrapper + " '" QUILLON_COMMAND "' " + Arguments +
                          " > '" + (Base / "out.txt").string() + "' 2> '" + (Base / "err.txt").string() + "'";
    int Status = std::system(Command.c_str());
    return Ran{WIFEXITED(Status) ? WEXITSTATUS(Status) : -1, ReadText(Base / "out.txt"), ReadText(Base / "err.txt")};
  }

  Ran RunOn(const Tree &Machine) const {
    Machine.Write(Root);
    return Run("--root '" + Root.string() + "'");
  }

  std::vector<std::string> FilesHere() const {
    std::vector<std::string> Names;
    for (const auto &Entry : fs::directory_iterator(Here)) Names.push_back(Entry.path().filename().string());
    std::sort(Names.begin(), Names.end());
    return Names;
  }
};

// The Plymouth line the command gives for the machine's display.
std::string PlymouthOn(const std::string &Display, VerdictText Outcome, VerdictText Reason = None) {
  std::string Line = "  Plymouth (" + Display + "): " + Words(Outcome);
  if (Reason != None) Line += ": " + Words(Reason);
  return Line;
}

// One machine: its tree, the lines its report must hold, its exit status and whether the logo is
// saved.
struct MachineCase {
  const char *Name;
  const char *What;
  Tree Machine;
  std::vector<std::string> Expected;
  int Status;
  bool Saved;
};

void PrintTo(const MachineCase &Case, std::ostream *Stream) { *Stream << Case.What; }

Tree With(std::vector<Output> Outputs, std::vector<std::vector<uint8_t>> Bgrts) {
  Tree Machine;
  Machine.Outputs = std::move(Outputs);
  Machine.Bgrts = std::move(Bgrts);
  return Machine;
}

Tree FramebufferOnly(std::string Size, std::vector<std::vector<uint8_t>> Bgrts) {
  Tree Machine = With({}, std::move(Bgrts));
  Machine.Framebuffer = std::move(Size);
  return Machine;
}

Tree KernelIgnored(std::vector<std::string> Log) {
  Tree Machine = With({kLaptopPanel}, {Bgrt(kImageAddress, 863, 511)});
  Machine.Kept = false;
  Machine.Log = std::move(Log);
  return Machine;
}

// OVMF's 193 x 58 logo, centred both ways on each display unless a case says otherwise.
const MachineCase kMachines[] = {
    {"laptop_panel", "a laptop's 1920 x 1080 panel, the logo centred: saved, and Plymouth keeps its place",
     With({kLaptopPanel}, {Bgrt(kImageAddress, 863, 511)}),
     {"BGRT 1: %ROOT%/sys/firmware/acpi/tables/BGRT, at the address the kernel's log gives",
      "  Found BGRT @[0x7A40BF00]", "  Image address @[0x6A0F0018]", "           Width [0xC1]",
      "BIOS logo has been saved to 'BIOSLogo.bmp'", "  BGRT 1 checksum " + Words(ChecksumRight),
      "  Image memory: type 4, " + Words(BootServicesData),
      "  Display: eDP-1, a laptop's panel, 1920 x 1080 (Plymouth's mode, of 3), 344 x 194 mm, upright, Plymouth's "
      "scale 1",
      "  Across: at 863 of 1920: " + Words(FitsCentred), Says(LinuxEfiBgrt, Kept), Says(LinuxEfifb, WouldRedraw),
      PlymouthOn("eDP-1, 1920 x 1080 panel", ShowsWhereFirmwareDid), Says(Windows, Shows),
      "Logo: 193 x 58 as a picture, saved as BIOSLogo.png",
      "Saved BIOSLogo.bmp in %HERE%: the kernel's copy of the logo, 33694 bytes."},
     0, true},
    {"hidpi_panel", "a 2880 x 1800 panel of 255 dots an inch, which Plymouth draws on at twice the scale",
     With({kHiDpiPanel}, {Bgrt(kImageAddress, 1343, 871)}),
     {"  Display: eDP-1, a laptop's panel, 2880 x 1800 (Plymouth's mode, of 2), 286 x 179 mm, upright, Plymouth's "
      "scale 2",
      PlymouthOn("eDP-1, 2880 x 1800 panel", ShowsWhereFirmwareDid)},
     0, true},
    {"panel_not_centred", "the logo not centred across the panel: Plymouth moves it 38.2% down",
     With({kLaptopPanel}, {Bgrt(kImageAddress, 100, 511)}),
     {"  Across: at 100 of 1920: " + Words(FitsNotCentred), PlymouthOn("eDP-1, 1920 x 1080 panel", ShowsCentredGolden)},
     0, true},
    {"monitor", "a desktop's one monitor, the logo 10% down: Plymouth 24 takes the monitor for its panel",
     With({kMonitor}, {Bgrt(kImageAddress, 863, 108)}),
     {"  Display: DP-1, a monitor, 1920 x 1080 (Plymouth's mode, of 2), 527 x 296 mm, upright, Plymouth's scale 1",
      PlymouthOn("DP-1, 1920 x 1080 monitor", ShowsWhereFirmwareDid)},
     0, true},
    {"laptop_and_monitor", "a laptop's panel and a larger monitor: the line is the panel's",
     With({kWideMonitor, kLaptopPanel}, {Bgrt(kImageAddress, 863, 511)}),
     {PlymouthOn("eDP-1, 1920 x 1080 panel", ShowsWhereFirmwareDid)}, 0, true},
    {"turned_panel", "a tablet's panel mounted right side up, the logo drawn turned with it: Plymouth keeps its place",
     With({kTurnedPanel}, {Bgrt(kImageAddress, 543, 371, 0x07)}),
     {"  Status: displayed, rotated 270 degrees", "  Display: DSI-1, a laptop's panel, 800 x 1280 (Plymouth's mode, "
      "of 1), 135 x 216 mm, mounted right side up, Plymouth's scale 1",
      Says(LinuxEfifb, WontRedraw, RotationBits), PlymouthOn("DSI-1, 800 x 1280 panel", ShowsWhereFirmwareDid)},
     0, true},
    {"turned_logo_upright_panel", "the logo drawn turned, on a panel mounted upright: Plymouth shows none",
     With({kLaptopPanel}, {Bgrt(kImageAddress, 863, 511, 0x07)}),
     {PlymouthOn("eDP-1, 1920 x 1080 panel", ShowsOnTurnedPanel)}, 0, true},
    {"no_display", "no display connected: nothing to judge the place against",
     With({}, {Bgrt(kImageAddress, 863, 511)}),
     {"  Display: none connected that DRM drives", Says(LinuxEfifb, WontRedraw, NoScreen),
      Says(Plymouth, WontShow, NoScreen)},
     0, true},
    {"framebuffer_only", "no DRM driver, the firmware's framebuffer as fb0: Plymouth's frame-buffer renderer, no panel",
     FramebufferOnly("1280,800", {Bgrt(kImageAddress, 543, 371)}),
     {"  Display: fb0, the firmware's framebuffer with no DRM driver, 1280 x 800: no panel properties",
      "  Across: at 543 of 1280: " + Words(FitsCentred), Says(LinuxEfifb, WouldRedraw),
      PlymouthOn("fb0, 1280 x 800 framebuffer", ShowsWhereFirmwareDid)},
     0, true},
    {"framebuffer_logo_down", "no DRM driver, a logo 10% down: with no panel properties Plymouth centres it",
     FramebufferOnly("1280,800", {Bgrt(kImageAddress, 543, 80)}),
     {PlymouthOn("fb0, 1280 x 800 framebuffer", ShowsCentredGolden)}, 0, true},
    {"kernel_ignored", "the kernel ignored the table, and its log says why: no logo to save",
     KernelIgnored({"ACPI: BGRT 0x000000007A40BF00 000038 (v01 ALASKA A M I    01072009 AMI  00010013)",
              "efi_bgrt: Ignoring BGRT: invalid image address"}),
     {"  Its logo: the kernel kept none", "  Can't read logo image @[0x6A0F0018]",
      "  Image memory: not known, as the kernel kept no copy of this logo",
      "  Linux efi-bgrt: ignored: invalid image address", Says(LinuxEfifb, WontRedraw, EfiBgrtIgnores),
      PlymouthOn("eDP-1, 1920 x 1080 panel", WontShow, EfiBgrtIgnores), Says(Windows, WontShow, NoBitmap),
      "No BIOSLogo.bmp: the kernel kept no copy of the logo."},
     3, false},
    {"kernel_ignored_log_gone", "the kernel ignored the table, and its log no longer holds the boot's lines",
     KernelIgnored({}),
     {"BGRT 1: %ROOT%/sys/firmware/acpi/tables/BGRT, at an address the kernel's log no longer gives: the one shown "
      "is this command's copy",
      "  Linux efi-bgrt: ignored: the kernel's log does not say why"},
     3, false},
    {"two_bgrts", "two BGRTs: the kernel reads the first alone, and keeps its logo",
     With({kLaptopPanel}, {Bgrt(kImageAddress, 863, 511), Bgrt(0x6B000018, 863, 511, 0)}),
     {"BGRT 2: %ROOT%/sys/firmware/acpi/tables/BGRT2, at an address the kernel's log no longer gives: the one shown "
      "is this command's copy",
      "  Its logo: the kernel keeps only the first BGRT's", "  BGRT 2 checksum " + Words(ChecksumRight),
      Says(LinuxEfiBgrt, NeverRead, NotFirstBgrt), "Saved BIOSLogo.bmp in %HERE%: the kernel's copy of the logo, "
      "33694 bytes."},
     0, true},
};

class Machines : public testing::TestWithParam<MachineCase> {};

TEST_P(Machines, ReportJudgeAndSaveAsTheKernelAndDrmSayIt) {
  const MachineCase &Case = GetParam();
  Place P;
  Ran Result = P.RunOn(Case.Machine);
  std::vector<std::string> Out = Lines(Result.Out);
  for (std::string Line : Case.Expected) {
    for (auto [Mark, Path] : {std::pair{"%ROOT%", P.Root}, std::pair{"%HERE%", P.Here}}) {
      size_t At = Line.find(Mark);
      if (At != std::string::npos) Line.replace(At, std::strlen(Mark), Path.string());
    }
    EXPECT_TRUE(Holds(Out, Line)) << "missing: " << Line;
  }
  EXPECT_EQ(Result.Status, Case.Status) << Result.Err;
  EXPECT_EQ(Result.Err, "");
  // The logo as the kernel kept it, byte for byte, its pixels as a picture beside it, and no
  // scratch or backup file.
  if (Case.Saved) {
    EXPECT_EQ(P.FilesHere(), (std::vector<std::string>{"BIOSLogo.bmp", "BIOSLogo.png"}));
    EXPECT_EQ(ReadFile(P.Here / "BIOSLogo.bmp"), Case.Machine.Image);
    RgbPicture Picture;
    const std::vector<uint8_t> &Bmp = Case.Machine.Image;
    EXPECT_EQ(ReadPngWithLibpng(ReadFile(P.Here / "BIOSLogo.png"), &Picture), "");
    ASSERT_EQ(Picture.Width, 193u);
    ASSERT_EQ(Picture.Height, 58u);
    uint32_t RowBytes = (193 * 3 + 3) & ~3u, Offset = Bmp[10] | Bmp[11] << 8;
    for (uint32_t Y = 0; Y < 58; Y++) {
      for (uint32_t X = 0; X < 193; X++) {
        const uint8_t *Pixel = &Bmp[Offset + (57 - Y) * RowBytes + 3 * X];
        ASSERT_EQ(Picture.At(X, Y), (uint32_t)(Pixel[2] << 16 | Pixel[1] << 8 | Pixel[0])) << X << ", " << Y;
      }
    }
  } else {
    EXPECT_EQ(P.FilesHere(), std::vector<std::string>{});
  }
  if (testing::Test::HasFailure()) std::cout << Result.Out;
}

INSTANTIATE_TEST_SUITE_P(LinuxCommand, Machines, testing::ValuesIn(kMachines), CaseName<MachineCase>);

TEST(LinuxCommand, AnOlderLogoGivesWayWhole) {
  Place P;
  WriteFile(P.Here / "BIOSLogo.bmp", std::string(100000, 'x'));
  Ran Result = P.RunOn(With({kLaptopPanel}, {Bgrt(kImageAddress, 863, 511)}));
  EXPECT_EQ(Result.Status, 0) << Result.Err;
  EXPECT_EQ(P.FilesHere(), (std::vector<std::string>{"BIOSLogo.bmp", "BIOSLogo.png"}));
  EXPECT_EQ(ReadFile(P.Here / "BIOSLogo.bmp"), AcpiBuilder::Bitmap(193, 58, 24));
}

// Each failure: one line on standard error that says it, exit status 1, and no file left behind.
struct FaultCase {
  const char *Name;
  const char *What;
  Tree Machine;
  std::string Wrapper;  // %HERE% for the folder the command runs in
  std::string Said;     // what the line holds
};

void PrintTo(const FaultCase &Case, std::ostream *Stream) { *Stream << Case.What; }

Tree Plain() { return With({kLaptopPanel}, {Bgrt(kImageAddress, 863, 511)}); }

Tree NoAcpi() {
  Tree Machine;
  Machine.Acpi = false;
  return Machine;
}

Tree WithTable(std::vector<uint8_t> Table) {
  Tree Machine = Plain();
  Machine.Bgrts = {std::move(Table)};
  return Machine;
}

std::vector<uint8_t> CutTo(std::vector<uint8_t> Table, size_t Bytes, bool LengthToo) {
  Table.resize(Bytes);
  if (LengthToo) StoreLittleEndian(Table, 4, Bytes, 4);
  return Table;
}

std::vector<uint8_t> Signed(std::vector<uint8_t> Table, const char *Signature) {
  std::memcpy(Table.data(), Signature, 4);
  return Table;
}

Tree WithImage(std::vector<uint8_t> Image) {
  Tree Machine = Plain();
  Machine.Image = std::move(Image);
  return Machine;
}

std::vector<uint8_t> TwoPlanes() {
  std::vector<uint8_t> Image = AcpiBuilder::Bitmap(193, 58, 24);
  StoreLittleEndian(Image, 26, 2, 2);
  return Image;
}

const FaultCase kFaults[] = {
    {"not_root", "run by a user other than root", Plain(), "setpriv --reuid=65534 --regid=65534 --clear-groups",
     "the firmware's tables can be read by root alone: run it as 'sudo quillon'"},
    {"no_acpi", "no ACPI tables in sysfs", NoAcpi(), "", "/sys/firmware/acpi/tables: the firmware gave Linux none"},
    {"table_of_40_bytes", "a BGRT of 40 bytes", WithTable(CutTo(Bgrt(kImageAddress, 863, 511), 40, true)), "",
     "is no whole BGRT: 40 bytes, fewer than a BGRT's 56"},
    {"table_cut_short", "a BGRT whose length field counts more than it holds",
     WithTable(CutTo(Bgrt(kImageAddress, 863, 511), 50, false)), "",
     "is no whole BGRT: its length field says 56 bytes, and it holds 50"},
    {"table_of_another_signature", "a file named BGRT that holds another table",
     WithTable(Signed(Bgrt(kImageAddress, 863, 511), "FACP")), "", "is no whole BGRT: its signature is 'FACP'"},
    {"table_under_a_header", "a BGRT file shorter than an ACPI header",
     WithTable(CutTo(Bgrt(kImageAddress, 863, 511), 20, false)), "",
     "is no whole BGRT: 20 bytes, fewer than an ACPI table's header"},
    {"image_refused", "a logo the bitmap rule refuses", WithImage(TwoPlanes()), "",
     std::string("the kernel's copy of the logo is no bitmap Quillon saves (") + BitmapFaultText(kBitmapPlanesNotOne) +
         "): BIOSLogo.bmp not saved"},
    {"image_cut_short", "the kernel's copy shorter than its bitmap's size field",
     WithImage(CutTo(AcpiBuilder::Bitmap(193, 58, 24), 1000, false)), "",
     "the kernel's copy of the logo, 1000 bytes, is shorter than its bitmap's size field"},
    {"unwritable_folder", "the current folder on a read-only mount", Plain(),
     "unshare -m sh -c 'mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" && cd \"$0\" && exec \"$@\"' "
     "%HERE%",
     "cannot save BIOSLogo.bmp in %HERE%: Read-only file system"},
};

class Faults : public testing::TestWithParam<FaultCase> {};

TEST_P(Faults, OneLineSaysItAndTheStatusIsOne) {
  const FaultCase &Case = GetParam();
  Place P;
  auto Here = [&](std::string Text) {
    for (size_t At; (At = Text.find("%HERE%")) != std::string::npos;) Text.replace(At, 6, P.Here.string());
    return Text;
  };
  if (!Case.Wrapper.empty()) {
    std::string Probe = Here(Case.Wrapper) + " true";
    if (std::system(("cd '" + P.Here.string() + "' && " + Probe + " 2>/dev/null").c_str()) != 0) {
      GTEST_SKIP() << "this machine will not run: " << Probe;
    }
  }
  Case.Machine.Write(P.Root);
  Ran Result = P.Run("--root '" + P.Root.string() + "'", Here(Case.Wrapper));
  EXPECT_EQ(Result.Status, 1);
  std::vector<std::string> Err = Lines(Result.Err);
  ASSERT_EQ(Err.size(), 1u) << Result.Err;
  EXPECT_EQ(Err[0].rfind("quillon: ", 0), 0u) << Err[0];
  EXPECT_NE(Err[0].find(Here(Case.Said)), std::string::npos) << Err[0];
  EXPECT_EQ(P.FilesHere(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(LinuxCommand, Faults, testing::ValuesIn(kFaults), CaseName<FaultCase>);

TEST(LinuxCommand, NoBgrtIsNoFailureButNoLogo) {
  Place P;
  Ran Result = P.RunOn(With({kLaptopPanel}, {}));
  EXPECT_EQ(Result.Status, 3);
  EXPECT_EQ(Result.Out, "This firmware publishes no boot logo: the kernel lists no BGRT among its ACPI tables.\n");
  EXPECT_EQ(Result.Err, "");
}

TEST(LinuxCommand, HelpFitsOneScreenAndAWrongOptionIsSaid) {
  Place P;
  Ran Help = P.Run("--help");
  EXPECT_EQ(Help.Status, 0);
  std::vector<std::string> Out = Lines(Help.Out);
  EXPECT_LE(Out.size(), 24u);
  for (const std::string &Line : Out) EXPECT_LE(Line.size(), 80u) << Line;
  Ran Wrong = P.Run("--frobnicate");
  EXPECT_EQ(Wrong.Status, 2);
  EXPECT_EQ(Wrong.Err, "quillon: no option --frobnicate (see quillon --help)\n");
}

// The real machines' tables: each BGRT dumped as acpidump writes it, and as "acpidump -b" does.
const fs::path kTables = fs::path(QUILLON_SHARED_DATA) / "realacpi" / "tables";

// The table's three lines of each BGRT verdict in a report.
std::vector<std::string> TableLines(const std::string &Report) {
  std::vector<std::string> Found;
  for (const std::string &Line : Lines(Report)) {
    std::string Bare = Line.substr(0, Line.find_last_not_of('\r') + 1);
    if (Bare.rfind("  BGRT ", 0) == 0 || Bare.rfind("  Length ", 0) == 0 || Bare.rfind("  Status: ", 0) == 0) {
      Found.push_back(Bare);
    }
  }
  return Found;
}

// What the image says of these BGRTs, in this order, on the simulated firmware.
std::vector<std::string> ImageTableLines(const std::vector<std::vector<uint8_t>> &Bgrts) {
  SimFirmware Firmware;
  SimFileSystem Volume(Firmware);
  AcpiBuilder Acpi(Firmware);
  Firmware.InstallOnImage(EFI_SHELL_PARAMETERS_PROTOCOL_GUID);
  std::vector<uint64_t> Entries;
  for (const std::vector<uint8_t> &Bgrt : Bgrts) Entries.push_back(Acpi.Place(Bgrt));
  Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, (void *)Acpi.Rsdp(Acpi.Xsdt(Entries)));
  AppEntry(Firmware.ImageHandle(), Firmware.SystemTable());
  std::string Text;
  for (char16_t Character : Firmware.ConsoleText()) Text.push_back((char)Character);
  return TableLines(Text);
}

TEST(LinuxCommandDumps, EveryRealMachinesDumpGivesTheImagesTableLines) {
  ASSERT_TRUE(fs::is_directory(kTables)) << "the real machines' tables are not at " << kTables;
  ASSERT_EQ(std::system("command -v acpidump > /dev/null"), 0) << "acpidump (acpica-tools) is missing";
  std::vector<fs::path> Machines;
  for (const auto &Folder : fs::directory_iterator(kTables)) Machines.push_back(Folder.path());
  std::sort(Machines.begin(), Machines.end());
  ASSERT_EQ(Machines.size(), 107u);
  Place P;
  int Bgrts = 0;
  for (const fs::path &Machine : Machines) {
    SCOPED_TRACE(Machine.filename().string());
    std::vector<fs::path> Files = {Machine / "BGRT.bin"};
    if (fs::exists(Machine / "BGRT-2.bin")) Files.push_back(Machine / "BGRT-2.bin");
    std::vector<std::vector<uint8_t>> Tables;
    for (const fs::path &File : Files) Tables.push_back(ReadFile(File));
    std::vector<std::string> Expected = ImageTableLines(Tables);
    ASSERT_EQ(Expected.size(), 3 * Tables.size());
    Bgrts += (int)Tables.size();

    // acpidump's text, the XSDT first as a machine lists it.
    fs::path Text = P.Base / (Machine.filename().string() + ".txt");
    std::string Dump = "acpidump -f '" + (Machine / "XSDT.bin").string() + "'";
    for (const fs::path &File : Files) Dump += " -f '" + File.string() + "'";
    ASSERT_EQ(std::system((Dump + " > '" + Text.string() + "'").c_str()), 0);
    Ran FromText = P.Run("--acpidump '" + Text.string() + "'");
    EXPECT_EQ(FromText.Status, 0) << FromText.Err;
    EXPECT_EQ(TableLines(FromText.Out), Expected);

    // The files acpidump -b writes: one BGRT is bgrt.dat, several bgrt1.dat, bgrt2.dat.
    fs::path Folder = P.Base / Machine.filename();
    fs::create_directories(Folder);
    fs::copy_file(Machine / "XSDT.bin", Folder / "xsdt.dat");
    for (size_t Index = 0; Index < Files.size(); Index++) {
      std::string Name = Files.size() == 1 ? "bgrt.dat" : "bgrt" + std::to_string(Index + 1) + ".dat";
      fs::copy_file(Files[Index], Folder / Name);
    }
    Ran FromFiles = P.Run("--acpidump '" + Folder.string() + "'");
    EXPECT_EQ(FromFiles.Status, 0) << FromFiles.Err;
    EXPECT_EQ(TableLines(FromFiles.Out), Expected);
  }
  EXPECT_EQ(Bgrts, 109);
}

TEST(LinuxCommandDumps, SaysWhatADumpCannotTell) {
  Place P;
  WriteFile(P.Base / "dump.txt", std::string("BGRT @ 0x000000007A40BF00\n"
                                             "    0000: 42 47 52 54 38 00 00 00 01 6E 41 4C 41 53 4B 41  BGRT8....nALASKA\n"
                                             "    0010: 41 20 4D 20 49 20 00 00 09 20 07 01 41 4D 49 20  A M I ... ..AMI \n"
                                             "    0020: 13 00 01 00 01 00 01 00 18 00 0F 6A 00 00 00 00  ...........j....\n"
                                             "    0030: 5F 03 00 00 FF 01 00 00                          _.......\n"
                                             "\n"));
  Ran Result = P.Run("--acpidump '" + (P.Base / "dump.txt").string() + "'");
  EXPECT_EQ(Result.Status, 0) << Result.Err;
  std::vector<std::string> Out = Lines(Result.Out);
  EXPECT_TRUE(Holds(Out, "BGRT 1: " + (P.Base / "dump.txt").string() + ":1, at 0x7A40BF00")) << Result.Out;
  EXPECT_TRUE(Holds(Out, "  Image address @[0x6A0F0018]")) << Result.Out;
  EXPECT_NE(Result.Out.find("not the logo, the memory map or the screen"), std::string::npos) << Result.Out;
  EXPECT_EQ(P.FilesHere(), std::vector<std::string>{});
}

struct DumpFault {
  const char *Name;
  std::string Text;  // acpidump's text; empty for the folder case
  std::string Said;
};

void PrintTo(const DumpFault &Case, std::ostream *Stream) { *Stream << Case.Name; }

const std::string kBgrtLines = "BGRT @ 0x000000007A40BF00\n"
                               "    0000: 42 47 52 54 38 00 00 00 01 6E 41 4C 41 53 4B 41  BGRT8....nALASKA\n"
                               "    0010: 41 20 4D 20 49 20 00 00 09 20 07 01 41 4D 49 20  A M I ... ..AMI \n"
                               "    0020: 13 00 01 00 01 00 01 00 18 00 0F 6A 00 00 00 00  ...........j....\n";

const DumpFault kDumpFaults[] = {
    {"cut_short", kBgrtLines, "BGRT at %DUMP%:1 is cut short: 48 of its 56 bytes"},
    {"cut_in_a_line", kBgrtLines + "    0030: 5F 03 00", "BGRT at %DUMP%:1 is cut short: 51 of its 56 bytes"},
    {"byte_of_three_digits", kBgrtLines + "    0030: 5F 03 000 00\n", "%DUMP%:5: neither a table's first line"},
    {"a_line_missing", "BGRT @ 0x000000007A40BF00\n"
                       "    0000: 42 47 52 54 38 00 00 00 01 6E 41 4C 41 53 4B 41  BGRT8....nALASKA\n"
                       "    0020: 13 00 01 00 01 00 01 00 18 00 0F 6A 00 00 00 00  ...........j....\n",
     "%DUMP%:3: bytes at offset 32 where 16 were expected"},
    {"not_a_dump", "This is not acpidump's output.\n", "%DUMP%:1: neither a table's first line"},
    {"empty", "", "%DUMP%: no table in it"},
};

class DumpFaults : public testing::TestWithParam<DumpFault> {};

TEST_P(DumpFaults, OneLineSaysWhereAndTheStatusIsOne) {
  const DumpFault &Case = GetParam();
  Place P;
  fs::path Dump = P.Base / "dump.txt";
  WriteFile(Dump, Case.Text);
  Ran Result = P.Run("--acpidump '" + Dump.string() + "'");
  EXPECT_EQ(Result.Status, 1);
  std::string Said = Case.Said;
  Said.replace(Said.find("%DUMP%"), 6, Dump.string());
  EXPECT_EQ(Result.Err.rfind("quillon: cannot read the dump: ", 0), 0u) << Result.Err;
  EXPECT_NE(Result.Err.find(Said), std::string::npos) << Result.Err;
  EXPECT_EQ(Lines(Result.Err).size(), 1u) << Result.Err;
}

INSTANTIATE_TEST_SUITE_P(LinuxCommand, DumpFaults, testing::ValuesIn(kDumpFaults), CaseName<DumpFault>);

TEST(LinuxCommandDumps, AFolderWithNoBgrtHasNoLogoAndACutFileIsSaid) {
  Place P;
  fs::path Folder = P.Base / "tables";
  WriteFile(Folder / "facp.dat", AcpiBuilder::TableHeader("FACP", 36));
  Ran NoBgrt = P.Run("--acpidump '" + Folder.string() + "'");
  EXPECT_EQ(NoBgrt.Status, 3);
  EXPECT_NE(NoBgrt.Out.find("the dump holds no BGRT"), std::string::npos) << NoBgrt.Out;

  WriteFile(Folder / "bgrt.dat", CutTo(Bgrt(kImageAddress, 863, 511), 40, false));
  Ran Cut = P.Run("--acpidump '" + Folder.string() + "'");
  EXPECT_EQ(Cut.Status, 1);
  EXPECT_EQ(Cut.Err, "quillon: cannot read the dump: BGRT at " + (Folder / "bgrt.dat").string() +
                         " is cut short: 40 of its 56 bytes\n");
}

}  // namespace
