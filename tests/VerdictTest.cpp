// The verdict after each BGRT, as a table of machines: a logo and its BGRT, the screen it is judged
// against, and the verdict lines the report must end each BGRT's block with. The report's other
// lines are the scenario tests' business; here only the verdict's are compared.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CaseNames.h"
#include "app/App.h"
#include "firmware/Guids.h"
#include "sim/AcpiBuilder.h"
#include "sim/SimFileSystem.h"
#include "sim/SimFirmware.h"
#include "sim/SimGraphicsOutput.h"

namespace {

using Mode = SimGraphicsOutput::Mode;

// QEMU's standard VGA under OVMF offers these, among others; the current one is 1280 x 800.
const std::vector<Mode> kLandscape = {{640, 480}, {1280, 800}, {1920, 1080}};
// A tablet's panel, taller than wide.
const std::vector<Mode> kPortrait = {{800, 1280}};

struct Machine {
  SimFirmware Firmware;
  SimFileSystem Volume{Firmware};
  AcpiBuilder Acpi{Firmware};
  std::unique_ptr<SimGraphicsOutput> Screen;
  std::vector<uint64_t> Entries;

  Machine() { Firmware.InstallOnImage(EFI_SHELL_PARAMETERS_PROTOCOL_GUID); }

  void ShowScreen(const std::vector<Mode> &Modes, UINT32 Current) {
    Screen = std::make_unique<SimGraphicsOutput>(Firmware, Modes, Current);
  }

  // A logo in memory of Type, and a BGRT for it among the XSDT's entries.
  void AddLogo(uint32_t Width, uint32_t Height, uint16_t Bits, const BgrtFields &Fields,
               uint32_t Type = EfiBootServicesData) {
    Acpi.SetMemoryType(Type);
    uint64_t Image = Acpi.Place(AcpiBuilder::Bitmap(Width, Height, Bits));
    Acpi.SetMemoryType(EfiACPIReclaimMemory);
    Entries.push_back(Acpi.Bgrt(Image, 0, Fields));
  }

  std::vector<std::string> Verdict() {
    Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, (void *)Acpi.Rsdp(Acpi.Xsdt(Entries)));
    AppEntry(Firmware.ImageHandle(), Firmware.SystemTable());
    EXPECT_EQ(Firmware.OutstandingPool(), 0u) << "a mode record or line buffer was left allocated";
    return VerdictLines(Firmware.ConsoleText());
  }

  // The lines after each BGRT's block of report and save lines, up to the next block.
  static std::vector<std::string> VerdictLines(const std::u16string &Text) {
    std::vector<std::string> Lines;
    std::string Line;
    bool InVerdict = false;
    for (char16_t Character : Text) {
      if (Character == u'\r') continue;
      if (Character != u'\n') {
        Line.push_back((char)Character);
        continue;
      }
      if (Line.rfind("  BGRT ", 0) == 0) InVerdict = true;
      if (Line.rfind("  Found BGRT", 0) == 0) InVerdict = false;
      if (InVerdict) Lines.push_back(Line);
      Line.clear();
    }
    return Lines;
  }
};

BgrtFields At(uint32_t X, uint32_t Y, uint8_t Status = 1) {
  BgrtFields Fields;
  Fields.OffsetX = X;
  Fields.OffsetY = Y;
  Fields.Status = Status;
  return Fields;
}

// One BGRT's verdict, a line a member, as on OVMF's own logo centred on a 1280 x 800 screen. A
// case sets only the lines its machine changes; a line set to kLeftOut is one the verdict does not
// print.
struct BgrtLines {
  std::string Checksum = "  BGRT 1 checksum right";
  std::string Fields = "  Length 56, revision 1, version 1, type 0, status 0x01";
  std::string Status = "  Status: displayed, rotated 0 degrees";
  std::string Memory = "  Image memory: type 4, boot-services data";
  std::string Screen = "  Screen now: 1280 x 800, mode 1 of 3";
  std::string Pixels = "  Pixels: format 1, 1280 a scan line";
  std::string Modes = "  Modes: 640 x 480, 1280 x 800, 1920 x 1080";
  std::string Across = "  Across: at 543 of 1280: fits, centred";
  std::string Down = "  Down: at 371 of 800, centre 50.0%: centred";
  std::string Size = "  Size: 15% of the width, 7% of the height: within 40%";
  std::string Linux = "  Linux: kept and redrawn";
  std::string Windows = "  Windows: shows it";
};

