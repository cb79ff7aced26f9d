// Every word the verdict says of what it decided: whose decision a line gives, the outcome and the
// reason, and the judgements of the table, the memory and the place. The verdict decides in records
// that name these texts (app/BgrtVerdict.h); the printer alone turns them into lines. The host tests
// and the end-to-end tests read the words from here too (tools/quillon_run/verdict_texts.py), so each
// stays one VERDICT_TEXT(Name, "words") on a line of its own. Each text is a format for the two
// numbers a decision carries, %u or %X in that order where it shows them; a percent sign is %%.
#pragma once

#include "firmware/Uefi.h"

#define QUILLON_VERDICT_TEXTS(VERDICT_TEXT)                                                  \
  VERDICT_TEXT(None, "")                                                                     \
  /* Whose decision a line gives. */                                                         \
  VERDICT_TEXT(LinuxEfiBgrt, "Linux efi-bgrt")                                               \
  VERDICT_TEXT(LinuxEfifb, "Linux efifb")                                                    \
  VERDICT_TEXT(Plymouth, "Plymouth")                                                         \
  VERDICT_TEXT(PlymouthOnPanel, "Plymouth on a panel")                                       \
  VERDICT_TEXT(PlymouthOnMonitor, "Plymouth on a monitor")                                   \
  VERDICT_TEXT(Windows, "Windows")                                                           \
  /* What it does with the table or the logo. */                                             \
  VERDICT_TEXT(Kept, "kept")                                                                 \
  VERDICT_TEXT(Ignored, "ignored")                                                           \
  VERDICT_TEXT(NeverRead, "never read")                                                      \
  VERDICT_TEXT(NotJudged, "not judged")                                                      \
  VERDICT_TEXT(WouldRedraw, "would redraw it (only kernels that defer the console do)")      \
  VERDICT_TEXT(WontRedraw, "won't redraw it")                                                \
  VERDICT_TEXT(ShowsWhereFirmwareDid, "shows it where the firmware did")                     \
  VERDICT_TEXT(ShowsCentredGolden, "shows it centred across, 38.2%% down")                   \
  VERDICT_TEXT(ShowsOnTurnedPanel, "shows it only on a panel turned the same way")           \
  VERDICT_TEXT(Shows, "shows it")                                                            \
  VERDICT_TEXT(WontShow, "won't show it")                                                    \
  /* Why. */                                                                                 \
  VERDICT_TEXT(NotFirstBgrt, "not the first BGRT")                                           \
  VERDICT_TEXT(InvalidLength, "invalid length %u (expected %u)")                             \
  VERDICT_TEXT(InvalidVersion, "invalid version %u (expected %u)")                           \
  VERDICT_TEXT(InvalidImageType, "invalid image type %u (expected %u)")                      \
  VERDICT_TEXT(NullImageAddress, "null image address")                                       \
  VERDICT_TEXT(ImageNotInMap, "invalid image address (not in the memory map)")               \
  VERDICT_TEXT(ImageMemoryType, "invalid image address (memory type %u)")                    \
  VERDICT_TEXT(ImageUnreadable, "its image cannot be read")                                  \
  VERDICT_TEXT(BadMagic, "Incorrect BMP magic number 0x%X (expected 0x4d42)")                \
  VERDICT_TEXT(EfiBgrtIgnores, "efi-bgrt ignores the table")                                 \
  VERDICT_TEXT(NoScreen, "no screen")                                                        \
  VERDICT_TEXT(NoFramebuffer, "no framebuffer")                                              \
  VERDICT_TEXT(RotationBits, "rotation bits set")                                            \
  VERDICT_TEXT(FramebufferNot32, "framebuffer not 32 bits")                                  \
  VERDICT_TEXT(Under54Bytes, "image under 54 bytes")                                         \
  VERDICT_TEXT(ReservedNotZero, "reserved field not 0")                                      \
  VERDICT_TEXT(HeaderNot40, "header not 40 bytes")                                           \
  VERDICT_TEXT(NegativeWidth, "negative width")                                              \
  VERDICT_TEXT(PlanesNot1, "planes not 1")                                                   \
  VERDICT_TEXT(Not24Bits, "not 24 bits")                                                     \
  VERDICT_TEXT(Compressed, "compressed")                                                     \
  VERDICT_TEXT(RowsPastSize, "rows past the size field")                                     \
  VERDICT_TEXT(PastScreen, "past the screen")                                                \
  VERDICT_TEXT(NotCentredAcross, "not centred across")                                       \
  VERDICT_TEXT(OffScreenWhenMoved, "off the screen when moved 38.2%% down")                  \
  VERDICT_TEXT(OffScreen, "off the screen")                                                  \
  VERDICT_TEXT(NoBitmap, "no bitmap")                                                        \
  VERDICT_TEXT(Not24Or32Bits, "not 24 or 32 bits")                                           \
  /* The table, its memory, and the logo's place on the screen. */                           \
  VERDICT_TEXT(ChecksumRight, "right")                                                       \
  VERDICT_TEXT(ChecksumWrong, "wrong")                                                       \
  VERDICT_TEXT(ChecksumNotTaken, "not taken")                                                \
  VERDICT_TEXT(BootServicesData, "boot-services data")                                       \
  VERDICT_TEXT(NotBootServicesData, "not boot-services data")                                \
  VERDICT_TEXT(FitsCentred, "fits, centred")                                                 \
  VERDICT_TEXT(FitsNotCentred, "fits, not centred")                                          \
  VERDICT_TEXT(PastTheEdge, "past the edge")                                                 \
  VERDICT_TEXT(Centred, "centred")                                                           \
  VERDICT_TEXT(AtGolden, "at 38.2%%")                                                        \
  VERDICT_TEXT(NeitherCentredNorGolden, "neither centred nor 38.2%%")                        \
  VERDICT_TEXT(WithinLargest, "within 40%%")                                                 \
  VERDICT_TEXT(OverLargest, "over 40%%")

enum class VerdictText : UINT8 {
#define QUILLON_VERDICT_NAME(Name, Words) Name,
  QUILLON_VERDICT_TEXTS(QUILLON_VERDICT_NAME)
#undef QUILLON_VERDICT_NAME
};

// The words of a text, as the table above holds them.
const char *VerdictWords(VerdictText Text);
