// A record of everything printed, kept while it goes to the console: the stick program puts it on
// the stick as the report's text.
#pragma once

#include "firmware/SimpleTextOutput.h"
#include "firmware/SystemTable.h"
#include "firmware/Uefi.h"

struct ConsoleRecord {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL Protocol;  // first, so the protocol pointer is the record's address
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console;  // where the text goes on to; may be null
  EFI_SYSTEM_TABLE *Firmware;                // the firmware's system table
  EFI_SYSTEM_TABLE Table;                    // the copy the program prints through meanwhile
  CHAR8 *Text;                               // 7-bit text, line ends as printed (CR LF)
  UINTN Length;
  UINTN Room;
  bool Cut;  // more was printed than Room holds
};

// Makes gSystemTable a copy of the firmware's whose console is the record, which keeps up to Room
// bytes of text in a pool buffer and hands everything on to the firmware's console. Returns false,
// printing nothing, when there is no memory for the text; the program then prints as usual.
bool StartRecording(ConsoleRecord *Record, UINTN Room);

// Puts gSystemTable back and gives the text's buffer back.
void StopRecording(ConsoleRecord *Record);
