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
#include "VerdictWords.h"
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
    AddLogo(AcpiBuilder::Bitmap(Width, Height, Bits), Fields, Type);
  }

  void AddLogo(const std::vector<uint8_t> &Bitmap, const BgrtFields &Fields, uint32_t Type = EfiBootServicesData) {
    Acpi.SetMemoryType(Type);
    uint64_t Image = Acpi.Place(Bitmap);
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

using enum VerdictText;

// The place lines, their judgement in the verdict's words.
std::string Across(unsigned At, unsigned Of, VerdictText Judged) {
  return "  Across: at " + std::to_string(At) + " of " + std::to_string(Of) + ": " + Words(Judged);
}

std::string Down(unsigned At, unsigned Of, const char *Centre, VerdictText Judged) {
  return "  Down: at " + std::to_string(At) + " of " + std::to_string(Of) + ", centre " + Centre + "%: " +
         Words(Judged);
}

std::string Size(unsigned Width, unsigned Height, VerdictText Judged) {
  return "  Size: " + std::to_string(Width) + "% of the width, " + std::to_string(Height) +
         "% of the height: " + Words(Judged);
}

// One BGRT's verdict, a line a member, as on OVMF's own logo centred on a 1280 x 800 screen. A
// case sets only the lines its machine changes; a line set to kLeftOut is one the verdict does not
// print.
struct BgrtLines {
  std::string Checksum = "  BGRT 1 checksum " + Words(ChecksumRight);
  std::string Fields = "  Length 56, revision 1, version 1, type 0, status 0x01";
  std::string Status = "  Status: displayed, rotated 0 degrees";
  std::string Memory = "  Image memory: type 4, " + Words(BootServicesData);
  std::string Screen = "  Screen now: 1280 x 800, mode 1 of 3";
  std::string Pixels = "  Pixels: format 1, 1280 a scan line";
  std::string Modes = "  Modes: 640 x 480, 1280 x 800, 1920 x 1080";
  std::string Across = ::Across(543, 1280, FitsCentred);
  std::string Down = ::Down(371, 800, "50.0", Centred);
  std::string Size = ::Size(15, 7, WithinLargest);
  std::string EfiBgrt = Says(LinuxEfiBgrt, Kept);
  std::string Efifb = Says(LinuxEfifb, WouldRedraw);
  std::string Plymouth = Says(VerdictText::Plymouth, ShowsWhereFirmwareDid);
  std::string PlymouthMonitor = "";  // where a monitor sees it otherwise than a panel
  std::string Windows = Says(VerdictText::Windows, Shows);
};

const char *const kLeftOut = "";

void Append(std::vector<std::string> &Lines, const BgrtLines &B) {
  // Every member, in the order the verdict prints them.
  for (const std::string *Line : {&B.Checksum, &B.Fields, &B.Status, &B.Memory, &B.Screen, &B.Pixels, &B.Modes,
                                  &B.Across, &B.Down, &B.Size, &B.EfiBgrt, &B.Efifb, &B.Plymouth,
                                  &B.PlymouthMonitor, &B.Windows}) {
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
BgrtLines WithoutScreen(BgrtLines B) {
  B.Screen = "  Screen: no graphics output";
  B.Pixels = B.Modes = B.Across = B.Down = B.Size = kLeftOut;
  B.Efifb = Says(LinuxEfifb, WontRedraw, NoScreen);
  B.Plymouth = Says(VerdictText::Plymouth, WontShow, NoScreen);
  return B;
}

// Linux's efi-bgrt ignores the table for a reason, and nothing of Linux's draws it.
BgrtLines IgnoredByLinux(BgrtLines B, VerdictText Why, unsigned Value = 0, unsigned Expected = 0) {
  B.EfiBgrt = Says(LinuxEfiBgrt, Ignored, Why, Value, Expected);
  B.Efifb = Says(LinuxEfifb, WontRedraw, EfiBgrtIgnores);
  B.Plymouth = Says(VerdictText::Plymouth, WontShow, EfiBgrtIgnores);
  return B;
}

// A BGRT after the first, which Linux never reads.
BgrtLines NotFirst(BgrtLines B, int Number) {
  B.Checksum = "  BGRT " + std::to_string(Number) + " checksum " + Words(ChecksumRight);
  B.EfiBgrt = Says(LinuxEfiBgrt, NeverRead, NotFirstBgrt);
  B.Efifb = B.Plymouth = kLeftOut;
  return B;
}

// efifb would not draw the logo again, for a reason.
BgrtLines EfifbWont(BgrtLines B, VerdictText Why) {
  B.Efifb = Says(LinuxEfifb, WontRedraw, Why);
  return B;
}

// Neither efifb nor Plymouth's bitmap loader takes the logo, for the same reason.
BgrtLines NotPlain(BgrtLines B, VerdictText Why) {
  B.Plymouth = Says(VerdictText::Plymouth, WontShow, Why);
  return EfifbWont(B, Why);
}

// Plymouth moves the logo to where it puts any it does not trust.
BgrtLines MovedByPlymouth(BgrtLines B) {
  B.Plymouth = Says(VerdictText::Plymouth, ShowsCentredGolden);
  return B;
}

// A laptop's panel keeps the logo where the firmware put it; a monitor moves it.
BgrtLines KeptOnPanelOnly(BgrtLines B) {
  B.Plymouth = Says(PlymouthOnPanel, ShowsWhereFirmwareDid);
  B.PlymouthMonitor = Says(PlymouthOnMonitor, ShowsCentredGolden);
  return B;
}

// OVMF's logo with one field of its headers changed.
std::vector<uint8_t> LogoWith(size_t Offset, uint64_t Value, size_t Width) {
  std::vector<uint8_t> Bitmap = AcpiBuilder::Bitmap(193, 58, 24);
  StoreLittleEndian(Bitmap, Offset, Value, Width);
  return Bitmap;
}

// OVMF's logo with a 124-byte information header: its colour space and profile fields all zero.
std::vector<uint8_t> LogoWithLargestHeader() {
  std::vector<uint8_t> Bitmap = AcpiBuilder::Bitmap(193, 58, 24);
  Bitmap.insert(Bitmap.begin() + 54, 124 - 40, 0);
  StoreLittleEndian(Bitmap, 2, Bitmap.size(), 4);
  StoreLittleEndian(Bitmap, 10, 14 + 124, 4);
  StoreLittleEndian(Bitmap, 14, 124, 4);
  return Bitmap;
}

// OVMF's logo followed by two pages its size field counts: more than the bitmap rule lets a save
// carry, nothing Plymouth minds.
std::vector<uint8_t> LogoWithTwoPagesMore() {
  std::vector<uint8_t> Bitmap = AcpiBuilder::Bitmap(193, 58, 24);
  Bitmap.resize(Bitmap.size() + 8192, 0);
  StoreLittleEndian(Bitmap, 2, Bitmap.size(), 4);
  return Bitmap;
}

// A 16-bit framebuffer, five, six and five bits of red, green and blue.
const std::vector<Mode> kSixteenBits = {{1280, 800, PixelBitMask, 0, {0xF800, 0x07E0, 0x001F, 0}}};

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
       M.AddLogo(193, 58, 24, BgrtAt(543, 371));
     },
     OneBgrt({})},
    {"off_centre_across", "off centre across: efifb will not draw it again, Plymouth moves it",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(193, 58, 24, BgrtAt(100, 371));
     },
     OneBgrt(EfifbWont(MovedByPlymouth({.Across = Across(100, 1280, FitsNotCentred)}), NotCentredAcross))},
    {"one_pixel_right", "a pixel right of centre: Plymouth moves it, as efifb will not draw it",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(193, 58, 24, BgrtAt(544, 371));
     },
     OneBgrt(EfifbWont(MovedByPlymouth({.Across = Across(544, 1280, FitsNotCentred)}), NotCentredAcross))},
    {"where_plymouth_puts_it", "centred across, its centre 38.2% down as Plymouth works it out",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(193, 58, 24, BgrtAt(543, 276));
     },
     OneBgrt({.Down = Down(276, 800, "38.1", AtGolden)})},
    {"centre_at_38_2_percent", "its centre 38.2% down as Microsoft asks: a monitor moves it a pixel up",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(200, 100, 24, BgrtAt(540, 256));  // centre at 306 of 800
     },
     OneBgrt(KeptOnPanelOnly({.Across = Across(540, 1280, FitsCentred),
                              .Down = Down(256, 800, "38.3", AtGolden),
                              .Size = Size(15, 12, WithinLargest)}))},
    {"ten_percent_down", "centred across, 10% down: a panel keeps it there, a monitor moves it",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(193, 58, 24, BgrtAt(543, 80));
     },
     OneBgrt(KeptOnPanelOnly({.Down = Down(80, 800, "13.6", NeitherCentredNorGolden)}))},
    {"too_large", "too large for the screen it is judged against",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 0);
       M.AddLogo(800, 300, 24, BgrtAt(0, 100));
     },
     OneBgrt({.Screen = "  Screen now: 640 x 480, mode 0 of 3",
              .Pixels = "  Pixels: format 1, 640 a scan line",
              .Across = Across(0, 640, PastTheEdge),
              .Down = Down(100, 480, "52.1", NeitherCentredNorGolden),
              .Size = Size(125, 62, OverLargest),
              .Efifb = Says(LinuxEfifb, WontRedraw, PastScreen),
              .Plymouth = Says(VerdictText::Plymouth, WontShow, OffScreenWhenMoved)})},
    {"too_tall_for_38_2_percent", "fits, but not centred and too tall to have its centre 38.2% down",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(640, 700, 24, BgrtAt(0, 0));
     },
     OneBgrt(EfifbWont({.Across = Across(0, 1280, FitsNotCentred),
                        .Down = Down(0, 800, "43.8", NeitherCentredNorGolden),
                        .Size = Size(50, 87, OverLargest),
                        .Plymouth = Says(VerdictText::Plymouth, WontShow, OffScreenWhenMoved)},
                       NotCentredAcross))},
    {"tall_and_centred", "as tall, but centred: Plymouth leaves it where it is",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(640, 700, 24, BgrtAt(320, 50));
     },
     OneBgrt({.Across = Across(320, 1280, FitsCentred),
              .Down = Down(50, 800, "50.0", Centred),
              .Size = Size(50, 87, OverLargest)})},
    {"portrait_rotated", "turned 90 degrees on a portrait panel: its sides swap",
     [](Machine &M) {
       M.ShowScreen(kPortrait, 0);
       M.AddLogo(193, 58, 24, BgrtAt(371, 543, 0x03));
     },
     OneBgrt({.Fields = "  Length 56, revision 1, version 1, type 0, status 0x03",
              .Status = "  Status: displayed, rotated 90 degrees",
              .Screen = "  Screen now: 800 x 1280, mode 0 of 1",
              .Pixels = "  Pixels: format 1, 800 a scan line",
              .Modes = "  Modes: 800 x 1280",
              .Across = Across(371, 800, FitsCentred),
              .Down = Down(543, 1280, "50.0", Centred),
              .Size = Size(7, 15, WithinLargest),
              .Efifb = Says(LinuxEfifb, WontRedraw, RotationBits),
              .Plymouth = Says(VerdictText::Plymouth, ShowsOnTurnedPanel)})},
    {"logo_32_bits", "a 32-bit logo: Windows shows it, efifb does not draw it",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(200, 100, 32, BgrtAt(540, 350));
     },
     OneBgrt(NotPlain({.Across = Across(540, 1280, FitsCentred),
                       .Down = Down(350, 800, "50.0", Centred),
                       .Size = Size(15, 12, WithinLargest)},
                      Not24Bits))},
    {"logo_8_bits", "an 8-bit logo: neither shows it",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(200, 100, 8, BgrtAt(540, 350));
     },
     OneBgrt(NotPlain({.Across = Across(540, 1280, FitsCentred),
                       .Down = Down(350, 800, "50.0", Centred),
                       .Size = Size(15, 12, WithinLargest),
                       .Windows = Says(VerdictText::Windows, WontShow, Not24Or32Bits)},
                      Not24Bits))},
    {"not_boot_services_data", "a logo outside boot-services data: Linux drops the table",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(193, 58, 24, BgrtAt(543, 371), EfiACPIReclaimMemory);
     },
     OneBgrt(IgnoredByLinux({.Memory = "  Image memory: type 9, " + Words(NotBootServicesData)}, ImageMemoryType, 9))},
    {"blit_only_screen", "a screen that only blits, as virtio-gpu's: no framebuffer for efifb to draw on",
     [](Machine &M) {
       M.ShowScreen({{1280, 800, PixelBltOnly}}, 0);
       M.AddLogo(193, 58, 24, BgrtAt(543, 371));
     },
     OneBgrt(EfifbWont({.Screen = "  Screen now: 1280 x 800, mode 0 of 1",
                        .Pixels = "  Pixels: format 3, 1280 a scan line",
                        .Modes = "  Modes: 1280 x 800"},
                       NoFramebuffer))},
    {"no_graphics_output", "no graphics output: the screen is not judged",
     [](Machine &M) { M.AddLogo(193, 58, 24, BgrtAt(543, 371)); }, OneBgrt(WithoutScreen({}))},
    {"wrong_table_fields", "wrong table fields, each marked; version 2 makes Linux drop it",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       BgrtFields Fields = BgrtAt(543, 371, 0xF9);
       Fields.Revision = 0;
       Fields.Version = 2;
       Fields.ImageType = 1;
       Fields.Length = 60;
       Fields.RightChecksum = false;
       M.AddLogo(193, 58, 24, Fields);
     },
     OneBgrt(IgnoredByLinux({.Checksum = "  BGRT 1 checksum " + Words(ChecksumWrong),
                      .Fields = "  Length 60!, revision 0!, version 2!, type 1!, status 0xF9",
                      .Status = "  Status: displayed, rotated 0 degrees, reserved bits set"},
                     InvalidVersion, 2, 1))},
    {"no_image", "no image: only the table is judged",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.Entries.push_back(M.Acpi.Bgrt(0, 0, BgrtAt(0, 0, 0)));
     },
     OneBgrt(IgnoredByLinux(NotDisplayed({.Memory = kLeftOut,
                                   .Across = kLeftOut,
                                   .Down = kLeftOut,
                                   .Size = kLeftOut,
                                   .Windows = Says(VerdictText::Windows, WontShow, NoBitmap)}),
                     NullImageAddress))},
    {"three_bgrts_one_displayed", "three BGRTs, one marked displayed: which it is, and which logo the file holds",
     [](Machine &M) {
       M.AddLogo(193, 58, 24, BgrtAt(543, 371, 0));
       M.AddLogo(100, 50, 24, BgrtAt(590, 375, 1));
       M.AddLogo(64, 32, 24, BgrtAt(608, 384, 0));
     },
     SeveralBgrts({WithoutScreen(NotDisplayed({})), NotFirst(WithoutScreen({}), 2), NotFirst(WithoutScreen(NotDisplayed({})), 3)},
                  {"  BGRTs: 3, marked displayed: 1, the last BGRT 2",
                   "  BIOSLogo.bmp holds the last logo saved, BGRT 3's (0: none)"})},
    {"no_renames_second_write_fails",
     "two BGRTs on a volume that will not rename, the second's write failing: the file holds none",
     [](Machine &M) {
       M.Volume.SetRenames(false);
       M.Firmware.FailCall(SimCall::FileWrite, EFI_VOLUME_FULL, 3, 1);  // each save writes twice
       M.AddLogo(193, 58, 24, BgrtAt(543, 371, 1));
       M.AddLogo(100, 50, 24, BgrtAt(590, 375, 0));
     },
     SeveralBgrts({WithoutScreen({}), NotFirst(WithoutScreen(NotDisplayed({})), 2)},
                  {"  BGRTs: 2, marked displayed: 1, the last BGRT 1",
                   "  BIOSLogo.bmp holds the last logo saved, BGRT 0's (0: none)"})},
    // Linux's efi-bgrt, case by case as Debian's kernels were seen to judge each
    // (tests/e2e/readers_test.py), in its own words.
    {"efi_bgrt_length_40", "a table of 40 bytes: efi-bgrt ignores it",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       BgrtFields Fields = BgrtAt(543, 371);
       Fields.Length = 40;
       M.AddLogo(193, 58, 24, Fields);
     },
     OneBgrt(IgnoredByLinux({.Fields = "  Length 40!, revision 1, version 1, type 0, status 0x01"}, InvalidLength, 40, 56))},
    {"efi_bgrt_type_1", "an image of type 1: efi-bgrt ignores it",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       BgrtFields Fields = BgrtAt(543, 371);
       Fields.ImageType = 1;
       M.AddLogo(193, 58, 24, Fields);
     },
     OneBgrt(IgnoredByLinux({.Fields = "  Length 56, revision 1, version 1, type 1!, status 0x01"}, InvalidImageType, 1, 0))},
    {"efi_bgrt_version_0", "version 0, which some laptops publish: efi-bgrt keeps it",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       BgrtFields Fields = BgrtAt(543, 371);
       Fields.Version = 0;
       M.AddLogo(193, 58, 24, Fields);
     },
     OneBgrt({.Fields = "  Length 56, revision 1, version 0!, type 0, status 0x01"})},
    {"efi_bgrt_bad_magic", "an image beginning MB: efi-bgrt ignores it",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(LogoWith(0, 0x424D, 2), BgrtAt(543, 371));
     },
     OneBgrt(IgnoredByLinux({.Across = kLeftOut,
                      .Down = kLeftOut,
                      .Size = kLeftOut,
                      .Windows = Says(VerdictText::Windows, WontShow, NoBitmap)},
                     BadMagic, 0x424D))},
    {"efi_bgrt_image_not_in_map", "an image where the memory map describes nothing: efi-bgrt ignores it",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.Entries.push_back(M.Acpi.Bgrt(0x1000, 0, BgrtAt(543, 371)));
     },
     OneBgrt(IgnoredByLinux({.Memory = "  Image memory: not in the memory map",
                      .Across = kLeftOut,
                      .Down = kLeftOut,
                      .Size = kLeftOut,
                      .Windows = Says(VerdictText::Windows, WontShow, NoBitmap)},
                     ImageNotInMap))},
    // efifb draws the logo again only in kernels built to defer the console, which Debian's are not:
    // these rules are its own (efifb_show_boot_graphics), held here and not by booting a kernel.
    // Plymouth's bitmap loader refuses the same bitmaps for the same reasons, in nearly the same
    // order (ply_image_load_bmp).
    {"efifb_rotation_bits", "turned half a turn: efifb draws no turned logo",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(193, 58, 24, BgrtAt(543, 371, 0x05));
     },
     OneBgrt(EfifbWont({.Fields = "  Length 56, revision 1, version 1, type 0, status 0x05",
                        .Status = "  Status: displayed, rotated 180 degrees",
                        .Plymouth = Says(VerdictText::Plymouth, ShowsOnTurnedPanel)},
                       RotationBits))},
    {"efifb_framebuffer_16_bits", "a framebuffer of 16 bits a pixel",
     [](Machine &M) {
       M.ShowScreen(kSixteenBits, 0);
       M.AddLogo(193, 58, 24, BgrtAt(543, 371));
     },
     OneBgrt(EfifbWont({.Screen = "  Screen now: 1280 x 800, mode 0 of 1",
                        .Pixels = "  Pixels: format 2, 1280 a scan line",
                        .Modes = "  Modes: 1280 x 800"},
                       FramebufferNot32))},
    {"reserved_field", "a file header whose reserved field is not 0: neither efifb nor Plymouth loads it",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(LogoWith(6, 1, 4), BgrtAt(543, 371));
     },
     OneBgrt(NotPlain({}, ReservedNotZero))},
    {"header_124", "a 124-byte information header, which every viewer reads, but neither efifb nor Plymouth",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(LogoWithLargestHeader(), BgrtAt(543, 371));
     },
     OneBgrt(NotPlain({}, HeaderNot40))},
    {"negative_width", "a negative width",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(LogoWith(18, (uint32_t)-193, 4), BgrtAt(543, 371));
     },
     OneBgrt(NotPlain({.Across = Across(543, 1280, FitsNotCentred), .Size = Size(0, 7, WithinLargest)},
                      NegativeWidth))},
    {"two_planes", "two planes", [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(LogoWith(26, 2, 2), BgrtAt(543, 371));
     },
     OneBgrt(NotPlain({}, PlanesNot1))},
    {"compressed", "24 bits a pixel, said to be run-length coded",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(LogoWith(30, 1, 4), BgrtAt(543, 371));
     },
     OneBgrt(NotPlain({}, Compressed))},
    {"rows_past_size", "a size field that stops four bytes short of the last row",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(LogoWith(2, 54 + 580 * 58 - 4, 4), BgrtAt(543, 371));
     },
     OneBgrt(NotPlain({}, RowsPastSize))},
    {"image_under_54_bytes", "a size field of 40 bytes",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(LogoWith(2, 40, 4), BgrtAt(543, 371));
     },
     OneBgrt(NotPlain({.Across = kLeftOut,
                       .Down = kLeftOut,
                       .Size = kLeftOut,
                       .Windows = Says(VerdictText::Windows, WontShow, Not24Or32Bits)},
                      Under54Bytes))},
    {"past_the_save_bound", "a size field two pages past the pixels: not saved, yet Plymouth shows it",
     [](Machine &M) {
       M.ShowScreen(kLandscape, 1);
       M.AddLogo(LogoWithTwoPagesMore(), BgrtAt(543, 371));
     },
     OneBgrt({})},
};

