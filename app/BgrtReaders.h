// What each program that reads the BGRT after the firmware makes of it, in that program's own
// terms: Linux's efi-bgrt, which decides whether the OS keeps the table and its image at all;
// Linux's efifb and Plymouth, which may draw the logo again; and Windows. One decision each, and
// two for Plymouth where a laptop's panel and a monitor see it differently.
#pragma once

#include "app/BgrtVerdict.h"

// Appends each reader's decision to the verdict, in the order its lines are printed; where Os is
// given, the kernel's own decision and Plymouth's on the OS's display.
void JudgeReaders(const BgrtFinding &Finding, const RunningOs *Os, BgrtVerdict *Verdict);