const char *const kLeftOut = "";

void Append(std::vector<std::string> &Lines, const BgrtLines &B) {
  // Every member, in the order the verdict prints them.
  for (const std::string *Line : {&B.Checksum, &B.Fields, &B.Status, &B.Memory, &B.Screen, &B.Pixels, &B.Modes,
                                  &B.Across, &B.Down, &B.Size, &B.Linux, &B.Windows}) {
    if (!Line->empty()) Lines.push_back(*Line);
  }
}

std::vector<std::string> OneBgrt(const BgrtLines &B) {
  std::vector<std::string> Lines;
  Append(Lines, B);
  return Lines;
}

// Each BGRT's verdict in turn, then the lines said of them all.
std::vector<std::string> SeveralBgrts(const std::vector<BgrtLines> &Bgrts, const std::vector<std::string> &After) {
  std::vector<std::string> Lines;
  for (const BgrtLines &B : Bgrts) Append(Lines, B);
  Lines.insert(Lines.end(), After.begin(), After.end());
  return Lines;
}

// A BGRT whose status does not mark its logo displayed.
BgrtLines NotDisplayed(BgrtLines B) {
  B.Fields = "  Length 56, revision 1, version 1, type 0, status 0x00";
  B.Status = "  Status: not displayed, rotated 0 degrees";
  return B;
}

// Without graphics output the screen is not judged: one line says so in place of six.
BgrtLines NoScreen(BgrtLines B) {
  B.Screen = "  Screen: no graphics output";
  B.Pixels = B.Modes = B.Across = B.Down = B.Size = kLeftOut;
  B.Linux = "  Linux: kept, not redrawn: no screen";
  return B;
}

struct Case {
  const char *Name;  // the test's name
  const char *What;
  std::function<void(Machine &)> Build;
  std::vector<std::string> Expected;
};