void PrintTo(const Case &C, std::ostream *Stream) { *Stream << C.What; }

class Verdict : public ::testing::TestWithParam<Case> {};

TEST_P(Verdict, JudgesTheTableTheMemoryAndTheScreen) {
  Machine M;
  GetParam().Build(M);
  std::vector<std::string> Lines = M.Verdict();
  EXPECT_EQ(Lines, GetParam().Expected);
  // A firmware console is 80 columns wide; the stick shows these lines there.
  for (const std::string &Line : Lines) EXPECT_LT(Line.size(), 80u) << Line;
}

INSTANTIATE_TEST_SUITE_P(Cases, Verdict, ::testing::ValuesIn(kCases), CaseName<Case>);

// Whatever the firmware's tables and graphics output hold, every verdict line fits an 80-column
// console, and the judgement never changes the exit status.
TEST(VerdictBounds, LinesStayUnderEightyColumnsForAnyValues) {
  Machine M;
  // The largest screen the verdict judges against, and a mode larger than any screen.
  M.ShowScreen({{1u << 20, 1u << 20, (EFI_GRAPHICS_PIXEL_FORMAT)0xFFFFFFFF, 0xFFFFFFFF}, {0xFFFFFFFF, 0xFFFFFFFF}}, 0);
  BgrtFields Fields = BgrtAt(0xFFFFFFFF, 0xFFFFFFFF, 0xFF);
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
  M.AddLogo(193, 58, 24, BgrtAt(543, 371));
  std::vector<std::string> Lines = M.Verdict();
  EXPECT_NE(std::find(Lines.begin(), Lines.end(), "  Modes: 640 x 480, 0 x 0, 1920 x 1080"), Lines.end());
}

}  // namespace
