// Whether a BGRT's logo is on the screen where its table says the firmware drew it: the logo's
// pixels against the picture of the screen, at the table's offsets and turned as its status says;
// and, where it is not there, whether it is elsewhere on the screen, as when firmware centres the
// logo for one resolution and publishes offsets worked out for another.
#pragma once

#include "app/ReportRecord.h"
#include "stick/ScreenPicture.h"

struct LogoOnScreen {
  const char *NotCompared;  // why the logo was not compared; null when it was
  UINT32 Percent;           // of its pixels on the screen where the table puts them
  bool InPlace;             // at least half of them are
  bool SeenElsewhere;       // where they are not, at least half of them are at SeenX, SeenY
  UINT32 SeenX;
  UINT32 SeenY;
};

// Compares the logo of a BGRT the report recorded with the picture, which was taken.
LogoOnScreen CompareLogo(const ScreenPicture &Picture, const BgrtFinding &Finding);

// One line, under 80 columns: how much of the logo is in place, and whether that agrees with the
// status's displayed bit.
void PrintLogoOnScreen(const BgrtFinding &Finding, const LogoOnScreen &Seen);

// The lines for every BGRT the report recorded, when the picture was taken.
void SayLogosOnScreen(const ScreenPicture &Picture, const ReportRecord &Report);
