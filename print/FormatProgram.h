// Formats parsed while compiling. A literal format becomes a program the engine runs without
// reading the format again: its literal text with line ends already made "\r\n", and for each
// directive the flags, width, precision and '*' slots the grammar read. The parse is the grammar's
// own (print/FormatGrammar.h), so a program writes exactly what the engine writes when it scans the
// same format at run time. A format the compact steps cannot hold (a unit above 0xFF in its text, a
// width or precision above 255, more than three '*' in a directive, a GUID or time conversion) stays
// a runtime format.
//
// A program is bytes, its steps one after another, each literal text and then at most one
// directive: the text's units (one byte), what follows the text (one byte: kStepEnd, kStepLiteral
// or a directive, perhaps with kStepBare), the text itself, 8-bit, and only for a directive that
// is not bare its fields (FormatStepFields).
// A program is kept for every literal format of an image, so nothing in it is there for nothing.
#pragma once

#include "print/FormatGrammar.h"

constexpr UINTN kStepHeadBytes = 2;  // the text's units, then what follows the text

constexpr UINT8 kStepEnd = 0;       // the last step: its literal text, then the terminator
constexpr UINT8 kStepLiteral = 1;   // literal text only; the program goes on
constexpr UINT8 kStepDangling = 2;  // the format ends inside a directive: only its width, as blanks
// With this bit, what follows the text is a directive with no flag, width, precision or '*', the
// commonest kind, and its fields are left out: they would be kBareFields (the grammar's precision
// is 1 unless a '.' says otherwise).
constexpr UINT8 kStepBare = 0x80;

// A directive's fields in a step.
struct FormatStepFields {
  UINT8 Flags;      // the directive's flags in a byte: FMT_LEFT to FMT_ZERO where they are,
                    // FMT_WIDTH as kStepWidth and FMT_PRECISION as kStepPrecision
  UINT8 Width;
  UINT8 Precision;
  UINT8 Stars;      // the '*' slots taken, then the width's and the precision's, two bits each
};
static_assert(sizeof(FormatStepFields) == 4 && alignof(FormatStepFields) == 1);

constexpr FormatStepFields kBareFields = {0, 0, 1, 0};

// The flags the grammar sets that keep their place in a step's byte, and the two that move into it.
constexpr UINTN kStepPlainFlags = FMT_LEFT | FMT_PLUS | FMT_SPACE | FMT_GROUP | FMT_LONG | FMT_ZERO;
constexpr UINT8 kStepWidth = 0x40;
constexpr UINT8 kStepPrecision = 0x80;
static_assert(kStepPlainFlags < kStepWidth && FMT_WIDTH == kStepWidth << 3 && FMT_PRECISION == kStepPrecision << 4);

// What a format compiles to, and whether it does at all.
struct FormatShape {
  UINTN Bytes;  // of the program
  UINTN Slots;  // argument slots the format takes, whether it compiles or not
  bool Compiles;
  bool WideFormat;  // the format's own units are UCS-2
};

// The directive as what follows a step's text and its fields; false when a step cannot hold it.
constexpr bool DirectiveStep(const DirectiveSpec &Spec, UINT8 *Follows, FormatStepFields *Fields) {
  UINT16 Conversion = Spec.Conversion;
  bool Printable = (Conversion >= 0x20 && Conversion < 0x7F) || Conversion == '\n' || Conversion == '\r';
  if (!Printable && Conversion != 0) return false;
  // GUID and time texts are runtime formats' alone: no image prints one, and the engine that runs
  // programs is smaller without them.
  if (Conversion == 'g' || Conversion == 't') return false;
  if (Spec.Width > 0xFF || Spec.Precision > 0xFF || Spec.Stars > 3) return false;
  UINT8 Flags = (UINT8)((Spec.Flags & kStepPlainFlags) | ((Spec.Flags & FMT_WIDTH) != 0 ? kStepWidth : 0) |
                        ((Spec.Flags & FMT_PRECISION) != 0 ? kStepPrecision : 0));
  *Follows = Conversion == 0 ? kStepDangling : (UINT8)Conversion;
  *Fields = FormatStepFields{Flags, (UINT8)Spec.Width, (UINT8)Spec.Precision,
                             (UINT8)(Spec.Stars | Spec.WidthStar << 2 | Spec.PrecisionStar << 4)};
  return true;
}

// The directive a step holds, as the grammar read it, from what follows the step's text and the
// fields after it. Byte by byte: the engine reads the fields one by one right after.
constexpr void StepDirective(UINT8 Follows, const UINT8 *Fields, DirectiveSpec &Spec) {
  UINT8 Flags = Fields[offsetof(FormatStepFields, Flags)];
  UINT8 Stars = Fields[offsetof(FormatStepFields, Stars)];
  Spec.Flags = (Flags & kStepPlainFlags) | (Flags & kStepWidth) << 3 | (Flags & kStepPrecision) << 4;
  Spec.Width = Fields[offsetof(FormatStepFields, Width)];
  Spec.Precision = Fields[offsetof(FormatStepFields, Precision)];
  Spec.Stars = Stars & 3;
  Spec.WidthStar = Stars >> 2 & 3;
  Spec.PrecisionStar = Stars >> 4 & 3;
  Spec.Conversion = Follows == kStepDangling ? 0 : Follows;
  Spec.Units = 0;
}

