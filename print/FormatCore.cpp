// The format engine, with two ways in: FormatCore reads a format at run time, copying literal runs
// and scanning each directive with the grammar's scanner; FormatProgram runs a format parsed while
// compiling. Either way a directive is then the same: fetch its arguments, build its text, emit the
// text with its padding. Every write goes through one bound, the end of the buffer less room for
// the terminator, so no width or precision can run past it.
#include "base/BoundedLength.h"
#include "base/Unaligned.h"
#include "print/FormatInternal.h"
#include "print/Print.h"

namespace {

struct Output {
  UINT8 *Position;
  UINT8 *End;  // the last unit is kept for the terminator
  UINTN Unit;
};

struct ArgumentCursor {
  const UINT64 *Slots;
  UINTN Count;
  UINTN Next;
};

// A directive as the grammar read it, its arguments fetched, and its text.
struct Field : DirectiveSpec {
  CHAR8 Prefix;  // 0, ' ', '+' or '-'
  bool Grouping;
  UINTN GroupCounter;
  const VOID *Text;
  UINT64 Count;  // numbers only; other texts are counted when emitted
  CHAR16 Character[2];  // the text of a one-character conversion
};

// A directive asking for more arguments than were passed reads 0, never past the list.
inline UINT64 TakeSlot(ArgumentCursor &Arguments) {
  return Arguments.Next < Arguments.Count ? Arguments.Slots[Arguments.Next++] : 0;
}

inline UINT16 ReadUnit(const UINT8 *Text, UINTN Unit) {
  return Unit == 2 ? LoadUnaligned16(Text) : *Text;
}

inline void StoreUnit(UINT8 *Position, UINT16 Character, UINTN Unit) {
  if (Unit == 2) {
    __builtin_memcpy(Position, &Character, 2);
  } else {
    *Position = (UINT8)Character;
  }
}

inline void PutChar(Output &Out, UINT16 Character) {
  if (Out.Position < Out.End) {
    StoreUnit(Out.Position, Character, Out.Unit);
    Out.Position += Out.Unit;
  }
}

inline void Fill(Output &Out, INT64 Count, UINT16 Character) {
  if (Count > 0) Out.Position = FillChars(Out.Position, Out.End, Count, Character, Out.Unit);
}

// Units are 1 or 2 bytes: a shift, not a division, turns bytes into units.
inline UINTN InUnits(INTN Bytes, UINTN Unit) { return (UINTN)Bytes >> (Unit - 1); }

inline UINTN RoomLeft(const Output &Out) { return InUnits(Out.End - Out.Position, Out.Unit); }

inline bool IsSpecial(UINT16 Character) {
  return Character == '%' || Character == '\n' || Character == '\r' || Character == 0;
}

// Copies Bytes (fewer than 16) from From to To with at most two loads and stores of each width.
inline void CopyShort(UINT8 *To, const UINT8 *From, UINTN Bytes) {
  if (Bytes >= 8) {
    UINT64 Head, Tail;
    __builtin_memcpy(&Head, From, 8);
    __builtin_memcpy(&Tail, From + Bytes - 8, 8);
    __builtin_memcpy(To, &Head, 8);
    __builtin_memcpy(To + Bytes - 8, &Tail, 8);
  } else if (Bytes >= 4) {
    UINT32 Head, Tail;
    __builtin_memcpy(&Head, From, 4);
    __builtin_memcpy(&Tail, From + Bytes - 4, 4);
    __builtin_memcpy(To, &Head, 4);
    __builtin_memcpy(To + Bytes - 4, &Tail, 4);
  } else {
    for (UINTN Index = 0; Index < Bytes; Index++) To[Index] = From[Index];
  }
}

// Marks the lanes of Word below Bound (at most the top bit of a lane): the top bit of each such lane
// is set, and the lowest set bit is always that of the first such lane (a lane above one may be
// marked by the borrow). Ones holds a 1 in the lowest bit of every lane, Highs in the highest.
inline UINT64 LanesBelow(UINT64 Word, UINT64 Bound, UINT64 Ones, UINT64 Highs) {
  return (Word - Ones * Bound) & ~Word & Highs;
}

// Copies a literal run a word at a time, in general registers (the images use no vector registers),
// while both the format (up to its terminator at FormatEnd) and the room in the buffer hold sixteen
// more bytes; format and output have one width, Lane. Stops at the first '%' or unit up to '\r':
// one test takes in the terminator and both line ends, and the few other control characters it also
// stops at are left to the caller, which copies them one by one.
template <typename Lane>
const UINT8 *CopyWords(Output &Out, const UINT8 *Format, const UINT8 *FormatEnd) {
  constexpr UINT64 Ones = sizeof(Lane) == 1 ? 0x0101010101010101ull : 0x0001000100010001ull;
  constexpr UINT64 Highs = Ones << (8 * sizeof(Lane) - 1);
  auto Specials = [](UINT64 Word) {
    return LanesBelow(Word, '\r' + 1, Ones, Highs) | LanesBelow(Word ^ (Ones * '%'), 1, Ones, Highs);
  };
  UINT8 *To = Out.Position;
  // Two words a step: the loop's own work is then spread over sixteen bytes.
  while (FormatEnd - Format >= 16 && Out.End - To >= 16) {
    UINT64 Words[2];
    __builtin_memcpy(Words, Format, 16);
    UINT64 Marks[2] = {Specials(Words[0]), Specials(Words[1])};
    if ((Marks[0] | Marks[1]) != 0) {
      UINTN Bit = Marks[0] != 0 ? (UINTN)__builtin_ctzll(Marks[0]) : 64 + (UINTN)__builtin_ctzll(Marks[1]);
      UINTN Bytes = Bit / (8 * sizeof(Lane)) * sizeof(Lane);
      CopyShort(To, Format, Bytes);
      Out.Position = To + Bytes;
      return Format + Bytes;
    }
    __builtin_memcpy(To, Words, 16);
    To += 16;
    Format += 16;
  }
  Out.Position = To;
  return Format;
}

// Copies format characters one at a time up to the next '%', line end or terminator, as far as
// room allows; the widths are constants so the loop has no branch on them.
template <UINTN InUnit, UINTN OutUnit>
const UINT8 *CopyUnits(Output &Out, const UINT8 *Format) {
  UINTN Room = RoomLeft(Out);
  UINT8 *To = Out.Position;
  for (; Room != 0; Room--, Format += InUnit, To += OutUnit) {
    UINT16 Character = ReadUnit(Format, InUnit);
    if (IsSpecial(Character)) break;
    StoreUnit(To, Character, OutUnit);
  }
  Out.Position = To;
  return Format;
}

// Copies format characters up to the next '%', line end or terminator, as far as room allows;
// each is its own one-character text with nothing around it. Returns the first character not copied.
const UINT8 *CopyLiteralRun(Output &Out, const UINT8 *Format, const UINT8 *FormatEnd, UINTN InUnit) {
  if (InUnit == Out.Unit) {
    Format = InUnit == 1 ? CopyWords<UINT8>(Out, Format, FormatEnd) : CopyWords<UINT16>(Out, Format, FormatEnd);
  }
  switch (InUnit * 2 + Out.Unit) {
    case 3: return CopyUnits<1, 1>(Out, Format);
    case 6: return CopyUnits<2, 2>(Out, Format);
    case 5: return CopyUnits<2, 1>(Out, Format);
    default: return CopyUnits<1, 2>(Out, Format);
  }
}

UINT64 CountUnits(const VOID *Text, UINTN TextUnit, UINT64 Limit) {
  const UINT8 *Units = (const UINT8 *)Text;
  UINT64 Count = 0;
  while (Count < Limit && ReadUnit(Units + Count * TextUnit, TextUnit) != 0) Count++;
  return Count;
}

// Blanks to the width: before a right-justified field (Left false), after a left-justified one.
inline void PadToWidth(Output &Out, const Field &F, UINT64 Precision, bool Left) {
  if ((F.Flags & FMT_WIDTH) != 0 && ((F.Flags & FMT_LEFT) != 0) == Left) {
    Fill(Out, (INT64)(F.Width - Precision), ' ');
  }
}

// Writes a number: blanks to the width, the prefix, zeros to the precision, then the digits, read
// backwards from the most significant one, with a ',' between groups of three when grouping.
void EmitNumber(Output &Out, Field &F) {
  const UINT64 Count = F.Count;
  const UINT64 Precision = F.Precision > Count ? F.Precision : Count;
  PadToWidth(Out, F, Precision, false);
  UINT64 Place = 0;
  if (F.Prefix != 0) {
    PutChar(Out, (UINT8)F.Prefix);
    Place = 1;
  }
  Fill(Out, (INT64)(Precision - Count), '0');

  const CHAR8 *Digit = (const CHAR8 *)F.Text;
  if (!F.Grouping) {
    UINT64 Units = Count - Place;
    UINTN Room = RoomLeft(Out);
    if (Units > Room) Units = Room;
    UINT8 *To = Out.Position;
    if (Out.Unit == 2) {
      for (UINT64 Index = 0; Index < Units; Index++, To += 2) StoreUnit(To, (UINT8)*Digit--, 2);
    } else {
      for (UINT64 Index = 0; Index < Units; Index++, To++) *To = (UINT8)*Digit--;
    }
    Out.Position = To;
  } else {
    for (; Place < Count && Out.Position < Out.End; Place++) {
      PutChar(Out, (UINT8)*Digit--);
      if (++F.GroupCounter == 3) {
        F.GroupCounter = 0;
        if (Place + 1 < Count) {
          PutChar(Out, ',');
          Place++;
        }
      }
    }
  }
  PadToWidth(Out, F, Precision, true);
}

// Writes any other text: blanks to the width and to the precision, then the text's units, at most
// Precision of them when a precision was given.
void EmitText(Output &Out, const Field &F) {
  const UINTN TextUnit = (F.Flags & FMT_ARG_WIDE) != 0 ? 2 : 1;
  const UINT64 Count = CountUnits(F.Text, TextUnit, (F.Flags & FMT_PRECISION) != 0 ? F.Precision : ~(UINT64)0);
  const UINT64 Precision = F.Precision > Count ? F.Precision : Count;
  PadToWidth(Out, F, Precision, false);
  Fill(Out, (INT64)(Precision - Count), ' ');

  UINT64 Units = Count;
  UINTN Room = RoomLeft(Out);
  if (Units > Room) Units = Room;
  const UINT8 *Text = (const UINT8 *)F.Text;
  UINT8 *To = Out.Position;
  for (UINT64 Index = 0; Index < Units; Index++, Text += TextUnit, To += Out.Unit) {
    StoreUnit(To, ReadUnit(Text, TextUnit), Out.Unit);
  }
  Out.Position = To;
  PadToWidth(Out, F, Precision, true);
}

// Builds the digits of a number directive in ValueBuffer and sets its prefix, count and precision.
void NumberText(Field &F, UINT64 Slot, CHAR8 *ValueBuffer) {
  UINT64 Value = (F.Flags & FMT_LONG) != 0 ? Slot : (UINT64)(INT64)(int32_t)Slot;
  if ((F.Flags & FMT_SPACE) != 0) F.Prefix = ' ';
  if ((F.Flags & FMT_PLUS) != 0) F.Prefix = '+';

  UINT32 Radix;
  if ((F.Flags & FMT_HEX) != 0) {
    Radix = 16;
    if ((F.Flags & FMT_LONG) == 0) Value = (UINT32)Value;
  } else {
    Radix = 10;
    if ((F.Flags & FMT_GROUP) != 0) {
      F.Grouping = true;
      F.Flags &= ~FMT_ZERO;
      F.Precision = 1;
    }
    if ((INT64)Value < 0 && (F.Flags & FMT_UNSIGNED) == 0) {
      F.Prefix = '-';
      Value = 0 - Value;  // unsigned negation: the most negative value has no signed negation
    } else if ((F.Flags & FMT_UNSIGNED) != 0 && (F.Flags & FMT_LONG) == 0) {
      Value = (UINT32)Value;
    }
  }

  // Constant radixes let the division become a multiply or a shift.
  CHAR8 *MostSignificant =
      Radix == 16 ? DigitsReversed(ValueBuffer, Value, 16) : DigitsReversed(ValueBuffer, Value, 10);
  // At most 20 digits: a count that divides natively on every target.
  UINTN Count = (UINTN)(MostSignificant - ValueBuffer);
  if (Value == 0 && F.Precision == 0) Count = 0;

  if (F.Grouping) {
    // The counter starts so that it reaches 3 after the leading group, however short that is.
    F.GroupCounter = Count % 3;
    if (F.GroupCounter != 0) F.GroupCounter = 3 - F.GroupCounter;
    if (Count != 0) Count += (Count - 1) / 3;
  }
  if (F.Prefix != 0) {
    Count++;
    F.Precision++;
  }
  F.Count = Count;
  F.Text = MostSignificant;
  F.Flags |= FMT_REVERSED;  // numbers are zero-filled to their precision
  if ((F.Flags & (FMT_ZERO | FMT_WIDTH)) == (FMT_ZERO | FMT_WIDTH) && (F.Flags & (FMT_LEFT | FMT_PRECISION)) == 0) {
    F.Precision = F.Width;
  }
}

void CharacterText(Field &F, UINT16 Character) {
  F.Character[0] = Character;
  F.Character[1] = 0;
  F.Text = F.Character;
  F.Flags |= FMT_ARG_WIDE;
}

void StringText(Field &F, UINT64 Slot, bool Wide) {
  if (Slot == 0) {
    F.Text = "<null string>";
  } else {
    F.Text = (const VOID *)(UINTN)Slot;
    if (Wide) F.Flags |= FMT_ARG_WIDE;
  }
  if ((F.Flags & FMT_PRECISION) == 0) F.Precision = 0;
}

// Fetches the argument of the conversion Character and builds its text in F. Formats parsed while
// compiling hold no GUID or time conversion (they stay runtime formats), so the engine that runs
// them leaves those two out.
template <bool WithRecords>
void Conversion(Field &F, UINT16 Character, ArgumentCursor &Arguments, CHAR8 *ValueBuffer) {
  if constexpr (WithRecords) {
    if (Character == 'g') {
      F.Text = GuidText((const VOID *)(UINTN)TakeSlot(Arguments), ValueBuffer);
      return;
    }
    if (Character == 't') {
      F.Text = TimeText((const VOID *)(UINTN)TakeSlot(Arguments), ValueBuffer);
      return;
    }
  }
  switch (Character) {
    case 'u':
      F.Flags = (F.Flags & ~FMT_PLUS) | FMT_UNSIGNED;
      break;
    case 'x':
      F.Flags |= FMT_HEX;
      break;
    case 'X':
      F.Flags |= FMT_ZERO | FMT_HEX;
      break;
    case 'p':
      F.Flags = (F.Flags & ~(FMT_PLUS | FMT_SPACE)) | FMT_LONG | FMT_ZERO | FMT_HEX;
      break;
    case 'd':
      break;
    case 'c':
      CharacterText(F, (UINT16)TakeSlot(Arguments));
      return;
    case 's':
    case 'S':
      StringText(F, TakeSlot(Arguments), true);
      return;
    case 'a':
      StringText(F, TakeSlot(Arguments), false);
      return;
    case 'r':
      F.Text = StatusText((EFI_STATUS)TakeSlot(Arguments), ValueBuffer);  // a status is UINTN wide
      return;
    case '\n':
      F.Text = "\r\n";
      return;
    case '\r':
      F.Text = "\r";
      return;
    default:
      CharacterText(F, Character);
      return;
  }
  NumberText(F, TakeSlot(Arguments), ValueBuffer);
}

// Hexadecimal digits of Value, most significant first, as far as room allows.
void WriteHex(Output &Out, UINT64 Value) {
  UINTN Count = (UINTN)(64 - __builtin_clzll(Value | 1) + 3) / 4;
  UINTN Written = Count < RoomLeft(Out) ? Count : RoomLeft(Out);
  UINTN Shift = 4 * Count;
  UINT8 *To = Out.Position;
  if (Out.Unit == 2) {
    for (UINTN Place = 0; Place < Written; Place++, To += 2) {
      StoreUnit(To, (UINT8)kFormatDigits[Value >> (Shift -= 4) & 0xF], 2);
    }
  } else {
    for (UINTN Place = 0; Place < Written; Place++, To++) *To = (UINT8)kFormatDigits[Value >> (Shift -= 4) & 0xF];
  }
  Out.Position = To;
}

// The commonest directives when they carry no flag but 'l', no width and no precision:
// hexadecimal numbers and characters, written straight out, as the general path would write
// them. False for any other directive, which has taken nothing then. Flags may also be a step's
// byte of flags: FMT_LONG has the same place in both, and any other flag is set in either.
inline bool WritePlainDirective(Output &Out, UINT16 Conversion, UINTN Flags, UINTN Stars,
                                ArgumentCursor &Arguments) {
  if ((Flags & ~FMT_LONG) != 0 || Stars != 0) return false;
  switch (Conversion) {
    case 'x':
    case 'X':
    case 'p': {
      UINT64 Value = TakeSlot(Arguments);
      if ((Flags & FMT_LONG) == 0 && Conversion != 'p') Value = (UINT32)Value;
      WriteHex(Out, Value);
      return true;
    }
    case 'c': {
      UINT16 Character = (UINT16)TakeSlot(Arguments);
      PutChar(Out, Character != 0 ? Character : ' ');  // a zero character shows as a blank
      return true;
    }
    default:
      return false;
  }
}

// One directive, its spec as the grammar read it already in F: take its '*' slots, fetch its
// argument, emit its text. Out of line, the loop that calls it stays small: inlined, it costs the
// x64 image 256 bytes.
template <bool WithRecords>
[[gnu::noinline]] void WriteDirective(Output &Out, Field &F, ArgumentCursor &Arguments) {
  CHAR8 ValueBuffer[FORMAT_VALUE_CHARACTERS];
  F.Prefix = 0;
  F.Grouping = false;
  F.GroupCounter = 0;
  for (UINTN Star = 1; Star <= F.Stars; Star++) {
    UINT64 Slot = TakeSlot(Arguments);
    if (Star == F.WidthStar) F.Width = Slot;
    if (Star == F.PrecisionStar) F.Precision = Slot;
  }
  if (F.Conversion == 0) {
    // The format ends inside the directive: only a width already given comes out, as blanks.
    F.Precision = 0;
    F.Text = "";
  } else {
    Conversion<WithRecords>(F, F.Conversion, Arguments, ValueBuffer);
  }
  if ((F.Flags & FMT_REVERSED) != 0) {
    EmitNumber(Out, F);
  } else {
    EmitText(Out, F);
  }
}

// The units of a UCS-2 format at any byte address.
struct UnalignedWideUnits {
  const UINT8 *Bytes;
  UINT16 operator[](UINTN Index) const { return LoadUnaligned16(Bytes + 2 * Index); }
};

// Scans the directive whose '%' is at Format and writes it; returns the format unit after it.
inline const UINT8 *ScanAndWriteDirective(Output &Out, const UINT8 *Format, UINTN InUnit,
                                          ArgumentCursor &Arguments) {
  Field F;
  if (InUnit == 2) {
    ScanDirective(UnalignedWideUnits{Format}, 1, F);
  } else {
    ScanDirective(FormatUnits<UINT8>{Format}, 1, F);
  }
  if (!WritePlainDirective(Out, F.Conversion, F.Flags, F.Stars, Arguments)) WriteDirective<true>(Out, F, Arguments);
  return Format + (1 + F.Units) * InUnit;
}

// Four units of 8-bit text as four UCS-2 units, spread within one 64-bit word.
inline void WidenFour(UINT8 *To, const CHAR8 *From) {
  UINT32 Narrow;
  __builtin_memcpy(&Narrow, From, 4);
  UINT64 Wide = Narrow;
  Wide = (Wide | Wide << 16) & 0x0000FFFF0000FFFFull;
  Wide = (Wide | Wide << 8) & 0x00FF00FF00FF00FFull;
  __builtin_memcpy(To, &Wide, 8);
}

// Eight units of 8-bit text as eight UCS-2 units, four at a time in general registers.
inline void WidenEight(UINT8 *To, const CHAR8 *From) {
  WidenFour(To, From);
  WidenFour(To + 8, From + 4);
}

// Copies Units units of 8-bit program text, widened to the output's units, as far as room allows.
// Eight or four at a time; a last block that would run past the end overlaps the one before.
void CopyProgramText(Output &Out, const CHAR8 *Text, UINTN Units) {
  UINTN Room = RoomLeft(Out);
  if (Units > Room) Units = Room;
  UINT8 *To = Out.Position;
  if (Out.Unit == 1) {
    __builtin_memcpy(To, Text, Units);
  } else if (Units >= 8) {
    for (UINTN Done = 0; Done < Units - 8; Done += 8) WidenEight(To + 2 * Done, Text + Done);
    WidenEight(To + 2 * (Units - 8), Text + Units - 8);
  } else if (Units >= 4) {
    WidenFour(To, Text);
    WidenFour(To + 2 * (Units - 4), Text + Units - 4);
  } else {
    for (UINTN Index = 0; Index < Units; Index++) StoreUnit(To + 2 * Index, (UINT8)Text[Index], 2);
  }
  Out.Position = To + Units * Out.Unit;
}

}  // namespace

