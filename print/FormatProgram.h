// Formats parsed while compiling. A literal format becomes a program the engine runs without
// reading the format again: its literal text with line ends already made "\r\n", and a step for
// each directive with the flags, width, precision and '*' slots the grammar read. The parse is the
// grammar's own (print/FormatGrammar.h), so a program writes exactly what the engine writes when it
// scans the same format at run time. A format the compact steps cannot hold (a unit above 0xFF in
// its text, a width or precision above 255, more than three '*' in a directive) stays a runtime
// format.
#pragma once

#include "print/FormatGrammar.h"

// A step: literal text, then at most one directive. Six bytes with no alignment: a program is kept
// for every literal format of an image.
struct FormatStep {
  UINT8 LiteralUnits;  // units of the program's text copied first
  UINT8 Conversion;    // the directive's conversion character, or one of the kStep codes
  UINT8 Flags;         // the directive's flags in a byte: FMT_LEFT to FMT_ZERO where they are,
                       // FMT_WIDTH as kStepWidth and FMT_PRECISION as kStepPrecision
  UINT8 Width;
  UINT8 Precision;
  UINT8 Stars;         // the '*' slots taken, then the width's and the precision's, two bits each
};
static_assert(sizeof(FormatStep) == 6 && alignof(FormatStep) == 1);

// The flags the grammar sets that keep their place in a step's byte, and the two that move into it.
constexpr UINTN kStepPlainFlags = FMT_LEFT | FMT_PLUS | FMT_SPACE | FMT_GROUP | FMT_LONG | FMT_ZERO;
constexpr UINT8 kStepWidth = 0x40;
constexpr UINT8 kStepPrecision = 0x80;
static_assert(kStepPlainFlags < kStepWidth && FMT_WIDTH == kStepWidth << 3 && FMT_PRECISION == kStepPrecision << 4);

constexpr UINT8 kStepEnd = 0;       // the last step: its literal text, then the terminator
constexpr UINT8 kStepLiteral = 1;   // literal text only; the program goes on
constexpr UINT8 kStepDangling = 2;  // the format ends inside a directive: only its width, as blanks

// What a format compiles to, and whether it does at all.
struct FormatShape {
  UINTN Steps;
  UINTN TextUnits;
  UINTN Slots;  // argument slots the format takes, whether it compiles or not
  bool Compiles;
  bool WideFormat;  // the format's own units are UCS-2
};

// The directive as a step; false when a step cannot hold it.
constexpr bool DirectiveStep(const DirectiveSpec &Spec, FormatStep *Step) {
  UINT16 Conversion = Spec.Conversion;
  bool Printable = (Conversion >= 0x20 && Conversion < 0x7F) || Conversion == '\n' || Conversion == '\r';
  if (!Printable && Conversion != 0) return false;
  if (Spec.Width > 0xFF || Spec.Precision > 0xFF || Spec.Stars > 3) return false;
  UINT8 Flags = (UINT8)((Spec.Flags & kStepPlainFlags) | ((Spec.Flags & FMT_WIDTH) != 0 ? kStepWidth : 0) |
                        ((Spec.Flags & FMT_PRECISION) != 0 ? kStepPrecision : 0));
  *Step = FormatStep{0, Conversion == 0 ? kStepDangling : (UINT8)Conversion, Flags, (UINT8)Spec.Width,
                     (UINT8)Spec.Precision, (UINT8)(Spec.Stars | Spec.WidthStar << 2 | Spec.PrecisionStar << 4)};
  return true;
}

// The directive a step holds, as the grammar read it. Field by field: the engine reads them one
// by one right after, which a wide copy of the whole record could make it wait for.
constexpr void StepDirective(const FormatStep &Step, DirectiveSpec &Spec) {
  Spec.Flags = (Step.Flags & kStepPlainFlags) | (Step.Flags & kStepWidth) << 3 | (Step.Flags & kStepPrecision) << 4;
  Spec.Width = Step.Width;
  Spec.Precision = Step.Precision;
  Spec.Stars = Step.Stars & 3;
  Spec.WidthStar = Step.Stars >> 2 & 3;
  Spec.PrecisionStar = Step.Stars >> 4 & 3;
  Spec.Conversion = Step.Conversion == kStepDangling ? 0 : Step.Conversion;
  Spec.Units = 0;
}

// Parses a format into Steps and Text, or only measures it when they are null. Used while
// compiling for every literal format, and at run time by tests that hold both paths against each
// other.
template <typename Reader>
constexpr FormatShape CompileFormatInto(const Reader &Format, bool WideFormat, FormatStep *Steps, CHAR8 *Text) {
  FormatShape Shape = {0, 0, 0, true, WideFormat};
  UINTN Literal = 0;  // units of text in the step being built
  auto Close = [&](FormatStep Step) {
    Step.LiteralUnits = (UINT8)Literal;
    if (Steps != nullptr) Steps[Shape.Steps] = Step;
    Shape.Steps++;
    Literal = 0;
  };
  auto Put = [&](UINT16 Unit) {
    if (Unit > 0xFF) Shape.Compiles = false;
    if (Literal == 0xFF) Close(FormatStep{0, kStepLiteral, 0, 0, 0, 0});
    if (Text != nullptr) Text[Shape.TextUnits] = (CHAR8)Unit;
    Shape.TextUnits++;
    Literal++;
  };
  UINTN Index = 0;
  for (;;) {
    UINT16 Character = Format[Index];
    if (Character == 0 || Index > FORMAT_MAXIMUM_LENGTH) {
      if (Index > FORMAT_MAXIMUM_LENGTH) Shape.Compiles = false;  // the engine refuses it whole
      Close(FormatStep{0, kStepEnd, 0, 0, 0, 0});
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
    FormatStep Step = {};
    if (!DirectiveStep(Spec, &Step)) Shape.Compiles = false;
    Close(Step);
  }
}

// A format parsed while compiling: its steps and text, or, when it does not compile, the format
// itself for the runtime engine. Each holds only what it is run from: a program is kept for every
// literal format of an image, so a pointer it never reads would cost a word and its alignment each.
template <FormatShape Shape, bool Compiles = Shape.Compiles>
struct CompiledFormat {
  FormatStep Steps[Shape.Steps];
  CHAR8 Text[Shape.TextUnits > 0 ? Shape.TextUnits : 1];  // counted by the steps: no terminator
};

template <FormatShape Shape>
struct CompiledFormat<Shape, false> {
  const VOID *Runtime;
};

template <typename Unit, UINTN Length>
consteval FormatShape ShapeOfFormat(const Unit (&Literal)[Length]) {
  return CompileFormatInto(FormatUnits<Unit>{Literal}, sizeof(Unit) == 2, nullptr, nullptr);
}

template <FormatShape Shape, typename Unit, UINTN Length>
consteval CompiledFormat<Shape> CompileFormat(const Unit (&Literal)[Length]) {
  CompiledFormat<Shape> Compiled = {};
  if constexpr (Shape.Compiles) {
    CompileFormatInto(FormatUnits<Unit>{Literal}, sizeof(Unit) == 2, Compiled.Steps, Compiled.Text);
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
// distinct literal: every use of the same format, in any file, shares it.
template <FormatLiteral Literal>
inline constexpr auto kCompiledFormat = CompileFormat<ShapeOfFormat(Literal.Units)>(Literal.Units);

#define COMPILED_FORMAT(Literal) kCompiledFormat<Literal>
