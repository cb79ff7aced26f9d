// Where a logo sits on a screen, as every rule here works it out: the firmware's, Linux's efifb's,
// Plymouth's and Microsoft's.
#pragma once

#include "firmware/Uefi.h"

// Microsoft's boot-screen guidance puts the logo's centre 38.2% down the screen, and Plymouth
// follows it where it moves a logo.
constexpr INT32 kGoldenPermille = 382;

// The offset that centres a logo on a screen, (screen - logo) / 2 rounded toward zero: the
// reference firmware puts its logo so across and down, and efifb and Plymouth look for it so.
constexpr INT32 CentredAt(INT32 Screen, INT32 Logo) { return (Screen - Logo) / 2; }