UINT8 *FillChars(UINT8 *Position, UINT8 *End, INT64 Count, UINT16 Character, UINTN Unit) {
  if (Count <= 0 || Position >= End) {
    return Position;
  }
  UINT64 Room = InUnits(End - Position, Unit);
  UINT64 Units = (UINT64)Count < Room ? (UINT64)Count : Room;
  if (Unit == 1) {
    for (UINT64 Index = 0; Index < Units; Index++) Position[Index] = (UINT8)Character;
  } else {
    for (UINT64 Index = 0; Index < Units; Index++) __builtin_memcpy(Position + 2 * Index, &Character, 2);
  }
  return Position + Units * Unit;
}

namespace {

// The output of both ways in: Size units (FMT_OUT_WIDE: two bytes each), the last kept for the
// terminator; Size is at least 1.
Output StartOutput(VOID *Buffer, UINTN Size, UINTN Flags) {
  Output Out;
  Out.Unit = (Flags & FMT_OUT_WIDE) != 0 ? 2 : 1;
  Out.Position = (UINT8 *)Buffer;
  Out.End = Out.Position + (Size - 1) * Out.Unit;
  return Out;
}

ArgumentCursor StartArguments(const FormatArguments &Arguments) {
  return ArgumentCursor{Arguments.Slots, Arguments.Slots != nullptr ? Arguments.Count : 0, 0};
}

// Terminates the text and returns the units written before the terminator.
UINTN FinishOutput(Output &Out, VOID *Buffer) {
  StoreUnit(Out.Position, 0, Out.Unit);
  return InUnits(Out.Position - (UINT8 *)Buffer, Out.Unit);
}

}  // namespace

