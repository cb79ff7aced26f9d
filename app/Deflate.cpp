#include "app/Deflate.h"

#include "base/Checksum.h"
#include "base/Unaligned.h"

namespace {

constexpr UINT32 kWindow = 32768;
constexpr UINT32 kHashBits = 15;
constexpr UINT32 kMinMatch = 3;
constexpr UINT32 kMaxMatch = 258;
// How many earlier places with the same three bytes are tried for a longer match. More finds
// little on a screen and costs time on a slow machine.
constexpr UINT32 kChainTries = 16;
// Places inside a match longer than this are not all remembered: long matches are runs of one
// colour, and remembering every place in them would cost most of the time on a screen that is
// mostly black.
constexpr UINT32 kRememberWithin = 32;
// A block's symbols; its codes are made for them.
constexpr UINT32 kBlockSymbols = 16384;
// A stored block holds at most this many bytes, after a header of at most 6 (3 bits, the padding to
// the next byte, and the length twice).
constexpr UINT32 kStoredMost = 65535;
constexpr UINT32 kStoredHeaderMost = 6;

constexpr UINT32 kLiterals = 286;  // 0-255 bytes, 256 the block's end, 257-285 lengths
constexpr UINT32 kEndOfBlock = 256;
constexpr UINT32 kDistances = 30;
constexpr UINT32 kLengthSymbols = 19;  // the alphabet the code lengths themselves are coded in
constexpr UINT32 kLongestCode = 15;
constexpr UINT32 kLongestLengthCode = 7;
// The order the code lengths of kLengthSymbols are sent in, most often used first.
constexpr UINT8 kLengthSymbolOrder[kLengthSymbols] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A symbol of a block: a byte (Distance 0), or a match of Length bytes Distance back.
constexpr UINT32 kLengthBits = 9;
UINT32 MatchSymbol(UINT32 Length, UINT32 Distance) { return Distance << kLengthBits | Length; }

// Room to make one Huffman code: its leaves sorted by weight, then the inner nodes.
struct CodeScratch {
  UINT32 Weight[2 * kLiterals];
  UINT16 Parent[2 * kLiterals];
  UINT16 Symbol[kLiterals];
  UINT8 Depth[2 * kLiterals];
};

struct Code {
  UINT32 Count[kLiterals];
  UINT8 Length[kLiterals];
  UINT16 Bits[kLiterals];  // reversed, as deflate sends codes from their first bit
};

}  // namespace

struct DeflateWork {
  UINT32 Head[1u << kHashBits];  // the last place (plus 1) whose three bytes have each hash
  UINT32 Chain[kWindow];         // the place before it with the same hash, by place modulo the window
  UINT32 Symbols[kBlockSymbols];
  Code Literal;
  Code Distance;
  Code LengthCode;
  UINT8 Lengths[kLiterals + kDistances];  // both codes' lengths, as the block's header sends them
  UINT8 Runs[kLiterals + kDistances];     // those lengths in kLengthSymbols, and each one's extra bits
  UINT8 RunExtra[kLiterals + kDistances];
  CodeScratch Scratch;
};
static_assert(sizeof(DeflateWork) <= kDeflateWorkBytes, "kDeflateWorkBytes is too small");

namespace {

// Bits into bytes, the first bit the lowest. Nothing is written past the room; the count goes on,
// so a caller sees that the room was too small.
struct BitWriter {
  UINT8 *Out;
  UINTN Room;
  UINTN At;
  UINT64 Bits;
  UINT32 Count;

