#include "stick/ConsoleRecord.h"

namespace {

EFI_STATUS EFIAPI RecordString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, const CHAR16 *String) {
  ConsoleRecord *Record = (ConsoleRecord *)This;
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
  if (EFI_ERROR(gBootServices->AllocatePool(EfiBootServicesData, Room, &Text)) || Text == nullptr) return false;
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