const Case kCases[] = {
    {"ovmf_logo", "OVMF's own logo: fits, centred both ways, shown by everyone",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(193, 58, 24, At(543, 371));
     },
     OneBgrt({})},
    {"off_centre_across", "off centre across: efifb will not draw it again",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(193, 58, 24, At(100, 371));
     },
     OneBgrt({.Across = "  Across: at 100 of 1280: fits, not centred",
              .Linux = "  Linux: kept, not redrawn: not fitting and centred"})},
    {"centre_at_38_2_percent", "centred across, its centre 38.2% from the top, as Microsoft asks",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(200, 100, 24, At(540, 256));  // centre at 306 of 800
     },
     OneBgrt({.Across = "  Across: at 540 of 1280: fits, centred",
              .Down = "  Down: at 256 of 800, centre 38.3%: at 38.2%",
              .Size = "  Size: 15% of the width, 12% of the height: within 40%"})},
    {"too_large", "too large for the screen it is judged against",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 0);
       M.AddLogo(800, 300, 24, At(0, 100));
     },
     OneBgrt({.Screen = "  Screen now: 640 x 480, mode 0 of 3",
              .Pixels = "  Pixels: format 1, 640 a scan line",
              .Across = "  Across: at 0 of 640: past the edge",
              .Down = "  Down: at 100 of 480, centre 52.1%: neither centred nor 38.2%",
              .Size = "  Size: 125% of the width, 62% of the height: over 40%",
              .Linux = "  Linux: kept, not redrawn: not fitting and centred"})},
    {"portrait_rotated", "turned 90 degrees on a portrait panel: its sides swap",
     [](Machine &M) {
       M.ShowScreen(kPortrait, 0);
       M.AddLogo(193, 58, 24, At(371, 543, 0x03));
     },
     OneBgrt({.Fields = "  Length 56, revision 1, version 1, type 0, status 0x03",
              .Status = "  Status: displayed, rotated 90 degrees",
              .Screen = "  Screen now: 800 x 1280, mode 0 of 1",
              .Pixels = "  Pixels: format 1, 800 a scan line",
              .Modes = "  Modes: 800 x 1280",
              .Across = "  Across: at 371 of 800: fits, centred",
              .Down = "  Down: at 543 of 1280, centre 50.0%: centred",
              .Size = "  Size: 7% of the width, 15% of the height: within 40%"})},
    {"logo_32_bits", "a 32-bit logo: Windows shows it, efifb does not draw it",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(200, 100, 32, At(540, 350));
     },
     OneBgrt({.Across = "  Across: at 540 of 1280: fits, centred",
              .Down = "  Down: at 350 of 800, centre 50.0%: centred",
              .Size = "  Size: 15% of the width, 12% of the height: within 40%",
              .Linux = "  Linux: kept, not redrawn: not 24 bits"})},
    {"logo_8_bits", "an 8-bit logo: neither shows it",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(200, 100, 8, At(540, 350));
     },
     OneBgrt({.Across = "  Across: at 540 of 1280: fits, centred",
              .Down = "  Down: at 350 of 800, centre 50.0%: centred",
              .Size = "  Size: 15% of the width, 12% of the height: within 40%",
              .Linux = "  Linux: kept, not redrawn: not 24 bits",
              .Windows = "  Windows: won't show it: not 24 or 32 bits"})},
    {"not_boot_services_data", "a logo outside boot-services data: Linux drops the table",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(193, 58, 24, At(543, 371), EfiACPIReclaimMemory);
     },
     OneBgrt({.Memory = "  Image memory: type 9, not boot-services data", .Linux = "  Linux: dropped: memory type"})},
    {"blit_only_screen", "a screen that only blits, as virtio-gpu's: no framebuffer for efifb to draw on",
     [](Machine &M) {
       M.ShowScreen({{1280, 800, PixelBltOnly}}, 0);
       M.AddLogo(193, 58, 24, At(543, 371));
     },
     OneBgrt({.Screen = "  Screen now: 1280 x 800, mode 0 of 1",
              .Pixels = "  Pixels: format 3, 1280 a scan line",
              .Modes = "  Modes: 1280 x 800",
              .Linux = "  Linux: kept, not redrawn: no framebuffer"})},
    {"no_graphics_output", "no graphics output: the screen is not judged",
     [](Machine &M) { M.AddLogo(193, 58, 24, At(543, 371)); }, OneBgrt(NoScreen({}))},
    {"wrong_table_fields", "wrong table fields, each marked; version 2 makes Linux drop it",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       BgrtFields Fields = At(543, 371, 0xF9);
       Fields.Revision = 0;
       Fields.Version = 2;
       Fields.ImageType = 1;
       Fields.Length = 60;
       Fields.RightChecksum = false;
       M.AddLogo(193, 58, 24, Fields);
     },
     OneBgrt({.Checksum = "  BGRT 1 checksum wrong",
              .Fields = "  Length 60!, revision 0!, version 2!, type 1!, status 0xF9",
              .Status = "  Status: displayed, rotated 0 degrees, reserved bits set",
              .Linux = "  Linux: dropped: version > 1"})},
    {"no_image", "no image: only the table is judged",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.Entries.push_back(M.Acpi.Bgrt(0, 0, At(0, 0, 0)));
     },
     OneBgrt(NotDisplayed({.Memory = kLeftOut,
                           .Across = kLeftOut,
                           .Down = kLeftOut,
                           .Size = kLeftOut,
                           .Linux = "  Linux: dropped: no image",
                           .Windows = "  Windows: won't show it: no bitmap"}))},
    {"three_bgrts_one_displayed", "three BGRTs, one marked displayed: which it is, and which logo the file holds",
     [](Machine &M) {
       M.AddLogo(193, 58, 24, At(543, 371, 0));
       M.AddLogo(100, 50, 24, At(590, 375, 1));
       M.AddLogo(64, 32, 24, At(608, 384, 0));
     },
     SeveralBgrts({NoScreen(NotDisplayed({})), NoScreen({.Checksum = "  BGRT 2 checksum right"}),
                   NoScreen(NotDisplayed({.Checksum = "  BGRT 3 checksum right"}))},
                  {"  BGRTs: 3, marked displayed: 1, the last BGRT 2",
                   "  BIOSLogo.bmp holds the last logo saved, BGRT 3's (0: none)"})},
    {"no_renames_second_write_fails",
     "two BGRTs on a volume that will not rename, the second's write failing: the file holds none",
     [](Machine &M) {
       M.Volume.SetRenames(false);
       M.Firmware.FailCall(SimCall::FileWrite, EFI_VOLUME_FULL, 3, 1);  // each save writes twice
       M.AddLogo(193, 58, 24, At(543, 371, 1));
       M.AddLogo(100, 50, 24, At(590, 375, 0));
     },
     SeveralBgrts({NoScreen({}), NoScreen(NotDisplayed({.Checksum = "  BGRT 2 checksum right"}))},
                  {"  BGRTs: 2, marked displayed: 1, the last BGRT 1",
                   "  BIOSLogo.bmp holds the last logo saved, BGRT 0's (0: none)"})},
};

