// The screen as the firmware left it: the stick program reads it back before its first line, keeps
// it on the stick as Screen.bmp, and says for each BGRT whether its logo is on the screen where the
// table puts it, turned as its status says, and if not, whether it is anywhere else.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/CaseNames.h"
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
  bool Saved;  // Screen.bmp is on the stick
};

const std::vector<uint8_t> kLogo = AcpiBuilder::Bitmap(193, 58, 24);
const char *kSaved1280 = "Screen: 1280 x 800 as the firmware left it, saved as Screen.bmp";

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
     {"Screen: 800 x 1280 as the firmware left it, saved as Screen.bmp",
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
     {"Screen: 160 x 120 as the firmware left it, saved as Screen.bmp",
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
  EXPECT_EQ(M.Stick.Find(u"Screen.bmp") != nullptr, C.Saved);
  std::string Said = "Quillon: the screen as the firmware left it is on the stick as Screen.bmp.";
  EXPECT_EQ(M.Console().find(Said) != std::string::npos, C.Saved);
  EXPECT_EQ(M.Firmware.OutstandingPool(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, Screen, ::testing::ValuesIn(kCases), CaseName<Case>);

// Screen.bmp is a plain 24-bit bitmap, bottom row first, every pixel as the screen showed it.
TEST(ScreenFile, HoldsEveryPixelOfTheScreen) {
  StickMachine M;
  M.ShowScreen(13, 7);  // rows of 39 bytes, padded to 40
  for (UINT32 Y = 0; Y < 7; Y++) {
    for (UINT32 X = 0; X < 13; X++) M.Screen->At(X, Y) = X * 0x010203 + Y * 0x100000 + 5;
  }
  M.Run();
  const std::vector<uint8_t> *File = M.Stick.Find(u"Screen.bmp");
  ASSERT_NE(File, nullptr);
  auto Field = [&](size_t Offset, size_t Bytes) {
    uint32_t Value = 0;
    for (size_t Byte = 0; Byte < Bytes; Byte++) Value |= (uint32_t)(*File)[Offset + Byte] << (8 * Byte);
    return Value;
  };
  ASSERT_EQ(File->size(), 54u + 40 * 7);
  EXPECT_EQ(std::string(File->begin(), File->begin() + 2), "BM");
  EXPECT_EQ(Field(2, 4), File->size());
  EXPECT_EQ(Field(10, 4), 54u);
  EXPECT_EQ(Field(14, 4), 40u);
  EXPECT_EQ(Field(18, 4), 13u);
  EXPECT_EQ(Field(22, 4), 7u);
  EXPECT_EQ(Field(26, 2), 1u);
  EXPECT_EQ(Field(28, 2), 24u);
  EXPECT_EQ(Field(30, 4), 0u);
  EXPECT_EQ(Field(34, 4), 40u * 7);
  for (UINT32 Y = 0; Y < 7; Y++) {
    for (UINT32 X = 0; X < 13; X++) {
      EXPECT_EQ(Field(54 + (6 - Y) * 40 + 3 * X, 3), M.Screen->At(X, Y)) << X << ", " << Y;
    }
    EXPECT_EQ((*File)[54 + (6 - Y) * 40 + 39], 0) << "row padding";
  }
}

// A screen picture that cannot be saved is named, and an earlier Screen.bmp stays whole.
TEST(ScreenFile, AFailedSaveKeepsAnEarlierPictureWhole) {
  StickMachine M;
  M.ShowScreen(640, 480);
  M.Stick.Files[u"Screen.bmp"] = std::vector<uint8_t>(100, 'e');
  M.Stick.SetCapacity(200000);  // the picture needs 921,654 bytes
  M.Run();
  std::vector<std::string> Lines = ScreenLines(M);
  EXPECT_EQ(Lines, std::vector<std::string>{"Screen: 640 x 480 as the firmware left it, not saved"});
  EXPECT_NE(M.Console().find("Error Write  [Volume Full]\r\nScreen: 640 x 480"), std::string::npos);
  ASSERT_NE(M.Stick.Find(u"Screen.bmp"), nullptr);
  EXPECT_EQ(*M.Stick.Find(u"Screen.bmp"), std::vector<uint8_t>(100, 'e'));
  EXPECT_EQ(M.Firmware.OutstandingPool(), 0u);
}

}  // namespace
