// The screen as the firmware left it: the stick program reads it back before its first line, keeps
// it on the stick as Screen.png, and says for each BGRT whether its logo is on the screen where the
// table puts it, turned as its status says, and if not, whether it is anywhere else. And the logo
// as a picture too, BIOSLogo.png, beside the firmware's bitmap.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/PngFile.h"
#include "tests/CaseNames.h"
#include "tests/PngRead.h"
#include "tests/StickMachine.h"

namespace {

constexpr UINT32 kWhite = 0xFFFFFF;

// The lines about the screen: from the one that names it to the blank line before the plain words.
std::vector<std::string> ScreenLines(const StickMachine &M) {
  std::string Text = M.Console();
  std::vector<std::string> Lines;
  for (size_t At = Text.find("\r\nScreen: "); At != std::string::npos;) {
    At += 2;
    size_t End = Text.find("\r\n", At);
    if (End == At) break;
    Lines.push_back(Text.substr(At, End - At));
    At = End;
  }
  return Lines;
}

struct Case {
  const char *Name;  // the test's name
  const char *What;
  std::function<void(StickMachine &)> Build;
  std::vector<std::string> Expected;
  bool Saved;  // Screen.png is on the stick
};

const std::vector<uint8_t> kLogo = AcpiBuilder::Bitmap(193, 58, 24);
const char *kSaved1280 = "Screen: 1280 x 800 as the firmware left it, saved as Screen.png";

const Case kCases[] = {
    {"in_place", "the logo where the BGRT puts it, marked displayed",
     [](StickMachine &M) {
       M.ShowScreen(1280, 800);
       M.Screen->Draw(kLogo, 543, 371);
       M.AddLogo(kLogo, BgrtAt(543, 371));
     },
     {kSaved1280, "  BGRT 1: 100% of pixels in place, as marked displayed"},
     true},
    {"in_place_not_marked", "the logo in place, though its status says it is not displayed",
     [](StickMachine &M) {
       M.ShowScreen(1280, 800);
       M.Screen->Draw(kLogo, 543, 371);
       M.AddLogo(kLogo, BgrtAt(543, 371, 0));
     },
     {kSaved1280, "  BGRT 1: 100% of pixels in place, yet marked not displayed"},
     true},
    {"centred_for_another_screen", "offsets worked out for 1920 x 1080, the logo centred on 1280 x 800",
     [](StickMachine &M) {
       M.ShowScreen(1280, 800);
       M.Screen->Draw(kLogo, 543, 371);
       M.AddLogo(kLogo, BgrtAt(863, 511));
     },
     {kSaved1280, "  BGRT 1: 0% of pixels in place, yet marked displayed; seen at 543, 371"},
     true},
    {"absent", "a screen drawn over since: the logo nowhere",
     [](StickMachine &M) {
       M.ShowScreen(1280, 800);
       M.AddLogo(kLogo, BgrtAt(543, 371));
     },
     {kSaved1280, "  BGRT 1: 0% of pixels in place, yet marked displayed; not seen elsewhere"},
     true},
    {"absent_not_marked", "no logo on the screen, and none marked displayed",
     [](StickMachine &M) {
       M.ShowScreen(1280, 800);
       M.AddLogo(kLogo, BgrtAt(543, 371, 0));
     },
     {kSaved1280, "  BGRT 1: 0% of pixels in place, as marked not displayed; not seen elsewhere"},
     true},
    {"turned", "a portrait panel, the logo turned a quarter clockwise as its status says",
     [](StickMachine &M) {
       M.ShowScreen(800, 1280);
       M.Screen->Draw(kLogo, 371, 543, 1);
       M.AddLogo(kLogo, BgrtAt(371, 543, 0x03));
     },
     {"Screen: 800 x 1280 as the firmware left it, saved as Screen.png",
      "  BGRT 1: 100% of pixels in place, as marked displayed"},
     true},
    {"turned_half", "the logo turned half a turn, as its status says",
     [](StickMachine &M) {
       M.ShowScreen(1280, 800);
       M.Screen->Draw(kLogo, 543, 371, 2);
       M.AddLogo(kLogo, BgrtAt(543, 371, 0x05));
     },
     {kSaved1280, "  BGRT 1: 100% of pixels in place, as marked displayed"},
     true},
    {"half_covered", "the top half of the logo drawn over: half of it still counts as in place",
     [](StickMachine &M) {
       M.ShowScreen(1280, 800);
       M.Screen->Draw(kLogo, 543, 371);
       for (UINT32 Y = 371; Y < 371 + 29; Y++) {
         for (UINT32 X = 543; X < 543 + 193; X++) M.Screen->At(X, Y) = kWhite;
       }
       M.AddLogo(kLogo, BgrtAt(543, 371));
     },
     {kSaved1280, "  BGRT 1: 50% of pixels in place, as marked displayed"},
     true},
    {"mostly_covered", "all but a third of the logo drawn over: not in place, nor anywhere else",
     [](StickMachine &M) {
       M.ShowScreen(1280, 800);
       M.Screen->Draw(kLogo, 543, 371);
       for (UINT32 Y = 371; Y < 371 + 40; Y++) {
         for (UINT32 X = 543; X < 543 + 193; X++) M.Screen->At(X, Y) = kWhite;
       }
       M.AddLogo(kLogo, BgrtAt(543, 371));
     },
     {kSaved1280, "  BGRT 1: 31% of pixels in place, yet marked displayed; not seen elsewhere"},
     true},
    {"logo_32_bits", "a 32-bit logo, its fourth byte not drawn",
     [](StickMachine &M) {
       std::vector<uint8_t> Logo = AcpiBuilder::Bitmap(64, 32, 32);
       M.ShowScreen(1280, 800);
       M.Screen->Draw(Logo, 608, 384);
       M.AddLogo(Logo, BgrtAt(608, 384));
     },
     {kSaved1280, "  BGRT 1: 100% of pixels in place, as marked displayed"},
     true},
    {"logo_8_bits", "an 8-bit logo is not compared",
     [](StickMachine &M) {
       M.ShowScreen(1280, 800);
       M.AddLogo(AcpiBuilder::Bitmap(64, 32, 8), BgrtAt(608, 384));
     },
     {kSaved1280, "  BGRT 1: not compared: not a plain 24 or 32-bit bitmap"},
     true},
    {"screen_smaller_than_logo", "a screen narrower than the logo: what falls off it counts against",
     [](StickMachine &M) {
       M.ShowScreen(160, 120);
       M.Screen->Draw(kLogo, 0, 10);
       M.AddLogo(kLogo, BgrtAt(0, 10));
     },
     {"Screen: 160 x 120 as the firmware left it, saved as Screen.png",
      "  BGRT 1: 82% of pixels in place, as marked displayed"},
     true},
    {"two_bgrts", "two BGRTs: each compared on its own",
     [](StickMachine &M) {
       std::vector<uint8_t> Small = AcpiBuilder::Bitmap(64, 32, 24, 7);
       M.ShowScreen(1280, 800);
       M.Screen->Draw(kLogo, 543, 371);
       M.AddLogo(kLogo, BgrtAt(543, 371));
       M.AddLogo(Small, BgrtAt(0, 0, 0));
     },
     {kSaved1280, "  BGRT 1: 100% of pixels in place, as marked displayed",
      "  BGRT 2: 0% of pixels in place, as marked not displayed; not seen elsewhere"},
     true},
    {"no_image", "a BGRT without an image: nothing to compare",
     [](StickMachine &M) {
       M.ShowScreen(1280, 800);
       M.Entries.push_back(M.Acpi.Bgrt(0, 0, BgrtAt(0, 0, 0)));
     },
     {kSaved1280, "  BGRT 1: not compared: no image"},
     true},
    {"capture_fails", "a screen that will not be read back: one line, nothing written",
     [](StickMachine &M) {
       M.ShowScreen(1280, 800);
       M.Firmware.FailCall(SimCall::Blt, EFI_DEVICE_ERROR);
       M.AddLogo(kLogo, BgrtAt(543, 371));
     },
     {"Screen: 1280 x 800 would not be read back  [Device Error]"},
     false},
    {"no_screen", "no graphics output: one line, nothing written",
     [](StickMachine &M) { M.AddLogo(kLogo, BgrtAt(543, 371)); },
     {"Screen: no graphics output: no picture taken"},
     false},
    {"screen_too_large", "a screen past 16384 pixels a side: one line, nothing written",
     [](StickMachine &M) {
       M.ShowScreen(20000, 2);
       M.AddLogo(kLogo, BgrtAt(543, 371));
     },
     {"Screen: 20000 x 2, past 16384 a side: no picture taken"},
     false},
};

void PrintTo(const Case &C, std::ostream *Stream) { *Stream << C.What; }

class Screen : public ::testing::TestWithParam<Case> {};

TEST_P(Screen, IsKeptAndEachLogoFoundWhereItIs) {
  const Case &C = GetParam();
  StickMachine M;
  C.Build(M);
  M.Run();
  EXPECT_EQ(ScreenLines(M), C.Expected);
  for (const std::string &Line : ScreenLines(M)) EXPECT_LT(Line.size(), 80u) << Line;
  EXPECT_EQ(M.Stick.Find(u"Screen.png") != nullptr, C.Saved);
  std::string Said = "Quillon: the screen as the firmware left it is on the stick as Screen.png.";
  EXPECT_EQ(M.Console().find(Said) != std::string::npos, C.Saved);
  EXPECT_EQ(M.Firmware.OutstandingPool(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, Screen, ::testing::ValuesIn(kCases), CaseName<Case>);

// Screen.png holds every pixel as the screen showed it, whatever the width's bytes come to.
TEST(ScreenFile, HoldsEveryPixelOfTheScreen) {
  for (UINT32 Width : {1u, 13u, 640u}) {
    StickMachine M;
    M.ShowScreen(Width, 7);
    for (UINT32 Y = 0; Y < 7; Y++) {
      for (UINT32 X = 0; X < Width; X++) M.Screen->At(X, Y) = (X * 0x010203 + Y * 0x100000 + 5) & 0xFFFFFF;
    }
    M.Run();
    const std::vector<uint8_t> *File = M.Stick.Find(u"Screen.png");
    ASSERT_NE(File, nullptr) << Width;
    RgbPicture Read;
    ASSERT_EQ(ReadPngWithLibpng(*File, &Read), "") << Width;
    ASSERT_EQ(Read.Width, Width);
    ASSERT_EQ(Read.Height, 7u);
    for (UINT32 Y = 0; Y < 7; Y++) {
      for (UINT32 X = 0; X < Width; X++) ASSERT_EQ(Read.At(X, Y), M.Screen->At(X, Y)) << X << ", " << Y;
    }
    EXPECT_EQ(M.Firmware.OutstandingPool(), 0u);
  }
}

// A screen picture that cannot be saved is named, and an earlier Screen.png stays whole.
TEST(ScreenFile, AFailedSaveKeepsAnEarlierPictureWhole) {
  StickMachine M;
  M.ShowScreen(640, 480);
  // Pixels that do not compress, so that the picture is larger than the room.
  UINT32 Noise = 1;
  for (UINT32 Y = 0; Y < 480; Y++) {
    for (UINT32 X = 0; X < 640; X++) M.Screen->At(X, Y) = (Noise = Noise * 1103515245 + 12345) >> 8 & 0xFFFFFF;
  }
  M.Stick.Files[u"Screen.png"] = std::vector<uint8_t>(100, 'e');
  M.Stick.SetCapacity(200000);
  M.Run();
  std::vector<std::string> Lines = ScreenLines(M);
  EXPECT_EQ(Lines, std::vector<std::string>{"Screen: 640 x 480 as the firmware left it, not saved"});
  EXPECT_NE(M.Console().find("Error Write  [Volume Full]\r\nScreen: 640 x 480"), std::string::npos);
  ASSERT_NE(M.Stick.Find(u"Screen.png"), nullptr);
  EXPECT_EQ(*M.Stick.Find(u"Screen.png"), std::vector<uint8_t>(100, 'e'));
  EXPECT_EQ(M.Firmware.OutstandingPool(), 0u);
}

// No memory for the PNG's work is named as such, and nothing is written.
TEST(ScreenFile, NoMemoryForThePngIsNamed) {
  // The run's pool requests, to find the PNG's working memory among them.
  std::vector<UINTN> Requests;
  {
    StickMachine M;
    M.ShowScreen(640, 480);
    M.Run();
    Requests = M.Firmware.PoolRequests();
  }
  UINT64 Working = PngPeakPoolBytes(640, 480) - PngLargestBytes(640, 480);
  auto Found = std::find(Requests.begin(), Requests.end(), Working);
  ASSERT_NE(Found, Requests.end());
  StickMachine M;
  M.ShowScreen(640, 480);
  M.Firmware.FailCall(SimCall::AllocatePool, EFI_OUT_OF_RESOURCES, (int)(Found - Requests.begin()), 1);
  M.Run();
  EXPECT_EQ(ScreenLines(M), std::vector<std::string>{"Screen: 640 x 480, no memory for its PNG  [Out of Resources]"});
  EXPECT_EQ(M.Stick.Find(u"Screen.png"), nullptr);
  EXPECT_EQ(M.Firmware.OutstandingPool(), 0u);
}

// BIOSLogo.png beside BIOSLogo.bmp: the same pixels, for each depth firmware draws; where the
// bitmap is one it cannot read, one line says why and nothing is written.
TEST(LogoPicture, HoldsTheLogosPixelsOrSaysWhyNot) {
  struct Depth {
    uint16_t Bits;
    bool Kept;
  };
  for (Depth D : {Depth{24, true}, Depth{32, true}, Depth{8, false}}) {
    StickMachine M;
    std::vector<uint8_t> Logo = AcpiBuilder::Bitmap(37, 11, D.Bits);
    M.AddLogo(Logo, BgrtFields{});
    M.Run();
    std::string Text = M.Console();
    const std::vector<uint8_t> *Png = M.Stick.Find(u"BIOSLogo.png");
    ASSERT_EQ(Png != nullptr, D.Kept) << D.Bits;
    EXPECT_EQ(Text.find("  BIOSLogo.png beside it is the same picture, for sharing.") != std::string::npos, D.Kept);
    EXPECT_EQ(M.Firmware.OutstandingPool(), 0u);
    if (!D.Kept) {
      EXPECT_NE(Text.find("\r\nLogo: no BIOSLogo.png: not a plain 24 or 32-bit bitmap\r\n"), std::string::npos);
      continue;
    }
    EXPECT_NE(Text.find("\r\nLogo: 37 x 11 as a picture, saved as BIOSLogo.png\r\n"), std::string::npos) << Text;
    RgbPicture Read;
    ASSERT_EQ(ReadPngWithLibpng(*Png, &Read), "");
    ASSERT_EQ(Read.Width, 37u);
    ASSERT_EQ(Read.Height, 11u);
    uint32_t Bytes = D.Bits / 8, RowBytes = (37 * Bytes + 3) & ~3u, Offset = Logo[10] | Logo[11] << 8;
    for (uint32_t Y = 0; Y < 11; Y++) {
      for (uint32_t X = 0; X < 37; X++) {
        const uint8_t *Pixel = &Logo[Offset + (10 - Y) * RowBytes + X * Bytes];
        ASSERT_EQ(Read.At(X, Y), (uint32_t)(Pixel[2] << 16 | Pixel[1] << 8 | Pixel[0])) << X << ", " << Y;
      }
    }
  }
}

}  // namespace
