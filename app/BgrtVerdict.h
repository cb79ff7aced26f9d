// The verdict on what the firmware published: each BGRT judged against the ACPI specification,
// against the rules Linux and Windows apply before they show its logo, and against the screen the
// firmware drew it on. Observations only: nothing here changes what is saved or the exit status.
#pragma once

#include "app/ReadableMemory.h"
#include "app/ReportRecord.h"
#include "firmware/Uefi.h"

// Prints the lines judging one BGRT, whose whole table could be read, and its bitmap.
void PrintBgrtVerdict(const MemoryMap &Map, const BgrtFinding &Finding);

// Where an XSDT holds several BGRTs: which is marked displayed, and which the file holds.
void PrintSeveralBgrts(const ReportRecord &Record);