// Parses a format into Program, or only measures it when Program is null. Used while compiling for
// every literal format, and at run time by tests that hold both paths against each other.
template <typename Reader>
constexpr FormatShape CompileFormatInto(const Reader &Format, bool WideFormat, UINT8 *Program) {
  FormatShape Shape = {kStepHeadBytes, 0, true, WideFormat};
  UINTN Step = 0;     // where the step being built starts
  UINTN Literal = 0;  // units of text in it
  auto Close = [&](UINT8 Follows, const FormatStepFields *Fields) {
    if (Program != nullptr) {
      Program[Step] = (UINT8)Literal;
      Program[Step + 1] = Follows;
      if (Fields != nullptr) {
        Program[Shape.Bytes + offsetof(FormatStepFields, Flags)] = Fields->Flags;
        Program[Shape.Bytes + offsetof(FormatStepFields, Width)] = Fields->Width;
        Program[Shape.Bytes + offsetof(FormatStepFields, Precision)] = Fields->Precision;
        Program[Shape.Bytes + offsetof(FormatStepFields, Stars)] = Fields->Stars;
      }
    }
    if (Fields != nullptr) Shape.Bytes += sizeof(FormatStepFields);
    if (Follows == kStepEnd) return;
    Step = Shape.Bytes;
    Shape.Bytes += kStepHeadBytes;
    Literal = 0;
  };
  auto Put = [&](UINT16 Unit) {
    if (Unit > 0xFF) Shape.Compiles = false;
    if (Literal == 0xFF) Close(kStepLiteral, nullptr);
    if (Program != nullptr) Program[Shape.Bytes] = (UINT8)Unit;
    Shape.Bytes++;
    Literal++;
  };
  UINTN Index = 0;
  for (;;) {
    UINT16 Character = Format[Index];
    if (Character == 0 || Index > FORMAT_MAXIMUM_LENGTH) {
      if (Index > FORMAT_MAXIMUM_LENGTH) Shape.Compiles = false;  // the engine refuses it whole
      Close(kStepEnd, nullptr);
      return Shape;
    }
    if (Character == '\n' || Character == '\r') {
      bool Pair = false;
      Index += LineEndUnits(Format, Index, &Pair);
      Put('\r');
      if (Pair) Put('\n');
      continue;
    }
    if (Character != '%') {
      Put(Character);
      Index++;
      continue;
    }
    DirectiveSpec Spec = {};
    ScanDirective(Format, Index + 1, Spec);
    Index += 1 + Spec.Units;
    Shape.Slots += Spec.Stars + (TakesArgument(Spec.Conversion) ? 1 : 0);
    // A character standing for itself, with nothing to pad it to, is literal text.
    bool Padded = (Spec.Flags & (FMT_WIDTH | FMT_PRECISION)) != 0;
    if (!Padded && Spec.Conversion != 0 && !TakesArgument(Spec.Conversion)) {
      if (Spec.Conversion == '\n') {
        Put('\r');
        Put('\n');
      } else {
        Put(Spec.Conversion);
      }
      continue;
    }
    UINT8 Follows = 0;
    FormatStepFields Fields = {};
    if (!DirectiveStep(Spec, &Follows, &Fields)) Shape.Compiles = false;
    bool Bare = Fields.Flags == kBareFields.Flags && Fields.Width == kBareFields.Width &&
                Fields.Precision == kBareFields.Precision && Fields.Stars == kBareFields.Stars;
    Close(Bare ? (UINT8)(Follows | kStepBare) : Follows, Bare ? nullptr : &Fields);
  }
}

// A format parsed while compiling: its program, or, when it does not compile, the format itself for
// the runtime engine. Each holds only what it is run from.
template <FormatShape Shape, bool Compiles = Shape.Compiles>
struct CompiledFormat {
  UINT8 Program[Shape.Bytes];
};

template <FormatShape Shape>
struct CompiledFormat<Shape, false> {
  const VOID *Runtime;
};

template <typename Unit, UINTN Length>
consteval FormatShape ShapeOfFormat(const Unit (&Literal)[Length]) {
  return CompileFormatInto(FormatUnits<Unit>{Literal}, sizeof(Unit) == 2, nullptr);
}

template <FormatShape Shape, typename Unit, UINTN Length>
consteval CompiledFormat<Shape> CompileFormat(const Unit (&Literal)[Length]) {
  CompiledFormat<Shape> Compiled = {};
  if constexpr (Shape.Compiles) {
    CompileFormatInto(FormatUnits<Unit>{Literal}, sizeof(Unit) == 2, Compiled.Program);
  } else {
    Compiled.Runtime = Literal;
  }
  return Compiled;
}

// A literal format as a value a template can take.
template <typename Unit, UINTN Length>
struct FormatLiteral {
  Unit Units[Length];
  consteval FormatLiteral(const Unit (&Literal)[Length]) {
    for (UINTN Index = 0; Index < Length; Index++) Units[Index] = Literal[Index];
  }
};

// The program of a literal format, in static storage, parsed while compiling. One for each
// distinct literal: every use of the same format, in any file, shares it. Its alignment is said
// outright, no more than its type's: AArch64 compilers otherwise give every global of 8 bytes or
// more an alignment of 8, and the padding between programs costs the image a few hundred bytes.
template <FormatLiteral Literal>
alignas(CompiledFormat<ShapeOfFormat(Literal.Units)>) inline constexpr auto kCompiledFormat =
    CompileFormat<ShapeOfFormat(Literal.Units)>(Literal.Units);

#define COMPILED_FORMAT(Literal) kCompiledFormat<Literal>