  void PutByte(UINT8 Byte) {
    if (At < Room) Out[At] = Byte;
    At++;
  }
  void Put(UINT32 Value, UINT32 Width) {
    Bits |= (UINT64)Value << Count;
    Count += Width;
    while (Count >= 8) {
      PutByte((UINT8)Bits);
      Bits >>= 8;
      Count -= 8;
    }
  }
  void ToByte() {
    if (Count != 0) Put(0, 8 - Count);
  }
};

// A length or a distance as deflate sends it: a code, and a number of extra bits after it.
struct Coded {
  UINT32 Code;
  UINT32 ExtraBits;
  UINT32 Extra;
};

UINT32 HighestBit(UINT32 Value) { return 31 - (UINT32)__builtin_clz(Value); }

// Lengths 3-10 have codes 257-264; after that each four codes double the span, 258 has its own.
Coded LengthCoded(UINT32 Length) {
  UINT32 Above = Length - kMinMatch;
  if (Length == kMaxMatch) return {285, 0, 0};
  if (Above < 8) return {257 + Above, 0, 0};
  UINT32 High = HighestBit(Above);
  return {257 + 4 * (High - 1) + ((Above >> (High - 2)) & 3), High - 2, Above & ((1u << (High - 2)) - 1)};
}

// Distances 1-4 have codes 0-3; after that each two codes double the span.
Coded DistanceCoded(UINT32 Distance) {
  UINT32 Above = Distance - 1;
  if (Above < 4) return {Above, 0, 0};
  UINT32 High = HighestBit(Above);
  return {2 * High + ((Above >> (High - 1)) & 1), High - 1, Above & ((1u << (High - 1)) - 1)};
}

UINT32 LengthExtraBits(UINT32 Code) { return Code >= 265 && Code < 285 ? (Code - 261) / 4 : 0; }
UINT32 DistanceExtraBits(UINT32 Code) { return Code < 4 ? 0 : Code / 2 - 1; }

// Huffman code lengths for the counts, none longer than Longest. Where fewer than two symbols are
// used, unused ones make up two, so that every code is complete. Where the code would be too deep,
// the counts are halved, keeping their order, until it is not.
void MakeLengths(Code *C, UINT32 Symbols, UINT32 Longest, CodeScratch *S) {
  UINT32 Leaves = 0;
  for (UINT32 Index = 0; Index < Symbols; Index++) {
    C->Length[Index] = 0;
    if (C->Count[Index] != 0 || (Leaves < 2 && Symbols - Index <= 2 - Leaves)) S->Symbol[Leaves++] = (UINT16)Index;
  }
  for (UINT32 Leaf = 0; Leaf < Leaves; Leaf++) {
    UINT16 Symbol = S->Symbol[Leaf];
    UINT32 Weight = C->Count[Symbol] != 0 ? C->Count[Symbol] : 1;
    UINT32 To = Leaf;
    for (; To > 0 && S->Weight[To - 1] > Weight; To--) {
      S->Weight[To] = S->Weight[To - 1];
      S->Symbol[To] = S->Symbol[To - 1];
    }
    S->Weight[To] = Weight;
    S->Symbol[To] = Symbol;
  }
  for (;;) {
    // Leaves in order of weight and inner nodes in the order they are made are both sorted, so
    // the two lightest are always at the front of one or the other.
    UINT32 NextLeaf = 0;
    UINT32 NextInner = Leaves;
    for (UINT32 Made = Leaves; Made < 2 * Leaves - 1; Made++) {
      UINT32 Sum = 0;
      for (UINT32 Child = 0; Child < 2; Child++) {
        UINT32 Take = NextLeaf < Leaves && (NextInner >= Made || S->Weight[NextLeaf] <= S->Weight[NextInner])
                          ? NextLeaf++
                          : NextInner++;
        S->Parent[Take] = (UINT16)Made;
        Sum += S->Weight[Take];
      }
      S->Weight[Made] = Sum;
    }
    UINT32 Deepest = 0;
    S->Depth[2 * Leaves - 2] = 0;
    for (UINT32 Node = 2 * Leaves - 2; Node-- > 0;) {
      S->Depth[Node] = (UINT8)(S->Depth[S->Parent[Node]] + 1);
      if (S->Depth[Node] > Deepest) Deepest = S->Depth[Node];
    }
    if (Deepest <= Longest) break;
    for (UINT32 Leaf = 0; Leaf < Leaves; Leaf++) S->Weight[Leaf] = (S->Weight[Leaf] >> 1) + 1;
  }
  for (UINT32 Leaf = 0; Leaf < Leaves; Leaf++) C->Length[S->Symbol[Leaf]] = S->Depth[Leaf];
}

// The canonical code for the lengths: shorter codes first, and within a length in symbol order.
void MakeBits(Code *C, UINT32 Symbols) {
  UINT32 PerLength[kLongestCode + 1] = {};
  for (UINT32 Index = 0; Index < Symbols; Index++) PerLength[C->Length[Index]]++;
  UINT32 Next[kLongestCode + 1];
  UINT32 First = 0;
  PerLength[0] = 0;
  for (UINT32 Length = 1; Length <= kLongestCode; Length++) {
    First = (First + PerLength[Length - 1]) << 1;
    Next[Length] = First;
  }
  for (UINT32 Index = 0; Index < Symbols; Index++) {
    UINT32 Length = C->Length[Index];
    if (Length == 0) continue;
    UINT32 Bits = Next[Length]++;
    UINT32 Reversed = 0;
    for (UINT32 Bit = 0; Bit < Length; Bit++) Reversed |= ((Bits >> Bit) & 1) << (Length - 1 - Bit);
    C->Bits[Index] = (UINT16)Reversed;
  }
}

void PutSymbol(BitWriter *Writer, const Code &C, UINT32 Symbol) { Writer->Put(C.Bits[Symbol], C.Length[Symbol]); }

// The bits the counted symbols take in the code, extra bits included.
UINT64 CodedBits(const Code &C, UINT32 Symbols, UINT32 (*ExtraBits)(UINT32)) {
  UINT64 Bits = 0;
  for (UINT32 Index = 0; Index < Symbols; Index++) Bits += (UINT64)C.Count[Index] * (C.Length[Index] + ExtraBits(Index));
  return Bits;
}

UINT32 RunExtraBits(UINT32 Symbol) { return Symbol == 16 ? 2 : Symbol == 17 ? 3 : Symbol == 18 ? 7 : 0; }

// The lengths of both codes, run-length coded as a dynamic block's header sends them: 16 repeats
// the length before 3-6 times, 17 and 18 give 3-10 and 11-138 zeros. Returns how many runs.
UINT32 RunLengths(DeflateWork *W, UINT32 Total) {
  UINT32 Runs = 0;
  auto Add = [&](UINT32 Symbol, UINT32 Extra) {
    W->Runs[Runs] = (UINT8)Symbol;
    W->RunExtra[Runs++] = (UINT8)Extra;
    W->LengthCode.Count[Symbol]++;
  };
  for (UINT32 Index = 0; Index < Total;) {
    UINT32 Length = W->Lengths[Index];
    UINT32 Run = 1;
    while (Index + Run < Total && W->Lengths[Index + Run] == Length) Run++;
    Index += Run;
    if (Length == 0) {
      for (; Run >= 11; Run -= Run < 138 ? Run : 138) Add(18, (Run < 138 ? Run : 138) - 11);
      if (Run >= 3) {
        Add(17, Run - 3);
        Run = 0;
      }
    } else {
      Add(Length, 0);
      for (Run--; Run >= 3; Run -= Run < 6 ? Run : 6) Add(16, (Run < 6 ? Run : 6) - 3);
    }
    for (; Run > 0; Run--) Add(Length, 0);
  }
  return Runs;
}

void PutStored(BitWriter *Writer, const UINT8 *Bytes, UINTN Length, bool Final) {
  do {
    UINT32 Piece = Length < kStoredMost ? (UINT32)Length : kStoredMost;
    Length -= Piece;
    Writer->Put(Final && Length == 0 ? 1 : 0, 3);
    Writer->ToByte();
    Writer->Put(Piece, 16);
    Writer->Put(~Piece & 0xFFFF, 16);
    for (UINT32 Index = 0; Index < Piece; Index++) Writer->PutByte(Bytes[Index]);
    Bytes += Piece;
  } while (Length != 0);
}

UINT64 StoredBitsMost(UINTN Length) {
  UINT64 Pieces = Length / kStoredMost + 1;
  return 8 * ((UINT64)Length + kStoredHeaderMost * Pieces);
}

// Sends a block: Symbols of the bytes From to From + Length, coded with codes made for them, or the
// bytes themselves where that would take fewer bits.
void PutBlock(DeflateWork *W, BitWriter *Writer, UINT32 Symbols, const UINT8 *From, UINTN Length, bool Final) {
  for (UINT32 Index = 0; Index < kLiterals; Index++) W->Literal.Count[Index] = 0;
  for (UINT32 Index = 0; Index < kDistances; Index++) W->Distance.Count[Index] = 0;
  for (UINT32 Index = 0; Index < kLengthSymbols; Index++) W->LengthCode.Count[Index] = 0;
  for (UINT32 Index = 0; Index < Symbols; Index++) {
    UINT32 Distance = W->Symbols[Index] >> kLengthBits;
    UINT32 Length = W->Symbols[Index] & ((1u << kLengthBits) - 1);
    if (Distance == 0) {
      W->Literal.Count[Length]++;
    } else {
      W->Literal.Count[LengthCoded(Length).Code]++;
      W->Distance.Count[DistanceCoded(Distance).Code]++;
    }
  }
  W->Literal.Count[kEndOfBlock] = 1;
  MakeLengths(&W->Literal, kLiterals, kLongestCode, &W->Scratch);
  MakeLengths(&W->Distance, kDistances, kLongestCode, &W->Scratch);

  UINT32 LiteralsSent = kLiterals;
  while (W->Literal.Length[LiteralsSent - 1] == 0) LiteralsSent--;
  UINT32 DistancesSent = kDistances;
  while (W->Distance.Length[DistancesSent - 1] == 0) DistancesSent--;
  for (UINT32 Index = 0; Index < LiteralsSent; Index++) W->Lengths[Index] = W->Literal.Length[Index];
  for (UINT32 Index = 0; Index < DistancesSent; Index++) W->Lengths[LiteralsSent + Index] = W->Distance.Length[Index];
  UINT32 Runs = RunLengths(W, LiteralsSent + DistancesSent);
  MakeLengths(&W->LengthCode, kLengthSymbols, kLongestLengthCode, &W->Scratch);
  UINT32 LengthCodesSent = kLengthSymbols;
  while (W->LengthCode.Length[kLengthSymbolOrder[LengthCodesSent - 1]] == 0) LengthCodesSent--;

  UINT64 CodedSize = 3 + 5 + 5 + 4 + 3 * LengthCodesSent + CodedBits(W->LengthCode, kLengthSymbols, RunExtraBits) +
                     CodedBits(W->Literal, kLiterals, LengthExtraBits) +
                     CodedBits(W->Distance, kDistances, DistanceExtraBits);
  if (CodedSize >= StoredBitsMost(Length)) return PutStored(Writer, From, Length, Final);

  MakeBits(&W->Literal, kLiterals);
  MakeBits(&W->Distance, kDistances);
  MakeBits(&W->LengthCode, kLengthSymbols);
  Writer->Put((Final ? 1 : 0) | 2 << 1, 3);
  Writer->Put(LiteralsSent - 257, 5);
  Writer->Put(DistancesSent - 1, 5);
  Writer->Put(LengthCodesSent - 4, 4);
  for (UINT32 Index = 0; Index < LengthCodesSent; Index++) Writer->Put(W->LengthCode.Length[kLengthSymbolOrder[Index]], 3);
  for (UINT32 Index = 0; Index < Runs; Index++) {
    PutSymbol(Writer, W->LengthCode, W->Runs[Index]);
    Writer->Put(W->RunExtra[Index], RunExtraBits(W->Runs[Index]));
  }
  for (UINT32 Index = 0; Index < Symbols; Index++) {
    UINT32 Distance = W->Symbols[Index] >> kLengthBits;
    UINT32 Length = W->Symbols[Index] & ((1u << kLengthBits) - 1);
    if (Distance == 0) {
      PutSymbol(Writer, W->Literal, Length);
      continue;
    }
    Coded L = LengthCoded(Length);
    PutSymbol(Writer, W->Literal, L.Code);
    Writer->Put(L.Extra, L.ExtraBits);
    Coded D = DistanceCoded(Distance);
    PutSymbol(Writer, W->Distance, D.Code);
    Writer->Put(D.Extra, D.ExtraBits);
  }
  PutSymbol(Writer, W->Literal, kEndOfBlock);
}

UINT32 Hash(const UINT8 *At) {
  UINT32 Three = (UINT32)At[0] << 16 | (UINT32)At[1] << 8 | At[2];
  return (Three * 2654435761u) >> (32 - kHashBits);
}

// Remembers that the three bytes at Place were seen, and gives the last place before it with the
// same hash (plus 1), or 0.
UINT32 Remember(DeflateWork *W, const UINT8 *In, UINT32 Place) {
  UINT32 *Head = &W->Head[Hash(In + Place)];
  UINT32 Before = *Head;
  W->Chain[Place % kWindow] = Before;
  *Head = Place + 1;
  return Before;
}

// How many bytes at A and B agree, up to Most.
UINT32 Agreeing(const UINT8 *A, const UINT8 *B, UINT32 Most) {
  UINT32 Length = 0;
  for (; Length + 8 <= Most; Length += 8) {
    UINT64 Differ = LoadUnaligned64(A + Length) ^ LoadUnaligned64(B + Length);
    if (Differ != 0) return Length + (UINT32)__builtin_ctzll(Differ) / 8;
  }
  while (Length < Most && A[Length] == B[Length]) Length++;
  return Length;
}

}  // namespace