void PrintTo(const Case &C, std::ostream *Stream) { *Stream << C.What; }

class Verdict : public ::testing::TestWithParam<Case> {};

TEST_P(Verdict, JudgesTheTableTheMemoryAndTheScreen) {
  Machine M;
  GetParam().Build(M);
  EXPECT_EQ(M.Verdict(), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, Verdict, ::testing::ValuesIn(kCases), CaseName<Case>);

// Whatever the firmware's tables and graphics output hold, every verdict line fits an 80-column
// console, and the judgement never changes the exit status.
TEST(VerdictBounds, LinesStayUnderEightyColumnsForAnyValues) {
  Machine M;
  // The largest screen the verdict judges against, and a mode larger than any screen.
  M.ShowScreen({{1u << 20, 1u << 20, (EFI_GRAPHICS_PIXEL_FORMAT)0xFFFFFFFF, 0xFFFFFFFF}, {0xFFFFFFFF, 0xFFFFFFFF}}, 0);
  BgrtFields Fields = At(0xFFFFFFFF, 0xFFFFFFFF, 0xFF);
  Fields.Revision = 0xFF;
  Fields.Version = 0xFFFF;
  Fields.ImageType = 0xFF;
  Fields.Length = 0x10000;
  Fields.RightChecksum = false;
  M.AddLogo(16384, 1, 1, Fields);
  std::vector<std::string> Lines = M.Verdict();
  ASSERT_GT(Lines.size(), 10u);
  for (const std::string &Line : Lines) EXPECT_LT(Line.size(), 80u) << Line;
}

TEST(VerdictBounds, AModeTheOutputWillNotDescribeShowsAsNothingAndLeaksNothing) {
  Machine M;
  M.ShowScreen(kLandscape, 1);
  M.Firmware.FailCall(SimCall::QueryMode, EFI_DEVICE_ERROR, 1, 1);
  M.AddLogo(193, 58, 24, At(543, 371));
  std::vector<std::string> Lines = M.Verdict();
  EXPECT_NE(std::find(Lines.begin(), Lines.end(), "  Modes: 640 x 480, 0 x 0, 1920 x 1080"), Lines.end());
}

}  // namespace
