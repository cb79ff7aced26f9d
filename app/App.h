// The application: shell entry, the boot-logo report and the saving of the logo file.
#pragma once

#include "app/ReadableMemory.h"
#include "app/ReportRecord.h"
#include "firmware/SimpleFileSystem.h"
#include "firmware/SystemTable.h"
#include "firmware/Uefi.h"

// The image entry point: records the firmware tables, makes sure a shell started it, then reports.
// Returns the report's status, or all bits set when no shell protocol is on the image handle.
extern "C" EFI_STATUS EFIAPI AppEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// Reports the ACPI tables and every BGRT logo, saving each logo in turn on Volume, or on the first
// file-system volume when Volume is null, and fills Record with what it found and did. Nothing is
// read that the firmware's memory map does not describe as memory. Returns the status of the first
// save that failed or table that could not be read, or success.
EFI_STATUS ReportBootLogo(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, ReportRecord *Record);

// The report's block for one BGRT, the one numbered Number: where it lies, where its logo lies and
// what the bitmap's headers say, the logo saved on Volume (the first file-system volume when
// null). Finding records what became of both; judging them is the caller's. Returns the save's
// status, success when there was nothing to save, or a failure where the table or the bitmap lies
// outside readable memory or the image is no bitmap the rule takes.
EFI_STATUS ReportBgrtAndLogo(const MemoryMap &Map, EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, UINT64 BgrtAddress,
                             UINT32 Number, BgrtFinding *Finding);

// Writes Size bytes from ImageAddress to "BIOSLogo.bmp" in the root of Volume, or of the first
// file-system volume when Volume is null, leaving the file exactly that long. A save that fails
// leaves the volume as it was, but where the file system will not rename, or will not undo a
// rename: then the older logo may be gone, or the new one kept whole under another name, and
// *Outcome says so. Prints its own failures.
EFI_STATUS SaveLogoFile(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, UINT64 ImageAddress, UINT64 Size,
                        SaveOutcome *Outcome);

// The names a save uses: the file's own, and the stems of its scratch and backup files (a digit is
// added where a file of that name exists already); and what the file holds, in a few words for the
// report. The texts lie in the record itself: a record of pointers in the image would need the
// loader to relocate each of them.
constexpr UINTN kSavedNameRoom = 20;  // the longest name, Quillon-report.txt, with a digit and the terminator
struct SavedFileNames {
  CHAR16 Name[kSavedNameRoom];
  CHAR16 ScratchStem[kSavedNameRoom];
  CHAR16 BackupStem[kSavedNameRoom];
  char What[16];
};

// The save SaveLogoFile makes, for any file: Size bytes from Address under Names.Name.
EFI_STATUS SaveWholeFile(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume, const SavedFileNames &Names, UINT64 Address,
                         UINT64 Size, SaveOutcome *Outcome);