UINT64 ZlibLargestBytes(UINT64 Bytes) {
  // Each block is at most stored: its bytes and a header of 6 a piece of 64 KiB; a block is at
  // least kBlockSymbols bytes, but for the last. With the 2-byte header and the 4-byte checksum,
  // that is under Bytes / 1024 + 13.
  return Bytes + Bytes / 1024 + 64;
}

UINTN ZlibCompress(const UINT8 *In, UINTN InBytes, UINT8 *Out, VOID *Work) {
  DeflateWork *W = (DeflateWork *)Work;
  for (UINT32 &Head : W->Head) Head = 0;
  BitWriter Writer = {Out, (UINTN)ZlibLargestBytes(InBytes), 0, 0, 0};
  // Deflate with a 32 KiB window; the level field says "fastest", which is only a hint.
  Writer.PutByte(0x78);
  Writer.PutByte(0x01);

  UINT32 Symbols = 0;
  UINTN BlockStart = 0;
  UINTN Place = 0;
  while (Place < InBytes) {
    UINT32 Best = 0;
    UINT32 BestDistance = 0;
    UINT32 Most = InBytes - Place < kMaxMatch ? (UINT32)(InBytes - Place) : kMaxMatch;
    if (Most >= kMinMatch) {
      UINT32 Candidate = Remember(W, In, (UINT32)Place);
      for (UINT32 Tries = kChainTries; Candidate != 0 && Tries != 0; Tries--) {
        UINT32 From = Candidate - 1;
        if (Place - From > kWindow) break;
        if (In[From + Best] == In[Place + Best]) {
          UINT32 Length = Agreeing(In + From, In + Place, Most);
          if (Length > Best) {
            Best = Length;
            BestDistance = (UINT32)(Place - From);
            if (Length == Most) break;
          }
        }
        UINT32 Next = W->Chain[From % kWindow];
        if (Next >= Candidate) break;  // the slot now holds a later place: the chain ends here
        Candidate = Next;
      }
    }
    if (Best >= kMinMatch) {
      W->Symbols[Symbols++] = MatchSymbol(Best, BestDistance);
      // Within a long match only its last place is remembered: in a run of one colour, the next
      // match then lies one byte back, whose distance code needs no extra bits.
      for (UINT32 Step = Best <= kRememberWithin ? 1 : Best - 1; Step < Best && Place + Step + kMinMatch <= InBytes;
           Step++) {
        Remember(W, In, (UINT32)(Place + Step));
      }
      Place += Best;
    } else {
      W->Symbols[Symbols++] = In[Place];
      Place++;
    }
    if (Symbols == kBlockSymbols || Place == InBytes) {
      PutBlock(W, &Writer, Symbols, In + BlockStart, Place - BlockStart, Place == InBytes);
      Symbols = 0;
      BlockStart = Place;
    }
  }
  if (InBytes == 0) PutStored(&Writer, In, 0, true);
  Writer.ToByte();
  UINT32 Sum = Adler32(kAdler32Start, In, InBytes);
  for (UINT32 Shift = 32; Shift != 0; Shift -= 8) Writer.PutByte((UINT8)(Sum >> (Shift - 8)));
  return Writer.At <= Writer.Room ? Writer.At : 0;
}