UINTN FormatCore(VOID *Buffer, UINTN Size, UINTN Flags, const VOID *Format, FormatArguments Arguments) {
  if (Size > 0 && Buffer == nullptr) return 0;
  if (Size > 0 && Format == nullptr) return 0;
  if (Size > FORMAT_MAXIMUM_LENGTH) return 0;
  UINT64 FormatLength = (Flags & FMT_IN_WIDE) != 0
                            ? BoundedLength((const CHAR16 *)Format, FORMAT_MAXIMUM_LENGTH + 1)
                            : BoundedLength((const CHAR8 *)Format, FORMAT_MAXIMUM_LENGTH + 1);
  if (FormatLength > FORMAT_MAXIMUM_LENGTH) return 0;
  if (Size == 0) return 0;

  UINTN InUnit = (Flags & FMT_IN_WIDE) != 0 ? 2 : 1;
  Output Out = StartOutput(Buffer, Size, Flags);
  ArgumentCursor Cursor = StartArguments(Arguments);
  const UINT8 *At = (const UINT8 *)Format;
  const UINT8 *FormatEnd = At + FormatLength * InUnit;  // the terminator
  for (;;) {
    UINT16 Character = ReadUnit(At, InUnit);
    if (Character == 0 || Out.Position >= Out.End) break;
    if (Character != '%' && Character != '\n' && Character != '\r') {
      At = CopyLiteralRun(Out, At, FormatEnd, InUnit);
      continue;
    }
    if (Character != '%') {
      bool Pair = false;
      At += InUnit * (InUnit == 2 ? LineEndUnits(UnalignedWideUnits{At}, 0, &Pair)
                                  : LineEndUnits(FormatUnits<UINT8>{At}, 0, &Pair));
      PutChar(Out, '\r');
      if (Pair) PutChar(Out, '\n');
      continue;
    }
    At = ScanAndWriteDirective(Out, At, InUnit, Cursor);
  }

  return FinishOutput(Out, Buffer);
}

