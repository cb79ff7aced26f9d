// The revocation level and db, read for the person at the stick. Both come from firmware variables
// that anyone with the machine (or a flaw in its firmware) may have filled: every length is checked
// before the bytes it covers are read, and the DER walk goes no deeper than a certificate's subject.
#include "stick/SecureBootKeys.h"

#include "base/Guid.h"
#include "base/PackedTexts.h"
#include "base/Unaligned.h"
#include "firmware/ImageSecurity.h"
#include "firmware/SystemTable.h"
#include "print/Print.h"

namespace {

// Real revocation levels are a few dozen bytes and real dbs a few KiB; past these, the firmware's
// answer is taken for damage rather than read.
constexpr UINTN kLevelRoom = 4096;
constexpr UINTN kDbRoom = 512 * 1024;
// The text of a line never reaches this column: lines stay under 80 columns.
constexpr UINTN kLineEnd = 79;

bool IsDigit(UINT8 Character) { return Character >= '0' && Character <= '9'; }

bool IsNameCharacter(UINT8 Character) {
  return IsDigit(Character) || (Character >= 'a' && Character <= 'z') || (Character >= 'A' && Character <= 'Z') ||
         Character == '.' || Character == '_' || Character == '-';
}

// Reads decimal digits from Text[*At], before End, into *Value: 1 to Most of them, or false.
bool ReadNumber(const UINT8 *Text, UINTN End, UINTN *At, UINTN Most, UINT32 *Value) {
  UINTN Start = *At;
  UINT32 Number = 0;
  while (*At < End && IsDigit(Text[*At]) && *At - Start < Most) {
    Number = Number * 10 + (Text[*At] - '0');
    (*At)++;
  }
  *Value = Number;
  return *At > Start && (*At == End || !IsDigit(Text[*At]));
}

// The end of a line: a line feed, which is passed, or the end of the text.
bool EndOfLine(const UINT8 *Text, UINTN End, UINTN *At) {
  if (*At == End) return true;
  if (Text[*At] != '\n') return false;
  (*At)++;
  return true;
}

UINT32 TwoDigits(const UINT8 *Text) { return (UINT32)(Text[0] - '0') * 10 + (Text[1] - '0'); }

// A reader of DER elements inside a bounded run of bytes.
struct DerSpan {
  const UINT8 *At;
  UINTN Left;
};

// Reads one element's tag and content, and moves past it. Lengths take one to four bytes; the
// indefinite form and multi-byte tags have no place in a certificate's fields and end the walk.
bool NextElement(DerSpan *Reader, UINT8 *Tag, DerSpan *Content) {
  if (Reader->Left < 2 || (Reader->At[0] & 0x1F) == 0x1F) return false;
  UINTN Header = 2;
  UINTN Length = Reader->At[1];
  if (Length >= 0x80) {
    UINTN Count = Length & 0x7F;
    if (Count == 0 || Count > 4 || Reader->Left - 2 < Count) return false;
    Length = 0;
    for (UINTN Index = 0; Index < Count; Index++) Length = (Length << 8) | Reader->At[2 + Index];
    Header += Count;
  }
  if (Reader->Left - Header < Length) return false;
  *Tag = Reader->At[0];
  Content->At = Reader->At + Header;
  Content->Left = Length;
  Reader->At += Header + Length;
  Reader->Left -= Header + Length;
  return true;
}

bool NextOfTag(DerSpan *Reader, UINT8 Wanted, DerSpan *Content) {
  UINT8 Tag = 0;
  return NextElement(Reader, &Tag, Content) && Tag == Wanted;
}

constexpr UINT8 kSequence = 0x30;
constexpr UINT8 kSet = 0x31;
constexpr UINT8 kInteger = 0x02;
constexpr UINT8 kObjectIdentifier = 0x06;
constexpr UINT8 kUtf8String = 0x0C;
constexpr UINT8 kPrintableString = 0x13;
constexpr UINT8 kVersionTag = 0xA0;  // [0], explicit
constexpr UINT8 kCommonName[] = {0x55, 0x04, 0x03};  // 2.5.4.3

bool SameBytes(const UINT8 *Bytes, UINTN Length, const char *Text, UINTN TextLength) {
  if (Length != TextLength) return false;
  for (UINTN Index = 0; Index < Length; Index++) {
    if (Bytes[Index] != (UINT8)Text[Index]) return false;
  }
  return true;
}

// Microsoft's CAs in MicrosoftCa's bit order: the subject's common name, and the name the person
// reads after "Microsoft". Packed, so that no table of pointers needs relocating.
constexpr const char *kCaSubjects[] = {"Microsoft Corporation UEFI CA 2011", "Microsoft UEFI CA 2023",
                                       "Microsoft Windows Production PCA 2011", "Windows UEFI CA 2023"};
constexpr const char *kCaNames[] = {"UEFI CA 2011", "UEFI CA 2023", "Windows PCA 2011", "Windows UEFI CA 2023"};
constexpr auto kPackedCaSubjects = PackTexts<kCaSubjects>();
constexpr auto kPackedCaNames = PackTexts<kCaNames>();
constexpr UINTN kCaCount = sizeof kCaSubjects / sizeof kCaSubjects[0];
static_assert(kWindowsUefiCa2023 == 1u << (kCaCount - 1));

UINTN TextLength(const char *Text) {
  UINTN Length = 0;
  while (Text[Length] != 0) Length++;
  return Length;
}

UINTN DecimalWidth(UINTN Value) {
  UINTN Width = 1;
  for (; Value >= 10; Value /= 10) Width++;
  return Width;
}

// Lists of pieces on lines under 80 columns: a piece that would reach the last column, with the
// comma or full stop after it, goes to a new line, indented.
struct PieceLine {
  UINTN Column;
  bool Started;
};

void StartPiece(PieceLine *Line, UINTN Width) {
  if (Line->Started) {
    if (Line->Column + 2 + Width + 1 > kLineEnd) {
      ConsolePrint(u",\n  ");
      Line->Column = 2;
    } else {
      ConsolePrint(u", ");
      Line->Column += 2;
    }
  }
  Line->Started = true;
  Line->Column += Width;
}

// A variable in a fresh pool buffer of its own size, which the caller gives back; at most Room
// bytes. An empty variable comes with no buffer.
EFI_STATUS ReadVariable(const CHAR16 *Name, const EFI_GUID *Vendor, UINTN Room, UINT8 **Data, UINTN *Size) {
  *Data = nullptr;
  *Size = 0;
  EFI_RUNTIME_SERVICES *Runtime = gSystemTable->RuntimeServices;
  if (Runtime == nullptr) return EFI_UNSUPPORTED;
  UINT8 Probe = 0;
  UINTN Needed = 0;
  EFI_STATUS Status = Runtime->GetVariable(Name, Vendor, nullptr, &Needed, &Probe);
  if (Status == EFI_SUCCESS && Needed == 0) return EFI_SUCCESS;
  if (Status != EFI_BUFFER_TOO_SMALL) return EFI_ERROR(Status) ? Status : EFI_BAD_BUFFER_SIZE;
  if (Needed > Room) return EFI_BAD_BUFFER_SIZE;
  UINT8 *Buffer = nullptr;
  if (EFI_ERROR(gBootServices->AllocatePool(EfiBootServicesData, Needed, (VOID **)&Buffer)) || Buffer == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  UINTN Got = Needed;
  Status = Runtime->GetVariable(Name, Vendor, nullptr, &Got, Buffer);
  if (EFI_ERROR(Status) || Got > Needed) {
    gBootServices->FreePool(Buffer);
    return EFI_ERROR(Status) ? Status : EFI_BAD_BUFFER_SIZE;
  }
  *Data = Buffer;
  *Size = Got;
  return EFI_SUCCESS;
}

// Reads a variable, makes sense of it with Parse, and has Say tell the person: what Parse made of
// it, or, given none, that the variable is not there (Absent) or could not be read. The variable's
// memory lives until Say is done: what Parse makes may point into it.
template <typename Record>
void SayVariable(const CHAR16 *Name, const EFI_GUID *Vendor, UINTN Room, bool (*Parse)(const UINT8 *, UINTN, Record *),
                 void (*Say)(const Record *Parsed, bool Absent)) {
  UINT8 *Data = nullptr;
  UINTN Size = 0;
  EFI_STATUS Status = ReadVariable(Name, Vendor, Room, &Data, &Size);
  Record Parsed;
  bool Made = !EFI_ERROR(Status) && Parse(Data, Size, &Parsed);
  Say(Made ? &Parsed : nullptr, Status == EFI_NOT_FOUND);
  if (Data != nullptr) gBootServices->FreePool(Data);
}

void SayRevocationLevel(const SbatLevel *Level, bool Absent) {
  if (Absent) {
    ConsolePrint(u"Quillon: shim left no revocation level to read (no SbatLevelRT).\n");
  } else if (Level == nullptr) {
    ConsolePrint(u"Quillon: the revocation level (SbatLevelRT) could not be read.\n");
  } else if (Level->Count == 0 && Level->More == 0) {
    ConsolePrint(u"Quillon: revocation level from %u-%02u-%02u, which revokes nothing.\n", Level->Year, Level->Month,
                 Level->Day);
  } else {
    ConsolePrint(u"Quillon: revocation level ");
    PieceLine Line = {26, false};
    for (UINTN Index = 0; Index < Level->Count; Index++) {
      const SbatEntry &Entry = Level->Entries[Index];
      StartPiece(&Line, Entry.NameLength + 1 + DecimalWidth(Entry.Generation));
      ConsolePrint(u"%.*a %u", (int)Entry.NameLength, Entry.Name, Entry.Generation);
    }
    if (Level->More > 0) {
      StartPiece(&Line, DecimalWidth(Level->More) + 5);
      ConsolePrint(u"%u more", (UINT32)Level->More);
    }
    StartPiece(&Line, 15);
    ConsolePrint(u"from %u-%02u-%02u.\n", Level->Year, Level->Month, Level->Day);
  }
}

void SayDb(const DbCertificates *Found, bool Absent) {
  if (Absent) {
    ConsolePrint(u"Quillon: the firmware has no db: it holds no keys for Secure Boot.\n");
  } else if (Found == nullptr) {
    ConsolePrint(u"Quillon: the firmware's db could not be read.\n");
  } else if (Found->Microsoft == 0) {
    if (Found->Others == 0) {
      ConsolePrint(u"Quillon: the firmware's db trusts no certificate.\n");
    } else {
      ConsolePrint(u"Quillon: the firmware's db trusts no Microsoft CA (%u other certificate%a).\n",
                   (UINT32)Found->Others, Found->Others == 1 ? "" : "s");
    }
  } else {
    ConsolePrint(u"Quillon: the firmware's db trusts Microsoft ");
    PieceLine Line = {44, false};
    for (UINTN Index = 0; Index < kCaCount; Index++) {
      if ((Found->Microsoft & (1u << Index)) == 0) continue;
      const char *Said = kPackedCaNames[Index];
      StartPiece(&Line, TextLength(Said));
      ConsolePrint(u"%a", Said);
    }
    if (Found->Others > 0) {
      StartPiece(&Line, DecimalWidth(Found->Others) + 22 + (Found->Others == 1 ? 0 : 1));
      ConsolePrint(u"and %u other certificate%a", (UINT32)Found->Others, Found->Others == 1 ? "" : "s");
    }
    ConsolePrint(u".\n");
  }
}

}  // namespace

bool ParseSbatLevel(const UINT8 *Text, UINTN Length, SbatLevel *Level) {
  *Level = SbatLevel{};
  if (Text == nullptr) return false;
  UINTN End = 0;
  while (End < Length && Text[End] != 0) End++;
  // The first line: the format's own name and version, then the level's date and a serial.
  constexpr UINTN kDateDigits = 10;
  if (!SameBytes(Text, End < 7 ? End : 7, "sbat,1,", 7) || End - 7 < kDateDigits) return false;
  const UINT8 *Date = Text + 7;
  for (UINTN Index = 0; Index < kDateDigits; Index++) {
    if (!IsDigit(Date[Index])) return false;
  }
  UINTN At = 7 + kDateDigits;
  if (!EndOfLine(Text, End, &At)) return false;
  Level->Year = (UINT16)(TwoDigits(Date) * 100 + TwoDigits(Date + 2));
  Level->Month = (UINT8)TwoDigits(Date + 4);
  Level->Day = (UINT8)TwoDigits(Date + 6);
  if (Level->Month < 1 || Level->Month > 12 || Level->Day < 1 || Level->Day > 31) return false;
  while (At < End) {
    UINTN Name = At;
    while (At < End && IsNameCharacter(Text[At])) At++;
    UINTN NameLength = At - Name;
    if (NameLength == 0 || NameLength > kSbatNameRoom || At == End || Text[At] != ',') return false;
    At++;
    UINT32 Generation = 0;
    if (!ReadNumber(Text, End, &At, 9, &Generation) || !EndOfLine(Text, End, &At)) return false;
    if (Level->Count < kSbatEntryRoom) {
      Level->Entries[Level->Count++] = {(const CHAR8 *)Text + Name, NameLength, Generation};
    } else {
      Level->More++;
    }
  }
  return true;
}

bool CertificateSubjectName(const UINT8 *Der, UINTN Size, const UINT8 **Name, UINTN *Length) {
  if (Der == nullptr) return false;
  DerSpan Whole = {Der, Size}, Certificate, Signed, Field;
  if (!NextOfTag(&Whole, kSequence, &Certificate) || !NextOfTag(&Certificate, kSequence, &Signed)) return false;
  // The signed part: an optional version, the serial number, the signature's algorithm, the
  // issuer, the validity, and then the subject.
  UINT8 Tag = 0;
  if (!NextElement(&Signed, &Tag, &Field)) return false;
  if (Tag == kVersionTag && !NextElement(&Signed, &Tag, &Field)) return false;
  if (Tag != kInteger) return false;
  for (int Skipped = 0; Skipped < 3; Skipped++) {
    if (!NextOfTag(&Signed, kSequence, &Field)) return false;
  }
  DerSpan Subject;
  if (!NextOfTag(&Signed, kSequence, &Subject)) return false;
  // A name is a sequence of sets of (type, value) pairs.
  DerSpan Names, Pair, Type, Value;
  while (NextOfTag(&Subject, kSet, &Names)) {
    while (NextOfTag(&Names, kSequence, &Pair)) {
      if (!NextOfTag(&Pair, kObjectIdentifier, &Type) || !NextElement(&Pair, &Tag, &Value)) return false;
      if (SameBytes(Type.At, Type.Left, (const char *)kCommonName, sizeof kCommonName) &&
          (Tag == kUtf8String || Tag == kPrintableString)) {
        *Name = Value.At;
        *Length = Value.Left;
        return true;
      }
    }
  }
  return false;
}

bool ReadDbCertificates(const UINT8 *Db, UINTN Size, DbCertificates *Found) {
  *Found = DbCertificates{};
  if (Db == nullptr) return Size == 0;
  UINTN At = 0;
  while (Size - At >= sizeof(EFI_SIGNATURE_LIST)) {
    const UINT8 *List = Db + At;
    UINTN ListSize = LoadUnaligned32(List + offsetof(EFI_SIGNATURE_LIST, SignatureListSize));
    UINTN HeaderSize = LoadUnaligned32(List + offsetof(EFI_SIGNATURE_LIST, SignatureHeaderSize));
    UINTN EntrySize = LoadUnaligned32(List + offsetof(EFI_SIGNATURE_LIST, SignatureSize));
    if (ListSize < sizeof(EFI_SIGNATURE_LIST) || ListSize > Size - At) return false;
    UINTN Entries = ListSize - sizeof(EFI_SIGNATURE_LIST);
    if (HeaderSize > Entries || EntrySize <= kSignatureOwnerBytes || (Entries - HeaderSize) % EntrySize != 0) {
      return false;
    }
    if (GuidEquals(List, &EFI_CERT_X509_GUID)) {
      for (UINTN Entry = sizeof(EFI_SIGNATURE_LIST) + HeaderSize; Entry < ListSize; Entry += EntrySize) {
        const UINT8 *Name = nullptr;
        UINTN Length = 0;
        UINT32 Bit = 0;
        if (CertificateSubjectName(List + Entry + kSignatureOwnerBytes, EntrySize - kSignatureOwnerBytes, &Name,
                                   &Length)) {
          for (UINTN Index = 0; Index < kCaCount; Index++) {
            const char *Subject = kPackedCaSubjects[Index];
            if (SameBytes(Name, Length, Subject, TextLength(Subject))) Bit = 1u << Index;
          }
        }
        Found->Microsoft |= Bit;
        if (Bit == 0) Found->Others++;
      }
    }
    At += ListSize;
  }
  return At == Size;
}

void SayFirmwareKeys() {
  SayVariable(u"SbatLevelRT", &SHIM_LOCK_GUID, kLevelRoom, ParseSbatLevel, SayRevocationLevel);
  SayVariable(u"db", &EFI_IMAGE_SECURITY_DATABASE_GUID, kDbRoom, ReadDbCertificates, SayDb);
}
