#include "stick/ConsoleRecord.h"

namespace {

// Whether Text begins with Start, a 7-bit literal.
bool Begins(const CHAR16 *Text, const char *Start) {
  for (; *Start != 0; Text++, Start++) {
    if (*Text != (CHAR16)*Start) return false;
  }
  return true;
}

// Each of the report's prints is one call here, a line or, for the list of screen modes, part of
// one; its first words say what the report found.
void Listen(ReportHeard &Heard, const CHAR16 *Text) {
  if (Begins(Text, "  Found BGRT")) Heard.Bgrt = true;
  if (Begins(Text, "BIOS logo has been saved")) Heard.Saved = true;
  if (Begins(Text, "  BIOSLogo.bmp holds the last logo saved, BGRT 0's")) Heard.Saved = false;
  if (Begins(Text, "The new logo is kept as")) Heard.KeptAside = true;
  if (Begins(Text, "  Won't save logo image")) Heard.Refused = true;
  if (Begins(Text, "  Can't read") || Begins(Text, "Can't get memory map")) Heard.Unreadable = true;
  if (Begins(Text, "Error ") || Begins(Text, "Cannot find EFI_SIMPLE") || Begins(Text, "OpenVolume error")) {
    Heard.SaveFailed = true;
  }
}

EFI_STATUS EFIAPI RecordString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, const CHAR16 *String) {
  ConsoleRecord *Record = (ConsoleRecord *)This;
  Listen(Record->Heard, String);
  for (const CHAR16 *Unit = String; *Unit != 0; Unit++) {
    if (Record->Length == Record->Room) {
      Record->Cut = true;
      break;
    }
    // The file is 7-bit text; anything else shows as '?'.
    Record->Text[Record->Length++] = *Unit < 0x80 ? (CHAR8)*Unit : '?';
  }
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console = Record->Console;
  return Console != nullptr ? Console->OutputString(Console, String) : EFI_SUCCESS;
}

}  // namespace

bool StartRecording(ConsoleRecord *Record, UINTN Room) {
  VOID *Text = nullptr;
  if (EFI_ERROR(gBootServices->AllocatePool(EfiBootServicesData, Room, &Text))) return false;
  *Record = ConsoleRecord{};
  Record->Console = gSystemTable->ConOut;
  // The record answers every other call of the console as the console itself does.
  if (Record->Console != nullptr) Record->Protocol = *Record->Console;
  Record->Protocol.OutputString = RecordString;
  Record->Firmware = gSystemTable;
  Record->Table = *gSystemTable;
  Record->Table.ConOut = &Record->Protocol;
  Record->Text = (CHAR8 *)Text;
  Record->Room = Room;
  gSystemTable = &Record->Table;
  return true;
}

void StopRecording(ConsoleRecord *Record) {
  gSystemTable = Record->Firmware;
  gBootServices->FreePool(Record->Text);
  Record->Text = nullptr;
  Record->Length = 0;
}
