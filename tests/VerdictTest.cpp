// The verdict after each BGRT, as a table of machines: a logo and its BGRT, the screen it is judged
// against, and the verdict lines the report must end each BGRT's block with. The report's other
// lines are the scenario tests' business; here only the verdict's are compared.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

struct Case {
  const char *Name;
  std::function<void(Machine &)> Build;
  std::vector<std::string> Expected;
};

// The screen lines of the landscape screen in mode 1.
#define LANDSCAPE_SCREEN                                                                                   \
  "  Screen now: 1280 x 800, mode 1 of 3", "  Pixels: BGR, 1280 a scan line", "  Modes: 640 x 480, 1280 x 800, 1920 x 1080"

const Case kCases[] = {
    {"OVMF's own logo: fits, centred both ways, shown by everyone",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(193, 58, 24, At(543, 371));
     },
     {"  BGRT 1: length 56, revision 1, version 1, type 0, status 0x01", "  Checksum right",
      "  Status: displayed, rotated 0 degrees", "  Image memory: type 4, boot-services data", LANDSCAPE_SCREEN,
      "  Logo: 193 x 58 on screen at 543, 371", "  Across: fits, centred at 543",
      "  Down: centre 50.0% from the top: centred", "  Size: 15% of the width, 7% of the height: within 40%",
      "  Linux: efifb, Plymouth draw it", "  Windows: shows it"}},
    {"off centre across: efifb will not draw it again",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(193, 58, 24, At(100, 371));
     },
     {"  BGRT 1: length 56, revision 1, version 1, type 0, status 0x01", "  Checksum right",
      "  Status: displayed, rotated 0 degrees", "  Image memory: type 4, boot-services data", LANDSCAPE_SCREEN,
      "  Logo: 193 x 58 on screen at 100, 371", "  Across: fits, not centred; centred is 543",
      "  Down: centre 50.0% from the top: centred", "  Size: 15% of the width, 7% of the height: within 40%",
      "  Linux: efifb, Plymouth won't draw it: not fitting and centred across", "  Windows: shows it"}},
    {"centred across, its centre 38.2% from the top, as Microsoft asks",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(200, 100, 24, At(540, 256));  // centre at 306 of 800
     },
     {"  BGRT 1: length 56, revision 1, version 1, type 0, status 0x01", "  Checksum right",
      "  Status: displayed, rotated 0 degrees", "  Image memory: type 4, boot-services data", LANDSCAPE_SCREEN,
      "  Logo: 200 x 100 on screen at 540, 256", "  Across: fits, centred at 540",
      "  Down: centre 38.3% from the top: at 38.2%", "  Size: 16% of the width, 13% of the height: within 40%",
      "  Linux: efifb, Plymouth draw it", "  Windows: shows it"}},
    {"too large for the screen it is judged against",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 0);
       M.AddLogo(800, 300, 24, At(0, 100));
     },
     {"  BGRT 1: length 56, revision 1, version 1, type 0, status 0x01", "  Checksum right",
      "  Status: displayed, rotated 0 degrees", "  Image memory: type 4, boot-services data",
      "  Screen now: 640 x 480, mode 0 of 3", "  Pixels: BGR, 640 a scan line",
      "  Modes: 640 x 480, 1280 x 800, 1920 x 1080", "  Logo: 800 x 300 on screen at 0, 100",
      "  Across: past the edge by 160", "  Down: centre 52.1% from the top: neither centred nor at 38.2%",
      "  Size: 125% of the width, 63% of the height: over 40%",
      "  Linux: efifb, Plymouth won't draw it: not fitting and centred across", "  Windows: shows it"}},
    {"turned 90 degrees on a portrait panel: its sides swap",
     [](Machine &M) {
       M.ShowScreen(kPortrait, 0);
       M.AddLogo(193, 58, 24, At(371, 543, 0x03));
     },
     {"  BGRT 1: length 56, revision 1, version 1, type 0, status 0x03", "  Checksum right",
      "  Status: displayed, rotated 90 degrees", "  Image memory: type 4, boot-services data",
      "  Screen now: 800 x 1280, mode 0 of 1", "  Pixels: BGR, 800 a scan line", "  Modes: 800 x 1280",
      "  Logo: 58 x 193 on screen at 371, 543", "  Across: fits, centred at 371",
      "  Down: centre 50.0% from the top: centred", "  Size: 7% of the width, 15% of the height: within 40%",
      "  Linux: efifb, Plymouth draw it", "  Windows: shows it"}},
    {"a 32-bit logo: Windows shows it, efifb does not draw it",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(200, 100, 32, At(540, 350));
     },
     {"  BGRT 1: length 56, revision 1, version 1, type 0, status 0x01", "  Checksum right",
      "  Status: displayed, rotated 0 degrees", "  Image memory: type 4, boot-services data", LANDSCAPE_SCREEN,
      "  Logo: 200 x 100 on screen at 540, 350", "  Across: fits, centred at 540",
      "  Down: centre 50.0% from the top: centred", "  Size: 16% of the width, 13% of the height: within 40%",
      "  Linux: efifb, Plymouth won't draw it: not 24 bits", "  Windows: shows it"}},
    {"an 8-bit logo: neither shows it",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(200, 100, 8, At(540, 350));
     },
     {"  BGRT 1: length 56, revision 1, version 1, type 0, status 0x01", "  Checksum right",
      "  Status: displayed, rotated 0 degrees", "  Image memory: type 4, boot-services data", LANDSCAPE_SCREEN,
      "  Logo: 200 x 100 on screen at 540, 350", "  Across: fits, centred at 540",
      "  Down: centre 50.0% from the top: centred", "  Size: 16% of the width, 13% of the height: within 40%",
      "  Linux: efifb, Plymouth won't draw it: not 24 bits", "  Windows: won't show it: not 24 or 32 bits"}},
    {"a logo outside boot-services data: Linux drops the table",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(193, 58, 24, At(543, 371), EfiACPIReclaimMemory);
     },
     {"  BGRT 1: length 56, revision 1, version 1, type 0, status 0x01", "  Checksum right",
      "  Status: displayed, rotated 0 degrees", "  Image memory: type 9, not boot-services data", LANDSCAPE_SCREEN,
      "  Logo: 193 x 58 on screen at 543, 371", "  Across: fits, centred at 543",
      "  Down: centre 50.0% from the top: centred", "  Size: 15% of the width, 7% of the height: within 40%",
      "  Linux: efi-bgrt drops it: not boot-services data", "  Windows: shows it"}},
    {"no graphics output: the screen is not judged",
     [](Machine &M) { M.AddLogo(193, 58, 24, At(543, 371)); },
     {"  BGRT 1: length 56, revision 1, version 1, type 0, status 0x01", "  Checksum right",
      "  Status: displayed, rotated 0 degrees", "  Image memory: type 4, boot-services data",
      "  Screen: no graphics output", "  Linux: efifb, Plymouth won't draw it: no screen", "  Windows: shows it"}},
    {"wrong table fields, each named; version 2 makes Linux drop it",
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
     {"  BGRT 1: length 60, revision 0, version 2, type 1, status 0xF9",
      "  Checksum wrong, length not 56, revision not 1, version not 1, type not 0",
      "  Status: displayed, rotated 0 degrees, reserved bits set", "  Image memory: type 4, boot-services data",
      LANDSCAPE_SCREEN, "  Logo: 193 x 58 on screen at 543, 371", "  Across: fits, centred at 543",
      "  Down: centre 50.0% from the top: centred", "  Size: 15% of the width, 7% of the height: within 40%",
      "  Linux: efi-bgrt drops it: version above 1", "  Windows: shows it"}},
    {"no image: only the table is judged",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.Entries.push_back(M.Acpi.Bgrt(0, 0, At(0, 0, 0)));
     },
     {"  BGRT 1: length 56, revision 1, version 1, type 0, status 0x00", "  Checksum right",
      "  Status: not displayed, rotated 0 degrees", LANDSCAPE_SCREEN, "  Linux: efi-bgrt drops it: no image",
      "  Windows: won't show it: no bitmap"}},
    {"two BGRTs, one marked displayed: which it is, and which logo the file holds",
     [](Machine &M) {
       M.AddLogo(193, 58, 24, At(543, 371, 0));
       M.AddLogo(100, 50, 24, At(590, 375, 1));
       M.AddLogo(64, 32, 24, At(608, 384, 0));
     },
     {"  BGRT 1: length 56, revision 1, version 1, type 0, status 0x00", "  Checksum right",
      "  Status: not displayed, rotated 0 degrees", "  Image memory: type 4, boot-services data",
      "  Screen: no graphics output", "  Linux: efifb, Plymouth won't draw it: no screen", "  Windows: shows it",
      "  BGRT 2: length 56, revision 1, version 1, type 0, status 0x01", "  Checksum right",
      "  Status: displayed, rotated 0 degrees", "  Image memory: type 4, boot-services data",
      "  Screen: no graphics output", "  Linux: efifb, Plymouth won't draw it: no screen", "  Windows: shows it",
      "  BGRT 3: length 56, revision 1, version 1, type 0, status 0x00", "  Checksum right",
      "  Status: not displayed, rotated 0 degrees", "  Image memory: type 4, boot-services data",
      "  Screen: no graphics output", "  Linux: efifb, Plymouth won't draw it: no screen", "  Windows: shows it",
      "  BGRTs: 3, marked displayed: 1, the last of them BGRT 2",
      "  BIOSLogo.bmp holds the logo of BGRT 3, the last saved (0: none)"}},
};

void PrintTo(const Case &C, std::ostream *Stream) { *Stream << C.Name; }

class Verdict : public ::testing::TestWithParam<Case> {};

TEST_P(Verdict, JudgesTheTableTheMemoryAndTheScreen) {
  Machine M;
  GetParam().Build(M);
  EXPECT_EQ(M.Verdict(), GetParam().Expected);
}

std::string CaseName(const ::testing::TestParamInfo<Case> &Info) {
  std::string Name;
  for (const char *At = Info.param.Name; *At != 0; At++) Name += std::isalnum((unsigned char)*At) ? *At : '_';
  return std::to_string(Info.index) + "_" + Name;
}

INSTANTIATE_TEST_SUITE_P(Cases, Verdict, ::testing::ValuesIn(kCases), CaseName);

// Whatever the firmware's tables and graphics output hold, every verdict line fits an 80-column
// console, and the judgement never changes the exit status.
TEST(VerdictBounds, LinesStayUnderEightyColumnsForAnyValues) {
  Machine M;
  M.ShowScreen({{0xFFFFFFFF, 0xFFFFFFFF, (EFI_GRAPHICS_PIXEL_FORMAT)7, 0xFFFFFFFF}, {1, 1}}, 0);
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
