// Where Plymouth puts the firmware's logo, case by case as its two-step plugin's
// view_set_bgrt_background (Plymouth 24.004, src/plugins/splash/two-step/plugin.c) works it out.
// Each expected place is worked out by hand from that function, for displays no QEMU machine has: a
// laptop's panel beside a monitor of another size, a HiDPI panel, panels mounted turned. The
// e2e tests hold the displays QEMU does have against Plymouth itself (tests/e2e/readers_test.py).
#include <gtest/gtest.h>

#include "CaseNames.h"
#include "app/PlymouthRules.h"

namespace {

using Rotation = PlymouthRotation;

// A laptop's own panel, the display in its native mode.
PlymouthDisplay Panel(int Width, int Height, Rotation Turned = Rotation::Upright, int Scale = 1) {
  bool Quarter = Turned == Rotation::Clockwise || Turned == Rotation::CounterClockwise;
  return PlymouthDisplay{(Quarter ? Height : Width) / Scale, (Quarter ? Width : Height) / Scale, Scale, true, Width,
                         Height, Turned, Scale};
}

// A display Plymouth has no panel for.
PlymouthDisplay Monitor(int Width, int Height, int Scale = 1) {
  return PlymouthDisplay{Width / Scale, Height / Scale, Scale, false, 0, 0, Rotation::Upright, 1};
}

// A monitor of another size, beside the laptop's panel: Plymouth draws on it with the panel's
// properties.
PlymouthDisplay BesidePanel(int Width, int Height, const PlymouthDisplay &Panel) {
  PlymouthDisplay Display = Panel;
  Display.Width = Width;
  Display.Height = Height;
  return Display;
}

constexpr UINT8 kUpright = 0x01;     // displayed, not turned
constexpr UINT8 kTurned90 = 0x03;    // status bits 1-2: 1, a quarter turn clockwise
constexpr UINT8 kTurned270 = 0x07;

struct PlaceCase {
  const char *Name;
  const char *What;
  PlymouthDisplay Display;
  UINT32 Width;  // the logo's
  UINT32 Height;
  INT32 OffsetX;  // the BGRT's
  INT32 OffsetY;
  UINT8 Status;
  PlymouthPlace Expected;
};

// OVMF's 193 x 58 logo; on 1280 x 800 centred across at 543, and 38.2% down at 276.
const PlaceCase kPlaces[] = {
    {"panel_screen_sized_centred", "the panel the size of the screen, the logo centred both ways: kept",
     Panel(1280, 800), 193, 58, 543, 371, kUpright, {false, 543, 371}},
    {"panel_ten_percent_down", "centred across for the panel, 10% down: kept", Panel(1280, 800), 193, 58, 543, 80,
     kUpright, {false, 543, 80}},
    {"panel_golden", "centred across for the panel, its centre 38.2% down: kept", Panel(1280, 800), 193, 58, 543,
     276, kUpright, {false, 543, 276}},
    {"panel_not_centred", "not centred across for the panel: moved, centred across and 38.2% down",
     Panel(1280, 800), 193, 58, 544, 80, kUpright, {false, 543, 276}},
    {"monitor_centred", "no panel, the logo centred both ways: kept", Monitor(1280, 800), 193, 58, 543, 371,
     kUpright, {false, 543, 371}},
    {"monitor_ten_percent_down", "no panel, centred across only: moved", Monitor(1280, 800), 193, 58, 543, 80,
     kUpright, {false, 543, 276}},
    {"monitor_hidpi_centred", "no panel at scale 2, centred both ways for the whole screen: moved on half of it",
     Monitor(2560, 1600, 2), 193, 58, 1183, 771, kUpright, {false, 543, 276}},
    {"monitor_too_tall", "no panel, a logo too tall to have its centre 38.2% down: off the top",
     Monitor(1280, 800), 640, 700, 0, 0, kUpright, {false, 320, -45}},
    {"beside_panel", "a 1920 x 1080 monitor beside a 1280 x 800 panel: the panel's place, moved by the difference",
     BesidePanel(1920, 1080, Panel(1280, 800)), 193, 58, 543, 80, kUpright, {false, 863, 186}},
    {"panel_scale_2", "a 2560 x 1600 panel at scale 2: the firmware's place, halved", Panel(2560, 1600,
     Rotation::Upright, 2), 386, 116, 1087, 742, kUpright, {false, 543, 371}},
    {"panel_scale_2_not_centred", "the same, not centred across: centred across and 38.2% down on half the screen",
     Panel(2560, 1600, Rotation::Upright, 2), 386, 116, 1000, 742, kUpright, {false, 543, 276}},
    // A panel mounted turned: its native mode is portrait, and Plymouth draws on it turned upright.
    {"turned_panel_claims_landscape",
     "a panel turned clockwise whose firmware centred the logo as for landscape, with no rotation bits: "
     "turned as the panel, the firmware's place kept",
     Panel(800, 1280, Rotation::Clockwise), 193, 58, 543, 80, kUpright, {false, 543, 80}},
    {"turned_panel_prerotated",
     "a panel turned clockwise, the logo drawn turned for its portrait width: the offsets swap",
     Panel(800, 1280, Rotation::Clockwise), 58, 193, 371, 543, kUpright, {false, 543, 371}},
    {"turned_panel_prerotated_counter_clockwise",
     "a panel turned counter-clockwise, the logo drawn turned: the offset down counts from the other end",
     Panel(800, 1280, Rotation::CounterClockwise), 58, 193, 371, 80, kUpright, {false, 1007, 371}},
    {"rotation_bits_match_panel",
     "rotation bits of 90 degrees on a panel turned counter-clockwise, the logo centred across it turned: kept",
     Panel(800, 1280, Rotation::CounterClockwise), 193, 58, 543, 371, kTurned90, {false, 543, 371}},
    {"rotation_bits_match_panel_off_centre", "the same off centre: moved, on the panel turned upright",
     Panel(800, 1280, Rotation::CounterClockwise), 193, 58, 100, 371, kTurned90, {false, 543, 276}},
    {"rotation_bits_other_than_panel", "rotation bits of 90 degrees on a panel turned clockwise: not shown",
     Panel(800, 1280, Rotation::Clockwise), 193, 58, 100, 371, kTurned90, {true, 0, 0}},
    {"panel_quirk_overrides_bits",
     "the same, centred across the panel's height: taken for the firmware that claims landscape, and shown",
     Panel(800, 1280, Rotation::Clockwise), 193, 58, 543, 371, kTurned90, {false, 543, 371}},
    {"rotation_bits_upright_panel", "rotation bits of 270 degrees on an upright panel: not shown",
     Panel(1280, 800), 193, 58, 543, 371, kTurned270, {true, 0, 0}},
    {"rotation_bits_monitor", "rotation bits on a monitor: not shown", Monitor(1280, 800), 193, 58, 543, 371,
     kTurned270, {true, 0, 0}},
};

void PrintTo(const PlaceCase &C, std::ostream *Stream) { *Stream << C.What; }

class PlymouthPlaces : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(PlymouthPlaces, AsTheTwoStepPluginWorksThemOut) {
  const PlaceCase &C = GetParam();
  PlymouthPlace Place = PlacePlymouthLogo(C.Display, C.Width, C.Height, C.OffsetX, C.OffsetY, C.Status);
  EXPECT_EQ(Place.Mismatch, C.Expected.Mismatch);
  if (!C.Expected.Mismatch) {
    EXPECT_EQ(Place.X, C.Expected.X);
    EXPECT_EQ(Place.Y, C.Expected.Y);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, PlymouthPlaces, ::testing::ValuesIn(kPlaces), CaseName<PlaceCase>);

// Offsets no firmware means, as Plymouth reads them (signed), and sides past any screen: worked
// out without overflow (the sanitizers would say), the logo moved where Plymouth moves any it
// does not trust, or off the screen.
TEST(PlymouthPlaces, AbsurdOffsetsAreMovedAndAbsurdSidesFallOffTheScreen) {
  for (INT32 Offset : {INT32_MIN, -1, INT32_MAX}) {
    for (const PlymouthDisplay &Display : {Panel(1280, 800), Monitor(1280, 800)}) {
      PlymouthPlace Place = PlacePlymouthLogo(Display, 193, 58, Offset, Offset, kUpright);
      EXPECT_FALSE(Place.Mismatch);
      EXPECT_EQ(Place.X, 543) << Offset;
      EXPECT_EQ(Place.Y, 276) << Offset;
    }
  }
  for (UINT32 Side : {1u << 20, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    for (INT32 Offset : {INT32_MIN, 0, INT32_MAX}) {
      PlymouthPlace Place = PlacePlymouthLogo(Panel(1280, 800), Side, Side, Offset, Offset, kUpright);
      EXPECT_TRUE(Place.X < 0 || Place.Y < 0) << Side << " at " << Offset;
    }
  }
}

// The scale Plymouth draws with: twice as large only on a display 1200 pixels high or more whose
// both sides pass 192 dots an inch; sizes that are an aspect ratio are not believed; on the
// firmware's framebuffer, where no size is known, by the width alone.
struct ScaleCase {
  const char *Name;
  UINT32 Width, Height, WidthMm, HeightMm;
  bool Guess;
  INT32 Expected;
};

void PrintTo(const ScaleCase &C, std::ostream *Stream) {
  *Stream << C.Width << " x " << C.Height << ", " << C.WidthMm << " x " << C.HeightMm << " mm"
          << (C.Guess ? ", guessed" : "");
}

const ScaleCase kScales[] = {
    {"laptop_13in_2880", 2880, 1800, 286, 179, false, 2},
    {"laptop_14in_1920", 1920, 1080, 309, 174, false, 1},
    {"under_1200_high", 2560, 1080, 100, 40, false, 1},
    {"dense_one_way_only", 2560, 1600, 300, 220, false, 1},  // 216.7 across, 184.7 down
    {"just_past_192", 1512, 1200, 200, 158, false, 2},  // 192.02 and 192.91 dots an inch
    {"exactly_192", 1920, 1920, 254, 254, false, 1},     // 192 both ways: not past it
    {"aspect_16_10", 2880, 1800, 160, 100, false, 1},
    {"aspect_16_9_small", 2880, 1620, 16, 9, false, 1},
    {"size_unknown", 2880, 1800, 0, 0, false, 1},
    {"guess_wide", 2560, 1600, 0, 0, true, 2},
    {"guess_narrow", 1920, 1200, 0, 0, true, 1},
};

class PlymouthScales : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(PlymouthScales, AsGetDeviceScale) {
  const ScaleCase &C = GetParam();
  EXPECT_EQ(PlymouthDeviceScale(C.Width, C.Height, C.WidthMm, C.HeightMm, C.Guess), C.Expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, PlymouthScales, ::testing::ValuesIn(kScales), CaseName<ScaleCase>);

}  // namespace