UINTN FormatProgram(VOID *Buffer, UINTN Size, UINTN Flags, const UINT8 *Program, FormatArguments Arguments) {
  if (Buffer == nullptr || Size == 0 || Size > FORMAT_MAXIMUM_LENGTH) return 0;
  Output Out = StartOutput(Buffer, Size, Flags);
  ArgumentCursor Cursor = StartArguments(Arguments);
  for (const UINT8 *Step = Program;;) {
    UINTN Units = Step[0];
    UINT8 Follows = Step[1];
    CopyProgramText(Out, (const CHAR8 *)Step + kStepHeadBytes, Units);
    Step += kStepHeadBytes + Units;
    if (Follows == kStepEnd) break;
    if (Follows == kStepLiteral) continue;
    const UINT8 *Fields = (const UINT8 *)&kBareFields;
    if ((Follows & kStepBare) == 0) {
      Fields = Step;
      Step += sizeof(FormatStepFields);
    }
    Follows &= (UINT8)~kStepBare;
    // A full buffer takes no more directives, as when the engine scans the format.
    if (Out.Position >= Out.End) continue;
    if (WritePlainDirective(Out, Follows, Fields[offsetof(FormatStepFields, Flags)],
                            Fields[offsetof(FormatStepFields, Stars)], Cursor)) {
      continue;
    }
    Field F;
    StepDirective(Follows, Fields, F);
    WriteDirective<false>(Out, F, Cursor);
  }
  return FinishOutput(Out, Buffer);
}
