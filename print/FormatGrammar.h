// The directive grammar, written once for both ways a format is read: scanned at run time for the
// formats the engine is handed, and parsed while compiling for literal formats. Everything here is
// constexpr over a reader that gives the format's units by index.
#pragma once

#include "firmware/Uefi.h"

// Directive flags. FMT_IN_WIDE and FMT_OUT_WIDE come from the caller; the rest are set per directive.
constexpr UINTN FMT_LEFT = 0x1;
constexpr UINTN FMT_PLUS = 0x2;
constexpr UINTN FMT_SPACE = 0x4;
constexpr UINTN FMT_GROUP = 0x8;
constexpr UINTN FMT_LONG = 0x10;
constexpr UINTN FMT_ZERO = 0x20;
constexpr UINTN FMT_OUT_WIDE = 0x40;
constexpr UINTN FMT_HEX = 0x80;
constexpr UINTN FMT_IN_WIDE = 0x100;
constexpr UINTN FMT_WIDTH = 0x200;
constexpr UINTN FMT_ARG_WIDE = 0x400;
constexpr UINTN FMT_PRECISION = 0x800;
constexpr UINTN FMT_REVERSED = 0x1000;
constexpr UINTN FMT_UNSIGNED = 0x4000;

// The longest format the engine takes, in units.
constexpr UINT64 FORMAT_MAXIMUM_LENGTH = 1000000;

// Reads the units of a format in an array of UINT8 or CHAR16 units (8-bit units unsigned).
template <typename Unit>
struct FormatUnits {
  const Unit *Units;
  constexpr UINT16 operator[](UINTN Index) const {
    if constexpr (sizeof(Unit) == 1) {
      return (UINT8)Units[Index];
    } else {
      return (UINT16)Units[Index];
    }
  }
};

// What one directive asks for, read from the units after its '%'.
struct DirectiveSpec {
  UINTN Flags;          // FMT_LEFT, FMT_PLUS, FMT_SPACE, FMT_GROUP, FMT_LONG, FMT_ZERO, FMT_WIDTH, FMT_PRECISION
  UINT64 Width;
  UINT64 Precision;     // 1 unless digits after a '.' say otherwise
  UINTN Stars;          // argument slots taken by '*', in order, before the conversion's own
  UINTN WidthStar;      // 0: Width as read; k: the k-th of those slots gives the width
  UINTN PrecisionStar;  // likewise for the precision
  UINT16 Conversion;    // the character that ends the directive, 0 when the format ends inside it;
                        // a line end is '\n' for the pair "\r\n" and '\r' for a lone "\r"
  UINTN Units;          // the format units the directive takes after its '%'
};

// The line end at Index, '\n' or '\r': a partner that follows is taken too and the pair stands for
// "\r\n"; a lone '\r' stays alone. Returns the units taken.
template <typename Reader>
constexpr UINTN LineEndUnits(const Reader &Format, UINTN Index, bool *Pair) {
  UINT16 Next = Format[Index + 1];
  if (Format[Index] == '\n') {
    *Pair = true;
    return Next == '\r' ? 2 : 1;
  }
  *Pair = Next == '\n';
  return *Pair ? 2 : 1;
}

// Reads the directive whose first unit after the '%' is at Index into Spec. A number or '*' sets
// the precision after a '.', else the width; a later one overrides an earlier one. A '0' that
// starts the width asks for zero fill. At the terminator the directive ends with conversion 0.
template <typename Reader>
constexpr void ScanDirective(const Reader &Format, UINTN Index, DirectiveSpec &Spec) {
  Spec = DirectiveSpec{0, 0, 1, 0, 0, 0, 0, 0};
  const UINTN Start = Index;
  for (;;) {
    UINT16 Character = Format[Index];
    switch (Character) {
      case '-': Spec.Flags |= FMT_LEFT; break;
      case '+': Spec.Flags |= FMT_PLUS; break;
      case ' ': Spec.Flags |= FMT_SPACE; break;
      case ',': Spec.Flags |= FMT_GROUP; break;
      case 'l':
      case 'L': Spec.Flags |= FMT_LONG; break;
      case '.': Spec.Flags |= FMT_PRECISION; break;
      case '*':
        Spec.Stars++;
        if ((Spec.Flags & FMT_PRECISION) != 0) {
          Spec.PrecisionStar = Spec.Stars;
        } else {
          Spec.WidthStar = Spec.Stars;
          Spec.Flags |= FMT_WIDTH;
        }
        break;
      case '0':
      case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9': {
        if (Character == '0' && (Spec.Flags & FMT_PRECISION) == 0) Spec.Flags |= FMT_ZERO;
        UINT64 Number = 0;  // wraps, as the engine always has
        for (; Format[Index] >= '0' && Format[Index] <= '9'; Index++) Number = Number * 10 + (Format[Index] - '0');
        if ((Spec.Flags & FMT_PRECISION) != 0) {
          Spec.Precision = Number;
          Spec.PrecisionStar = 0;
        } else {
          Spec.Width = Number;
          Spec.WidthStar = 0;
          Spec.Flags |= FMT_WIDTH;
        }
        continue;  // Index already stands on the next character
      }
      case 0:
        Spec.Units = Index - Start;
        return;
      case '\n':
      case '\r': {
        bool Pair = false;
        Index += LineEndUnits(Format, Index, &Pair);
        Spec.Conversion = Pair ? '\n' : '\r';
        Spec.Units = Index - Start;
        return;
      }
      default:
        Spec.Conversion = Character;
        Spec.Units = Index + 1 - Start;
        return;
    }
    Index++;
  }
}

// Conversions that take an argument slot of their own.
constexpr bool TakesArgument(UINT16 Conversion) {
  switch (Conversion) {
    case 'd': case 'u': case 'x': case 'X': case 'p': case 'c': case 's': case 'S':
    case 'a': case 'r': case 'g': case 't':
      return true;
    default:
      return false;
  }
}
